// JSON text rewritten canonically (as JSON again, or as MessagePack) in two walks, with no value
// built in memory.
//
// The first walk reads the text with the JSON reader, so every reading error comes with its
// usual text and position, and notes only what the second walk cannot see as it goes: the
// objects whose keys are not in ascending byte order (or repeat), with the offsets of the keys
// that survive in output order, and, for MessagePack, the arrays and objects of 16 elements or
// more, whose heads are longer than a byte. The second walk goes over the text that the first
// accepted and hands every value to an emitter. Working memory is four bytes for each member of
// the objects open at a time, what the noted objects keep, and a bit for each byte of text; strings with escapes are decoded
// into the arena and released right after use. Offsets are 32-bit, so texts are limited to
// 4 GiB, as a frame's payload is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "arena.hpp"
#include "json/reader.hpp"

namespace velmor::wire {

// An object whose members are written in another order than read.
struct JsonReorder {
  std::uint32_t at;     // offset of its `{`
  std::uint32_t end;    // offset just after its `}`
  std::uint32_t first;  // where its key offsets start in `JsonPlan::keys`
  std::uint32_t count;  // members written: one per distinct key
};

// An array or object (in order) of 16 elements or more.
struct JsonCount {
  std::uint32_t at;
  std::uint32_t count;
};

struct JsonPlan {
  std::vector<JsonReorder> reorders;  // ascending `at`
  std::vector<std::uint32_t> keys;    // offsets of the keys' opening quotes
  std::vector<JsonCount> counts;      // ascending `at`; only filled when asked for
  std::uint64_t msgpack_size = 0;     // at least the MessagePack size, when counts were asked for
  // One bit for each byte of the text, set where a container with an entry above opens (empty
  // when there is none), so that the second walk looks up only those.
  std::vector<std::uint64_t> marked;

  bool has_entry(std::uint32_t at) const {
    return !marked.empty() && (marked[at >> 6] >> (at & 63) & 1) != 0;
  }
};

// The first walk: one JSON value at the reader's cursor, which must then be followed only by
// whitespace. Reading errors are thrown as by json::read_value. `text` is the reader's whole text.
JsonPlan plan_json(json::Reader& r, std::string_view text, bool msgpack);

// The second walk over the text that plan_json accepted with this plan, appending the value to
// `out` as canonical JSON (compact, members in ascending key order, the last of a repeated key
// kept, numbers rewritten from their kind and value).
void write_json(std::string_view text, const JsonPlan& plan, Arena& arena, std::string& out);

// The same, as MessagePack with the smallest marker for every value; the plan must have been
// made with `msgpack` set.
void write_msgpack(std::string_view text, const JsonPlan& plan, Arena& arena, std::string& out);

}  // namespace velmor::wire
