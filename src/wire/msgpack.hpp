// MessagePack payloads read back from every marker that has a JSON meaning. (Writing is done
// by the JSON walk, json_walk.hpp.)
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "json/reader.hpp"

namespace velmor::wire {

// Nesting of arrays, maps and ext values that reading allows: the 1024th level fails.
inline constexpr int kMsgpackMaxDepth = 1023;

// Appends the MessagePack value at the start of `bytes` to `out` as canonical JSON text (object
// members in ascending byte order of their keys, the last of a repeated key kept); whatever
// follows the value is ignored. Errors are thrown as json::ReadError: MessagePack errors without
// a position, in the order a reader meets them, and then, for a value whose arrays and maps nest
// deeper than json::kMaxDepth, "recursion limit exceeded" at the place in the canonical text
// (counted from where it starts in `out`) where a JSON reader of that text would stop. `bytes`
// must be shorter than 2^32, as a frame's payload is.
void msgpack_to_json(std::string_view bytes, std::string& out);

}  // namespace velmor::wire
