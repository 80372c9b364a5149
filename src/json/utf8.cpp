// UTF-8 validation.
#include "json/utf8.hpp"

#include <cstdint>
#include <cstring>

namespace velmor::json {

std::optional<Utf8Fault> check_utf8(std::string_view s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  std::size_t n = s.size();
  std::size_t i = 0;
  while (i < n) {
    // ASCII runs, eight bytes at a time.
    while (i + 8 <= n) {
      std::uint64_t w;
      std::memcpy(&w, p + i, 8);
      if ((w & 0x8080808080808080ULL) != 0) break;
      i += 8;
    }
    if (i >= n) break;
    unsigned char b = p[i];
    if (b < 0x80) {
      ++i;
      continue;
    }
    std::size_t need;
    unsigned char lo = 0x80, hi = 0xBF;  // range of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
      need = 1;
    } else if (b == 0xE0) {
      need = 2, lo = 0xA0;
    } else if ((b >= 0xE1 && b <= 0xEC) || b == 0xEE || b == 0xEF) {
      need = 2;
    } else if (b == 0xED) {
      need = 2, hi = 0x9F;
    } else if (b == 0xF0) {
      need = 3, lo = 0x90;
    } else if (b >= 0xF1 && b <= 0xF3) {
      need = 3;
    } else if (b == 0xF4) {
      need = 3, hi = 0x8F;
    } else {
      return Utf8Fault{i, 1};
    }
    // The second byte decides between 1 and "incomplete"; later ones give 2 or 3.
    for (std::size_t k = 1; k <= need; ++k) {
      if (i + k >= n) return Utf8Fault{i, 0};
      unsigned char c = p[i + k];
      bool ok = k == 1 ? (c >= lo && c <= hi) : (c >= 0x80 && c <= 0xBF);
      if (!ok) return Utf8Fault{i, k};
    }
    i += need + 1;
  }
  return std::nullopt;
}

std::string describe(const Utf8Fault& fault) {
  if (fault.length == 0) {
    return "incomplete utf-8 byte sequence from index " + std::to_string(fault.valid_up_to);
  }
  return "invalid utf-8 sequence of " + std::to_string(fault.length) + " bytes from index " +
         std::to_string(fault.valid_up_to);
}

}  // namespace velmor::json
