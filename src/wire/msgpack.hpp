// MessagePack for frame payloads: generic JSON values written with the smallest marker and read
// back from every marker that has a JSON meaning.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "arena.hpp"
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

struct MsgpackValue {
  json::Value value;  // canonical; strings borrow the input bytes
  int depth;          // the deepest nesting of arrays and maps in it
};

// Reads the value at the start of `bytes`; whatever follows it is ignored. Errors are thrown as
// json::ReadError without a position.
MsgpackValue read_msgpack(std::string_view bytes, Arena& arena);

}  // namespace velmor::wire
