// MessagePack for frame payloads: generic JSON values written with the smallest marker and read
// back from every marker that has a JSON meaning.
#pragma once

#include <cstddef>
#include <string_view>

#include "arena.hpp"
#include "json/value.hpp"

namespace velmor::wire {

// Nesting of arrays, maps and ext values that reading allows: the 1024th level fails.
inline constexpr int kMsgpackMaxDepth = 1023;

// The number of bytes write_msgpack produces for `v`.
std::size_t msgpack_size(const json::Value& v);

// Writes `v` (canonical: object members in ascending key order) as MessagePack into `out`, which
// has room for msgpack_size(v) bytes, and returns the end. Every string and container must be
// shorter than 2^32, which holds whenever the whole payload fits a frame.
char* write_msgpack(char* out, const json::Value& v);

struct MsgpackValue {
  json::Value value;  // canonical; strings borrow the input bytes
  int depth;          // the deepest nesting of arrays and maps in it
};

// Reads the value at the start of `bytes`; whatever follows it is ignored. Errors are thrown as
// json::ReadError without a position.
MsgpackValue read_msgpack(std::string_view bytes, Arena& arena);

}  // namespace velmor::wire
