// The WebAssembly binding: the five core operations behind a C interface that the JavaScript side
// (client/src/) calls. Inputs are UTF-8 texts or bytes that the caller has placed in the module's
// memory (velmor_alloc); each operation leaves one output, read through velmor_out_data and
// velmor_out_size until velmor_out_release or the next operation.
//
// An operation returns 0 when the output is its result, 1 when the output is the text of a core
// error (what the Python module raises as ValueError), 2 when memory ran out.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <malloc.h>
#include <string>
#include <string_view>
#include <utility>
#ifdef __wasm_simd128__
#include <wasm_simd128.h>
#endif

#include "velmor.hpp"

#define VELMOR_EXPORT extern "C" __attribute__((used, visibility("default")))

namespace {

std::string out;

std::string_view text(const char* p, std::size_t n) { return {p == nullptr ? "" : p, n}; }

int finish(velmor::Result<std::string>&& r) {
  if (r) {
    out = std::move(r.value());
    return 0;
  }
  if (r.error().kind == velmor::Error::Kind::OutOfMemory) {
    out.clear();
    return 2;
  }
  out = r.error().render();
  return 1;
}

}  // namespace

// The C library's memcmp compares a byte a step. The core hands it the long texts it compares
// (keys and string values past sixteen bytes, most of them equal in a diff), so here the module
// has its own, sixteen bytes a step; bcmp (what the compiler makes of an equality test) with it.
extern "C" __attribute__((noinline)) int memcmp(const void* a, const void* b, std::size_t n) {
  auto p = static_cast<const unsigned char*>(a);
  auto q = static_cast<const unsigned char*>(b);
  std::size_t i = 0;
#ifdef __wasm_simd128__
  for (; i + 16 <= n; i += 16) {
    int differ = wasm_i8x16_bitmask(wasm_i8x16_ne(wasm_v128_load(p + i), wasm_v128_load(q + i)));
    if (differ != 0) {
      i += static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(differ)));
      return p[i] - q[i];
    }
  }
#endif
  for (; i < n; ++i)
    if (p[i] != q[i]) return p[i] - q[i];
  return 0;
}

extern "C" int bcmp(const void* a, const void* b, std::size_t n) { return memcmp(a, b, n); }

VELMOR_EXPORT void* velmor_alloc(std::size_t n) { return std::malloc(n == 0 ? 1 : n); }
VELMOR_EXPORT void velmor_free(void* p) { std::free(p); }

// Bytes the allocator has handed out and not had back: what a leak would make grow.
VELMOR_EXPORT std::size_t velmor_heap_used() { return mallinfo().uordblks; }

// Whether the bytes hold U+FFFD (EF BF BD). TextEncoder writes it for a lone surrogate, so only a
// text whose bytes hold it needs the (slower) look for one on the JavaScript side.
VELMOR_EXPORT int velmor_has_replacement(const char* bytes, std::size_t n) {
  auto p = reinterpret_cast<const unsigned char*>(bytes);
  auto at = [&](std::size_t i) { return p[i] == 0xEF && i + 2 < n && p[i + 1] == 0xBF && p[i + 2] == 0xBD; };
  std::size_t i = 0;
#ifdef __wasm_simd128__
  const v128_t lead = wasm_i8x16_splat(static_cast<std::int8_t>(0xEF));
  for (; i + 16 <= n; i += 16) {
    if (!wasm_v128_any_true(wasm_i8x16_eq(wasm_v128_load(p + i), lead))) continue;
    for (std::size_t j = i; j < i + 16; ++j)
      if (at(j)) return 1;
  }
#endif
  for (; i < n; ++i)
    if (at(i)) return 1;
  return 0;
}

// Text between JavaScript's strings (UTF-16) and the core's UTF-8, for the hosts where the code
// units can be copied in and out of the module's memory in one step (Node's Buffer): each is far
// cheaper there than the host's own UTF-8 conversion of a text that is not all ASCII.

// Writes `units` UTF-16 code units as UTF-8 at `bytes` (room for three bytes a unit) and returns
// the number of bytes written, or SIZE_MAX at a lone surrogate (which has no UTF-8 form).
VELMOR_EXPORT std::size_t velmor_utf16_to_utf8(const char16_t* units, std::size_t n, char* bytes) {
  auto out = reinterpret_cast<unsigned char*>(bytes);
  std::size_t i = 0;
  while (i < n) {
#ifdef __wasm_simd128__
    // Sixteen ASCII units a step.
    const v128_t high = wasm_i16x8_splat(static_cast<std::int16_t>(0xFF80));
    while (i + 16 <= n) {
      v128_t a = wasm_v128_load(units + i), b = wasm_v128_load(units + i + 8);
      if (wasm_v128_any_true(wasm_v128_and(wasm_v128_or(a, b), high))) break;
      wasm_v128_store(out, wasm_u8x16_narrow_i16x8(a, b));
      out += 16;
      i += 16;
    }
    std::size_t stop = i + 16 < n ? i + 16 : n;
#else
    std::size_t stop = n;
#endif
    for (; i < stop; ++i) {
      std::uint32_t c = units[i];
      if (c < 0x80) {
        *out++ = static_cast<unsigned char>(c);
      } else if (c < 0x800) {
        *out++ = static_cast<unsigned char>(0xC0 | (c >> 6));
        *out++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
      } else if (c < 0xD800 || c > 0xDFFF) {
        *out++ = static_cast<unsigned char>(0xE0 | (c >> 12));
        *out++ = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
        *out++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
      } else {
        std::uint32_t low = i + 1 < n ? units[i + 1] : 0;
        if (c > 0xDBFF || low < 0xDC00 || low > 0xDFFF) return SIZE_MAX;
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        *out++ = static_cast<unsigned char>(0xF0 | (c >> 18));
        *out++ = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
        *out++ = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
        *out++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
        ++i;
      }
    }
  }
  return static_cast<std::size_t>(out - reinterpret_cast<unsigned char*>(bytes));
}

// Writes UTF-8 `bytes` as UTF-16 code units at `units` (room for one unit a byte) and returns the
// number of units written, or SIZE_MAX where the bytes are not UTF-8 (what a fatal TextDecoder
// refuses: overlong forms, surrogates, past U+10FFFF, a sequence cut short).
VELMOR_EXPORT std::size_t velmor_utf8_to_utf16(const char* bytes, std::size_t n, char16_t* units) {
  auto p = reinterpret_cast<const unsigned char*>(bytes);
  char16_t* out = units;
  std::size_t i = 0;
  auto tail = [&](std::size_t at) { return at < n && (p[at] & 0xC0) == 0x80; };
  while (i < n) {
#ifdef __wasm_simd128__
    while (i + 16 <= n) {
      v128_t v = wasm_v128_load(p + i);
      if (wasm_i8x16_bitmask(v) != 0) break;
      wasm_v128_store(out, wasm_u16x8_extend_low_u8x16(v));
      wasm_v128_store(out + 8, wasm_u16x8_extend_high_u8x16(v));
      out += 16;
      i += 16;
    }
    std::size_t stop = i + 16 < n ? i + 16 : n;
#else
    std::size_t stop = n;
#endif
    while (i < stop) {
      std::uint32_t c = p[i];
      if (c < 0x80) {
        *out++ = static_cast<char16_t>(c);
        i += 1;
      } else if (c >= 0xC2 && c <= 0xDF) {
        if (!tail(i + 1)) return SIZE_MAX;
        *out++ = static_cast<char16_t>(((c & 0x1F) << 6) | (p[i + 1] & 0x3F));
        i += 2;
      } else if (c >= 0xE0 && c <= 0xEF) {
        if (!tail(i + 1) || !tail(i + 2)) return SIZE_MAX;
        std::uint32_t u = ((c & 0x0F) << 12) | ((p[i + 1] & 0x3F) << 6) | (p[i + 2] & 0x3F);
        if (u < 0x800 || (u >= 0xD800 && u <= 0xDFFF)) return SIZE_MAX;
        *out++ = static_cast<char16_t>(u);
        i += 3;
      } else if (c >= 0xF0 && c <= 0xF4) {
        if (!tail(i + 1) || !tail(i + 2) || !tail(i + 3)) return SIZE_MAX;
        std::uint32_t u = ((c & 0x07) << 18) | ((p[i + 1] & 0x3F) << 12) | ((p[i + 2] & 0x3F) << 6)
                          | (p[i + 3] & 0x3F);
        if (u < 0x10000 || u > 0x10FFFF) return SIZE_MAX;
        u -= 0x10000;
        *out++ = static_cast<char16_t>(0xD800 + (u >> 10));
        *out++ = static_cast<char16_t>(0xDC00 + (u & 0x3FF));
        i += 4;
      } else {
        return SIZE_MAX;
      }
    }
  }
  return static_cast<std::size_t>(out - units);
}

VELMOR_EXPORT const char* velmor_out_data() { return out.data(); }
VELMOR_EXPORT std::size_t velmor_out_size() { return out.size(); }
// Gives the output's memory back (a large output would otherwise stay held until the next call).
VELMOR_EXPORT void velmor_out_release() { std::string().swap(out); }

VELMOR_EXPORT int velmor_diff(const char* old_tree, std::size_t old_size, const char* new_tree,
                              std::size_t new_size) {
  return finish(velmor::diff_json(text(old_tree, old_size), text(new_tree, new_size)));
}

VELMOR_EXPORT int velmor_apply(const char* root, std::size_t root_size, const char* patch,
                               std::size_t patch_size) {
  return finish(velmor::apply_json(text(root, root_size), text(patch, patch_size)));
}

// `rev` comes in two 32-bit halves: a 64-bit parameter would need BigInt support from the
// JavaScript glue.
VELMOR_EXPORT int velmor_encode_frame(const char* payload, std::size_t payload_size,
                                      const char* model_type, std::size_t model_type_size,
                                      const char* kind, std::size_t kind_size, std::uint32_t rev_low,
                                      std::uint32_t rev_high, const char* codec,
                                      std::size_t codec_size) {
  std::uint64_t rev = (std::uint64_t(rev_high) << 32) | rev_low;
  return finish(velmor::encode_frame(text(payload, payload_size), text(model_type, model_type_size),
                                     text(kind, kind_size), rev, text(codec, codec_size)));
}

VELMOR_EXPORT int velmor_decode_frame(const char* frame, std::size_t frame_size) {
  return finish(velmor::decode_frame(text(frame, frame_size)));
}

VELMOR_EXPORT int velmor_parse_cem(const char* manifest, std::size_t manifest_size) {
  return finish(velmor::parse_cem(text(manifest, manifest_size)));
}
