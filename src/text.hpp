// Byte comparisons of texts, inlined for the short names and keys that dominate trees.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

namespace velmor {

// The bytes at `p` as a T (unaligned).
template <class T>
inline T load(const char* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Equal bytes. Member and variant names are short, so they are compared in line, with loads
// that overlap rather than a loop over the bytes; most mismatches show in the length.
inline bool same(std::string_view a, std::string_view b) {
  std::size_t n = a.size();
  if (n != b.size()) return false;
  const char* x = a.data();
  const char* y = b.data();
  if (n >= 8) {
    if (n > 16) return std::memcmp(x, y, n) == 0;
    return (load<std::uint64_t>(x) == load<std::uint64_t>(y)) &
           (load<std::uint64_t>(x + n - 8) == load<std::uint64_t>(y + n - 8));
  }
  if (n >= 4) {
    return (load<std::uint32_t>(x) == load<std::uint32_t>(y)) &
           (load<std::uint32_t>(x + n - 4) == load<std::uint32_t>(y + n - 4));
  }
  if (n == 0) return true;
  return (x[0] == y[0]) & (x[n / 2] == y[n / 2]) & (x[n - 1] == y[n - 1]);
}

// compare() of texts whose first bytes are equal, over their common prefix of n bytes (n at
// least 1); out of line, so that compare() stays as small as a call to memcmp where it is
// inlined.
int compare_common(const char* x, const char* y, std::size_t n);

// Byte order (unsigned), as memcmp, with the shorter text first on a common prefix.
inline int compare(std::string_view a, std::string_view b) {
  std::size_t n = a.size() < b.size() ? a.size() : b.size();
  if (n != 0) {
    auto x = static_cast<unsigned char>(a[0]);
    auto y = static_cast<unsigned char>(b[0]);
    if (x != y) return x < y ? -1 : 1;
    int c = compare_common(a.data(), b.data(), n);
    if (c != 0) return c;
  }
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

inline bool less(std::string_view a, std::string_view b) { return compare(a, b) < 0; }

}  // namespace velmor
