// Word-at-a-time tests for the bytes that a JSON string cannot hold as they are: '"', '\\' and
// the control characters (below 0x20). The reader looks for them to find where a plain run of a
// string ends; the writer to find what it must escape.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#elif defined(__wasm_simd128__)
#include <wasm_simd128.h>
#endif

// The wasm compiler keeps the hottest small readers out of line where a native compiler inlines
// them; in the wasm build they are inlined where they are called.
#ifdef __EMSCRIPTEN__
#define VELMOR_WASM_INLINE [[gnu::always_inline]]
#else
#define VELMOR_WASM_INLINE
#endif
// The other way round: inlined natively, left to the compiler in the wasm build, where the code
// it would copy into every caller costs more in size than it saves in time.
#ifdef __EMSCRIPTEN__
#define VELMOR_NATIVE_INLINE
#else
#define VELMOR_NATIVE_INLINE [[gnu::always_inline]]
#endif

namespace velmor::json {

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
// Words are read in little-endian order, so that the lowest flagged byte comes first in memory.
inline constexpr bool kWordScan = true;
#else
inline constexpr bool kWordScan = false;
#endif

inline constexpr std::uint64_t kOnes = 0x0101010101010101ULL;

inline std::uint64_t load8(const char* p) {
  std::uint64_t w;
  std::memcpy(&w, p, 8);
  return w;
}

inline void store8(char* p, std::uint64_t w) { std::memcpy(p, &w, 8); }

// Bit 7 of every byte of `w` that is '"', '\\' or below 0x20. Zero exactly when there is none;
// otherwise only the lowest flag is exact (a borrow can flag the bytes above a real one).
inline std::uint64_t special_bytes(std::uint64_t w) {
  std::uint64_t quote = w ^ (kOnes * '"');
  std::uint64_t slash = w ^ (kOnes * '\\');
  std::uint64_t hit = ((quote - kOnes) & ~quote) | ((slash - kOnes) & ~slash) | ((w - kOnes * 0x20) & ~w);
  return hit & (kOnes * 0x80);
}

// The byte offset of the lowest flag of a non-zero special_bytes() result.
inline std::size_t first_flagged(std::uint64_t hit) {
  return static_cast<std::size_t>(__builtin_ctzll(hit) >> 3);
}

// The `n` bytes at `p` (n < 8) in the low bytes of a word whose other bytes are 'A', a byte that
// needs no escape. Overlapping loads instead of a loop over the bytes: one branch on the length.
inline std::uint64_t load_short(const char* p, std::size_t n) {
  std::uint64_t w;
  if (n >= 4) {
    std::uint32_t lo, hi;
    std::memcpy(&lo, p, 4);
    std::memcpy(&hi, p + n - 4, 4);
    w = lo | (std::uint64_t(hi) << (8 * (n - 4)));
  } else if (n != 0) {
    w = std::uint64_t(static_cast<unsigned char>(p[0])) |
        std::uint64_t(static_cast<unsigned char>(p[n / 2])) << (8 * (n / 2)) |
        std::uint64_t(static_cast<unsigned char>(p[n - 1])) << (8 * (n - 1));
  } else {
    return kOnes * 'A';
  }
  std::uint64_t keep = (std::uint64_t(1) << (8 * n)) - 1;
  return (w & keep) | (kOnes * 'A' & ~keep);
}

// Sixteen bytes at a time, where the host has 128-bit vectors (SSE2 on every x86-64, SIMD128 in
// the wasm build): a bit per byte of the piece, from its first byte up.
#if defined(__SSE2__)
using Piece = __m128i;
inline Piece load_piece(const char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void store_piece(char* p, Piece v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
// The bytes that are '"', '\\' or below 0x20.
inline std::uint32_t special_piece(Piece v) {
  const __m128i below = _mm_set1_epi8(0x1F);
  __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('"')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\\'))),
                             _mm_cmpeq_epi8(_mm_max_epu8(v, below), below));
  return static_cast<std::uint32_t>(_mm_movemask_epi8(hit));
}
// The bytes at or above 0x80.
inline std::uint32_t high_piece(Piece v) { return static_cast<std::uint32_t>(_mm_movemask_epi8(v)); }
#elif defined(__wasm_simd128__)
using Piece = v128_t;
inline Piece load_piece(const char* p) { return wasm_v128_load(p); }
inline void store_piece(char* p, Piece v) { wasm_v128_store(p, v); }
inline std::uint32_t special_piece(Piece v) {
  v128_t hit = wasm_v128_or(wasm_v128_or(wasm_i8x16_eq(v, wasm_i8x16_splat('"')), wasm_i8x16_eq(v, wasm_i8x16_splat('\\'))),
                            wasm_u8x16_lt(v, wasm_i8x16_splat(0x20)));
  return static_cast<std::uint32_t>(wasm_i8x16_bitmask(hit));
}
inline std::uint32_t high_piece(Piece v) { return static_cast<std::uint32_t>(wasm_i8x16_bitmask(v)); }
#endif

// The first byte at or after `p` that ends a plain run of a string: '"', '\\' or a control
// character; `end` when there is none.
inline const char* find_string_stop(const char* p, const char* end) {
#if defined(__SSE2__)
  // Sixteen bytes a step where the host has SSE2 (every x86-64 does); the word scan below
  // finishes the last fifteen bytes of the text.
  while (end - p >= 16) {
    if (std::uint32_t mask = special_piece(load_piece(p))) return p + __builtin_ctz(mask);
    p += 16;
  }
#endif
  if constexpr (kWordScan) {
    while (end - p >= 8) {
      std::uint64_t hit = special_bytes(load8(p));
      if (hit != 0) return p + first_flagged(hit);
      p += 8;
    }
  }
  for (; p != end; ++p) {
    auto c = static_cast<unsigned char>(*p);
    if (c == '"' || c == '\\' || c < 0x20) break;
  }
  return p;
}

}  // namespace velmor::json
