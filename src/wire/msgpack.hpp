// MessagePack for frame payloads: generic JSON values written with the smallest marker and read
// back from every marker that has a JSON meaning.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "json/reader.hpp"
#include "json/value.hpp"

namespace velmor::wire {

// Nesting of arrays, maps and ext values that reading allows: the 1024th level fails.
inline constexpr int kMsgpackMaxDepth = 1023;

// Reads one JSON value at the reader's cursor, which must be followed only by whitespace, and
// appends it to `out` as MessagePack: the smallest marker for every value, object members in
// ascending byte order of their keys (the last of a repeated key kept). Reading errors are
// thrown as by json::read_value. `text_size`, the length of the reader's text, sizes the working
// memory. Strings and containers must be shorter than 2^32, which holds whenever the output
// fits a frame.
void json_to_msgpack(json::Reader& r, std::size_t text_size, std::string& out);

// Appends the MessagePack value at the start of `bytes` to `out` as canonical JSON text (object
// members in ascending byte order of their keys, the last of a repeated key kept); whatever
// follows the value is ignored. Errors are thrown as json::ReadError: MessagePack errors without
// a position, in the order a reader meets them, and then, for a value whose arrays and maps nest
// deeper than json::kMaxDepth, "recursion limit exceeded" at the place in the canonical text
// (counted from where it starts in `out`) where a JSON reader of that text would stop. `bytes`
// must be shorter than 2^32, as a frame's payload is.
void msgpack_to_json(std::string_view bytes, std::string& out);

}  // namespace velmor::wire
