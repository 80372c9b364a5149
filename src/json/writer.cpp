// The canonical JSON writer.
#include "json/writer.hpp"

#include <charconv>
#include <cmath>
#include <cstring>

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

}  // namespace

void write_string(std::string& out, std::string_view s) {
  out.push_back('"');
  const char* p = s.data();
  const char* end = p + s.size();
  const char* run = p;
  while (p != end) {
    char e = kEscape.v[static_cast<unsigned char>(*p)];
    if (e == 0) {
      ++p;
      continue;
    }
    out.append(run, p);
    if (e == 'u') {
      static constexpr char hex[] = "0123456789abcdef";
      unsigned c = static_cast<unsigned char>(*p);
      char esc[6] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 15]};
      out.append(esc, 6);
    } else {
      char esc[2] = {'\\', e};
      out.append(esc, 2);
    }
    run = ++p;
  }
  out.append(run, end);
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

void write_u64(std::string& out, std::uint64_t v) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

void write_i64(std::string& out, std::int64_t v) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

void write_f64(std::string& out, double v) {
  if (!std::isfinite(v)) {
    out += "null";
    return;
  }
  // Shortest round-trip digits in scientific form, e.g. "-1.2345e+16", "5e-324".
  char sci[40];
  auto r = std::to_chars(sci, sci + sizeof sci, v, std::chars_format::scientific);
  const char* p = sci;
  if (*p == '-') {
    out.push_back('-');
    ++p;
  }
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
        out.append(digits, n);
        out.append(int_len - n, '0');
        out += ".0";
      } else {
        out.append(digits, int_len);
        out.push_back('.');
        out.append(digits + int_len, n - int_len);
      }
    } else {
      out += "0.";
      out.append(-exp - 1, '0');
      out.append(digits, n);
    }
    return;
  }
  out.push_back(digits[0]);
  if (n > 1) {
    out.push_back('.');
    out.append(digits + 1, n - 1);
  }
  out.push_back('e');
  out.push_back(exp < 0 ? '-' : '+');
  char eb[8];
  auto er = std::to_chars(eb, eb + sizeof eb, exp < 0 ? -exp : exp);
  out.append(eb, er.ptr);
}

}  // namespace velmor::json
