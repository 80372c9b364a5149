// What every core entry point does at its boundary: reading errors and allocation failures
// become core Errors; nothing is thrown further.
#pragma once

#include <new>
#include <stdexcept>
#include <string_view>

#include "arena.hpp"
#include "json/reader.hpp"
#include "velmor.hpp"

namespace velmor {

// The Error for a ReadError raised while reading `text`.
inline Error read_error(std::string_view text, json::ReadError&& e) {
  Error err;
  err.message = std::move(e.message);
  if (e.pos != json::kNoPos) {
    json::LineColumn lc = json::line_column(text, e.pos);
    err.line = lc.line;
    err.column = lc.column;
  }
  return err;
}

inline Error out_of_memory() {
  Error err;
  err.message = "out of memory";
  err.kind = Error::Kind::OutOfMemory;
  return err;
}

// Reads `text` with `read(reader)`; on failure stores the error and returns false.
template <class T, class F>
bool read_text(std::string_view text, Arena& arena, T& out, Error& error, F&& read,
               bool check_utf8 = false) {
  json::Reader r(text, arena, check_utf8);
  try {
    out = read(r);
    return true;
  } catch (json::ReadError& e) {
    error = read_error(text, std::move(e));
    return false;
  }
}

// Runs a whole entry point, turning allocation failures into an Error. The body returns a
// Result or an optional Error.
template <class F>
auto guarded(F&& body) -> decltype(body()) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return out_of_memory();
  } catch (const std::length_error&) {
    return out_of_memory();
  }
}

}  // namespace velmor
