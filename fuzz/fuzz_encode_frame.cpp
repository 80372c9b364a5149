// Fuzz target: a payload text framed with both codecs. A frame that encodes must decode, and the
// two codecs must agree on the normalised payload whenever the payload is JSON.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_input.hpp"
#include "velmor.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view payload(reinterpret_cast<const char*>(data), size);
  if (!fuzz::valid_utf8(payload)) return 0;  // payloads arrive as Python str
  auto msgpack = velmor::encode_frame(payload, "m", "patch", 7, "application/msgpack");
  auto json = velmor::encode_frame(payload, "m", "snapshot", 7, "application/json");
  if (!json) fuzz::fail("the JSON codec refused a payload", json.error().render());
  auto from_json = velmor::decode_frame(json.value());
  if (!msgpack) {
    if (from_json) fuzz::fail("MessagePack refused a payload that reads as JSON", msgpack.error().render());
    return 0;
  }
  auto from_msgpack = velmor::decode_frame(msgpack.value());
  if (!from_msgpack) fuzz::fail("a MessagePack frame does not decode", from_msgpack.error().render());
  if (!from_json) fuzz::fail("a payload that MessagePack read is not JSON", from_json.error().render());
  // The two decodes differ only in their kind member.
  std::string a = from_msgpack.value(), b = from_json.value();
  const std::string patch = R"({"kind":"patch",)", snapshot = R"({"kind":"snapshot",)";
  if (a.rfind(patch, 0) != 0 || b.rfind(snapshot, 0) != 0 || a.substr(patch.size()) != b.substr(snapshot.size())) {
    fuzz::fail("the codecs disagree", a + "\n" + b);
  }
  return 0;
}
