// Byte comparisons of texts, inlined for the short names and keys that dominate trees.
#pragma once

#include <cstring>
#include <string_view>

namespace velmor {

// Equal bytes. Member and variant names are short, so they are compared in line; most
// mismatches show in the length or the first byte.
inline bool same(std::string_view a, std::string_view b) {
  std::size_t n = a.size();
  if (n != b.size()) return false;
  if (n > 16) return std::memcmp(a.data(), b.data(), n) == 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

// Byte order (unsigned), as memcmp, with the shorter text first on a common prefix.
inline int compare(std::string_view a, std::string_view b) {
  std::size_t n = a.size() < b.size() ? a.size() : b.size();
  if (n != 0) {
    auto x = static_cast<unsigned char>(a[0]);
    auto y = static_cast<unsigned char>(b[0]);
    if (x != y) return x < y ? -1 : 1;
    int c = std::memcmp(a.data(), b.data(), n);
    if (c != 0) return c;
  }
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

inline bool less(std::string_view a, std::string_view b) { return compare(a, b) < 0; }

}  // namespace velmor
