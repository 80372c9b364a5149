// MessagePack writing and reading.
#include "wire/msgpack.hpp"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "json/utf8.hpp"
#include "json/writer.hpp"

namespace velmor::wire {

using json::Value;

namespace {

// ---- writing ----------------------------------------------------------------------------------

char* put8(char* out, unsigned marker, std::uint8_t v) {
  out[0] = static_cast<char>(marker);
  out[1] = static_cast<char>(v);
  return out + 2;
}

char* put16(char* out, unsigned marker, std::uint16_t v) {
  out[0] = static_cast<char>(marker);
  out[1] = static_cast<char>(v >> 8);
  out[2] = static_cast<char>(v);
  return out + 3;
}

char* put32(char* out, unsigned marker, std::uint32_t v) {
  out[0] = static_cast<char>(marker);
  out[1] = static_cast<char>(v >> 24);
  out[2] = static_cast<char>(v >> 16);
  out[3] = static_cast<char>(v >> 8);
  out[4] = static_cast<char>(v);
  return out + 5;
}

char* put64(char* out, unsigned marker, std::uint64_t v) {
  out[0] = static_cast<char>(marker);
  for (int k = 0; k < 8; ++k) out[1 + k] = static_cast<char>(v >> (56 - 8 * k));
  return out + 9;
}

std::size_t uint_size(std::uint64_t u) {
  return u < 128 ? 1 : u < 256 ? 2 : u < 65536 ? 3 : u <= UINT32_MAX ? 5 : 9;
}

std::size_t neg_size(std::int64_t i) {
  return i >= -32 ? 1 : i >= -128 ? 2 : i >= -32768 ? 3 : i >= INT32_MIN ? 5 : 9;
}

std::size_t str_size(std::size_t n) { return n + (n < 32 ? 1 : n < 256 ? 2 : n < 65536 ? 3 : 5); }

std::size_t container_head_size(std::size_t n) { return n < 16 ? 1 : n < 65536 ? 3 : 5; }

char* put_str(char* out, std::string_view s) {
  std::size_t n = s.size();
  if (n < 32) {
    *out++ = static_cast<char>(0xA0 + n);
  } else if (n < 256) {
    out = put8(out, 0xD9, static_cast<std::uint8_t>(n));
  } else if (n < 65536) {
    out = put16(out, 0xDA, static_cast<std::uint16_t>(n));
  } else {
    out = put32(out, 0xDB, static_cast<std::uint32_t>(n));
  }
  if (n != 0) std::memcpy(out, s.data(), n);
  return out + n;
}

// fixarray/fixmap base, then the 16- and 32-bit markers.
char* put_container(char* out, std::size_t n, unsigned fix, unsigned m16, unsigned m32) {
  if (n < 16) {
    *out = static_cast<char>(fix + n);
    return out + 1;
  }
  if (n < 65536) return put16(out, m16, static_cast<std::uint16_t>(n));
  return put32(out, m32, static_cast<std::uint32_t>(n));
}

}  // namespace

std::size_t msgpack_size(const Value& v) {
  switch (v.v.index()) {
    case 0:
    case 1: return 1;
    case 2: return uint_size(std::get<json::Uint>(v.v).v);
    case 3: return neg_size(std::get<json::Neg>(v.v).v);
    case 4: return 9;
    case 5: return str_size(std::get<std::string_view>(v.v).size());
    case 6: {
      const json::Array& a = std::get<json::Array>(v.v);
      std::size_t n = container_head_size(a.size());
      for (const Value& e : a) n += msgpack_size(e);
      return n;
    }
    default: {
      const json::Object& o = std::get<json::Object>(v.v);
      std::size_t n = container_head_size(o.size());
      for (const json::Member& m : o) n += str_size(m.key.size()) + msgpack_size(m.value);
      return n;
    }
  }
}

char* write_msgpack(char* out, const Value& v) {
  switch (v.v.index()) {
    case 0: *out = static_cast<char>(0xC0); return out + 1;
    case 1: *out = static_cast<char>(std::get<bool>(v.v) ? 0xC3 : 0xC2); return out + 1;
    case 2: {
      std::uint64_t u = std::get<json::Uint>(v.v).v;
      if (u < 128) {
        *out = static_cast<char>(u);
        return out + 1;
      }
      if (u < 256) return put8(out, 0xCC, static_cast<std::uint8_t>(u));
      if (u < 65536) return put16(out, 0xCD, static_cast<std::uint16_t>(u));
      if (u <= UINT32_MAX) return put32(out, 0xCE, static_cast<std::uint32_t>(u));
      return put64(out, 0xCF, u);
    }
    case 3: {
      std::int64_t i = std::get<json::Neg>(v.v).v;
      if (i >= -32) {
        *out = static_cast<char>(i);  // 0xE0..0xFF
        return out + 1;
      }
      if (i >= -128) return put8(out, 0xD0, static_cast<std::uint8_t>(i));
      if (i >= -32768) return put16(out, 0xD1, static_cast<std::uint16_t>(i));
      if (i >= INT32_MIN) return put32(out, 0xD2, static_cast<std::uint32_t>(i));
      return put64(out, 0xD3, static_cast<std::uint64_t>(i));
    }
    case 4: {
      std::uint64_t bits;
      double d = std::get<double>(v.v);
      std::memcpy(&bits, &d, 8);
      return put64(out, 0xCB, bits);
    }
    case 5: return put_str(out, std::get<std::string_view>(v.v));
    case 6: {
      const json::Array& a = std::get<json::Array>(v.v);
      out = put_container(out, a.size(), 0x90, 0xDC, 0xDD);
      for (const Value& e : a) out = write_msgpack(out, e);
      return out;
    }
    default: {
      const json::Object& o = std::get<json::Object>(v.v);
      out = put_container(out, o.size(), 0x80, 0xDE, 0xDF);
      for (const json::Member& m : o) {
        out = put_str(out, m.key);
        out = write_msgpack(out, m.value);
      }
      return out;
    }
  }
}

// ---- reading ----------------------------------------------------------------------------------

namespace {

[[noreturn]] void fail(std::string message) { throw json::ReadError{std::move(message), json::kNoPos}; }

class MsgpackReader {
 public:
  MsgpackReader(std::string_view bytes, Arena& arena)
      : cur_(reinterpret_cast<const unsigned char*>(bytes.data())), end_(cur_ + bytes.size()),
        arena_(arena) {}

  int max_depth() const { return max_depth_; }

  Value value() {
    unsigned m = marker();
    if (m < 0x80) return {json::Uint{m}};
    if (m >= 0xE0) return {json::Neg{static_cast<std::int8_t>(m)}};
    if (m < 0x90) return map(m & 0x0F);
    if (m < 0xA0) return array(m & 0x0F);
    if (m < 0xC0) return {string(m & 0x1F)};
    switch (m) {
      case 0xC0: return {json::Null{}};
      case 0xC2: return {false};
      case 0xC3: return {true};
      case 0xCA: return {real(f32())};
      case 0xCB: return {real(f64())};
      case 0xCC: return {json::Uint{fixed(1)}};
      case 0xCD: return {json::Uint{fixed(2)}};
      case 0xCE: return {json::Uint{fixed(4)}};
      case 0xCF: return {json::Uint{fixed(8)}};
      case 0xD0: return integer(static_cast<std::int8_t>(fixed(1)));
      case 0xD1: return integer(static_cast<std::int16_t>(fixed(2)));
      case 0xD2: return integer(static_cast<std::int32_t>(fixed(4)));
      case 0xD3: return integer(static_cast<std::int64_t>(fixed(8)));
      case 0xD9: return {string(fixed(1))};
      case 0xDA: return {string(fixed(2))};
      case 0xDB: return {string(fixed(4))};
      case 0xDC: return array(fixed(2));
      case 0xDD: return array(fixed(4));
      case 0xDE: return map(fixed(2));
      case 0xDF: return map(fixed(4));
      default: break;
    }
    fail("invalid type: " + unsupported(m) + ", expected any valid JSON value");
  }

 private:
  unsigned marker() {
    if (cur_ == end_) fail("IO error while reading marker: failed to fill whole buffer");
    return *cur_++;
  }

  // A big-endian number or length field of `n` bytes.
  std::uint64_t fixed(int n) {
    if (end_ - cur_ < n) fail("IO error while reading data: failed to fill whole buffer");
    std::uint64_t v = 0;
    for (int k = 0; k < n; ++k) v = (v << 8) | cur_[k];
    cur_ += n;
    return v;
  }

  // `n` announced bytes of a string, bin or ext.
  std::string_view data(std::uint64_t n) {
    if (static_cast<std::uint64_t>(end_ - cur_) < n) {
      fail("IO error while reading data: unexpected end of file");
    }
    std::string_view s(reinterpret_cast<const char*>(cur_), n);
    cur_ += n;
    return s;
  }

  std::string_view string(std::uint64_t n) {
    std::string_view s = data(n);
    if (auto fault = json::check_utf8(s)) fail("string found to be invalid utf8: " + json::describe(*fault));
    return s;
  }

  double f32() {
    auto bits = static_cast<std::uint32_t>(fixed(4));
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
  }

  double f64() {
    std::uint64_t bits = fixed(8);
    double d;
    std::memcpy(&d, &bits, 8);
    return d;
  }

  static Value real(double d) {
    if (!std::isfinite(d)) return {json::Null{}};
    return {d};
  }

  static Value integer(std::int64_t i) {
    if (i >= 0) return {json::Uint{static_cast<std::uint64_t>(i)}};
    return {json::Neg{i}};
  }

  void open() {
    if (++depth_ > kMsgpackMaxDepth) fail("depth limit exceeded");
    if (depth_ > max_depth_) max_depth_ = depth_;
  }

  // Elements are collected on the scratch stack as they are read, so a count announced by the
  // input never sizes an allocation: every element costs at least one input byte.
  Value array(std::uint64_t n) {
    open();
    std::size_t mark = scratch_.mark();
    for (std::uint64_t k = 0; k < n; ++k) scratch_.push(value());
    --depth_;
    return {scratch_.pop<Value>(arena_, mark)};
  }

  Value map(std::uint64_t n) {
    open();
    std::size_t mark = scratch_.mark();
    for (std::uint64_t k = 0; k < n; ++k) {
      std::string_view key = map_key(k == 0);
      scratch_.push(json::Member{key, value()});
    }
    --depth_;
    json::Object members = scratch_.pop<json::Member>(arena_, mark);
    json::sort_members(members);
    return {members};
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
      double d = m == 0xCA ? f32() : f64();
      if (std::isnan(d)) return "floating point `NaN`";
      if (std::isinf(d)) return d < 0 ? "floating point `-inf`" : "floating point `inf`";
      return json::describe(json::Number{json::Number::Kind::Float, 0, 0, d});
    }
    if (m < 0x80 || m >= 0xE0 || (m >= 0xC0 && m <= 0xC3) || (m >= 0xCC && m <= 0xD3)) {
      --cur_;
      return json::describe(value());
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

  const unsigned char* cur_;
  const unsigned char* end_;
  Arena& arena_;
  Scratch scratch_;
  int depth_ = 0;
  int max_depth_ = 0;
};

}  // namespace

MsgpackValue read_msgpack(std::string_view bytes, Arena& arena) {
  MsgpackReader r(bytes, arena);
  Value v = r.value();
  return {v, r.max_depth()};
}

}  // namespace velmor::wire
