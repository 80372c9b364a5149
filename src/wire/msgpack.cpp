// MessagePack payloads read and written out as canonical JSON.
#include "wire/msgpack.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "json/scan.hpp"
#include "json/utf8.hpp"
#include "json/value.hpp"
#include "json/writer.hpp"
#include "text.hpp"
#include "wire/gather.hpp"

namespace velmor::wire {

// MessagePack to canonical JSON in two walks over the payload, with no value built in memory.
// The first checks everything that can fail and finds the maps whose keys are not in ascending
// order (or repeat); for each of those it keeps the offsets of the keys that survive, in output
// order. The second writes the JSON text: members in order are written as they come, the others
// in the order kept. Working memory is the stack of open maps' key offsets (four bytes a member)
// and the kept offsets of the maps that need them; no count read from the input is used to size
// anything. Offsets are 32-bit: a payload comes from a frame, whose length field is 32-bit.

namespace {

using Byte = unsigned char;

// The big-endian number of the `n` bytes at `p` (a length or a number field).
inline std::uint64_t big_endian(const Byte* p, int n) {
  std::uint64_t v = 0;
  for (int k = 0; k < n; ++k) v = (v << 8) | p[k];
  return v;
}

// The floats of a 4-byte and an 8-byte field.
inline float as_float(std::uint64_t bits) {
  auto b = static_cast<std::uint32_t>(bits);
  float f;
  std::memcpy(&f, &b, 4);
  return f;
}
inline double as_double(std::uint64_t bits) {
  double d;
  std::memcpy(&d, &bits, 8);
  return d;
}

[[noreturn]] void fail(std::string message) { throw json::ReadError{std::move(message), json::kNoPos}; }

// The string at a key offset that the check walk accepted (fixstr or str 8/16/32).
std::string_view string_at(const Byte* p) {
  unsigned m = *p++;
  std::size_t n;
  if (m < 0xC0) {
    n = m & 0x1F;
  } else {
    int width = 1 << (m - 0xD9);
    n = 0;
    for (int k = 0; k < width; ++k) n = (n << 8) | *p++;
  }
  return {reinterpret_cast<const char*>(p), n};
}

// Most strings are ASCII, which is valid UTF-8: checked here a word at a time, in line.
bool ascii(std::string_view s) {
  constexpr std::uint64_t highs = 0x8080808080808080ULL;
  const char* p = s.data();
  std::size_t n = s.size();
  if (n < 8) return (json::load_short(p, n) & highs) == 0;
  std::uint64_t any = json::load8(p + n - 8);
  for (std::size_t i = 0; i + 8 <= n; i += 8) any |= json::load8(p + i);
  return (any & highs) == 0;
}

// A map whose members are written in another order than read.
struct Reorder {
  std::uint32_t at;     // offset of the map's marker
  std::uint32_t end;    // offset just after its last member
  std::uint32_t first;  // where its key offsets start in `Plan::keys`
  std::uint32_t count;  // members written: one per distinct key
};

// What the check walk leaves for the writing walk.
struct Plan {
  int max_depth = 0;              // deepest nesting of arrays and maps
  std::vector<Reorder> reorders;  // ascending `at`
  std::vector<std::uint32_t> keys;
};

// The first walk: every reading error, in the order a reader that builds the value meets them.
class Checker {
 public:
  explicit Checker(std::string_view bytes)
      : begin_(reinterpret_cast<const Byte*>(bytes.data())), cur_(begin_), end_(begin_ + bytes.size()) {}

  Plan run() {
    value();
    // Maps close inner first; the writing walk meets them outer first.
    std::sort(plan_.reorders.begin(), plan_.reorders.end(),
              [](const Reorder& a, const Reorder& b) { return a.at < b.at; });
    return std::move(plan_);
  }

 private:
  std::uint32_t offset(const Byte* p) const { return static_cast<std::uint32_t>(p - begin_); }

  void value() {
    const Byte* start = cur_;
    unsigned m = marker();
    if (m < 0x80 || m >= 0xE0) return;
    if (m < 0x90) return map(start, m & 0x0F);
    if (m < 0xA0) return array(m & 0x0F);
    if (m < 0xC0) {
      string(m & 0x1F);
      return;
    }
    switch (m) {
      case 0xC0:
      case 0xC2:
      case 0xC3: return;
      case 0xCC:
      case 0xD0: fixed(1); return;
      case 0xCD:
      case 0xD1: fixed(2); return;
      case 0xCA:
      case 0xCE:
      case 0xD2: fixed(4); return;
      case 0xCB:
      case 0xCF:
      case 0xD3: fixed(8); return;
      case 0xD9: string(fixed(1)); return;
      case 0xDA: string(fixed(2)); return;
      case 0xDB: string(fixed(4)); return;
      case 0xDC: return array(fixed(2));
      case 0xDD: return array(fixed(4));
      case 0xDE: return map(start, fixed(2));
      case 0xDF: return map(start, fixed(4));
      default: break;
    }
    fail("invalid type: " + unsupported(m) + ", expected any valid JSON value");
  }

  unsigned marker() {
    if (cur_ == end_) fail("IO error while reading marker: failed to fill whole buffer");
    return *cur_++;
  }

  // A big-endian number or length field of `n` bytes.
  std::uint64_t fixed(int n) {
    if (end_ - cur_ < n) fail("IO error while reading data: failed to fill whole buffer");
    std::uint64_t v = big_endian(cur_, n);
    cur_ += n;
    return v;
  }

  // `n` announced bytes of a string, bin or ext.
  std::string_view data(std::uint64_t n) {
    if (static_cast<std::uint64_t>(end_ - cur_) < n) fail("IO error while reading data: unexpected end of file");
    std::string_view s(reinterpret_cast<const char*>(cur_), n);
    cur_ += n;
    return s;
  }

  std::string_view string(std::uint64_t n) {
    std::string_view s = data(n);
    if (!ascii(s)) {
      if (auto fault = json::check_utf8(s)) fail("string found to be invalid utf8: " + json::describe(*fault));
    }
    return s;
  }

  void open() {
    if (++depth_ > kMsgpackMaxDepth) fail("depth limit exceeded");
    if (depth_ > plan_.max_depth) plan_.max_depth = depth_;
  }

  // A count is never trusted: a larger one than the input can meet runs out of input first.
  void array(std::uint64_t n) {
    open();
    for (std::uint64_t k = 0; k < n; ++k) value();
    --depth_;
  }

  void map(const Byte* start, std::uint64_t n) {
    open();
    std::size_t mark = keys_.size();
    bool in_order = true;
    std::string_view last;
    for (std::uint64_t k = 0; k < n; ++k) {
      const Byte* key_at = cur_;
      std::string_view key = map_key(k == 0);
      if (k != 0 && in_order && !less(last, key)) in_order = false;
      last = key;
      if (n > 1) keys_.push_back(offset(key_at));
      value();
    }
    --depth_;
    if (!in_order) reorder(start, mark);
    keys_.resize(mark);
  }

  // Sorts the keys read since `mark` and keeps the last of each repeated one.
  void reorder(const Byte* start, std::size_t mark) {
    auto key = [&](std::uint32_t at) { return string_at(begin_ + at); };
    auto first = keys_.begin() + static_cast<std::ptrdiff_t>(mark);
    auto before = [&](std::uint32_t a, std::uint32_t b) { return less(key(a), key(b)); };
    if (keys_.end() - first <= 16) {
      // Small maps (the usual case) sort in place without the merge buffer of stable_sort.
      for (auto it = first + 1; it < keys_.end(); ++it) {
        std::uint32_t m = *it;
        auto j = it;
        for (; j != first && before(m, *(j - 1)); --j) *j = *(j - 1);
        *j = m;
      }
    } else {
      std::stable_sort(first, keys_.end(), before);
    }
    Reorder r{offset(start), offset(cur_), static_cast<std::uint32_t>(plan_.keys.size()), 0};
    for (auto it = first; it != keys_.end(); ++it) {
      if (it + 1 != keys_.end() && same(key(*it), key(*(it + 1)))) continue;
      plan_.keys.push_back(*it);
      ++r.count;
    }
    plan_.reorders.push_back(r);
  }

  std::string_view map_key(bool first) {
    unsigned m = marker();
    if (m >= 0xA0 && m < 0xC0) return string(m & 0x1F);
    if (m >= 0xD9 && m <= 0xDB) return string(fixed(1 << (m - 0xD9)));
    fail("invalid type: " + found_key(m) + (first ? ", expected a string key" : ", expected a string"));
  }

  // What a key that is not a string holds, as error messages describe it. Containers are not
  // read beyond their length.
  std::string found_key(unsigned m) {
    if (m == 0xCA || m == 0xCB) {
      double d = m == 0xCA ? as_float(fixed(4)) : as_double(fixed(8));
      if (std::isnan(d)) return "floating point `NaN`";
      if (std::isinf(d)) return d < 0 ? "floating point `-inf`" : "floating point `inf`";
      return json::describe(json::Number{json::Number::Kind::Float, 0, 0, d});
    }
    if (m < 0x80 || m >= 0xE0 || (m >= 0xC0 && m <= 0xC3) || (m >= 0xCC && m <= 0xD3)) {
      return json::describe(scalar(m));
    }
    if (m < 0x90 || m == 0xDE || m == 0xDF) {
      if (m >= 0xDE) fixed(m == 0xDE ? 2 : 4);
      return "map";
    }
    if (m < 0xA0 || m == 0xDC || m == 0xDD) {
      if (m >= 0xDC) fixed(m == 0xDC ? 2 : 4);
      return "sequence";
    }
    return unsupported(m);
  }

  // The integer, nil or boolean of marker `m` (already consumed).
  json::Value scalar(unsigned m) {
    if (m < 0x80) return {json::Uint{m}};
    if (m >= 0xE0) return {json::Neg{static_cast<std::int8_t>(m)}};
    switch (m) {
      case 0xC0: return {json::Null{}};
      case 0xC2: return {false};
      case 0xC3: return {true};
      case 0xCC: return {json::Uint{fixed(1)}};
      case 0xCD: return {json::Uint{fixed(2)}};
      case 0xCE: return {json::Uint{fixed(4)}};
      case 0xCF: return {json::Uint{fixed(8)}};
      case 0xD0: return integer(static_cast<std::int8_t>(fixed(1)));
      case 0xD1: return integer(static_cast<std::int16_t>(fixed(2)));
      case 0xD2: return integer(static_cast<std::int32_t>(fixed(4)));
      case 0xD3: return integer(static_cast<std::int64_t>(fixed(8)));
      default: break;
    }
    fail("wrong msgpack marker Reserved");  // 0xC1
  }

  static json::Value integer(std::int64_t i) {
    if (i >= 0) return {json::Uint{static_cast<std::uint64_t>(i)}};
    return {json::Neg{i}};
  }

  // Reads the contents of a bin or ext value and returns what was found; the reserved marker
  // fails right away.
  std::string unsupported(unsigned m) {
    if (m >= 0xC4 && m <= 0xC6) {
      data(fixed(1 << (m - 0xC4)));
      return "byte array";
    }
    if (m >= 0xC7 && m <= 0xC9) {
      std::uint64_t n = fixed(1 << (m - 0xC7));
      return ext(n);
    }
    if (m >= 0xD4 && m <= 0xD8) return ext(std::uint64_t(1) << (m - 0xD4));
    fail("wrong msgpack marker Reserved");
  }

  std::string ext(std::uint64_t n) {
    open();
    fixed(1);  // the ext type
    data(n);
    --depth_;
    return "newtype struct";
  }

  const Byte* begin_;
  const Byte* cur_;
  const Byte* end_;
  int depth_ = 0;
  std::vector<std::uint32_t> keys_;  // key offsets of the members of the open maps
  Plan plan_;
};

// The second walk, over a value the first one accepted: no check is repeated. A container at
// the 128th level, which a JSON reader would refuse, is written as the one byte 0xFF (never part
// of the UTF-8 text otherwise) and its contents are left out, so that the first such byte marks
// where reading the canonical text would stop.
class Writer {
 public:
  Writer(std::string_view bytes, const Plan& plan, json::Out& out)
      : begin_(reinterpret_cast<const Byte*>(bytes.data())), cur_(begin_), plan_(plan), out_(out) {}

  void value() {
    const Byte* start = cur_;
    unsigned m = *cur_++;
    if (m < 0x80) return json::write_u64(out_, m);
    if (m >= 0xE0) return json::write_i64(out_, static_cast<std::int8_t>(m));
    if (m < 0x90) return map(start, m & 0x0F);
    if (m < 0xA0) return array(m & 0x0F);
    if (m < 0xC0) return string(m & 0x1F);
    switch (m) {
      case 0xC0: out_ += "null"; return;
      case 0xC2: out_ += "false"; return;
      case 0xC3: out_ += "true"; return;
      // Non-finite values are written as null.
      case 0xCA: return json::write_f64(out_, as_float(fixed(4)));
      case 0xCB: return json::write_f64(out_, as_double(fixed(8)));
      case 0xCC: return json::write_u64(out_, fixed(1));
      case 0xCD: return json::write_u64(out_, fixed(2));
      case 0xCE: return json::write_u64(out_, fixed(4));
      case 0xCF: return json::write_u64(out_, fixed(8));
      case 0xD0: return integer(static_cast<std::int8_t>(fixed(1)));
      case 0xD1: return integer(static_cast<std::int16_t>(fixed(2)));
      case 0xD2: return integer(static_cast<std::int32_t>(fixed(4)));
      case 0xD3: return integer(static_cast<std::int64_t>(fixed(8)));
      case 0xD9: return string(fixed(1));
      case 0xDA: return string(fixed(2));
      case 0xDB: return string(fixed(4));
      case 0xDC: return array(fixed(2));
      case 0xDD: return array(fixed(4));
      case 0xDE: return map(start, fixed(2));
      case 0xDF: return map(start, fixed(4));
      default: break;
    }
  }

  bool too_deep() const { return too_deep_; }

 private:
  std::uint64_t fixed(int n) {
    std::uint64_t v = big_endian(cur_, n);
    cur_ += n;
    return v;
  }

  void integer(std::int64_t i) {
    if (i >= 0) return json::write_u64(out_, static_cast<std::uint64_t>(i));
    json::write_i64(out_, i);
  }

  void string(std::uint64_t n) {
    json::write_string(out_, {reinterpret_cast<const char*>(cur_), static_cast<std::size_t>(n)});
    cur_ += n;
  }

  void key() {
    std::string_view s = string_at(cur_);
    json::write_string(out_, s);
    cur_ = reinterpret_cast<const Byte*>(s.data() + s.size());
  }

  // True when the container being opened is one level too deep: written as the marker byte.
  bool deep() {
    if (++depth_ <= json::kMaxDepth) return false;
    out_.push_back('\xFF');
    too_deep_ = true;
    return true;
  }

  void array(std::uint64_t n) {
    if (deep()) {
      for (std::uint64_t k = 0; k < n; ++k) skip();
    } else {
      out_.push_back('[');
      for (std::uint64_t k = 0; k < n; ++k) {
        if (k != 0) out_.push_back(',');
        value();
      }
      out_.push_back(']');
    }
    --depth_;
  }

  void map(const Byte* start, std::uint64_t n) {
    if (deep()) {
      for (std::uint64_t k = 0; k < 2 * n; ++k) skip();
      --depth_;
      return;
    }
    out_.push_back('{');
    const Reorder* r = n > 1 ? reorder_at(static_cast<std::uint32_t>(start - begin_)) : nullptr;
    if (r == nullptr) {
      for (std::uint64_t k = 0; k < n; ++k) {
        if (k != 0) out_.push_back(',');
        key();
        out_.push_back(':');
        value();
      }
    } else {
      for (std::uint32_t k = 0; k < r->count; ++k) {
        if (k != 0) out_.push_back(',');
        cur_ = begin_ + plan_.keys[r->first + k];
        key();
        out_.push_back(':');
        value();
      }
      cur_ = begin_ + r->end;
    }
    out_.push_back('}');
    --depth_;
  }

  const Reorder* reorder_at(std::uint32_t at) const {
    const auto& all = plan_.reorders;
    auto it = std::lower_bound(all.begin(), all.end(), at, [](const Reorder& r, std::uint32_t a) { return r.at < a; });
    return it != all.end() && it->at == at ? &*it : nullptr;
  }

  // Moves past one value without writing it.
  void skip() {
    unsigned m = *cur_++;
    if (m < 0x80 || m >= 0xE0) return;
    std::uint64_t n = 0;
    if (m < 0x90) {
      n = 2 * (m & 0x0F);
    } else if (m < 0xA0) {
      n = m & 0x0F;
    } else if (m < 0xC0) {
      cur_ += m & 0x1F;
      return;
    } else {
      switch (m) {
        case 0xCC: case 0xD0: cur_ += 1; return;
        case 0xCD: case 0xD1: cur_ += 2; return;
        case 0xCA: case 0xCE: case 0xD2: cur_ += 4; return;
        case 0xCB: case 0xCF: case 0xD3: cur_ += 8; return;
        case 0xD9: cur_ += fixed(1); return;
        case 0xDA: cur_ += fixed(2); return;
        case 0xDB: cur_ += fixed(4); return;
        case 0xDC: n = fixed(2); break;
        case 0xDD: n = fixed(4); break;
        case 0xDE: n = 2 * fixed(2); break;
        case 0xDF: n = 2 * fixed(4); break;
        default: return;  // nil, false, true
      }
    }
    for (std::uint64_t k = 0; k < n; ++k) skip();
  }

  const Byte* begin_;
  const Byte* cur_;
  const Plan& plan_;
  json::Out& out_;
  int depth_ = 0;
  bool too_deep_ = false;
};

// Thrown inside the one walk when it gives the payload up to the two walks.
struct GiveUp {};

// Reads the payload and writes its JSON text at once, for the payloads it can vouch for: on
// anything that could fail (a reading error, a string that is not valid UTF-8, nesting deeper
// than a JSON reader allows, bookkeeping that would outgrow the output) it gives up and the two
// walks above say what is wrong. Maps whose keys are not in ascending order (or repeat) are
// written as read and put in order afterwards: a short one with nothing inside waiting right as
// it closes, the others as fixes applied in the final copy.
class OneWalk {
 public:
  OneWalk(std::string_view bytes, json::Out& out)
      : begin_(reinterpret_cast<const Byte*>(bytes.data())), cur_(begin_), end_(begin_ + bytes.size()), o_(out) {}

  void run() { value(0); }
  Blocks<Fix>& fixes() { return fixes_; }
  Blocks<Span>& spans() { return spans_; }

 private:
  std::uint32_t out_at() const { return static_cast<std::uint32_t>(o_.size()); }
  char* written() { return const_cast<char*>(o_.view().data()); }  // not const, only its view

  unsigned marker() {
    if (cur_ == end_) throw GiveUp{};
    return *cur_++;
  }
  std::uint64_t fixed(int n) {
    if (end_ - cur_ < n) throw GiveUp{};
    std::uint64_t v = big_endian(cur_, n);
    cur_ += n;
    return v;
  }
  std::string_view data(std::uint64_t n) {
    if (static_cast<std::uint64_t>(end_ - cur_) < n) throw GiveUp{};
    std::string_view s(reinterpret_cast<const char*>(cur_), static_cast<std::size_t>(n));
    cur_ += n;
    return s;
  }
  [[gnu::always_inline]] void string(std::uint64_t n) {
    std::string_view s = data(n);
    if (!plain_string(s, 0, 0)) other_string(s);
  }
  // Out of line where plain_string() takes most strings; in line where it takes none.
#if defined(__SSE2__) || defined(__wasm_simd128__)
  [[gnu::noinline]]
#else
  VELMOR_WASM_INLINE
#endif
  void other_string(std::string_view s) {
    if (!ascii(s) && json::check_utf8(s)) throw GiveUp{};
    json::write_string(o_, s);
  }

  // A string shorter than 32 bytes with 32 bytes of payload from its start on (most keys and
  // names), written with the byte `before` ahead of it and `after` behind it when they are not 0,
  // as two fixed 16-byte pieces when no byte of it is escaped or at or above 0x80; false, with
  // nothing written, for every other string.
  [[gnu::always_inline]] bool plain_string(std::string_view s, char before, char after) {
#if defined(__SSE2__) || defined(__wasm_simd128__)
    std::size_t n = s.size();
    if (n >= 32 || end_ - reinterpret_cast<const Byte*>(s.data()) < 32) return false;
    using json::Piece;
    Piece a = json::load_piece(s.data());
    Piece b = json::load_piece(s.data() + 16);
    std::uint32_t mask = json::special_piece(a) | json::high_piece(a);
    if (n > 16) mask |= (json::special_piece(b) | json::high_piece(b)) << 16;
    if ((mask & ((std::uint32_t(1) << n) - 1)) != 0) return false;
    char* d = o_.room(36);
    if (before != 0) *d++ = before;
    *d = '"';
    json::store_piece(d + 1, a);
    if (n > 16) json::store_piece(d + 17, b);
    d[1 + n] = '"';
    d += 2 + n;
    if (after != 0) *d++ = after;
    o_.commit(d);
    return true;
#else
    (void)s;
    (void)before;
    (void)after;
    return false;
#endif
  }
  // 0 to 127, in line.
  VELMOR_NATIVE_INLINE void small_uint(unsigned m) {
    char* d = o_.room(3);
    if (m < 10) {
      d[0] = static_cast<char>('0' + m);
      return o_.commit(d + 1);
    }
    if (m < 100) {
      d[0] = static_cast<char>('0' + m / 10);
      d[1] = static_cast<char>('0' + m % 10);
      return o_.commit(d + 2);
    }
    d[0] = '1';
    d[1] = static_cast<char>('0' + (m / 10) % 10);
    d[2] = static_cast<char>('0' + m % 10);
    o_.commit(d + 3);
  }
  void integer(std::int64_t i) {
    if (i >= 0) return json::write_u64(o_, static_cast<std::uint64_t>(i));
    json::write_i64(o_, i);
  }

  // Scalars are written where the value is read (in the loop of its array or map), containers
  // by a call.
  VELMOR_NATIVE_INLINE void value(int depth) {
    unsigned m = marker();
    if (m < 0x80) return small_uint(m);
    if (m >= 0xE0) return json::write_i64(o_, static_cast<std::int8_t>(m));
    if (m < 0x90) return map(m & 0x0F, depth + 1);
    if (m < 0xA0) return array(m & 0x0F, depth + 1);
    if (m < 0xC0) {
      string(m & 0x1F);
      return;
    }
    switch (m) {
      case 0xC0: o_ += "null"; return;
      case 0xC2: o_ += "false"; return;
      case 0xC3: o_ += "true"; return;
      case 0xCA: return json::write_f64(o_, as_float(fixed(4)));
      case 0xCB: return json::write_f64(o_, as_double(fixed(8)));
      case 0xCC: return json::write_u64(o_, fixed(1));
      case 0xCD: return json::write_u64(o_, fixed(2));
      case 0xCE: return json::write_u64(o_, fixed(4));
      case 0xCF: return json::write_u64(o_, fixed(8));
      case 0xD0: return integer(static_cast<std::int8_t>(fixed(1)));
      case 0xD1: return integer(static_cast<std::int16_t>(fixed(2)));
      case 0xD2: return integer(static_cast<std::int32_t>(fixed(4)));
      case 0xD3: return integer(static_cast<std::int64_t>(fixed(8)));
      case 0xD9: string(fixed(1)); return;
      case 0xDA: string(fixed(2)); return;
      case 0xDB: string(fixed(4)); return;
      case 0xDC: return array(fixed(2), depth + 1);
      case 0xDD: return array(fixed(4), depth + 1);
      case 0xDE: return map(fixed(2), depth + 1);
      case 0xDF: return map(fixed(4), depth + 1);
      default: throw GiveUp{};  // bin, ext and the reserved marker fail
    }
  }

  // As deep as a JSON reader of the output would go (and within what MessagePack reading allows).
  static void enter(int depth) {
    if (depth > json::kMaxDepth || depth > kMsgpackMaxDepth) throw GiveUp{};
  }

  // A count is never trusted: one larger than the input can meet runs out of input first.
  [[gnu::noinline]] void array(std::uint64_t n, int depth) {
    enter(depth);
    o_.push_back('[');
    for (std::uint64_t k = 0; k < n; ++k) {
      if (k != 0) o_.push_back(',');
      value(depth);
    }
    o_.push_back(']');
  }

  struct Member {
    std::uint32_t key;  // offset of the key's first byte in the payload
    std::uint32_t size;
    std::uint32_t begin;  // where it starts in the output
    std::uint32_t end;    // and ends, before the comma after it; set when it is put in order
  };
  std::string_view key_of(const Member& m) const { return {reinterpret_cast<const char*>(begin_) + m.key, m.size}; }

  [[gnu::noinline]] void map(std::uint64_t n, int depth) {
    enter(depth);
    std::uint32_t at = out_at();
    std::size_t inner = fixes_.size();
    std::size_t mark = members_.size();
    bool in_order = true;
    o_.push_back('{');
    for (std::uint64_t k = 0; k < n; ++k) {
      // The member starts after its comma; the comma, the key and the colon mostly go at once.
      char comma = k != 0 ? ',' : '\0';
      std::uint32_t begin = out_at() + (k != 0 ? 1 : 0);
      unsigned m = marker();
      std::uint64_t size;
      if (m >= 0xA0 && m < 0xC0) {
        size = m & 0x1F;
      } else if (m >= 0xD9 && m <= 0xDB) {
        size = fixed(1 << (m - 0xD9));
      } else {
        throw GiveUp{};
      }
      std::string_view key = data(size);
      if (!plain_string(key, comma, ':')) {
        if (comma != 0) o_.push_back(',');
        if (!ascii(key) && json::check_utf8(key)) throw GiveUp{};
        json::write_string(o_, key);
        o_.push_back(':');
      }
      Member e{static_cast<std::uint32_t>(reinterpret_cast<const Byte*>(key.data()) - begin_),
               static_cast<std::uint32_t>(key.size()), begin, 0};
      if (in_order && members_.size() != mark && !less(key_of(members_.back()), key)) in_order = false;
      members_.push_back(e);
      value(depth);
    }
    std::uint32_t last_end = out_at();
    o_.push_back('}');
    if (!in_order) reorder(at, mark, last_end, inner);
    members_.shrink(mark);
  }

  // Sorts the members read since `mark` by key and keeps the last of each repeated one: right
  // away when the map is short and nothing inside it waits, else as a fix.
  void reorder(std::uint32_t at, std::size_t mark, std::uint32_t last_end, std::size_t inner) {
    std::size_t top = members_.size();
    for (std::size_t k = mark; k + 1 < top; ++k) members_[k].end = members_[k + 1].begin - 1;
    members_[top - 1].end = last_end;
    Member* first = members_.data() + mark;
    std::size_t n = top - mark;
    auto before = [&](const Member& a, const Member& b) { return less(key_of(a), key_of(b)); };
    if (n <= 16) {
      for (std::size_t k = 1; k < n; ++k) {
        Member m = first[k];
        std::size_t j = k;
        for (; j != 0 && before(m, first[j - 1]); --j) first[j] = first[j - 1];
        first[j] = m;
      }
    } else {
      std::stable_sort(first, first + n, before);
    }
    std::size_t kept = 0;
    for (std::size_t k = 0; k < n; ++k) {
      if (k + 1 == n || !same(key_of(first[k]), key_of(first[k + 1]))) first[kept++] = first[k];
    }
    std::uint32_t end = out_at();
    if (fixes_.size() == inner && end - at <= kSettle) {
      copy_block(scratch_, written() + at, end - at);
      const char* from = scratch_ - at;
      char* d = written() + at;
      *d++ = '{';
      for (std::size_t k = 0; k < kept; ++k) {
        if (k != 0) *d++ = ',';
        json::copy_bytes(d, from + first[k].begin, first[k].end - first[k].begin);
        d += first[k].end - first[k].begin;
      }
      *d++ = '}';
      o_.resize_down(static_cast<std::size_t>(d - written()));
      return;
    }
    Fix f{at, end, static_cast<std::uint32_t>(spans_.size()), static_cast<std::uint32_t>(kept),
          static_cast<std::uint32_t>(fixes_.size() - inner), 0};
    for (std::size_t k = 0; k < kept; ++k) {
      // Members next to each other in both orders are copied as one piece, with their comma.
      if (f.pieces != 0 && spans_.back().end + 1 == first[k].begin) {
        spans_.back().end = first[k].end;
        continue;
      }
      spans_.push_back(Span{first[k].begin, first[k].end});
      ++f.pieces;
    }
    fixes_.push_back(f);
    // The bookkeeping of the fixes stays below the size of the output (a first stretch aside).
    if (fixes_.size() * sizeof(Fix) + spans_.size() * sizeof(Span) > o_.size() + std::size_t(65536)) throw GiveUp{};
  }

  static constexpr std::uint32_t kSettle = 1024;

  const Byte* begin_;
  const Byte* cur_;
  const Byte* end_;
  json::Out& o_;
  Stack<Member> members_;  // of the open maps
  Blocks<Fix> fixes_;      // ascending `end`, in the order the maps closed
  Blocks<Span> spans_;
  char scratch_[kSettle];
};

}  // namespace

void msgpack_to_json(std::string_view bytes, std::string& out) {
  if (bytes.size() > UINT32_MAX) throw std::length_error("payload longer than a frame allows");
  std::size_t start = out.size();
  if (bytes.size() <= (std::size_t(1) << 29)) {
    json::Out o(std::move(out));
    OneWalk walk(bytes, o);
    bool done = true;
    try {
      walk.run();
    } catch (GiveUp&) {
      done = false;
    }
    out = o.take();
    if (done && walk.fixes().empty()) return;
    if (done) {
      std::string raw = std::move(out);
      out = std::string();
      out.reserve(raw.size() + 64);  // and room for what the caller appends (the decode output's end)
      out.append(raw.data(), start);
      Blocks<std::uint32_t> bounds;
      Gather<false, Appending> g(raw.data(), walk.fixes(), walk.spans(), bounds);
      g.copy(Appending{&out}, static_cast<std::uint32_t>(start), static_cast<std::uint32_t>(raw.size()), 0,
             walk.fixes().size());
      return;
    }
    out.resize(start);
  }
  Plan plan = Checker(bytes).run();
  std::size_t base = out.size();
  // Written through json::Out: a byte there is one bounds check, where std::string's push_back
  // also tests for its short form.
  json::Out o(std::move(out));
  Writer w(bytes, plan, o);
  w.value();
  out = o.take();
  if (w.too_deep()) {
    std::size_t at = out.find('\xFF', base);
    throw json::ReadError{"recursion limit exceeded", at - base + 1};
  }
}

}  // namespace velmor::wire
