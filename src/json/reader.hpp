// The streaming JSON reader that every typed reader pulls from.
//
// One cursor runs over the input bytes; typed readers (trees, patches, headers, manifests) ask it
// for strings, numbers, objects and arrays and decide what each member means. Errors are thrown
// as ReadError inside a read and turned into a core Error at the entry point. Positions follow one
// rule set: "here" is the number of bytes consumed, "next" is one past the next unconsumed byte.
// An error raised without a position (by interpretation rather than by the cursor) is placed by
// the nearest enclosing object or array reader, after it has tried to finish its container.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "arena.hpp"
#include "json/scan.hpp"
#include "json/writer.hpp"
#include "text.hpp"

namespace velmor::json {

inline constexpr std::size_t kNoPos = static_cast<std::size_t>(-1);
inline constexpr int kMaxDepth = 127;

// The single exception used inside readers; never leaves a core entry point.
struct ReadError {
  std::string message;
  std::size_t pos = kNoPos;  // byte offset, or kNoPos when the enclosing container places it
};

// "line L column C" of a byte offset.
struct LineColumn {
  std::uint64_t line;
  std::uint64_t column;
};
LineColumn line_column(std::string_view text, std::size_t pos);

// A number as read: its kind follows from the literal.
struct Number {
  enum class Kind : std::uint8_t { Uint, Neg, Float };
  Kind kind = Kind::Uint;
  std::uint64_t u = 0;  // Uint
  std::int64_t i = 0;   // Neg (always < 0)
  double f = 0;         // Float (always finite)
};

// "integer `5`", "floating point `1.5`".
std::string describe(const Number& n);
// "string \"abc\"" with the debug escaping of error messages.
std::string describe_string(std::string_view s);
// "unknown variant `X`, expected one of `A`, `B`" (or "expected `A` or `B`").
std::string unknown_variant(std::string_view name, std::span<const std::string_view> names);

// A fixed list of member or variant names, kept with the first eight bytes of each (as a
// little-endian word) and its length, so that a name read from the text is matched with one load
// and two compares a candidate instead of a comparison of bytes.
struct NameTable {
  static constexpr std::size_t kMax = 16;
  std::span<const std::string_view> names;
  std::uint64_t word[kMax] = {};
  std::uint8_t size[kMax] = {};  // longer names than 8 bytes never match by word
  // The name followed by `":`, as a word and the mask of its bytes: how a variant name and its
  // colon appear in compact text. Names longer than six bytes get a mask of zero and a word of
  // one, which nothing matches.
  std::uint64_t head[kMax] = {};
  std::uint64_t head_mask[kMax] = {};
  // The name followed by its closing quote, as a word and the mask of its bytes: a string
  // value that is exactly the name. Names longer than seven bytes get a mask of zero and a word
  // of one.
  std::uint64_t value[kMax] = {};
  std::uint64_t value_mask[kMax] = {};

  explicit constexpr NameTable(std::span<const std::string_view> list) : names(list) {
    if (list.size() > kMax) throw "too many names";
    for (std::size_t i = 0; i < list.size(); ++i) {
      std::string_view n = list[i];
      size[i] = static_cast<std::uint8_t>(n.size() <= 8 ? n.size() : 0xFF);
      std::uint64_t w = 0;
      for (std::size_t k = 0; k < n.size() && k < 8; ++k) {
        w |= std::uint64_t(static_cast<unsigned char>(n[k])) << (8 * k);
      }
      word[i] = w;
      head[i] = value[i] = 1;
      if (n.size() <= 7) {
        value[i] = w | std::uint64_t('"') << (8 * n.size());
        value_mask[i] = n.size() == 7 ? ~std::uint64_t(0) : (std::uint64_t(1) << (8 * n.size() + 8)) - 1;
      }
      if (n.size() <= 6) {
        head[i] = w | std::uint64_t('"') << (8 * n.size()) | std::uint64_t(':') << (8 * n.size() + 8);
        head_mask[i] = n.size() == 6 ? ~std::uint64_t(0) : (std::uint64_t(1) << (8 * n.size() + 16)) - 1;
      }
    }
  }
  template <std::size_t N>
  explicit constexpr NameTable(const std::string_view (&list)[N]) : NameTable(std::span<const std::string_view>(list)) {}
};

class Reader {
 public:
  // `check_utf8`: strings that are read (not skipped) must be valid UTF-8; used for byte input.
  Reader(std::string_view text, Arena& arena, bool check_utf8 = false)
      : begin_(text.data()), cur_(text.data()), end_(text.data() + text.size()),
        arena_(arena), check_utf8_(check_utf8) {}

  Arena& arena() { return arena_; }
  // For values that die with the read of one larger value; rewound by whoever uses it.
  Arena& temp() { return temp_; }
  Scratch& scratch() { return scratch_; }
  // Where values kept as canonical text are written while they are read, and room to reorder
  // an object's members in.
  Out& canonical_out() { return canonical_out_; }
  std::string& canonical_spare() { return canonical_spare_; }
  std::size_t here() const { return static_cast<std::size_t>(cur_ - begin_); }
  // Where the cursor stands (and how deep), for a reader that tries one shape of a value and,
  // when the value turns out otherwise, goes back and reads it again another way.
  struct Place {
    const char* cur;
    int depth_left;
  };
  Place place() const { return {cur_, depth_left_}; }
  void go_back(const Place& p) {
    cur_ = p.cur;
    depth_left_ = p.depth_left;
  }
  std::size_t next() const { return cur_ == end_ ? here() : here() + 1; }

  // Skips whitespace; returns the next byte, or -1 at the end of the text.
  VELMOR_WASM_INLINE int peek() {
    // Compact text: the next byte is already the one wanted (anything above a space is).
    if (cur_ != end_ && static_cast<unsigned char>(*cur_) > ' ') return static_cast<unsigned char>(*cur_);
    return skip_space();
  }
  // peek() past whitespace: out of line, so that the many readers peek() is inlined into stay
  // small (compact text, the usual input, has no whitespace to skip).
  [[gnu::noinline]] int skip_space();
  // How often the text read so far departed from the form the writer writes: whitespace
  // consumed, an escape decoded, and whatever a typed reader reports with depart(). A value read
  // while the count stayed the same is its own canonical text.
  std::size_t departures() const { return departures_; }
  void depart() { ++departures_; }
  // After the top-level value: only whitespace may follow.
  void finish();

  [[noreturn]] void fail_here(std::string message) const { throw ReadError{std::move(message), here()}; }
  [[noreturn]] void fail_next(std::string message) const { throw ReadError{std::move(message), next()}; }
  // The same for fixed texts, kept out of line so that the readers that may fail stay small.
  [[noreturn]] __attribute__((cold, noinline)) void fail_here(const char* message) const;
  [[noreturn]] __attribute__((cold, noinline)) void fail_next(const char* message) const;
  // An error without a position of its own; the enclosing container places it.
  [[noreturn]] static void fail(std::string message) { throw ReadError{std::move(message), kNoPos}; }
  // "duplicate field `NAME`" at the cursor (just after the member name and its whitespace).
  [[noreturn]] void duplicate(std::string_view field) const;
  // Reads the offending value at the cursor (whole, when it is a scalar) and reports
  // "invalid type: FOUND, expected WANTED" just after it.
  [[noreturn]] void invalid_type(std::string_view wanted);

  // ---- containers ---------------------------------------------------------------------------
  // '[' or '{' is next: checks the nesting limit, then consumes it.
  void enter() {
    if (--depth_left_ <= 0) fail_next("recursion limit exceeded");
    ++cur_;
  }
  void leave() { ++depth_left_; }

  // '{' is next. For each member, `on_member(key)` runs with the cursor after the key and its
  // whitespace; it makes any duplicate check, then calls colon() and reads the value.
  template <class F>
  void object(F&& on_member) {
    enter();
    try {
      bool first = true;
      std::string_view key;
      while (next_key(first, key)) on_member(key);
      ++cur_;
      leave();
    } catch (ReadError& e) {
      if (e.pos == kNoPos) {
        if (peek() == '}') ++cur_;
        e.pos = here();
      }
      throw;
    }
  }
  // object() for records and other objects with known member names: `on_member(index, key)`
  // gets the index of the key in `*names` too (the number of names when it is none of them), and
  // may point `names` at another table for the members that follow. In compact text a member
  // name of `*names` directly followed by its colon is matched as one word, and the cursor is
  // left on the colon, where the general path would leave it too.
  template <class F>
  void object_fields(const NameTable*& names, F&& on_member) {
    enter();
    try {
      bool first = true;
      std::string_view key;
      std::size_t index;
      while (next_field(first, *names, key, index)) on_member(index, key);
      ++cur_;
      leave();
    } catch (ReadError& e) {
      if (e.pos == kNoPos) {
        if (peek() == '}') ++cur_;
        e.pos = here();
      }
      throw;
    }
  }
  void colon() {
    int c = peek();
    if (c == ':') {
      ++cur_;
      return;
    }
    fail_next(c < 0 ? "EOF while parsing an object" : "expected `:`");
  }

  struct Seq {
    bool first = true;
  };
  // '[' is next. `body(seq)` pulls elements with next_element(); afterwards the closing bracket
  // must follow ("trailing characters" / "trailing comma" otherwise).
  template <class F>
  void array(F&& body) {
    enter();
    try {
      Seq seq;
      body(seq);
      end_array();
      leave();
    } catch (ReadError& e) {
      if (e.pos == kNoPos) {
        int c = peek();
        if (c == ']') {
          ++cur_;
        } else if (c == ',') {
          ++cur_;
          peek();
        }
        e.pos = here();
      }
      throw;
    }
  }
  // True when another element follows (the cursor is then on it); false at the closing bracket,
  // which is left for array() to consume.
  bool next_element(Seq& seq) {
    int c = peek();
    if (c == ']') return false;
    if (!seq.first) {
      if (c != ',') bad_element(c);
      ++cur_;
      c = peek();
      if (c == ']' || c < 0) bad_after_comma(c);
    } else if (c < 0) {
      bad_element(c);
    }
    seq.first = false;
    return true;
  }

  // ---- scalars ------------------------------------------------------------------------------
  // The string at the cursor ('"' next); the view borrows the input when there are no escapes.
  // Strings with neither escapes nor control characters, in text input, are read in line.
  VELMOR_WASM_INLINE std::string_view string_literal() {
    const char* start = cur_ + 1;
    const char* stop = find_string_stop(start, end_);
    if (stop != end_ && *stop == '"' && !check_utf8_) {
      cur_ = stop + 1;
      return {start, static_cast<std::size_t>(stop - start)};
    }
    return escaped_string();
  }
  std::string_view string(std::string_view wanted = "a string") {
    int c = peek();
    if (c == '"') return string_literal();
    if (c < 0) fail_next("EOF while parsing a value");
    invalid_type(wanted);
  }
  // A string or null (false for null).
  bool optional_string(std::string_view& out);
  bool boolean();
  std::uint64_t u64();
  std::int64_t i64();
  double f64();
  // The number at the cursor ('-' or a digit next).
  Number number();
  // If the next value is null, consumes it and returns true.
  bool null();
  // 'n', 't' or 'f' was consumed; the rest of the word must follow.
  void ident(std::string_view rest);

  // Reads and discards one value: its syntax and nesting are checked, its numbers are not
  // converted and its strings are not decoded. At every depth it differs from reading in three
  // ways: a control character inside a string is reported in front of it; after a comma, `]` is
  // "expected value" and `}` is "key must be a string"; surrogate escapes are not paired.
  void skip_value();

  // ---- externally tagged variants ------------------------------------------------------------
  // Reads a variant name either as a bare string (payload = false) or as '{' name ':'
  // (payload = true: the payload follows, then the caller calls end_variant()).
  struct VariantHead {
    std::size_t index;
    bool payload;
  };
  VariantHead variant_head(const NameTable& names) {
    int c = peek();
    bool payload = c == '{';
    if (payload) {
      enter();
      c = peek();
    }
    if (c != '"') bad_variant(payload, c);
    std::string_view name = string_literal();
    std::size_t i = find_name(names, name);
    if (i == names.names.size()) unknown_name(name, names.names);
    if (payload) colon();
    return {i, payload};
  }
  void end_variant() {
    int c = peek();
    if (c != '}') bad_variant_end(c);
    ++cur_;
    leave();
  }
  // variant_head() for compact text: when `{"NAME":` is at the cursor, NAME one of `names` of at
  // most six bytes and the nesting limit not reached, consumes it and returns true with the
  // index and the payload flag, exactly as variant_head() would; otherwise leaves the cursor
  // where it is and returns false.
  bool compact_variant_head(const NameTable& names, VariantHead& head) {
    if constexpr (kWordScan) {
      if (end_ - cur_ >= 10 && cur_[0] == '{' && cur_[1] == '"' && depth_left_ > 1) {
        std::uint64_t w = load8(cur_ + 2);
        std::size_t count = names.names.size();
        for (std::size_t i = 0; i < count; ++i) {
          if ((w & names.head_mask[i]) == names.head[i]) {
            --depth_left_;
            cur_ += 2 + names.names[i].size() + 2;
            head = {i, true};
            return true;
          }
        }
      }
    }
    return false;
  }
  // compact_variant_head() for the names of seven or eight bytes.
  bool compact_long_variant_head(const NameTable& names, VariantHead& head) {
    if constexpr (kWordScan) {
      if (end_ - cur_ >= 13 && cur_[0] == '{' && cur_[1] == '"' && depth_left_ > 1) {
        std::uint64_t w = load8(cur_ + 2);
        std::size_t count = names.names.size();
        for (std::size_t i = 0; i < count; ++i) {
          std::size_t n = names.size[i];
          if (n != 7 && n != 8) continue;
          std::uint64_t mask = n == 8 ? ~std::uint64_t(0) : (std::uint64_t(1) << 56) - 1;
          if ((w & mask) == names.word[i] && cur_[2 + n] == '"' && cur_[3 + n] == ':') {
            --depth_left_;
            cur_ += 2 + n + 2;
            head = {i, true};
            return true;
          }
        }
      }
    }
    return false;
  }
  // When the string `"NAME"` is at the cursor (not after whitespace), NAME one of `names` of at
  // most seven bytes, consumes it as string_literal() would and returns its index; otherwise
  // leaves the cursor where it is and returns the number of names.
  std::size_t compact_name_value(const NameTable& names) {
    std::size_t count = names.names.size();
    if constexpr (kWordScan) {
      if (end_ - cur_ >= 9 && cur_[0] == '"') {
        std::uint64_t w = load8(cur_ + 1);
        for (std::size_t i = 0; i < count; ++i) {
          if ((w & names.value_mask[i]) == names.value[i]) {
            cur_ += 1 + names.names[i].size() + 1;
            return i;
          }
        }
      }
    }
    return count;
  }
  // The index of `name` in `names`, or the number of names when it is none of them. A name that
  // lies in the text with eight bytes readable from its start is compared by words.
  std::size_t find_name(const NameTable& names, std::string_view name) const {
    std::size_t n = name.size();
    std::size_t count = names.names.size();
    if constexpr (kWordScan) {
      // Offsets from the start of the text; a name elsewhere (decoded into the arena) wraps
      // past the length.
      std::size_t at = reinterpret_cast<std::uintptr_t>(name.data()) - reinterpret_cast<std::uintptr_t>(begin_);
      std::size_t length = static_cast<std::size_t>(end_ - begin_);
      if (n <= 8 && at <= length && length - at >= 8) {
        std::uint64_t mask = n == 8 ? ~std::uint64_t(0) : (std::uint64_t(1) << (8 * n)) - 1;
        std::uint64_t w = load8(name.data()) & mask;
        for (std::size_t i = 0; i < count; ++i) {
          if (names.word[i] == w && names.size[i] == n) return i;
        }
        return count;
      }
    }
    std::size_t i = 0;
    while (i < count && !same(names.names[i], name)) ++i;
    return i;
  }
  // A unit-only enum: "Name" or {"Name":null}.
  std::size_t unit_variant(const NameTable& names) {
    // The bare string, the usual form, in line; the rest out of line.
    if (peek() == '"') {
      std::string_view name = string_literal();
      std::size_t i = find_name(names, name);
      if (i == names.names.size()) unknown_name(name, names.names);
      return i;
    }
    return unit_variant_object(names);
  }

 private:
  // unit_variant() for anything but a bare string.
  std::size_t unit_variant_object(const NameTable& names);
  // string_literal() for the strings it does not read in line.
  std::string_view escaped_string();
  // Up to the next member's key: false at the closing brace; otherwise the cursor is on the
  // key's opening quote, after the comma that must come before every member but the first.
  [[gnu::always_inline]] bool member_start(bool& first) {
    int c = peek();
    if (c == '}') return false;
    if (!first) {
      if (c != ',') bad_member(false, c);
      ++cur_;
      c = peek();
      if (c != '"') bad_key(c);
    } else if (c != '"') {
      bad_member(true, c);
    }
    first = false;
    return true;
  }
  // The next member's key, with the whitespace after it consumed; false at the closing brace.
  VELMOR_WASM_INLINE bool next_key(bool& first, std::string_view& key) {
    if (!member_start(first)) return false;
    key = string_literal();
    peek();
    return true;
  }
  // next_key() that also finds the key in `names`.
  VELMOR_WASM_INLINE bool next_field(bool& first, const NameTable& names, std::string_view& key, std::size_t& index) {
    if (!member_start(first)) return false;
    if constexpr (kWordScan) {
      if (end_ - cur_ >= 9) {
        std::uint64_t w = load8(cur_ + 1);
        std::size_t count = names.names.size();
        for (std::size_t i = 0; i < count; ++i) {
          if ((w & names.head_mask[i]) == names.head[i]) {
            std::size_t n = names.names[i].size();
            key = {cur_ + 1, n};
            index = i;
            cur_ += n + 2;
            return true;
          }
        }
      }
    }
    key = string_literal();
    peek();
    index = find_name(names, key);
    return true;
  }
  // The errors of next_key() and next_element(), given the byte they stopped at.
  [[noreturn]] __attribute__((cold, noinline)) void bad_member(bool first, int c) const;
  [[noreturn]] __attribute__((cold, noinline)) void bad_key(int c) const;
  [[noreturn]] __attribute__((cold, noinline)) void bad_element(int c) const;
  [[noreturn]] __attribute__((cold, noinline)) void bad_after_comma(int c) const;
  // The errors of variant_head() and end_variant().
  [[noreturn]] __attribute__((cold, noinline)) void bad_variant(bool payload, int c);
  [[noreturn]] __attribute__((cold, noinline)) void unknown_name(std::string_view name,
                                                                 std::span<const std::string_view> names) const;
  [[noreturn]] __attribute__((cold, noinline)) void bad_variant_end(int c) const;
  void end_array();
  void skip_string();
  // Scans a number literal; converts it unless `convert` is false.
  Number scan_number(bool convert);
  // Every exponent is read here, its first digit next: the digits are consumed one at a time.
  // Its value, or -1 right after the digit that takes the value past 2147483647.
  int exponent_digits();
  // The end of a number whose exponent passed 2147483647 at the digit just consumed: with a
  // non-zero digit before the `e` and no `-` after it, "number out of range" right there;
  // otherwise the rest of the exponent is consumed (and the number is zero, with its sign).
  __attribute__((cold, noinline)) void exponent_overflow(const char* start, bool exp_negative, bool convert);
  void escape(std::string& out);
  unsigned hex4();

  const char* begin_;
  const char* cur_;
  const char* end_;
  Arena& arena_;
  Arena temp_{4096};
  Scratch scratch_;
  std::string buf_;
  Out canonical_out_;
  std::string canonical_spare_;
  std::size_t departures_ = 0;
  int depth_left_ = kMaxDepth + 1;
  bool check_utf8_;
};

}  // namespace velmor::json
