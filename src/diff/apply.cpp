// Patch application (not yet built).
#include "velmor.hpp"

namespace velmor {

Result<std::string> apply_json(std::string_view, std::string_view) {
  return Error{"apply is not available yet"};
}

}  // namespace velmor
