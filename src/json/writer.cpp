// The canonical JSON writer.
#include "json/writer.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <new>

#include "json/floats.hpp"


namespace velmor::json {

namespace {

// 0: copy as is; otherwise the escape letter, or 'u' for \u00XX.
constexpr auto kEscape = [] {
  struct Table {
    char v[256];
  } t{};
  for (int c = 0; c < 0x20; ++c) t.v[c] = 'u';
  t.v['\b'] = 'b';
  t.v['\t'] = 't';
  t.v['\n'] = 'n';
  t.v['\f'] = 'f';
  t.v['\r'] = 'r';
  t.v['"'] = '"';
  t.v['\\'] = '\\';
  return t;
}();

// Room is zero-filled ahead of the cursor at most this much at a time (and no more than has
// been written so far, for small outputs): the filling then stays in the nearest cache, taking
// a quarter of it rather than all of it from what the writer reads, until the bytes are written
// over it.
constexpr std::size_t kChunk = 8 * 1024;

// Writes the escape of `c` (a byte that needs one) at `d`; returns the end (at most 6 bytes).
char* put_escape(char* d, unsigned char c) {
  char e = kEscape.v[c];
  d[0] = '\\';
  if (e != 'u') {
    d[1] = e;
    return d + 2;
  }
  static constexpr char hex[] = "0123456789abcdef";
  d[1] = 'u';
  d[2] = '0';
  d[3] = '0';
  d[4] = hex[c >> 4];
  d[5] = hex[c & 15];
  return d + 6;
}

// The most bytes format_f64 writes.
constexpr std::size_t kF64Max = 40;

constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                             1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// A positive `a` that some decimal m / 10^k with m below 10^15 reads back as exactly: finds the
// smallest such k. Below 10^15 the neighbouring decimals m ± 1 lie further apart than the spacing
// of doubles, so m is the only one that reads back for that k, and the digits of m are the
// shortest that do (fewer places could only be found at a smaller k). `a * 10^k` lies within a
// third of m, so rounding it finds m. The division of two exact doubles rounds correctly, so
// comparing it with `a` is comparing with what reading the text gives.
bool short_decimal(double a, std::uint64_t& m, int& k) {
  if (!(a >= 1e-5 && a < 1e15)) return false;
  for (int i = 0; i <= 22; ++i) {
    double t = a * kPow10[i];
    if (t >= 1e15) return false;
    auto r = static_cast<std::uint64_t>(t + 0.5);
    if (static_cast<double>(r) / kPow10[i] == a) {
      m = r;
      k = i;
      return true;
    }
  }
  return false;
}

// Writes `v` (finite) at `d` in the form write_f64 describes; returns the end.
char* format_f64(char* d, double v) {
  if (std::signbit(v)) *d++ = '-';
  double a = std::fabs(v);
  std::uint64_t m;
  int k;
  if (short_decimal(a, m, k)) {
    // At most 15 significant digits, decimal exponent -5..14: positional.
    char digits[24];
    auto r = std::to_chars(digits, digits + sizeof digits, m);
    int n = static_cast<int>(r.ptr - digits);
    if (k == 0) {
      std::memcpy(d, digits, n);
      d += n;
      *d++ = '.';
      *d++ = '0';
    } else if (n > k) {
      std::memcpy(d, digits, n - k);
      d += n - k;
      *d++ = '.';
      std::memcpy(d, digits + (n - k), k);
      d += k;
    } else {
      *d++ = '0';
      *d++ = '.';
      std::memset(d, '0', k - n);
      d += k - n;
      std::memcpy(d, digits, n);
      d += n;
    }
    return d;
  }

  // Shortest round-trip digits in scientific form, e.g. "1.2345e+16", "5e-324".
  char sci[40];
  auto r = write_double_scientific(sci, sci + sizeof sci, a);
  const char* p = sci;
  char digits[24];
  int n = 0;
  for (; *p != 'e'; ++p) {
    if (*p != '.') digits[n++] = *p;
  }
  ++p;  // 'e'
  int exp = 0;
  std::from_chars(*p == '+' ? p + 1 : p, r.ptr, exp);

  if (exp >= -5 && exp <= 15) {
    if (exp >= 0) {
      int int_len = exp + 1;
      if (n <= int_len) {
        std::memcpy(d, digits, n);
        d += n;
        std::memset(d, '0', int_len - n);
        d += int_len - n;
        *d++ = '.';
        *d++ = '0';
      } else {
        std::memcpy(d, digits, int_len);
        d += int_len;
        *d++ = '.';
        std::memcpy(d, digits + int_len, n - int_len);
        d += n - int_len;
      }
    } else {
      *d++ = '0';
      *d++ = '.';
      std::memset(d, '0', -exp - 1);
      d += -exp - 1;
      std::memcpy(d, digits, n);
      d += n;
    }
    return d;
  }
  *d++ = digits[0];
  if (n > 1) {
    *d++ = '.';
    std::memcpy(d, digits + 1, n - 1);
    d += n - 1;
  }
  *d++ = 'e';
  *d++ = exp < 0 ? '-' : '+';
  return std::to_chars(d, d + 8, exp < 0 ? -exp : exp).ptr;
}

}  // namespace

Out::Out(std::size_t expected) {
  buf_.reserve(expected);
  cur_ = end_ = buf_.data();
}

Out::Out(std::string&& written) : buf_(std::move(written)) { cur_ = end_ = buf_.data() + buf_.size(); }

void Out::grow(std::size_t n) {
  std::size_t used = size();
  if (n > buf_.max_size() - used) throw std::bad_alloc();
  std::size_t want = used + std::max(n, std::clamp<std::size_t>(used, 256, kChunk));
  if (want > buf_.capacity()) buf_.reserve(std::max(want, buf_.capacity() * 2));
  buf_.resize(want);
  cur_ = buf_.data() + used;
  end_ = buf_.data() + buf_.size();
}

std::string Out::take() {
  buf_.resize(size());
  std::string s = std::move(buf_);
  buf_.clear();
  cur_ = end_ = buf_.data();
  return s;
}

void write_long_string(Out& out, std::string_view s) {
  const char* p = s.data();
  const char* end = p + s.size();
  // Room for the quotes and every byte as it is, and a word of slack for the last store.
  char* d = out.room(s.size() + 2 + 8);
  *d++ = '"';
  if (kWordScan) {
    for (;;) {
      while (end - p >= 8) {
        std::uint64_t w = load8(p);
        if (special_bytes(w) != 0) break;
        store8(d, w);
        p += 8;
        d += 8;
      }
      auto left = static_cast<std::size_t>(end - p);
      if (left < 8) {
        std::uint64_t w = load_short(p, left);
        if (special_bytes(w) == 0) {
          store8(d, w);
          d += left;
          break;
        }
      }
      // A byte to escape lies within the next eight.
      while (kEscape.v[static_cast<unsigned char>(*p)] == 0) *d++ = *p++;
      out.commit(d);
      d = put_escape(out.room(6), static_cast<unsigned char>(*p++));
      out.commit(d);
      d = out.room(static_cast<std::size_t>(end - p) + 1 + 8);
    }
  } else {
    for (; p != end; ++p) {
      auto c = static_cast<unsigned char>(*p);
      if (kEscape.v[c] == 0) {
        *d++ = *p;
        continue;
      }
      out.commit(d);
      d = put_escape(out.room(6), c);
      out.commit(d);
      d = out.room(static_cast<std::size_t>(end - p) + 1 + 8);
    }
  }
  *d++ = '"';
  out.commit(d);
}

// Runs go in as pointer and size: libc++ copies a range of two pointers byte by byte.
void write_string(std::string& out, std::string_view s) {
  out.push_back('"');
  const char* p = s.data();
  const char* end = p + s.size();
  const char* run = p;
  while (p != end) {
    auto c = static_cast<unsigned char>(*p);
    if (kEscape.v[c] == 0) {
      ++p;
      continue;
    }
    out.append(run, static_cast<std::size_t>(p - run));
    char esc[6];
    out.append(esc, put_escape(esc, c));
    run = ++p;
  }
  out.append(run, static_cast<std::size_t>(end - run));
  out.push_back('"');
}

std::size_t string_size(std::string_view s) {
  std::size_t n = s.size() + 2;
  for (char c : s) {
    char e = kEscape.v[static_cast<unsigned char>(c)];
    if (e != 0) n += e == 'u' ? 5 : 1;
  }
  return n;
}

void write_u64(Out& out, std::uint64_t v) {
  char* d = out.room(20);
  out.commit(std::to_chars(d, d + 20, v).ptr);
}

void write_u64(std::string& out, std::uint64_t v) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, static_cast<std::size_t>(r.ptr - buf));
}

void write_i64(Out& out, std::int64_t v) {
  char* d = out.room(20);
  out.commit(std::to_chars(d, d + 20, v).ptr);
}

void write_i64(std::string& out, std::int64_t v) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, static_cast<std::size_t>(r.ptr - buf));
}

void write_f64(Out& out, double v) {
  if (!std::isfinite(v)) {
    out += "null";
    return;
  }
  out.commit(format_f64(out.room(kF64Max), v));
}

void write_f64(std::string& out, double v) {
  if (!std::isfinite(v)) {
    out += "null";
    return;
  }
  char buf[kF64Max];
  out.append(buf, format_f64(buf, v));
}

std::size_t nesting(std::string_view text) {
  std::size_t depth = 0, most = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '"') {
      for (++i; text[i] != '"'; ++i) i += text[i] == '\\';
    } else if (c == '{' || c == '[') {
      most = std::max(most, ++depth);
    } else if (c == '}' || c == ']') {
      --depth;
    }
  }
  return most;
}

}  // namespace velmor::json
