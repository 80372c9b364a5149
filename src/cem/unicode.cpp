// The upper-case lookup over the generated tables, White_Space trimming and UTF-8 decoding.
#include "cem/unicode.hpp"

#include <algorithm>
#include <cstdint>

#include "json/utf8.hpp"

namespace velmor::cem {

namespace {

// Code points first, first + stride, ... (count of them) map to themselves plus delta.
struct UpperRun {
  char32_t first;
  std::int32_t delta;
  std::uint16_t count;
  std::uint8_t stride;
};

// A code point whose upper case is two or three code points (the unused tail is 0).
struct UpperExpansion {
  char32_t cp;
  char32_t upper[3];
};

#include "cem/upper_table.inc"

// Below this code point only the ASCII letters change (the next mapping is U+00B5).
constexpr char32_t kFirstMapped = 0xB5;

// The byte length of the White_Space character that starts at `p`, or 0. The set: U+0009..U+000D,
// U+0020, U+0085, U+00A0, U+1680, U+2000..U+200A, U+2028, U+2029, U+202F, U+205F, U+3000.
std::size_t white_at(const unsigned char* p, std::size_t left) {
  unsigned char b = p[0];
  if (b == ' ' || (b >= 0x09 && b <= 0x0D)) return 1;
  if (b < 0xC2 || left < 2) return 0;
  if (b == 0xC2) return p[1] == 0x85 || p[1] == 0xA0 ? 2 : 0;
  if (left < 3) return 0;
  unsigned char c = p[1], d = p[2];
  switch (b) {
    case 0xE1: return c == 0x9A && d == 0x80 ? 3 : 0;
    case 0xE2:
      if (c == 0x80) return (d <= 0x8A && d >= 0x80) || d == 0xA8 || d == 0xA9 || d == 0xAF ? 3 : 0;
      return c == 0x81 && d == 0x9F ? 3 : 0;
    case 0xE3: return c == 0x80 && d == 0x80 ? 3 : 0;
    default: return 0;
  }
}

// The byte length of the White_Space character that ends just before `end`, or 0. Lead bytes
// never occur as continuation bytes, so matching the last two or three bytes is exact.
std::size_t white_before(const unsigned char* end, std::size_t left) {
  if (white_at(end - 1, 1) == 1) return 1;
  if (left >= 2 && white_at(end - 2, 2) == 2) return 2;
  if (left >= 3 && white_at(end - 3, 3) == 3) return 3;
  return 0;
}

}  // namespace

void append_upper(std::string& out, char32_t cp) {
  if (cp < kFirstMapped) {
    json::append_utf8(out, cp >= 'a' && cp <= 'z' ? cp - 32 : cp);
    return;
  }
  auto e = std::lower_bound(std::begin(kUpperExpansions), std::end(kUpperExpansions), cp,
                            [](const UpperExpansion& x, char32_t v) { return x.cp < v; });
  if (e != std::end(kUpperExpansions) && e->cp == cp) {
    for (char32_t u : e->upper) {
      if (u != 0) json::append_utf8(out, u);
    }
    return;
  }
  // The last run that starts at or before `cp`; runs never overlap.
  auto r = std::upper_bound(std::begin(kUpperRuns), std::end(kUpperRuns), cp,
                            [](char32_t v, const UpperRun& x) { return v < x.first; });
  if (r != std::begin(kUpperRuns)) {
    --r;
    char32_t offset = cp - r->first;
    if (offset % r->stride == 0 && offset / r->stride < r->count) {
      cp = static_cast<char32_t>(static_cast<std::int32_t>(cp) + r->delta);
    }
  }
  json::append_utf8(out, cp);
}

std::string_view trim_white(std::string_view s) {
  const auto* begin = reinterpret_cast<const unsigned char*>(s.data());
  const auto* end = begin + s.size();
  while (begin != end) {
    std::size_t n = white_at(begin, static_cast<std::size_t>(end - begin));
    if (n == 0) break;
    begin += n;
  }
  while (begin != end) {
    std::size_t n = white_before(end, static_cast<std::size_t>(end - begin));
    if (n == 0) break;
    end -= n;
  }
  return {reinterpret_cast<const char*>(begin), static_cast<std::size_t>(end - begin)};
}

Decoded decode_utf8(std::string_view s, std::size_t i) {
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
  auto cont = [&](std::size_t k) { return i + k < s.size() && (byte(k) & 0xC0) == 0x80; };
  unsigned char b = byte(0);
  if (b < 0x80) return {b, 1, true};
  if (b >= 0xC2 && b <= 0xDF && cont(1)) return {char32_t(b & 0x1F) << 6 | (byte(1) & 0x3F), 2, true};
  if (b >= 0xE0 && b <= 0xEF && cont(1) && cont(2)) {
    char32_t cp = char32_t(b & 0x0F) << 12 | char32_t(byte(1) & 0x3F) << 6 | (byte(2) & 0x3F);
    if (cp >= 0x800 && (cp < 0xD800 || cp > 0xDFFF)) return {cp, 3, true};
  } else if (b >= 0xF0 && b <= 0xF4 && cont(1) && cont(2) && cont(3)) {
    char32_t cp = char32_t(b & 0x07) << 18 | char32_t(byte(1) & 0x3F) << 12 |
                  char32_t(byte(2) & 0x3F) << 6 | (byte(3) & 0x3F);
    if (cp >= 0x10000 && cp <= 0x10FFFF) return {cp, 4, true};
  }
  return {b, 1, false};
}

}  // namespace velmor::cem
