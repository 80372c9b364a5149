// Frame entry points (not yet built).
#include "velmor.hpp"

namespace velmor {

Result<std::string> encode_frame(std::string_view, std::string_view, std::string_view, std::uint64_t,
                                 std::string_view) {
  return Error{"encode_frame is not available yet"};
}

Result<std::string> decode_frame(std::string_view) {
  return Error{"decode_frame is not available yet"};
}

}  // namespace velmor
