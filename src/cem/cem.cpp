// Manifest reading and schema derivation (not yet built).
#include "velmor.hpp"

namespace velmor {

Result<std::string> parse_cem(std::string_view) {
  return Error{"parse_cem is not available yet"};
}

}  // namespace velmor
