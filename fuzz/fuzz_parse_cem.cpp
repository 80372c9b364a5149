// Fuzz target: a manifest text. Either a JSON list of schemas comes back or one error.
#include <cstdint>
#include <string_view>

#include "fuzz_input.hpp"
#include "velmor.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view manifest(reinterpret_cast<const char*>(data), size);
  if (!fuzz::valid_utf8(manifest)) return 0;  // manifests arrive as Python str
  auto schemas = velmor::parse_cem(manifest);
  if (schemas && (schemas.value().empty() || schemas.value().front() != '[')) {
    fuzz::fail("parse_cem gave no list", schemas.value());
  }
  return 0;
}
