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

VELMOR_EXPORT void* velmor_alloc(std::size_t n) { return std::malloc(n == 0 ? 1 : n); }
VELMOR_EXPORT void velmor_free(void* p) { std::free(p); }

// Bytes the allocator has handed out and not had back: what a leak would make grow.
VELMOR_EXPORT std::size_t velmor_heap_used() { return mallinfo().uordblks; }

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
