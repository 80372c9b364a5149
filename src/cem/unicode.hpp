// The Unicode data that schema derivation needs: the full upper-case mapping and White_Space.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velmor::cem {

// Appends the full upper case of `cp` (one to three code points) to `out` as UTF-8.
void append_upper(std::string& out, char32_t cp);

// `s` without its leading and trailing White_Space characters.
std::string_view trim_white(std::string_view s);

// The code point that starts at `s[i]` (i < s.size()) and its length in bytes. A byte that does
// not start a well-formed sequence gives {that byte, 1, false}, so any input walks safely.
struct Decoded {
  char32_t cp;
  std::size_t length;
  bool valid;
};
Decoded decode_utf8(std::string_view s, std::size_t i);

}  // namespace velmor::cem
