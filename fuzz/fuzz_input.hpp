// Helpers shared by the fuzz targets.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>

#include "json/utf8.hpp"

namespace fuzz {

// Two texts from one input: they are separated by the first NUL byte (no JSON text holds one
// raw); without one, the second text is empty.
inline std::pair<std::string_view, std::string_view> split(const std::uint8_t* data, std::size_t size) {
  std::string_view all(reinterpret_cast<const char*>(data), size);
  std::size_t cut = all.find('\0');
  if (cut == std::string_view::npos) return {all, {}};
  return {all.substr(0, cut), all.substr(cut + 1)};
}

inline bool valid_utf8(std::string_view s) { return !velmor::json::check_utf8(s).has_value(); }

[[noreturn]] inline void fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "invariant broken: %s\n%s\n", what, detail.c_str());
  std::abort();
}

}  // namespace fuzz
