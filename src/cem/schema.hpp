// Deriving component schemas from a manifest and writing them as JSON.
#pragma once

#include <string>

#include "cem/manifest.hpp"

namespace velmor::cem {

// Appends the JSON list of schemas, one per custom element with a tag name, in manifest order.
void write_schemas(std::string& out, const Manifest& manifest);

}  // namespace velmor::cem
