// Exact decimal <-> double conversions with big integers: slow, simple, and correct for every
// input, which is what a fallback for the rare long or extreme literals needs (the reader and
// the writer handle the common short forms themselves before they get here).
#include "json/floats.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <system_error>

namespace velmor::json::fallback {

namespace {

// An unsigned integer of at most kLimbs 32-bit limbs, least significant first. The largest value
// formed below stays under 4000 bits (see the bounds at each use); the fixed size keeps the
// conversions free of allocation.
class Big {
 public:
  static constexpr int kLimbs = 160;

  explicit Big(std::uint64_t v = 0) {
    while (v != 0) {
      d_[n_++] = static_cast<std::uint32_t>(v);
      v >>= 32;
    }
  }

  int bits() const { return n_ == 0 ? 0 : 32 * (n_ - 1) + (32 - std::countl_zero(d_[n_ - 1])); }

  void mul_small(std::uint32_t m) {
    std::uint64_t carry = 0;
    for (int i = 0; i < n_; ++i) {
      std::uint64_t t = std::uint64_t(d_[i]) * m + carry;
      d_[i] = static_cast<std::uint32_t>(t);
      carry = t >> 32;
    }
    if (carry != 0) d_[n_++] = static_cast<std::uint32_t>(carry);
  }

  void add_small(std::uint32_t a) {
    for (int i = 0; a != 0; ++i) {
      if (i == n_) {
        d_[n_++] = a;
        return;
      }
      std::uint64_t t = std::uint64_t(d_[i]) + a;
      d_[i] = static_cast<std::uint32_t>(t);
      a = static_cast<std::uint32_t>(t >> 32);
    }
  }

  void mul_pow10(int k) {
    static constexpr std::uint32_t kPow[] = {1,      10,      100,      1000,      10000,
                                             100000, 1000000, 10000000, 100000000, 1000000000};
    for (; k >= 9; k -= 9) mul_small(kPow[9]);
    if (k > 0) mul_small(kPow[k]);
  }

  void shl(int s) {
    if (n_ == 0 || s == 0) return;
    int w = s / 32, b = s % 32;
    if (b == 0) {
      for (int i = n_ - 1; i >= 0; --i) d_[i + w] = d_[i];
    } else {
      d_[n_ + w] = d_[n_ - 1] >> (32 - b);
      for (int i = n_ - 1; i > 0; --i) d_[i + w] = (d_[i] << b) | (d_[i - 1] >> (32 - b));
      d_[w] = d_[0] << b;
      ++n_;
    }
    for (int i = 0; i < w; ++i) d_[i] = 0;
    n_ += w;
    trim();
  }

  void shr1() {
    for (int i = 0; i < n_; ++i) d_[i] = (d_[i] >> 1) | (i + 1 < n_ ? d_[i + 1] << 31 : 0);
    trim();
  }

  void add(const Big& b) {
    std::uint64_t carry = 0;
    int n = n_ > b.n_ ? n_ : b.n_;
    for (int i = 0; i < n; ++i) {
      std::uint64_t t = carry + (i < n_ ? d_[i] : 0) + (i < b.n_ ? b.d_[i] : 0);
      d_[i] = static_cast<std::uint32_t>(t);
      carry = t >> 32;
    }
    n_ = n;
    if (carry != 0) d_[n_++] = static_cast<std::uint32_t>(carry);
  }

  // *this -= b, where b <= *this.
  void sub(const Big& b) {
    std::int64_t borrow = 0;
    for (int i = 0; i < n_; ++i) {
      std::int64_t t = std::int64_t(d_[i]) - (i < b.n_ ? b.d_[i] : 0) - borrow;
      borrow = t < 0;
      d_[i] = static_cast<std::uint32_t>(t + (borrow << 32));
    }
    trim();
  }

  friend int cmp(const Big& a, const Big& b) {
    if (a.n_ != b.n_) return a.n_ < b.n_ ? -1 : 1;
    for (int i = a.n_ - 1; i >= 0; --i) {
      if (a.d_[i] != b.d_[i]) return a.d_[i] < b.d_[i] ? -1 : 1;
    }
    return 0;
  }

 private:
  void trim() {
    while (n_ > 0 && d_[n_ - 1] == 0) --n_;
  }

  std::uint32_t d_[kLimbs + 1];
  int n_ = 0;
};

// std::bit_cast, which the wasm32 toolchain's C++ library lacks.
template <class To, class From>
To bits_of(From v) {
  static_assert(sizeof(To) == sizeof(From));
  To out;
  std::memcpy(&out, &v, sizeof out);
  return out;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Significant digits kept from a literal. Deciding between two neighbouring doubles compares the
// value with the point halfway between them, whose decimal form has at most 767 significant
// digits; the digits after the kept ones only matter as "some of them are not zero", which one
// more digit 1 stands for.
constexpr int kMaxDigits = 780;

}  // namespace

std::from_chars_result from_chars(const char* first, const char* last, double& value) {
  const char* p = first;
  bool negative = p != last && *p == '-';
  if (negative) ++p;

  char digits[kMaxDigits + 1];
  int nd = 0;
  long long exp10 = 0;  // the value is digits * 10^exp10
  bool seen_nonzero = false, dropped_nonzero = false;
  auto take = [&](char c, bool fraction) {
    if (!seen_nonzero && c == '0') {
      if (fraction) --exp10;
      return;
    }
    seen_nonzero = true;
    if (nd < kMaxDigits) {
      digits[nd++] = c;
      if (fraction) --exp10;
    } else {
      dropped_nonzero |= c != '0';
      if (!fraction) ++exp10;
    }
  };
  for (; p != last && is_digit(*p); ++p) take(*p, false);
  if (p != last && *p == '.') {
    for (++p; p != last && is_digit(*p); ++p) take(*p, true);
  }
  if (p != last && (*p == 'e' || *p == 'E')) {
    ++p;
    bool exp_negative = p != last && *p == '-';
    if (p != last && (*p == '+' || *p == '-')) ++p;
    long long e = 0;
    for (; p != last && is_digit(*p); ++p) {
      e = e * 10 + (*p - '0');
      if (e > 1000000000LL) e = 1000000000LL;
    }
    exp10 += exp_negative ? -e : e;
  }
  if (dropped_nonzero) {
    digits[nd++] = '1';
    --exp10;
  }

  if (nd == 0) {
    value = negative ? -0.0 : 0.0;
    return {last, std::errc()};
  }
  // 10^(nd + exp10 - 1) <= value < 10^(nd + exp10).
  if (nd + exp10 > 310 || nd + exp10 < -324) return {last, std::errc::result_out_of_range};

  // N / M is the value exactly. N: at most 781 digits (2600 bits), or with a positive exponent at
  // most 310 digits; M: at most 10^1106 (3700 bits).
  Big n, m(1);
  for (int i = 0; i < nd;) {
    int k = nd - i < 9 ? nd - i : 9;
    std::uint32_t chunk = 0;
    for (int j = 0; j < k; ++j) chunk = chunk * 10 + static_cast<std::uint32_t>(digits[i + j] - '0');
    n.mul_pow10(k);
    n.add_small(chunk);
    i += k;
  }
  if (exp10 >= 0) {
    n.mul_pow10(static_cast<int>(exp10));
  } else {
    m.mul_pow10(static_cast<int>(-exp10));
  }

  // b = floor(log2(N / M)), from the bit lengths and one comparison.
  int b = n.bits() - m.bits();
  if (b >= 0) {
    Big t = m;
    t.shl(b);
    if (cmp(n, t) < 0) --b;
  } else {
    Big t = n;
    t.shl(-b);
    if (cmp(t, m) < 0) --b;
  }
  if (b > 1023) return {last, std::errc::result_out_of_range};

  // q = floor(N / M * 2^s) holds the 53 bits of a normal double (52 bits and fewer for a
  // subnormal one, whose last bit weighs 2^-1074); the remainder decides the rounding.
  int s = b >= -1022 ? 52 - b : 1074;
  if (s >= 0) {
    n.shl(s);
  } else {
    m.shl(-s);
  }
  std::uint64_t q = 0;
  Big ms = m;
  ms.shl(53);
  for (int i = 53; i >= 0; --i) {
    if (cmp(n, ms) >= 0) {
      n.sub(ms);
      q |= std::uint64_t(1) << i;
    }
    ms.shr1();
  }
  n.shl(1);
  int half = cmp(n, m);
  if (half > 0 || (half == 0 && (q & 1) != 0)) ++q;

  std::uint64_t bits;
  if (b >= -1022) {
    if (q == std::uint64_t(1) << 53) {
      q >>= 1;
      ++b;
    }
    if (b > 1023) return {last, std::errc::result_out_of_range};
    bits = (std::uint64_t(b + 1023) << 52) | (q & ((std::uint64_t(1) << 52) - 1));
  } else {
    // A subnormal; a q rounded up to 2^52 is the bit pattern of the smallest normal double.
    if (q == 0) return {last, std::errc::result_out_of_range};
    bits = q;
  }
  double r = bits_of<double>(bits);
  value = negative ? -r : r;
  return {last, std::errc()};
}

std::to_chars_result to_chars_scientific(char* first, char* last, double value) {
  (void)last;
  auto bits = bits_of<std::uint64_t>(value);
  char* p = first;
  if (bits >> 63) *p++ = '-';
  int biased = static_cast<int>((bits >> 52) & 0x7ff);
  std::uint64_t f = bits & ((std::uint64_t(1) << 52) - 1);
  if (biased == 0 && f == 0) {
    std::memcpy(p, "0e+00", 5);
    return {p + 5, std::errc()};
  }
  int e = -1074;
  if (biased != 0) {
    f |= std::uint64_t(1) << 52;
    e = biased - 1075;
  }
  // value = f * 2^e. The doubles that read back as it are those within half the gap to each
  // neighbour; an even f also owns both halfway points (reading rounds ties to even). Just above
  // a power of two the gap below is half the gap above.
  bool even = (f & 1) == 0;
  bool lower_closer = biased > 1 && f == std::uint64_t(1) << 52;

  // value = r / s; the interval is (r - mm, r + mp) / s. With scale 2 (or 4) all are integers.
  Big r(f), s(1), mp(1), mm(1);
  int scale = lower_closer ? 2 : 1;
  r.shl(scale);
  if (e >= 0) {
    r.shl(e);
    s.shl(scale);
    mp.shl(e + scale - 1);
    mm.shl(e);
  } else {
    s.shl(scale - e);
    mp.shl(scale - 1);
  }

  // k: the decimal exponent such that the upper end of the interval is below 10^k and at least
  // 10^(k-1) (in the inclusive sense when the ends belong to the interval). Estimated from the
  // binary exponent, then corrected.
  int k = static_cast<int>(std::ceil((e + Big(f).bits() - 1) * 0.30102999566398114));
  if (k >= 0) {
    s.mul_pow10(k);
  } else {
    r.mul_pow10(-k);
    mp.mul_pow10(-k);
    mm.mul_pow10(-k);
  }
  auto high_reaches = [&](const Big& x) {  // x + mp beyond s
    Big t = x;
    t.add(mp);
    int c = cmp(t, s);
    return even ? c >= 0 : c > 0;
  };
  while (high_reaches(r)) {
    s.mul_small(10);
    ++k;
  }
  for (;;) {
    Big t = r;
    t.add(mp);
    t.mul_small(10);
    int c = cmp(t, s);
    if (even ? c >= 0 : c > 0) break;
    r.mul_small(10);
    mp.mul_small(10);
    mm.mul_small(10);
    --k;
  }

  // Digits, one at a time, until the digits so far (or them with the last one raised) lie inside
  // the interval; where both do, the nearer wins, a tie going to the even digit.
  char digits[20];
  int n = 0;
  for (;;) {
    r.mul_small(10);
    mp.mul_small(10);
    mm.mul_small(10);
    int d = 0;
    while (cmp(r, s) >= 0) {
      r.sub(s);
      ++d;
    }
    int lc = cmp(r, mm);
    bool low = even ? lc <= 0 : lc < 0;
    bool high = high_reaches(r);
    if (!low && !high) {
      digits[n++] = static_cast<char>('0' + d);
      continue;
    }
    if (low && high) {
      Big twice = r;
      twice.shl(1);
      int c = cmp(twice, s);
      if (c > 0 || (c == 0 && (d & 1) != 0)) ++d;
    } else if (high) {
      ++d;
    }
    digits[n++] = static_cast<char>('0' + d);
    break;
  }

  *p++ = digits[0];
  if (n > 1) {
    *p++ = '.';
    std::memcpy(p, digits + 1, n - 1);
    p += n - 1;
  }
  int exp = k - 1;
  *p++ = 'e';
  *p++ = exp < 0 ? '-' : '+';
  if (exp < 0) exp = -exp;
  if (exp >= 100) *p++ = static_cast<char>('0' + exp / 100);
  *p++ = static_cast<char>('0' + exp / 10 % 10);
  *p++ = static_cast<char>('0' + exp % 10);
  return {p, std::errc()};
}

}  // namespace velmor::json::fallback
