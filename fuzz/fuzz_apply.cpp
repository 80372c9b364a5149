// Fuzz target: a tree text and a patch text, including patches that do not fit the tree. Either
// the patch applies and the result is a canonical tree, or one error comes back. The tree is also
// written with and without copying the property entries whose text was read as canonical: both
// must give the same bytes.
#include <cstdint>
#include <string_view>

#include "call.hpp"
#include "fuzz_input.hpp"
#include "json/writer.hpp"
#include "model/node.hpp"
#include "velmor.hpp"

namespace {

// Forgets every entry's text, so that the writer writes each value itself.
void forget_texts(velmor::PropMap& map) {
  for (velmor::Entry<velmor::PropValue>& e : map) {
    e.value.text_size = 0;
    if (auto* inner = std::get_if<velmor::PropMap>(&e.value.v)) forget_texts(*inner);
  }
}

void forget_texts(velmor::Node& n) {
  velmor::NodeMaps* m = n.maps_if_any();
  if (m == nullptr) return;
  forget_texts(m->props);
  for (velmor::Entry<velmor::Children>& slot : m->slots) {
    for (velmor::Node& child : slot.value) forget_texts(child);
  }
}

void check_copies(std::string_view text) {
  velmor::Arena arena;
  velmor::Node root;
  velmor::Error error;
  if (!velmor::read_text(text, arena, root, error, velmor::read_node_text)) return;
  velmor::json::Out copied;
  velmor::write(copied, root);
  forget_texts(root);
  velmor::json::Out written;
  velmor::write(written, root);
  if (copied.view() != written.view()) {
    fuzz::fail("copied entries differ from written ones", std::string(copied.view()));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto [root, patch] = fuzz::split(data, size);
  check_copies(root);
  auto result = velmor::apply_json(root, patch);
  if (!result) return 0;
  // The result is canonical: applying an empty patch writes it back byte for byte.
  auto again = velmor::apply_json(result.value(), R"({"ops":[]})");
  if (!again || again.value() != result.value()) {
    fuzz::fail("the result of apply is not canonical", again ? again.value() : again.error().render());
  }
  return 0;
}
