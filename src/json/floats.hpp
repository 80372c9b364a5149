// Conversions between decimal text and double, as the reader and the writer need them.
//
// Natively these are the standard library's std::from_chars and std::to_chars. Some C++ libraries
// (the one of the wasm32 toolchain among them) lack both for floating point; with
// VELMOR_FLOAT_FALLBACK the core uses its own exact implementations instead, which give the same
// results: correctly rounded reading (ties to even) and shortest round-trip writing (the nearest
// of the shortest digit strings, ties to even).
#pragma once

#include <charconv>

namespace velmor::json {

// The exact implementations, always built so that they can be checked against the native ones.
namespace fallback {

// Reads a decimal literal that has the form of a JSON number (an optional '-', digits, an
// optional fraction and an optional exponent) spanning [first, last). Gives the nearest double;
// a value too large for a double, or one that is not 0 but rounds to 0, sets
// std::errc::result_out_of_range and leaves `value` as it was. `ptr` is `last`.
std::from_chars_result from_chars(const char* first, const char* last, double& value);

// Writes finite `value` in scientific form with the shortest digits that read back as it, as
// std::to_chars(first, last, value, std::chars_format::scientific) does: "1.2345e+16", "5e-324",
// "-0e+00". Needs room for 24 bytes.
std::to_chars_result to_chars_scientific(char* first, char* last, double value);

}  // namespace fallback

inline std::from_chars_result read_double(const char* first, const char* last, double& value) {
#if VELMOR_FLOAT_FALLBACK
  return fallback::from_chars(first, last, value);
#else
  return std::from_chars(first, last, value);
#endif
}

inline std::to_chars_result write_double_scientific(char* first, char* last, double value) {
#if VELMOR_FLOAT_FALLBACK
  return fallback::to_chars_scientific(first, last, value);
#else
  return std::to_chars(first, last, value, std::chars_format::scientific);
#endif
}

}  // namespace velmor::json
