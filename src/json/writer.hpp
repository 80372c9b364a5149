// The canonical JSON writer: compact output appended to one growing buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace velmor::json {

// A double-quoted string: `"` and `\` escaped, \b \t \n \f \r by name, other bytes below 0x20 as
// \u00XX (lowercase hex), everything else (including '/', DEL and non-ASCII) as it is.
void write_string(std::string& out, std::string_view s);
// The number of bytes write_string appends for `s`.
std::size_t string_size(std::string_view s);
void write_u64(std::string& out, std::uint64_t v);
void write_i64(std::string& out, std::int64_t v);
// The shortest digits that read back as the same double: positional for decimal exponents
// -5..15 (always with a digit after the point), otherwise d[.ddd]e±X; non-finite values as null.
void write_f64(std::string& out, double v);

}  // namespace velmor::json
