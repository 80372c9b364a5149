// Fuzz target: a tree text and a patch text, including patches that do not fit the tree. Either
// the patch applies and the result is a canonical tree, or one error comes back.
#include <cstdint>
#include <string_view>

#include "fuzz_input.hpp"
#include "velmor.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto [root, patch] = fuzz::split(data, size);
  auto result = velmor::apply_json(root, patch);
  if (!result) return 0;
  // The result is canonical: applying an empty patch writes it back byte for byte.
  auto again = velmor::apply_json(result.value(), R"({"ops":[]})");
  if (!again || again.value() != result.value()) {
    fuzz::fail("the result of apply is not canonical", again ? again.value() : again.error().render());
  }
  return 0;
}
