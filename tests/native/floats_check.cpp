// Checks the exact float conversions of src/json/floats.cpp against the standard library's, on
// a seeded set of doubles and decimal literals: both must give the same bytes (writing) and the
// same double or the same range error (reading).
//   floats_check [count] [seed]
#include <bit>
#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "json/floats.hpp"

namespace fb = velmor::json::fallback;

namespace {

int failures = 0;
long checked_writes = 0, checked_reads = 0;

void fail(const char* what, const std::string& detail) {
  if (++failures <= 20) std::fprintf(stderr, "%s: %s\n", what, detail.c_str());
}

// The shortest form of `v`, both ways; then reads it back both ways.
void check_write(double v) {
  ++checked_writes;
  char a[64], b[64];
  auto ra = std::to_chars(a, a + sizeof a, v, std::chars_format::scientific);
  auto rb = fb::to_chars_scientific(b, b + sizeof b, v);
  std::string sa(a, ra.ptr), sb(b, rb.ptr);
  if (sa != sb) {
    char bits[32];
    std::snprintf(bits, sizeof bits, "%016" PRIx64, std::bit_cast<std::uint64_t>(v));
    fail("write", std::string(bits) + " native " + sa + " fallback " + sb);
  }
}

void check_read(const std::string& text) {
  ++checked_reads;
  double a = 12345.0, b = 12345.0;
  auto ra = std::from_chars(text.data(), text.data() + text.size(), a);
  auto rb = fb::from_chars(text.data(), text.data() + text.size(), b);
  if (ra.ec != rb.ec) {
    fail("read (error)", text.substr(0, 120) + (ra.ec == std::errc() ? " native ok" : " native out of range"));
  } else if (ra.ec == std::errc() &&
             std::bit_cast<std::uint64_t>(a) != std::bit_cast<std::uint64_t>(b)) {
    char d[96];
    std::snprintf(d, sizeof d, " native %a fallback %a", a, b);
    fail("read", text.substr(0, 120) + d);
  }
}

std::string printed(const char* format, int precision, long double v) {
  std::string s(1200, '\0');
  int n = std::snprintf(s.data(), s.size(), format, precision, v);
  s.resize(static_cast<std::size_t>(n));
  return s;
}

// Every text a double may come as: its shortest form, 17 and 25 significant digits, and the
// exact point halfway to its upper neighbour with a digit below it either way.
void check_double(double v) {
  check_write(v);
  if (v < 0) v = -v;
  char s[64];
  auto r = std::to_chars(s, s + sizeof s, v);
  check_read(std::string(s, r.ptr));
  check_read(printed("%.*Le", 16, v));
  check_read(printed("%.*Le", 24, v));
  double up = std::nextafter(v, INFINITY);
  if (std::isfinite(up)) {
    long double mid = (static_cast<long double>(v) + up) / 2;  // exact in 64-bit long double
    std::string exact = printed("%.*Le", 800, mid);
    std::size_t e = exact.find('e');
    std::string mantissa = exact.substr(0, e), exponent = exact.substr(e);
    while (mantissa.back() == '0') mantissa.pop_back();
    check_read(mantissa + exponent);
    check_read(mantissa + "1" + exponent);
    check_read(mantissa.substr(0, mantissa.size() - 1) + exponent);
  }
}

}  // namespace

int main(int argc, char** argv) {
  long count = argc > 1 ? std::atol(argv[1]) : 200000;
  unsigned seed = argc > 2 ? static_cast<unsigned>(std::atol(argv[2])) : 12;
  std::mt19937_64 rng(seed);

  // Edges: zeros, the smallest and largest subnormals and normals, powers of two and ten with
  // their neighbours, integers near 2^53.
  for (double v : {0.0, -0.0, 5e-324, 1e-323, 2.2250738585072009e-308, 2.2250738585072014e-308,
                   1.7976931348623157e308, 1.0, 0.1, 0.5, 9007199254740992.0, 9007199254740993.0,
                   123456789012345680.0, 1e15, 1e16, 1e21, 1e22, 1e23, 5e-5, 1e-5}) {
    check_double(v);
    check_double(-v);
  }
  for (int e = -1074; e <= 1023; ++e) {
    double p = std::ldexp(1.0, e);
    check_double(p);
    check_double(std::nextafter(p, 0.0));
    check_double(std::nextafter(p, INFINITY));
  }
  for (int e = -325; e <= 309; ++e) {
    char t[32];
    std::snprintf(t, sizeof t, "1e%d", e);
    check_read(t);
    std::snprintf(t, sizeof t, "9.999999999999999999e%d", e);
    check_read(t);
    double p = std::pow(10.0, e);
    if (std::isfinite(p) && p != 0) check_double(p);
  }

  // Random doubles: every bit pattern equally (all binary exponents), and values with few
  // decimal digits (the forms trees usually hold).
  for (long i = 0; i < count; ++i) {
    double v = std::bit_cast<double>(rng());
    if (std::isfinite(v)) check_double(v);
    std::uniform_int_distribution<int> places(0, 17);
    double w = static_cast<double>(rng() % 2000000000) / std::pow(10.0, places(rng));
    check_double(w);
  }

  // Random literals in JSON number form: 1 to 40 digits (some past 780, to reach the digits
  // that only count as not zero), a point anywhere, leading zeros, exponents in and beyond
  // the range.
  for (long i = 0; i < count; ++i) {
    std::string t;
    if (rng() % 2) t += '-';
    int nd = rng() % 50 == 0 ? 790 + static_cast<int>(rng() % 30) : 1 + static_cast<int>(rng() % 40);
    int point = static_cast<int>(rng() % (nd + 1));
    int zeros = rng() % 4 == 0 ? static_cast<int>(rng() % 5) : 0;
    if (point == 0) {
      t += "0.";
      t.append(static_cast<std::size_t>(zeros), '0');
    }
    for (int k = 0; k < nd; ++k) {
      if (k == point && point != 0) t += '.';
      t += static_cast<char>('0' + rng() % 10);
    }
    if (rng() % 2) {
      t += rng() % 2 ? 'e' : 'E';
      int r = static_cast<int>(rng() % 3);
      if (r == 1) t += '-';
      if (r == 2) t += '+';
      t += std::to_string(rng() % 8 == 0 ? rng() % 100000 : rng() % 360);
    }
    if (t.size() > 1 && t[t.size() - 1] == '.') t += '0';
    check_read(t);
  }

  std::printf("float conversions: %ld writes and %ld reads checked, %d differ\n", checked_writes,
              checked_reads, failures);
  return failures == 0 ? 0 : 1;
}
