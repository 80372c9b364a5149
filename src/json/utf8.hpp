// UTF-8 validation with the fault description that byte payloads report, and encoding.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace velmor::json {

struct Utf8Fault {
  std::size_t valid_up_to;  // bytes before the faulty sequence
  std::size_t length;       // bytes of the invalid sequence; 0 when the input ends inside it
};

// The first fault of `s`, or nothing when it is valid UTF-8.
std::optional<Utf8Fault> check_utf8(std::string_view s);

// "invalid utf-8 sequence of N bytes from index I" / "incomplete utf-8 byte sequence from index I"
std::string describe(const Utf8Fault& fault);

// Appends the UTF-8 encoding of the scalar value `cp`.
inline void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace velmor::json
