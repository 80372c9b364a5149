// The two walks of a JSON text and the two forms it is written in.
#include "wire/json_walk.hpp"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <type_traits>

#include "json/scan.hpp"
#include "json/utf8.hpp"
#include "json/writer.hpp"
#include "text.hpp"
#include "wire/gather.hpp"

namespace velmor::wire {

namespace {

bool is_space(char c) { return c == ' ' || c == '\n' || c == '\t' || c == '\r'; }

// The first `"` or `\` from `p` on, in a text that holds one before `end`; eight bytes at a time.
const char* quote_or_escape(const char* p, const char* end) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  constexpr std::uint64_t ones = 0x0101010101010101ULL;
  constexpr std::uint64_t highs = 0x8080808080808080ULL;
  while (end - p >= 8) {
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    std::uint64_t quote = w ^ (ones * '"');
    std::uint64_t slash = w ^ (ones * '\\');
    // Only the lowest flag is exact, which is the one used.
    std::uint64_t hit = (((quote - ones) & ~quote) | ((slash - ones) & ~slash)) & highs;
    if (hit != 0) return p + (__builtin_ctzll(hit) >> 3);
    p += 8;
  }
#endif
  while (*p != '"' && *p != '\\') ++p;
  return p;
}

// The key whose opening quote is at `at` in a text the first walk accepted: a view of the text
// when it has no escapes, else decoded into `arena`.
std::string_view key_at(std::string_view text, std::size_t at, Arena& arena) {
  const char* p = text.data() + at + 1;
  const char* q = quote_or_escape(p, text.data() + text.size());
  if (*q == '"') return {p, static_cast<std::size_t>(q - p)};
  json::Reader r(text.substr(at), arena);
  return r.string_literal();
}

// Where a string that was read lives: in the text, or (with escapes) in the arena.
bool in_text(std::string_view text, std::string_view s) {
  return s.data() >= text.data() && s.data() <= text.data() + text.size();
}

std::size_t head_size(std::uint64_t n) { return n < 16 ? 1 : n < 65536 ? 3 : 5; }
std::size_t uint_size(std::uint64_t u) {
  return u < 128 ? 1 : u < 256 ? 2 : u < 65536 ? 3 : u <= UINT32_MAX ? 5 : 9;
}
std::size_t neg_size(std::int64_t i) {
  return i >= -32 ? 1 : i >= -128 ? 2 : i >= -32768 ? 3 : i >= INT32_MIN ? 5 : 9;
}
std::size_t string_size(std::uint64_t n) { return n + (n < 32 ? 1 : n < 256 ? 2 : n < 65536 ? 3 : 5); }

// ---- the first walk ---------------------------------------------------------------------------

class Planner {
 public:
  Planner(json::Reader& r, std::string_view text, bool msgpack)
      : r_(r), text_(text), msgpack_(msgpack) {}

  JsonPlan run() {
    value();
    r_.finish();
    plan_.msgpack_size = size_;
    plan_.reordered.seal();
    plan_.counted.seal();
    return std::move(plan_);
  }

 private:
  std::uint32_t here() const { return static_cast<std::uint32_t>(r_.here()); }

  // The value at the cursor, with the reader's checks and errors (as json::read_value).
  void value() {
    int c = r_.peek();
    switch (c) {
      case -1:
        r_.fail_next("EOF while parsing a value");
      case 'n':
        r_.null();
        size_ += 1;
        return;
      case 't':
      case 'f':
        r_.boolean();
        size_ += 1;
        return;
      case '"': {
        Arena::Mark mark = r_.arena().mark();
        std::string_view s = r_.string_literal();
        size_ += string_size(s.size());
        if (!in_text(text_, s)) r_.arena().rewind(mark);
        return;
      }
      case '[': {
        std::uint32_t at = here();
        std::uint64_t n = 0;
        r_.array([&](json::Reader::Seq& seq) {
          while (r_.next_element(seq)) {
            value();
            ++n;
          }
        });
        counted(at, n);
        return;
      }
      case '{':
        object();
        return;
      default:
        if (c == '-' || (c >= '0' && c <= '9')) {
          json::Number num = r_.number();
          switch (num.kind) {
            case json::Number::Kind::Uint: size_ += uint_size(num.u); return;
            case json::Number::Kind::Neg: size_ += neg_size(num.i); return;
            case json::Number::Kind::Float: size_ += 9; return;
          }
        }
        r_.fail_next("expected value");
    }
  }

  void counted(std::uint32_t at, std::uint64_t n) {
    size_ += head_size(n);
    if (msgpack_ && n >= 16) {
      add(plan_.counts, JsonCount{at, static_cast<std::uint32_t>(n)});
      plan_.counted.add(at, text_.size());
    }
  }

  // Containers close inner first, and the second walk finds them by where they open: an entry
  // goes before those of the containers inside it, which are the last ones so far.
  template <class E>
  static void add(std::vector<E>& entries, const E& e) {
    std::size_t i = entries.size();
    while (i != 0 && entries[i - 1].at > e.at) --i;
    entries.insert(entries.begin() + static_cast<std::ptrdiff_t>(i), e);
  }

  // The opening quote of the key that follows `after` (the end of the previous member, or the
  // `{`), past whitespace and a comma.
  std::uint32_t key_after(std::size_t after) const {
    const char* p = text_.data() + after;
    while (is_space(*p)) ++p;
    if (*p == ',') {
      ++p;
      while (is_space(*p)) ++p;
    }
    return static_cast<std::uint32_t>(p - text_.data());
  }

  void object() {
    std::uint32_t at = here();
    std::size_t mark = keys_.size();
    std::size_t after = at + 1;
    bool in_order = true;
    std::string_view last;
    std::string last_copy;  // the previous key, when it was decoded into the arena
    Arena::Mark arena_mark = r_.arena().mark();
    std::uint64_t n = 0;
    r_.object([&](std::string_view key) {
      r_.colon();
      if (n != 0 && in_order && !less(last, key)) in_order = false;
      if (in_text(text_, key)) {
        last = key;
        keys_.push_back(Key{key.data(), static_cast<std::uint32_t>(key.size()), key_after(after)});
      } else {
        last_copy.assign(key);
        last = last_copy;
        r_.arena().rewind(arena_mark);
        keys_.push_back(Key{nullptr, 0, key_after(after)});
      }
      size_ += string_size(key.size());
      ++n;
      value();
      after = r_.here();
    });
    if (in_order) {
      counted(at, n);
    } else {
      size_ += head_size(n);
      reorder(at, mark);
    }
    keys_.resize(mark);
  }

  // A key of an open object: a view of the text when it has no escapes (the usual case, compared
  // without looking at the text again), and where its opening quote is.
  struct Key {
    const char* text;  // nullptr when the key has escapes: it is decoded again when compared
    std::uint32_t size;
    std::uint32_t at;
  };

  // Sorts the keys read since `mark` and keeps the last of each repeated one.
  void reorder(std::uint32_t at, std::size_t mark) {
    Arena& arena = r_.arena();
    auto compare = [&](const Key& a, const Key& b, auto&& op) {
      if (a.text != nullptr && b.text != nullptr) {
        return op(std::string_view(a.text, a.size), std::string_view(b.text, b.size));
      }
      Arena::Mark m = arena.mark();
      std::string_view ka = a.text != nullptr ? std::string_view(a.text, a.size) : key_at(text_, a.at, arena);
      std::string_view kb = b.text != nullptr ? std::string_view(b.text, b.size) : key_at(text_, b.at, arena);
      bool result = op(ka, kb);
      arena.rewind(m);
      return result;
    };
    auto before = [&](const Key& a, const Key& b) {
      return compare(a, b, [](std::string_view x, std::string_view y) { return less(x, y); });
    };
    auto first = keys_.begin() + static_cast<std::ptrdiff_t>(mark);
    if (keys_.end() - first <= 16) {
      // Small objects (the usual case) sort in place without the merge buffer of stable_sort.
      for (auto it = first + 1; it < keys_.end(); ++it) {
        Key m = *it;
        auto j = it;
        for (; j != first && before(m, *(j - 1)); --j) *j = *(j - 1);
        *j = m;
      }
    } else {
      std::stable_sort(first, keys_.end(), before);
    }
    JsonReorder r{at, here(), static_cast<std::uint32_t>(plan_.keys.size()), 0};
    for (auto it = first; it != keys_.end(); ++it) {
      if (it + 1 != keys_.end() &&
          compare(*it, *(it + 1), [](std::string_view x, std::string_view y) { return same(x, y); })) {
        continue;
      }
      plan_.keys.push_back(it->at);
      ++r.count;
    }
    add(plan_.reorders, r);
    plan_.reordered.add(at, text_.size());
  }

  json::Reader& r_;
  std::string_view text_;
  bool msgpack_;
  std::uint64_t size_ = 0;  // MessagePack bytes; members dropped for a repeated key still count
  std::vector<Key> keys_;  // the keys of the members of the open objects
  JsonPlan plan_;
};

// ---- the second walk --------------------------------------------------------------------------

// Walks a text that the first walk accepted: no check is repeated, and scalars are converted by
// a reader set on them.
template <class Emit>
class Walker {
 public:
  Walker(std::string_view text, const JsonPlan& plan, Arena& arena, Emit& emit)
      : text_(text), cur_(text.data()), plan_(plan), arena_(arena), emit_(emit) {}

  void value() {
    space();
    switch (*cur_) {
      case 'n':
        cur_ += 4;
        return emit_.null();
      case 't':
        cur_ += 4;
        return emit_.boolean(true);
      case 'f':
        cur_ += 5;
        return emit_.boolean(false);
      case '"':
        return string([&](std::string_view s) { emit_.string(s); });
      case '[':
        return array();
      case '{':
        return object();
      default:
        return emit_.number(number());
    }
  }

 private:
  std::string_view rest() const {
    return text_.substr(static_cast<std::size_t>(cur_ - text_.data()));
  }
  std::uint32_t offset() const { return static_cast<std::uint32_t>(cur_ - text_.data()); }
  void space() {
    while (is_space(*cur_)) ++cur_;
  }

  // Hands the string at the cursor to `use`: a view of the text, or decoded when it has escapes.
  template <class F>
  void string(F&& use) {
    const char* p = cur_ + 1;
    const char* q = quote_or_escape(p, text_.data() + text_.size());
    if (*q == '"') {
      cur_ = q + 1;
      return use(std::string_view(p, static_cast<std::size_t>(q - p)));
    }
    Arena::Mark mark = arena_.mark();
    json::Reader r(rest(), arena_);
    std::string_view s = r.string_literal();
    cur_ += r.here();
    use(s);
    arena_.rewind(mark);
  }

  // Integers that fit their kind are read here; other numbers by the reader, which converts
  // floats and reports integers out of range as floats.
  // A number may end the text (a payload that is a bare number), so every look ahead is bounded.
  json::Number number() {
    const char* end = text_.data() + text_.size();
    const char* p = cur_;
    bool negative = *p == '-';
    if (negative) ++p;
    const char* digits = p;
    std::uint64_t v = 0;
    auto digit = [end](const char* q) { return q != end && *q >= '0' && *q <= '9'; };
    while (digit(p) && p - digits < 19) v = v * 10 + static_cast<unsigned>(*p++ - '0');
    bool whole = p == end || (!digit(p) && *p != '.' && *p != 'e' && *p != 'E');
    if (whole && !negative) {
      cur_ = p;
      json::Number n;
      n.u = v;
      return n;
    }
    if (whole && v != 0 && v <= (std::uint64_t(1) << 63)) {  // -0 is a float
      cur_ = p;
      json::Number n;
      n.kind = json::Number::Kind::Neg;
      n.i = static_cast<std::int64_t>(0 - v);
      return n;
    }
    json::Reader r(rest(), arena_);
    json::Number n = r.number();
    cur_ += r.here();
    return n;
  }

  // The count of the container at the cursor, when the plan holds it.
  std::uint64_t known(std::uint32_t at) const {
    return plan_.counted.has(at) ? plan_.counts[plan_.counted.rank(at)].count : Emit::kUnknown;
  }

  void array() {
    std::uint64_t count = known(offset());
    ++cur_;
    emit_.open(false, count);
    std::uint64_t n = 0;
    space();
    while (*cur_ != ']') {
      if (n != 0) {
        ++cur_;  // ','
        emit_.separator();
      }
      value();
      ++n;
      space();
    }
    ++cur_;
    emit_.close(false, n);
  }

  void object() {
    std::uint32_t at = offset();
    if (plan_.reordered.has(at)) return reordered(plan_.reorders[plan_.reordered.rank(at)]);
    std::uint64_t count = known(at);
    ++cur_;
    emit_.open(true, count);
    std::uint64_t n = 0;
    space();
    while (*cur_ != '}') {
      if (n != 0) {
        ++cur_;  // ','
        emit_.separator();
        space();
      }
      member();
      ++n;
      space();
    }
    ++cur_;
    emit_.close(true, n);
  }

  // The key at the cursor, its colon and its value.
  void member() {
    string([&](std::string_view s) { emit_.key(s); });
    space();
    ++cur_;  // ':'
    value();
  }

  void reordered(const JsonReorder& r) {
    emit_.open(true, r.count);
    for (std::uint32_t k = 0; k < r.count; ++k) {
      if (k != 0) emit_.separator();
      cur_ = text_.data() + plan_.keys[r.first + k];
      member();
    }
    cur_ = text_.data() + r.end;
    emit_.close(true, r.count);
  }

  std::string_view text_;
  const char* cur_;
  const JsonPlan& plan_;
  Arena& arena_;
  Emit& emit_;
};

// ---- canonical JSON ---------------------------------------------------------------------------

class JsonOut {
 public:
  static constexpr std::uint64_t kUnknown = static_cast<std::uint64_t>(-1);
  explicit JsonOut(std::string& out) : out_(out) {}

  void null() { out_ += "null"; }
  void boolean(bool b) { out_ += b ? "true" : "false"; }
  void number(const json::Number& n) {
    switch (n.kind) {
      case json::Number::Kind::Uint: return json::write_u64(out_, n.u);
      case json::Number::Kind::Neg: return json::write_i64(out_, n.i);
      case json::Number::Kind::Float: return json::write_f64(out_, n.f);
    }
  }
  void string(std::string_view s) { json::write_string(out_, s); }
  void open(bool object, std::uint64_t) { out_.push_back(object ? '{' : '['); }
  void close(bool object, std::uint64_t) { out_.push_back(object ? '}' : ']'); }
  void separator() { out_.push_back(','); }
  void key(std::string_view s) {
    json::write_string(out_, s);
    out_.push_back(':');
  }

 private:
  std::string& out_;
};

// ---- MessagePack ------------------------------------------------------------------------------

// Most strings are short: copying them with two overlapping loads beats a call to memcpy. No
// byte outside [s, s + n) is read or written.
void copy(char* out, const char* s, std::size_t n) {
  if (n >= 8 && n <= 16) {
    std::uint64_t a, b;
    std::memcpy(&a, s, 8);
    std::memcpy(&b, s + n - 8, 8);
    std::memcpy(out, &a, 8);
    std::memcpy(out + n - 8, &b, 8);
  } else if (n >= 4 && n < 8) {
    std::uint32_t a, b;
    std::memcpy(&a, s, 4);
    std::memcpy(&b, s + n - 4, 4);
    std::memcpy(out, &a, 4);
    std::memcpy(out + n - 4, &b, 4);
  } else if (n < 4) {
    for (std::size_t k = 0; k < n; ++k) out[k] = s[k];
  } else {
    std::memcpy(out, s, n);
  }
}


// Writes MessagePack through a raw cursor into a buffer that the caller has sized.
class Emitter {
 public:
  explicit Emitter(char* out) : cur_(out) {}
  char* end() const { return cur_; }

  void byte(unsigned b) { *cur_++ = static_cast<char>(b); }
  // A marker and the low `n` bytes of `v`, big-endian.
  void be(unsigned marker, std::uint64_t v, int n) {
    cur_[0] = static_cast<char>(marker);
    for (int k = 1; k <= n; ++k) cur_[k] = static_cast<char>(v >> (8 * (n - k)));
    cur_ += 1 + n;
  }
  void uint(std::uint64_t u) {
    if (u < 128) return byte(static_cast<unsigned>(u));
    if (u < 256) return be(0xCC, u, 1);
    if (u < 65536) return be(0xCD, u, 2);
    if (u <= UINT32_MAX) return be(0xCE, u, 4);
    be(0xCF, u, 8);
  }
  void neg(std::int64_t i) {
    auto bits = static_cast<std::uint64_t>(i);
    if (i >= -32) return byte(static_cast<unsigned>(bits & 0xFF));  // 0xE0..0xFF
    if (i >= -128) return be(0xD0, bits, 1);
    if (i >= -32768) return be(0xD1, bits, 2);
    if (i >= INT32_MIN) return be(0xD2, bits, 4);
    be(0xD3, bits, 8);
  }
  void real(double d) {
    std::uint64_t bits;
    std::memcpy(&bits, &d, 8);
    be(0xCB, bits, 8);
  }
  // Lengths fit 32 bits whenever the whole payload fits a frame, which the caller checks.
  void head(std::uint64_t n, unsigned fix, unsigned m16, unsigned m32) {
    if (n < 16) return byte(fix + static_cast<unsigned>(n));
    if (n < 65536) return be(m16, n, 2);
    be(m32, n, 4);
  }
  void string(const char* s, std::size_t n) {
    if (n < 32) {
      byte(0xA0 + static_cast<unsigned>(n));
    } else if (n < 256) {
      be(0xD9, n, 1);
    } else if (n < 65536) {
      be(0xDA, n, 2);
    } else {
      be(0xDB, n, 4);
    }
    copy(cur_, s, n);
    cur_ += n;
  }

 private:
  char* cur_;
};

// MessagePack through a raw cursor into a buffer sized from the plan. A container whose count
// the plan does not hold has fewer than 16 elements: its one-byte head is written when it closes.
class MsgpackOut {
 public:
  static constexpr std::uint64_t kUnknown = static_cast<std::uint64_t>(-1);
  explicit MsgpackOut(char* out) : e_(out) {}
  char* end() const { return e_.end(); }

  void null() { e_.byte(0xC0); }
  void boolean(bool b) { e_.byte(b ? 0xC3 : 0xC2); }
  void number(const json::Number& n) {
    switch (n.kind) {
      case json::Number::Kind::Uint: return e_.uint(n.u);
      case json::Number::Kind::Neg: return e_.neg(n.i);
      case json::Number::Kind::Float: return e_.real(n.f);
    }
  }
  void string(std::string_view s) { e_.string(s.data(), s.size()); }
  void open(bool object, std::uint64_t known) {
    if (known == kUnknown) {
      heads_.push_back(e_.end());
      e_.byte(0);
    } else {
      heads_.push_back(nullptr);
      if (object) {
        e_.head(known, 0x80, 0xDE, 0xDF);
      } else {
        e_.head(known, 0x90, 0xDC, 0xDD);
      }
    }
  }
  void close(bool object, std::uint64_t count) {
    char* head = heads_.back();
    heads_.pop_back();
    if (head != nullptr) *head = static_cast<char>((object ? 0x80 : 0x90) + count);
  }
  void separator() {}
  void key(std::string_view s) { string(s); }

 private:
  Emitter e_;
  std::vector<char*> heads_;  // of the open containers; nullptr where the head is written
};

// ---- one walk -----------------------------------------------------------------------------

// Whether the `n` bytes at `p` (4 or 5) spell `w`: a word of four and the fifth byte.
VELMOR_NATIVE_INLINE inline bool same_word(const char* p, const char* w, std::size_t n) {
  std::uint32_t a, b;
  std::memcpy(&a, p, 4);
  std::memcpy(&b, w, 4);
  return a == b && (n == 4 || p[4] == w[4]);
}

// Thrown inside the one walk when it gives the text up to the two walks.
struct GiveUp {};

// less() of two keys, in line where their first bytes differ (most neighbouring keys).
[[gnu::always_inline]] inline bool key_less(std::string_view a, std::string_view b) {
  if (!a.empty() && !b.empty() && a[0] != b[0]) return static_cast<unsigned char>(a[0]) < static_cast<unsigned char>(b[0]);
  return less(a, b);
}

// Where a plain run of a string that starts at `p` ends (as json::find_string_stop), and whether
// a byte at or above 0x80 comes before that. Most strings are keys and short names: their first
// sixteen bytes are looked at here, in line.
struct StringStop {
  const char* at;
  bool high;
};

// Any byte at or above 0x80 in [p, end).
inline bool any_high(const char* p, const char* end) {
  std::uint64_t any = 0;
  for (; end - p >= 8; p += 8) any |= json::load8(p);
  for (; p != end; ++p) any |= static_cast<unsigned char>(*p);
  return (any & (json::kOnes * 0x80)) != 0;
}

[[gnu::always_inline]] inline StringStop string_stop(const char* p, const char* end) {
#if defined(__SSE2__)
  if (end - p >= 16) {
    json::Piece v = json::load_piece(p);
    std::uint32_t high = json::high_piece(v);
    if (std::uint32_t mask = json::special_piece(v)) {
      return {p + __builtin_ctz(mask), (high & (mask - 1) & ~mask) != 0};
    }
    const char* stop = json::find_string_stop(p + 16, end);
    return {stop, high != 0 || any_high(p + 16, stop)};
  }
#endif
  const char* stop = json::find_string_stop(p, end);
  return {stop, any_high(p, stop)};
}


// Reads the text once with the checks of the JSON reader (deferring to it for escapes and for
// numbers other than plain integers) and writes each value as it is read into `o`. Members are
// written in the order read; the fixes say how the second, final output differs.
template <bool Msgpack>
class OneWalk {
 public:
  // MessagePack goes into room made for many short writes; JSON, written mostly as long runs
  // of the text, straight into the string that holds it in the end.
  using Sink = std::conditional_t<Msgpack, Room, std::string>;
  OneWalk(std::string_view text, Arena& arena, Sink& o)
      : text_(text), p_(text.data()), end_(text.data() + text.size()), run_(text.data()), arena_(arena), o_(o) {}

  void run() {
    space();
    value(0);
    space();
    if (p_ != end_) throw GiveUp{};
    flush();
  }

  Blocks<Fix>& fixes() { return fixes_; }
  Blocks<Span>& spans() { return spans_; }
  Blocks<std::uint32_t>& bounds() { return bounds_; }
  std::int64_t grown() const { return grown_; }
  // Whether the text may not be valid UTF-8 (only kept as JSON): outside strings any byte at or
  // above 0x80 ends the walk, and the plain runs of strings that hold one were checked.
  bool high() const { return high_; }

 private:
  // Compact text has no whitespace: one test for the usual byte.
  static bool at_space(const char* p, const char* end) {
    return p != end && static_cast<unsigned char>(*p) <= ' ' && is_space(*p);
  }
  VELMOR_NATIVE_INLINE void space() {
    if (at_space(p_, end_)) skip_space();
  }
  void skip_space() {
    flush();
    do {
      ++p_;
    } while (at_space(p_, end_));
    run_ = p_;
  }
  // As JSON, what is read is mostly written as it stands: the text from `run_` to the cursor is
  // the output's still to be copied, and is copied as one piece when something else is written
  // (whitespace left out, a string or number rewritten) or the output is looked at.
  void flush() {
    if constexpr (!Msgpack) {
      o_.append(run_, static_cast<std::size_t>(p_ - run_));
      run_ = p_;
    }
  }
  // The next byte past whitespace, or -1 at the end of the text.
  VELMOR_NATIVE_INLINE int peek() {
    if (p_ != end_ && static_cast<unsigned char>(*p_) > ' ') return static_cast<unsigned char>(*p_);
    return peek_past_space();
  }
  int peek_past_space() {
    space();
    return p_ == end_ ? -1 : static_cast<unsigned char>(*p_);
  }
  std::uint32_t out_at() const {
    if constexpr (Msgpack) {
      return static_cast<std::uint32_t>(o_.size());
    } else {
      return static_cast<std::uint32_t>(o_.size() + static_cast<std::size_t>(p_ - run_));
    }
  }

  // The value at the cursor, past any whitespace before it. Scalars are read where the value is
  // (in the loop of its array or object), containers by a call.
  VELMOR_NATIVE_INLINE void value(int depth) {
    space();
    if (p_ == end_) throw GiveUp{};
    switch (*p_) {
      case '"': return string();
      case '{': return object(depth + 1);
      case '[': return array(depth + 1);
      case 'n': return word("null", 4, '\xC0');
      case 't': return word("true", 4, '\xC3');
      case 'f': return word("false", 5, '\xC2');
      default: return number();
    }
  }

  // null, true or false: as JSON left in the run of text, as MessagePack its one-byte marker.
  VELMOR_NATIVE_INLINE void word(const char* w, std::size_t n, char marker) {
    if (static_cast<std::size_t>(end_ - p_) < n || !same_word(p_, w, n)) throw GiveUp{};
    p_ += n;
    if constexpr (Msgpack) o_.push_back(marker);
  }

  // MessagePack marker and big-endian length or value.
  void be(unsigned marker, std::uint64_t v, int n) {
    char* d = o_.room(9);
    d[0] = static_cast<char>(marker);
    for (int k = 1; k <= n; ++k) d[k] = static_cast<char>(v >> (8 * (n - k)));
    o_.commit(d + 1 + n);
  }

  [[gnu::always_inline]] void write_string(const char* s, std::size_t n) {
    if constexpr (Msgpack) {
      if (n < 32) {
        // Most strings: the marker and the bytes in one piece of room.
        char* d = o_.room(n + 1);
        *d = static_cast<char>(0xA0 + n);
        json::copy_bytes(d + 1, s, n);
        return o_.commit(d + 1 + n);
      }
      if (n < 256) {
        be(0xD9, n, 1);
      } else if (n < 65536) {
        be(0xDA, n, 2);
      } else {
        be(0xDB, n, 4);
      }
      o_.append(s, n);
    } else {
      json::write_string(o_, std::string_view(s, n));
    }
  }

  // A string of the text, with no escapes. One shorter than 32 bytes (most keys and names) that
  // has 32 bytes of text from its start on is copied as one or two fixed 16-byte pieces: the room
  // taken covers them, and what lies past the string is written over by what comes next.
  [[gnu::always_inline]] void write_text_string(const char* s, std::size_t n) {
    if constexpr (Msgpack) {
      if (n < 32 && end_ - s >= 32) {
        char* d = o_.room(33);
        *d = static_cast<char>(0xA0 + n);
        std::memcpy(d + 1, s, 16);
        if (n > 16) std::memcpy(d + 17, s + 16, 16);
        return o_.commit(d + 1 + n);
      }
    }
    write_string(s, n);
  }

  // A plain run of a string with bytes at or above 0x80: valid UTF-8 on its own, or the whole
  // text is checked afterwards (which then finds the fault and reports it as for any text).
  void note_high(const char* start, const char* stop) {
    if (!high_ && json::check_utf8(std::string_view(start, static_cast<std::size_t>(stop - start)))) high_ = true;
  }

  // A string at the cursor. A plain one (no escape, no control character) is written as it
  // stands; one with escapes is read by the reader.
  [[gnu::always_inline]] void string() {
    const char* start = p_ + 1;
    StringStop found = string_stop(start, end_);
    const char* stop = found.at;
    if constexpr (!Msgpack) {
      if (found.high) note_high(start, stop);
    }
    if (stop == end_) throw GiveUp{};
    if (*stop == '"') {
      p_ = stop + 1;
      if constexpr (Msgpack) write_text_string(start, static_cast<std::size_t>(stop - start));
      return;
    }
    if (*stop != '\\') throw GiveUp{};
    flush();
    high_ = true;  // the rest of the string is not looked at here
    Arena::Mark mark = arena_.mark();
    json::Reader r(text_.substr(static_cast<std::size_t>(p_ - text_.data())), arena_);
    std::string_view s = r.string_literal();
    p_ += r.here();
    write_string(s.data(), s.size());
    arena_.rewind(mark);
    run_ = p_;
  }

  static bool digit(char c) { return c >= '0' && c <= '9'; }

  // Integers that fit their kind are read here and, as JSON, copied: their text is already
  // canonical. Other numbers are the reader's.
  VELMOR_NATIVE_INLINE void number() {
    const char* start = p_;
    const char* p = p_;
    bool negative = *p == '-';
    if (negative) ++p;
    if (p == end_ || !digit(*p)) throw GiveUp{};
    std::uint64_t v = 0;
    if (*p == '0') {
      ++p;
      if (p != end_ && digit(*p)) throw GiveUp{};
    } else {
      const char* digits = p;
      while (p != end_ && digit(*p) && p - digits < 19) v = v * 10 + static_cast<unsigned>(*p++ - '0');
    }
    bool whole = p == end_ || (!digit(*p) && *p != '.' && *p != 'e' && *p != 'E');
    if (whole && (!negative || (v != 0 && v <= (std::uint64_t(1) << 63)))) {  // -0 is a float
      p_ = p;
      if constexpr (Msgpack) return negative ? neg(static_cast<std::int64_t>(0 - v)) : uint(v);
      return;
    }
    other_number(start);
  }
  [[gnu::noinline]] void other_number(const char* start) {
    flush();
    json::Reader r(text_.substr(static_cast<std::size_t>(start - text_.data())), arena_);
    json::Number n = r.number();
    p_ = start + r.here();
    if constexpr (Msgpack) {
      switch (n.kind) {
        case json::Number::Kind::Uint: return uint(n.u);
        case json::Number::Kind::Neg: return neg(n.i);
        case json::Number::Kind::Float: {
          std::uint64_t bits;
          std::memcpy(&bits, &n.f, 8);
          return be(0xCB, bits, 8);
        }
      }
    } else {
      run_ = p_;
      switch (n.kind) {
        case json::Number::Kind::Uint: return json::write_u64(o_, n.u);
        case json::Number::Kind::Neg: return json::write_i64(o_, n.i);
        case json::Number::Kind::Float: return json::write_f64(o_, n.f);
      }
    }
  }

  VELMOR_NATIVE_INLINE void uint(std::uint64_t u) {
    if (u < 128) return o_.push_back(static_cast<char>(u));
    if (u < 256) return be(0xCC, u, 1);
    if (u < 65536) return be(0xCD, u, 2);
    if (u <= UINT32_MAX) return be(0xCE, u, 4);
    be(0xCF, u, 8);
  }
  void neg(std::int64_t i) {
    auto bits = static_cast<std::uint64_t>(i);
    if (i >= -32) return o_.push_back(static_cast<char>(bits & 0xFF));  // 0xE0..0xFF
    if (i >= -128) return be(0xD0, bits, 1);
    if (i >= -32768) return be(0xD1, bits, 2);
    if (i >= INT32_MIN) return be(0xD2, bits, 4);
    be(0xD3, bits, 8);
  }

  // Arrays and objects nest at most as deep as the reader lets them.
  static void enter(int depth) {
    if (depth > json::kMaxDepth) throw GiveUp{};
  }

  [[gnu::noinline]] void array(int depth) {
    enter(depth);
    ++p_;
    std::uint32_t at = out_at();
    std::size_t inner = fixes_.size();
    if constexpr (Msgpack) o_.push_back('\0');
    std::uint64_t n = 0;
    if (peek() != ']') {
      for (;;) {
        value(depth);
        ++n;
        int c = peek();
        if (c == ']') break;
        if (c != ',') throw GiveUp{};
        ++p_;
      }
    }
    ++p_;
    if constexpr (Msgpack) close_head(at, n, false, inner);
  }

  // The one-byte head of a MessagePack container, or a fix for a wider one.
  [[gnu::always_inline]] void close_head(std::uint32_t at, std::uint64_t n, bool object, std::size_t inner) {
    if (n < 16) {
      // The byte kept at `at`, behind the cursor.
      o_.data()[at] = static_cast<char>((object ? 0x80 : 0x90) + n);
      return;
    }
    wide_head(at, n, object, inner);
  }
  void wide_head(std::uint32_t at, std::uint64_t n, bool object, std::size_t inner) {
    if (settled(at, inner)) {
      // Small enough to move right away: the contents go up by what the head grows.
      std::size_t w = head_size(n) - 1;
      char* base = o_.room(w) - (out_at() - at);
      std::memmove(base + 1 + w, base + 1, out_at() - at - 1);
      write_head(base, n, object);
      o_.commit(base + (out_at() - at) + w);
      return;
    }
    add_fix(Fix{at, out_at(), Fix::kNone, static_cast<std::uint32_t>(n) | (object ? 0 : Fix::kArray), 0, 0},
            inner);
    grown_ += static_cast<std::int64_t>(head_size(n)) - 1;
  }

  // A container is put right in place as it closes when no fix is pending inside it and it is
  // short: it is then the last thing written, and moving it costs less than a fix to apply later.
  // Bounding the length bounds how often a byte is moved again by the containers around it.
  static constexpr std::uint32_t kSettle = 1024;
  bool settled(std::uint32_t at, std::size_t inner) const {
    return fixes_.size() == inner && out_at() - at <= kSettle;
  }

  // The output so far (behind the cursor, as JSON after a flush).
  char* written() {
    if constexpr (Msgpack) {
      return o_.data();
    } else {
      return o_.data();
    }
  }

  // A MessagePack head of `n` elements (n >= 16) at `d`.
  static void write_head(char* d, std::uint64_t n, bool object) {
    int w = n < 65536 ? 2 : 4;
    d[0] = static_cast<char>(n < 65536 ? (object ? 0xDE : 0xDC) : (object ? 0xDF : 0xDD));
    for (int k = 1; k <= w; ++k) d[k] = static_cast<char>(n >> (8 * (w - k)));
  }

  // Fixes are kept in the order their containers close: a container's comes right after those of
  // the containers inside it, which are the last ones, from `inner` on.
  void add_fix(Fix f, std::size_t inner) {
    f.inner = static_cast<std::uint32_t>(fixes_.size() - inner);
    fixes_.push_back(f);
    // The bookkeeping of the fixes stays below the size of the output (a first stretch aside).
    if (fixes_.size() * sizeof(Fix) + spans_.size() * sizeof(Span) + bounds_.size() * sizeof(std::uint32_t) >
        out_at() + std::size_t(65536)) {
      throw GiveUp{};
    }
  }

  // A member of an open object: its key in the text and where it starts in the output (and,
  // once its object is to be put in order, where it ends).
  struct Member {
    std::uint32_t key;  // offset in the text of the key's first byte
    std::uint32_t size;
    std::uint32_t begin;
    std::uint32_t end;
  };
  using Sorted = Member;
  // The members of the object being put in order, in place on the stack of open members.
  struct Sorting {
    Member* first;
    std::size_t n;
    std::size_t size() const { return n; }
    Member& operator[](std::size_t i) const { return first[i]; }
    Member* begin() const { return first; }
    Member* end() const { return first + n; }
  };

  std::string_view key_of(const Member& m) const { return {text_.data() + m.key, m.size}; }

  [[gnu::noinline]] void object(int depth) {
    enter(depth);
    std::uint32_t at = out_at();
    ++p_;
    std::size_t inner = fixes_.size();
    if constexpr (Msgpack) o_.push_back('\0');
    std::size_t mark = members_.size();
    bool in_order = true;
    Held held;
    int c = peek();
    if (c != '}') {
      for (;;) {
        if (c != '"') throw GiveUp{};
        const char* start = p_ + 1;
        StringStop found = string_stop(start, end_);
        const char* stop = found.at;
        if constexpr (!Msgpack) {
          if (found.high) note_high(start, stop);
        }
        if (stop == end_ || *stop != '"') throw GiveUp{};  // keys with escapes are the reader's
        Member m{static_cast<std::uint32_t>(start - text_.data()), static_cast<std::uint32_t>(stop - start), 0, 0};
        if (held.size != 0 && !key_less(key_of(m), key_of(held.member))) place(held, false);
        if (in_order && members_.size() != mark && !key_less(key_of(members_.back()), key_of(m))) {
          // Held only when it comes strictly after: a repeated key keeps its place in the text's order.
          if (Msgpack || held.size != 0 || members_.size() != mark + 1 || !key_less(key_of(m), key_of(members_.back())) ||
              !hold(held, inner)) {
            in_order = false;
          }
        }
        m.begin = out_at();
        members_.push_back(m);
        p_ = stop + 1;
        if constexpr (Msgpack) write_text_string(start, m.size);
        // Compact text has the colon right after the key.
        if ((p_ == end_ || *p_ != ':') && peek() != ':') throw GiveUp{};
        ++p_;
        value(depth);
        c = peek();
        if (c == '}') break;
        if (c != ',') throw GiveUp{};
        ++p_;
        c = peek();
      }
      if (held.size != 0) {
        place(held, true);
        if (in_order && !key_less(key_of(members_[members_.size() - 2]), key_of(members_.back()))) in_order = false;
      }
    }
    ++p_;
    std::uint64_t n = members_.size() - mark;
    if (in_order) {
      if constexpr (Msgpack) close_head(at, n, true, inner);
    } else {
      // As JSON, the closing brace is behind the cursor, and the object goes into the output
      // now to be put in order.
      std::uint32_t last_end = out_at() - (Msgpack ? 0 : 1);
      flush();
      reorder(at, mark, last_end, inner);
    }
    members_.shrink(mark);
  }

  // An object's first member, when the second key comes before it (as in objects whose members
  // are written with a name or kind first): it is taken out of the output and written again
  // where its key falls among those that follow, so that an object otherwise in order needs no
  // reordering, and its bytes are the only ones moved.
  // Only `size` is set up front: the rest is written when a member is held, and read only then.
  struct Held {
    Member member;
    const char* text;        // its bytes, when they are the text's own (as JSON)
    std::size_t at;          // else where they are kept in `held_`
    std::uint32_t size = 0;  // their number; 0 when no member is held
  };
  static constexpr std::uint32_t kHold = 512;

  // Takes the object's only member so far out of the output, when it is short and holds nothing
  // waiting for the final copy; false when it stays.
  bool hold(Held& h, std::size_t inner) {
    if (fixes_.size() != inner) return false;
    const Member& m = members_.back();
    std::uint32_t end = out_at() - (Msgpack ? 0 : 1);  // as JSON, before the comma
    if (end - m.begin > kHold) return false;
    h.member = m;
    h.size = end - m.begin;
    if constexpr (!Msgpack) {
      if (m.begin >= o_.size()) {
        // Still in the run of text to copy (which ends with the comma): it is left there, and
        // only what comes before it is copied.
        h.text = run_ + (m.begin - o_.size());
        o_.append(run_, static_cast<std::size_t>(h.text - run_));
        run_ = p_;
        members_.shrink(members_.size() - 1);
        return true;
      }
    }
    flush();
    h.text = nullptr;
    h.at = held_.size();
    held_.append(written() + m.begin, h.size);
    truncate(m.begin);
    members_.shrink(members_.size() - 1);
    return true;
  }

  // Writes the held member back before the key at the cursor, or at the end of the object.
  void place(Held& h, bool last) {
    flush();
    // As JSON the output ends with the comma before the key at the cursor; at the end it needs one.
    if constexpr (!Msgpack) {
      if (last) o_.push_back(',');
    }
    h.member.begin = out_at();
    if (h.text != nullptr) {
      o_.append(h.text, h.size + (last ? 0 : 1));  // with the comma after it, as in the text
    } else {
      o_.append(held_.data() + h.at, h.size);
      if constexpr (!Msgpack) {
        if (!last) o_.push_back(',');
      }
      held_.resize(h.at);
    }
    run_ = p_;
    members_.push_back(h.member);
    h.size = 0;
  }

  void truncate(std::uint32_t n) {
    if constexpr (Msgpack) {
      o_.commit(o_.data() + n);
    } else {
      o_.resize(n);
    }
  }

  // Sorts the members read since `mark` by key, keeps the last of each repeated one and notes
  // where each kept one was written.
  void reorder(std::uint32_t at, std::size_t mark, std::uint32_t last_end, std::size_t inner) {
    // Each member with where it ends: before the comma that follows it (as JSON), or where the
    // next begins; the last one at the closing brace.
    std::size_t top = members_.size();
    for (std::size_t k = mark; k + 1 < top; ++k) members_[k].end = members_[k + 1].begin - (Msgpack ? 0 : 1);
    members_[top - 1].end = last_end;
    // Kept in locals for the loops below: stores to the members would make the compiler load
    // the fields again.
    Member* first = members_.data() + mark;
    std::size_t count = top - mark;
    sorting_ = Sorting{first, count};
    const char* text = text_.data();
    auto key = [text](const Sorted& m) { return std::string_view(text + m.key, m.size); };
    auto before = [&](const Sorted& a, const Sorted& b) { return less(key(a), key(b)); };
    // Whether a key repeats: a repeated key ends up right after its equal.
    bool repeats = true;
    if (count <= 16) {
      // Small objects (the usual case) sort in place without the merge buffer of stable_sort;
      // each insertion stops at a key no greater, which is equal exactly when the key repeats.
      repeats = false;
      for (std::size_t k = 1; k < count; ++k) {
        Sorted m = first[k];
        std::size_t j = k;
        int c = 0;
        for (; j != 0 && (c = compare(key(m), key(first[j - 1]))) < 0; --j) first[j] = first[j - 1];
        if (j != 0 && c == 0) repeats = true;
        first[j] = m;
      }
    } else {
      std::stable_sort(sorting_.begin(), sorting_.end(), before);
    }
    if (settled(at, inner)) return rearrange(at, repeats);
    Fix f{at, out_at(), 0, 0, 0, 0};
    pieces_.clear();
    bool dropped = false;
    for (std::size_t k = 0; k < sorting_.size(); ++k) {
      if (k + 1 != sorting_.size() && same(key(sorting_[k]), key(sorting_[k + 1]))) {
        dropped = true;
        continue;
      }
      ++f.count;
      // Members that follow each other in both orders are copied as one range (with the comma
      // between them, as JSON).
      if (!pieces_.empty() && pieces_.back().end + (Msgpack ? 0 : 1) == sorting_[k].begin) {
        pieces_.back().end = sorting_[k].end;
        continue;
      }
      pieces_.push_back(Span{sorting_[k].begin, sorting_[k].end});
    }
    if constexpr (Msgpack) {
      // The final output holds the wider head and none of the dropped members.
      grown_ += static_cast<std::int64_t>(head_size(f.count)) - 1;
      for (std::size_t k = 0; dropped && k + 1 < sorting_.size(); ++k) {
        if (same(key(sorting_[k]), key(sorting_[k + 1]))) grown_ -= static_cast<std::int64_t>(measure(sorting_[k].begin, sorting_[k].end, inner));
      }
    }
    auto n = static_cast<std::uint32_t>(pieces_.size());
    if (dropped || n > Fix::kMaxPermuted) {
      f.first = static_cast<std::uint32_t>(spans_.size());
      f.pieces = n;
      for (const Span& s : pieces_) spans_.push_back(s);
      return add_fix(f, inner);
    }
    // The pieces tile the object: their order is the rank of each one's start.
    f.pieces = Fix::kPermuted | n;
    for (std::uint32_t k = 0; k < n; ++k) {
      std::uint32_t r = 0;
      for (const Span& s : pieces_) r += s.begin < pieces_[k].begin;
      f.pieces |= r << (4 + 3 * k);
    }
    if (n == 2) {
      f.first = std::max(pieces_[0].begin, pieces_[1].begin);
    } else {
      f.first = static_cast<std::uint32_t>(bounds_.size());
      std::sort(pieces_.begin(), pieces_.end(), [](const Span& a, const Span& b) { return a.begin < b.begin; });
      for (std::uint32_t k = 1; k < n; ++k) bounds_.push_back(pieces_[k].begin);
    }
    add_fix(f, inner);
  }

  // Writes the object at `at`, the last thing written and with no fix inside, over again with its
  // sorted members, the last of each repeated key kept.
  void rearrange(std::uint32_t at, bool repeats) {
    std::uint32_t end = out_at();
    copy_block(scratch_, written() + at, end - at);
    const char* from = scratch_ - at;
    Member* first = sorting_.first;
    std::size_t kept = sorting_.size();
    if (repeats) {
      kept = 0;
      for (std::size_t k = 0; k < sorting_.size(); ++k) {
        auto key = [&](const Sorted& m) { return std::string_view(text_.data() + m.key, m.size); };
        if (k + 1 == sorting_.size() || !same(key(first[k]), key(first[k + 1]))) first[kept++] = first[k];
      }
    }
    // MessagePack may need a wider head than the byte kept for it; nothing else grows.
    char* d;
    if constexpr (Msgpack) {
      d = o_.room(4) - (end - at);
      if (kept < 16) {
        *d++ = static_cast<char>(0x80 + kept);
      } else {
        write_head(d, kept, true);
        d += head_size(kept);
      }
    } else {
      d = o_.data() + at;
      *d++ = '{';
    }
    for (std::size_t k = 0; k < kept; ++k) {
      if constexpr (!Msgpack) {
        if (k != 0) *d++ = ',';
      }
      const Sorted& m = first[k];
      json::copy_bytes(d, from + m.begin, m.end - m.begin);
      d += m.end - m.begin;
    }
    if constexpr (Msgpack) {
      o_.commit(d);
    } else {
      *d++ = '}';
      o_.resize(static_cast<std::size_t>(d - o_.data()));
    }
  }

  // The final size of raw[begin, end), whose fixes are among those from `inner` on.
  std::size_t measure(std::uint32_t begin, std::uint32_t end, std::size_t inner) {
    std::size_t lo = ending_after(fixes_, inner, fixes_.size(), begin);
    std::size_t hi = ending_after(fixes_, lo, fixes_.size(), end);
    Gather<Msgpack, std::size_t> g(o_.view().data(), fixes_, spans_, bounds_);
    return g.copy(0, begin, end, lo, hi);
  }

  std::string_view text_;
  const char* p_;
  const char* end_;
  const char* run_;  // as JSON: where the text not yet copied to the output starts
  bool high_ = false;  // as JSON: the text may not be valid UTF-8
  Arena& arena_;
  Sink& o_;
  std::int64_t grown_ = 0;  // how much longer the final output is than the first
  Stack<Member> members_;  // of the open objects
  std::string held_;       // the bytes of the members held, of every open object
  Blocks<Fix> fixes_;  // ascending `end`, in the order the containers closed
  Blocks<Span> spans_;
  Blocks<std::uint32_t> bounds_;
  std::vector<Span> pieces_;  // room for reorder()
  Sorting sorting_{};  // for reorder()
  char scratch_[kSettle];        // room for rearrange()
};

// The one walk into `o`; false when it gives up.
template <bool Msgpack>
bool walk_once(std::string_view text, Arena& arena, typename OneWalk<Msgpack>::Sink& o, Blocks<Fix>& fixes,
               Blocks<Span>& spans,
               Blocks<std::uint32_t>& bounds, std::int64_t& grown, bool* high = nullptr) {
  if (text.size() > (std::size_t(1) << 29)) return false;
  OneWalk<Msgpack> walk(text, arena, o);
  try {
    walk.run();
  } catch (GiveUp&) {
    return false;
  } catch (json::ReadError&) {
    return false;
  }
  fixes = std::move(walk.fixes());
  spans = std::move(walk.spans());
  bounds = std::move(walk.bounds());
  grown = walk.grown();
  if (high != nullptr) *high = walk.high();
  return true;
}

}  // namespace

bool rewrite_json(std::string_view text, Arena& arena, std::string& out, bool& ascii) {
  std::size_t base = out.size();
  Blocks<Fix> fixes;
  Blocks<Span> spans;
  Blocks<std::uint32_t> bounds;
  std::int64_t grown = 0;
  bool high = true;
  bool done = walk_once<false>(text, arena, out, fixes, spans, bounds, grown, &high);
  ascii = done && !high;
  if (!done) {
    out.resize(base);
    return false;
  }
  if (fixes.empty()) return true;
  // The first output is copied with the fixes applied; the value before `base` as it is.
  std::string raw = std::move(out);
  out = std::string();
  out.reserve(raw.size() + 64);  // and room for what the caller appends (the decode output's end)
  out.append(raw.data(), base);
  Gather<false, Appending> g(raw.data(), fixes, spans, bounds);
  g.copy(Appending{&out}, static_cast<std::uint32_t>(base), static_cast<std::uint32_t>(raw.size()), 0, fixes.size());
  return true;
}

bool draft_msgpack(std::string_view text, Arena& arena, MsgpackDraft& draft) {
  Room o(text.size() + 64);
  std::int64_t grown = 0;
  if (!walk_once<true>(text, arena, o, draft.fixes, draft.spans, draft.bounds, grown)) return false;
  draft.raw = std::move(o);
  draft.size = static_cast<std::size_t>(static_cast<std::int64_t>(draft.raw.size()) + grown);
  return true;
}

void finish_msgpack(const MsgpackDraft& draft, char* out) {
  if (draft.fixes.empty()) {
    if (!draft.raw.empty()) std::memcpy(out, draft.raw.data(), draft.raw.size());
    return;
  }
  Gather<true, char*> g(draft.raw.data(), draft.fixes, draft.spans, draft.bounds);
  g.copy(out, 0, static_cast<std::uint32_t>(draft.raw.size()), 0, draft.fixes.size());
}

JsonPlan plan_json(json::Reader& r, std::string_view text, bool msgpack) {
  if (text.size() > UINT32_MAX) throw std::length_error("text longer than a frame allows");
  return Planner(r, text, msgpack).run();
}

void write_json(std::string_view text, const JsonPlan& plan, Arena& arena, std::string& out) {
  JsonOut emit(out);
  Walker<JsonOut>(text, plan, arena, emit).value();
}

void write_msgpack(std::string_view text, const JsonPlan& plan, Arena& arena, std::string& out) {
  std::size_t used = out.size();
  out.resize(used + plan.msgpack_size);
  MsgpackOut emit(out.data() + used);
  Walker<MsgpackOut>(text, plan, arena, emit).value();
  out.resize(static_cast<std::size_t>(emit.end() - out.data()));
}

}  // namespace velmor::wire
