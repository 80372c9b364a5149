// Byte comparisons of texts.
#include "text.hpp"

#include <bit>

namespace velmor {

namespace {

// `v` loaded from memory, as a number whose order is that of its bytes (most significant first).
template <class T>
inline T byte_order(T v) {
  if constexpr (std::endian::native == std::endian::big) {
    return v;
  } else {
#if defined(__GNUC__) || defined(__clang__)
    if constexpr (sizeof v == 8) {
      return __builtin_bswap64(v);
    } else {
      return __builtin_bswap32(v);
    }
#else
    T r = 0;
    for (std::size_t i = 0; i < sizeof v; ++i) r = (r << 8) | ((v >> (8 * i)) & 0xff);
    return r;
#endif
  }
}

}  // namespace

// compare() of texts whose first bytes are equal (a common prefix of n bytes, n at least 1).
// Keys are mostly short and often share their first bytes: up to 16 common bytes are compared
// a word at a time, as numbers in byte order, with loads that overlap. Where the first and last
// words of the common part overlap and the first are equal, the overlapping bytes are too, so
// the last words differ first where the texts do.
int compare_common(const char* x, const char* y, std::size_t n) {
  std::uint64_t u, v;
  if (n >= 8) {
    u = byte_order(load<std::uint64_t>(x));
    v = byte_order(load<std::uint64_t>(y));
    if (u != v) return u < v ? -1 : 1;
    if (n > 16) return std::memcmp(x + 8, y + 8, n - 8);
    u = byte_order(load<std::uint64_t>(x + n - 8));
    v = byte_order(load<std::uint64_t>(y + n - 8));
  } else if (n >= 4) {
    u = (std::uint64_t{byte_order(load<std::uint32_t>(x))} << 32) |
        byte_order(load<std::uint32_t>(x + n - 4));
    v = (std::uint64_t{byte_order(load<std::uint32_t>(y))} << 32) |
        byte_order(load<std::uint32_t>(y + n - 4));
  } else {
    auto at = [](const char* p, std::size_t i) {
      return std::uint64_t{static_cast<unsigned char>(p[i])};
    };
    u = (at(x, n / 2) << 8) | at(x, n - 1);
    v = (at(y, n / 2) << 8) | at(y, n - 1);
  }
  return u == v ? 0 : (u < v ? -1 : 1);
}

}  // namespace velmor
