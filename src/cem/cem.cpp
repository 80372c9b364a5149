// The parse_cem entry point: read the manifest, then derive and write the schemas.
#include "call.hpp"
#include "cem/manifest.hpp"
#include "cem/schema.hpp"
#include "velmor.hpp"

namespace velmor {

Result<std::string> parse_cem(std::string_view text) {
  return guarded([&]() -> Result<std::string> {
    Arena arena;
    cem::Manifest manifest;
    Error error;
    auto read = [](json::Reader& r) {
      cem::Manifest m = cem::read_manifest(r);
      r.finish();
      return m;
    };
    if (!read_text(text, arena, manifest, error, read)) return error;
    std::string out;
    out.reserve(text.size());
    cem::write_schemas(out, manifest);
    return out;
  });
}

}  // namespace velmor
