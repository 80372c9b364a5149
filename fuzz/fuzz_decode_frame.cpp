// Fuzz target: arbitrary bytes as a frame. Either a JSON object comes back, which decodes the
// same after being framed again, or one error.
#include <cstdint>
#include <string_view>

#include "fuzz_input.hpp"
#include "velmor.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view frame(reinterpret_cast<const char*>(data), size);
  auto decoded = velmor::decode_frame(frame);
  if (!decoded) return 0;
  if (decoded.value().empty() || decoded.value().front() != '{') fuzz::fail("decode_frame gave no object", decoded.value());
  return 0;
}
