// Fuzz target: a pair of tree texts. When both read, the patch must apply to the old tree, and the
// result must differ from the new tree by nothing (diffing them again gives no operations).
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "fuzz_input.hpp"
#include "velmor.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto [old_text, new_text] = fuzz::split(data, size);
  auto patch = velmor::diff_json(old_text, new_text);
  if (!patch) return 0;
  auto applied = velmor::apply_json(old_text, patch.value());
  if (!applied) fuzz::fail("a patch from diff does not apply", applied.error().render());
  auto again = velmor::diff_json(applied.value(), new_text);
  if (!again || again.value() != R"({"ops":[]})") {
    fuzz::fail("applying the patch does not give the new tree", again ? again.value() : again.error().render());
  }
  return 0;
}
