// UTF-8 validation with the fault description that byte payloads report.
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

}  // namespace velmor::json
