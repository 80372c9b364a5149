// The streaming JSON reader.
#include "json/reader.hpp"

#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>

#include "json/floats.hpp"
#include "json/utf8.hpp"
#include "json/writer.hpp"
#include "text.hpp"

namespace velmor::json {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                             1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

constexpr const char* kControl = "control character (\\u0000-\\u001F) found while parsing a string";

}  // namespace

LineColumn line_column(std::string_view text, std::size_t pos) {
  if (pos > text.size()) pos = text.size();
  std::uint64_t line = 1;
  std::size_t line_start = 0;
  for (std::size_t i = 0; i < pos; ++i) {
    if (text[i] == '\n') {
      ++line;
      line_start = i + 1;
    }
  }
  return {line, pos - line_start};
}

std::string describe(const Number& n) {
  std::string out;
  switch (n.kind) {
    case Number::Kind::Uint:
      out = "integer `";
      write_u64(out, n.u);
      break;
    case Number::Kind::Neg:
      out = "integer `";
      write_i64(out, n.i);
      break;
    case Number::Kind::Float:
      out = "floating point `";
      write_f64(out, n.f);
      break;
  }
  out.push_back('`');
  return out;
}

std::string describe_string(std::string_view s) {
  std::string out = "string \"";
  static constexpr char hex[] = "0123456789abcdef";
  for (std::size_t i = 0; i < s.size(); ++i) {
    auto c = static_cast<unsigned char>(s[i]);
    switch (c) {
      case '"': out += "\\\""; continue;
      case '\\': out += "\\\\"; continue;
      case '\n': out += "\\n"; continue;
      case '\r': out += "\\r"; continue;
      case '\t': out += "\\t"; continue;
      case '\0': out += "\\0"; continue;
      default: break;
    }
    unsigned cp = 0;
    if (c < 0x20 || c == 0x7F) {
      cp = c;
    } else if (c == 0xC2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) <= 0x9F) {
      cp = static_cast<unsigned char>(s[i + 1]);  // U+0080..U+009F
      ++i;
    } else {
      out.push_back(static_cast<char>(c));
      continue;
    }
    out += "\\u{";
    if (cp >= 16) out.push_back(hex[cp >> 4]);
    out.push_back(hex[cp & 15]);
    out.push_back('}');
  }
  out.push_back('"');
  return out;
}

std::string unknown_variant(std::string_view name, std::span<const std::string_view> names) {
  std::string out = "unknown variant `";
  out += name;
  out += "`, expected ";
  if (names.size() == 2) {
    out += "`";
    out += names[0];
    out += "` or `";
    out += names[1];
    out += "`";
    return out;
  }
  out += "one of ";
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i != 0) out += ", ";
    out += "`";
    out += names[i];
    out += "`";
  }
  return out;
}

void Reader::fail_here(const char* message) const { throw ReadError{message, here()}; }

void Reader::fail_next(const char* message) const { throw ReadError{message, next()}; }

int Reader::skip_space() {
  const char* start = cur_;
  while (cur_ != end_) {
    char c = *cur_;
    if (c != ' ' && c != '\n' && c != '\t' && c != '\r') break;
    ++cur_;
  }
  if (cur_ != start) ++departures_;
  return cur_ == end_ ? -1 : static_cast<unsigned char>(*cur_);
}

void Reader::finish() {
  if (peek() >= 0) fail_next("trailing characters");
}

void Reader::duplicate(std::string_view field) const {
  std::string m = "duplicate field `";
  m += field;
  m += "`";
  fail_here(std::move(m));
}

void Reader::invalid_type(std::string_view wanted) {
  std::string found;
  int c = peek();
  switch (c) {
    case -1:
      fail_next("EOF while parsing a value");
    case 'n':
      ++cur_;
      ident("ull");
      found = "null";
      break;
    case 't':
      ++cur_;
      ident("rue");
      found = "boolean `true`";
      break;
    case 'f':
      ++cur_;
      ident("alse");
      found = "boolean `false`";
      break;
    case '"':
      found = describe_string(string_literal());
      break;
    case '[':
      found = "sequence";
      break;
    case '{':
      found = "map";
      break;
    default:
      if (c == '-' || is_digit(static_cast<char>(c))) {
        found = describe(number());
        break;
      }
      fail_next("expected value");
  }
  std::string m = "invalid type: ";
  m += found;
  m += ", expected ";
  m += wanted;
  fail_here(std::move(m));
}

void Reader::bad_member(bool first, int c) const {
  if (c < 0) fail_next("EOF while parsing an object");
  if (!first && c != ',') fail_next("expected `,` or `}`");
  fail_next("key must be a string");
}

void Reader::bad_key(int c) const {
  if (c == '}') fail_next("trailing comma");
  if (c < 0) fail_next("EOF while parsing a value");
  fail_next("key must be a string");
}

void Reader::bad_element(int c) const {
  if (c < 0) fail_next("EOF while parsing a list");
  fail_next("expected `,` or `]`");
}

void Reader::bad_after_comma(int c) const {
  if (c == ']') fail_next("trailing comma");
  fail_next("EOF while parsing a value");
}

void Reader::end_array() {
  int c = peek();
  if (c == ']') {
    ++cur_;
    return;
  }
  if (c == ',') {
    ++cur_;
    fail_next(peek() == ']' ? "trailing comma" : "trailing characters");
  }
  fail_next(c < 0 ? "EOF while parsing a list" : "trailing characters");
}

void Reader::ident(std::string_view rest) {
  for (char want : rest) {
    if (cur_ == end_) fail_here("EOF while parsing a value");
    if (*cur_++ != want) fail_here("expected ident");
  }
}

bool Reader::null() {
  if (peek() != 'n') return false;
  ++cur_;
  ident("ull");
  return true;
}

bool Reader::optional_string(std::string_view& out) {
  if (null()) return false;
  out = string();
  return true;
}

bool Reader::boolean() {
  int c = peek();
  if (c == 't') {
    ++cur_;
    ident("rue");
    return true;
  }
  if (c == 'f') {
    ++cur_;
    ident("alse");
    return false;
  }
  if (c < 0) fail_next("EOF while parsing a value");
  invalid_type("a boolean");
}

std::uint64_t Reader::u64() {
  int c = peek();
  if (c == '-' || (c >= '0' && c <= '9')) {
    Number n = number();
    if (n.kind == Number::Kind::Uint) return n.u;
    if (n.kind == Number::Kind::Neg) fail_here("invalid value: " + describe(n) + ", expected u64");
    fail_here("invalid type: " + describe(n) + ", expected u64");
  }
  if (c < 0) fail_next("EOF while parsing a value");
  invalid_type("u64");
}

std::int64_t Reader::i64() {
  int c = peek();
  if (c == '-' || (c >= '0' && c <= '9')) {
    Number n = number();
    if (n.kind == Number::Kind::Neg) return n.i;
    if (n.kind == Number::Kind::Uint) {
      if (n.u <= static_cast<std::uint64_t>(INT64_MAX)) return static_cast<std::int64_t>(n.u);
      fail_here("invalid value: " + describe(n) + ", expected i64");
    }
    fail_here("invalid type: " + describe(n) + ", expected i64");
  }
  if (c < 0) fail_next("EOF while parsing a value");
  invalid_type("i64");
}

double Reader::f64() {
  int c = peek();
  if (c == '-' || (c >= '0' && c <= '9')) {
    Number n = number();
    switch (n.kind) {
      case Number::Kind::Uint: return static_cast<double>(n.u);
      case Number::Kind::Neg: return static_cast<double>(n.i);
      case Number::Kind::Float: return n.f;
    }
  }
  if (c < 0) fail_next("EOF while parsing a value");
  invalid_type("f64");
}

Number Reader::number() { return scan_number(true); }

Number Reader::scan_number(bool convert) {
  const char* start = cur_;
  bool negative = false;
  if (*cur_ == '-') {
    negative = true;
    ++cur_;
    if (cur_ == end_) fail_here("EOF while parsing a value");
  }
  char first = *cur_++;
  bool integer = true;
  bool overflow = false;
  std::uint64_t mantissa = 0;
  if (first == '0') {
    if (cur_ != end_ && is_digit(*cur_)) fail_next("invalid number");
  } else if (is_digit(first)) {
    mantissa = static_cast<std::uint64_t>(first - '0');
    // Below UINT64_MAX / 10 another digit always fits; only longer literals check exactly.
    const char* p = cur_;
    while (p != end_ && is_digit(*p)) {
      auto d = static_cast<std::uint64_t>(*p - '0');
      if (mantissa >= UINT64_MAX / 10 && mantissa > (UINT64_MAX - d) / 10) overflow = true;
      mantissa = mantissa * 10 + d;
      ++p;
    }
    cur_ = p;
  } else {
    fail_here("invalid number");
  }
  // For floats: the digits before and after the point as one integer (while it stays below
  // 10^18), the number of digits after the point, and the exponent.
  std::uint64_t digits = mantissa;
  bool all_digits = !overflow;
  int places = 0;
  int exponent = 0;
  if (cur_ != end_ && *cur_ == '.') {
    integer = false;
    ++cur_;
    if (cur_ == end_) fail_next("EOF while parsing a value");
    if (!is_digit(*cur_)) fail_next("invalid number");
    const char* p = cur_;
    while (p != end_ && is_digit(*p)) {
      if (digits < 100000000000000000ULL && places < 1000) {
        digits = digits * 10 + static_cast<std::uint64_t>(*p - '0');
        ++places;
      } else {
        all_digits = false;
      }
      ++p;
    }
    cur_ = p;
  }
  if (cur_ != end_ && (*cur_ == 'e' || *cur_ == 'E')) {
    integer = false;
    ++cur_;
    bool exp_negative = false;
    if (cur_ != end_ && (*cur_ == '+' || *cur_ == '-')) exp_negative = *cur_++ == '-';
    if (cur_ == end_) fail_here("EOF while parsing a value");
    if (!is_digit(*cur_)) {
      ++cur_;
      fail_here("invalid number");
    }
    exponent = exponent_digits();
    if (exponent < 0) {
      // Past 2147483647: out of range, or else zero (the digits are set to read as zero).
      exponent_overflow(start, exp_negative, convert);
      digits = 0;
      all_digits = true;
      places = 0;
      exponent = 0;
    }
    if (exp_negative) exponent = -exponent;
  }

  Number n;
  if (!convert) return n;
  if (integer && !overflow) {
    if (!negative) {
      n.kind = Number::Kind::Uint;
      n.u = mantissa;
      return n;
    }
    if (mantissa != 0 && mantissa <= (std::uint64_t(1) << 63)) {
      n.kind = Number::Kind::Neg;
      n.i = static_cast<std::int64_t>(0 - mantissa);
      return n;
    }
  }
  n.kind = Number::Kind::Float;
  // Up to 2^53 the digits are exact as a double, and so is 10^k up to 10^22: one multiplication
  // or division then rounds correctly.
  long long scale = static_cast<long long>(exponent) - places;
  if (all_digits && digits <= (std::uint64_t(1) << 53) && scale >= -22 && scale <= 22) {
    double f = static_cast<double>(digits);
    f = scale < 0 ? f / kPow10[-scale] : f * kPow10[scale];
    n.f = negative ? -f : f;
    return n;
  }
  auto r = read_double(start, cur_, n.f);
  if (r.ec == std::errc::result_out_of_range) {
    // Out of range either way: tell overflow (an error) from underflow (zero) by the decimal
    // magnitude of the literal.
    long long magnitude = 0;
    const char* p = start + (negative ? 1 : 0);
    bool seen_nonzero = false, after_point = false;
    for (; p != cur_ && *p != 'e' && *p != 'E'; ++p) {
      if (*p == '.') {
        after_point = true;
      } else if (!seen_nonzero) {
        if (*p != '0') {
          seen_nonzero = true;
          if (!after_point) ++magnitude;
        } else if (after_point) {
          --magnitude;
        }
      } else if (!after_point) {
        ++magnitude;
      }
    }
    magnitude += exponent;
    if (magnitude > 0) fail_here("number out of range");
    n.f = negative ? -0.0 : 0.0;
  } else if (!std::isfinite(n.f)) {
    fail_here("number out of range");
  }
  return n;
}

int Reader::exponent_digits() {
  int v = 0;
  while (cur_ != end_ && is_digit(*cur_)) {
    int d = *cur_++ - '0';
    if (v > (INT32_MAX - d) / 10) return -1;
    v = v * 10 + d;
  }
  return v;
}

void Reader::exponent_overflow(const char* start, bool exp_negative, bool convert) {
  bool zero = true;
  for (const char* p = start; *p != 'e' && *p != 'E'; ++p) {
    if (*p >= '1' && *p <= '9') zero = false;
  }
  if (convert && !zero && !exp_negative) fail_here("number out of range");
  while (cur_ != end_ && is_digit(*cur_)) ++cur_;
}

unsigned Reader::hex4() {
  if (end_ - cur_ < 4) {
    cur_ = end_;
    fail_here("EOF while parsing a string");
  }
  unsigned v = 0;
  for (int k = 0; k < 4; ++k) {
    char c = *cur_++;
    unsigned d;
    if (c >= '0' && c <= '9') {
      d = static_cast<unsigned>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      d = static_cast<unsigned>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      d = static_cast<unsigned>(c - 'A' + 10);
    } else {
      fail_here("invalid escape");
    }
    v = v * 16 + d;
  }
  return v;
}

// The backslash has been consumed.
void Reader::escape(std::string& out) {
  if (cur_ == end_) fail_here("EOF while parsing a string");
  char c = *cur_++;
  switch (c) {
    case '"': out.push_back('"'); return;
    case '\\': out.push_back('\\'); return;
    case '/': out.push_back('/'); return;
    case 'b': out.push_back('\b'); return;
    case 'f': out.push_back('\f'); return;
    case 'n': out.push_back('\n'); return;
    case 'r': out.push_back('\r'); return;
    case 't': out.push_back('\t'); return;
    case 'u': break;
    default: fail_here("invalid escape");
  }
  unsigned cp = hex4();
  if (cp >= 0xDC00 && cp <= 0xDFFF) fail_here("lone leading surrogate in hex escape");
  if (cp >= 0xD800 && cp <= 0xDBFF) {
    if (cur_ == end_) fail_here("EOF while parsing a string");
    if (*cur_++ != '\\') fail_here("unexpected end of hex escape");
    if (cur_ == end_) fail_here("EOF while parsing a string");
    if (*cur_++ != 'u') fail_here("unexpected end of hex escape");
    unsigned low = hex4();
    if (low < 0xDC00 || low > 0xDFFF) fail_here("lone leading surrogate in hex escape");
    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
  }
  append_utf8(out, cp);
}

std::string_view Reader::escaped_string() {
  ++departures_;
  ++cur_;  // '"'
  const char* run = cur_;
  bool escaped = false;
  for (;;) {
    cur_ = find_string_stop(cur_, end_);
    if (cur_ == end_) fail_here("EOF while parsing a string");
    char c = *cur_;
    if (c == '"') break;
    if (c == '\\') {
      if (!escaped) {
        buf_.clear();
        escaped = true;
      }
      buf_.append(run, cur_);
      ++cur_;
      escape(buf_);
      run = cur_;
      continue;
    }
    ++cur_;
    fail_here(kControl);
  }
  std::string_view s;
  if (escaped) {
    buf_.append(run, cur_);
    s = arena_.copy(buf_);
  } else {
    s = std::string_view(run, static_cast<std::size_t>(cur_ - run));
  }
  ++cur_;  // '"'
  if (check_utf8_ && check_utf8(s)) fail_here("invalid unicode code point");
  return s;
}

// Unlike a string that is read, a skipped one reports a control character in front of it.
void Reader::skip_string() {
  ++cur_;
  for (;;) {
    cur_ = find_string_stop(cur_, end_);
    if (cur_ == end_) fail_here("EOF while parsing a string");
    char c = *cur_;
    if (c == '"') {
      ++cur_;
      return;
    }
    if (c != '\\') fail_here(kControl);
    ++cur_;
    if (cur_ == end_) fail_here("EOF while parsing a string");
    switch (*cur_++) {
      case '"': case '\\': case '/': case 'b': case 'f': case 'n': case 'r': case 't': break;
      case 'u': hex4(); break;
      default: fail_here("invalid escape");
    }
  }
}

void Reader::skip_value() {
  int c = peek();
  switch (c) {
    case -1:
      fail_next("EOF while parsing a value");
    case 'n':
      ++cur_;
      ident("ull");
      return;
    case 't':
      ++cur_;
      ident("rue");
      return;
    case 'f':
      ++cur_;
      ident("alse");
      return;
    case '"':
      skip_string();
      return;
    case '[': {
      // After a comma a value must follow: `]` there is "expected value", not a trailing comma.
      enter();
      int k = peek();
      if (k < 0) bad_element(k);
      if (k != ']') {
        for (;;) {
          skip_value();
          k = peek();
          if (k != ',') break;
          ++cur_;
        }
        if (k != ']') bad_element(k);
      }
      ++cur_;
      leave();
      return;
    }
    case '{': {
      enter();
      bool first = true;
      for (;;) {
        int k = peek();
        if (k == '}') break;
        if (k == ',' && !first) {
          ++cur_;
          k = peek();
        } else if (k < 0) {
          fail_next("EOF while parsing an object");
        } else if (!first) {
          fail_next("expected `,` or `}`");
        }
        first = false;
        // After a comma a key must follow: `}` there is "key must be a string".
        if (k < 0) fail_next("EOF while parsing a value");
        if (k != '"') fail_next("key must be a string");
        skip_string();
        colon();
        skip_value();
      }
      ++cur_;
      leave();
      return;
    }
    default:
      if (c == '-' || is_digit(static_cast<char>(c))) {
        scan_number(false);
        return;
      }
      fail_next("expected value");
  }
}

void Reader::bad_variant(bool payload, int c) {
  if (c < 0) fail_next("EOF while parsing a value");
  if (payload) invalid_type("variant identifier");
  fail_next("expected value");
}

void Reader::unknown_name(std::string_view name, std::span<const std::string_view> names) const {
  fail_here(unknown_variant(name, names));
}

void Reader::bad_variant_end(int c) const {
  fail_here(c < 0 ? "EOF while parsing an object" : "expected value");
}

std::size_t Reader::unit_variant_object(const NameTable& names) {
  VariantHead head = variant_head(names);
  if (head.payload) {
    int c = peek();
    if (c == 'n') {
      ++cur_;
      ident("ull");
    } else if (c < 0) {
      fail_next("EOF while parsing a value");
    } else {
      invalid_type("unit");
    }
    end_variant();
  }
  return head.index;
}

}  // namespace velmor::json
