// Rendering of core errors.
#include "velmor.hpp"

namespace velmor {

std::string Error::render() const {
  if (line == 0) return message;
  std::string out = message;
  out += " at line ";
  out += std::to_string(line);
  out += " column ";
  out += std::to_string(column);
  return out;
}

}  // namespace velmor
