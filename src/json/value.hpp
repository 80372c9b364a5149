// The generic JSON value: kept as read, with numbers in their kind and objects as ordered maps.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "arena.hpp"
#include "json/reader.hpp"
#include "json/writer.hpp"
#include "text.hpp"

namespace velmor::json {

struct Value;
struct Member;

struct Null {};
struct Uint {
  std::uint64_t v;
};
struct Neg {
  std::int64_t v;  // always < 0
};
using Array = ArenaVec<Value>;
// Canonical objects hold their members in ascending byte order of the keys, each key once; raw
// objects (read for later interpretation) keep input order and repeated keys.
using Object = ArenaVec<Member>;

struct Value {
  std::variant<Null, bool, Uint, Neg, double, std::string_view, Array, Object> v;
};

struct Member {
  std::string_view key;
  Value value;
};

enum class Objects : std::uint8_t { Canonical, Raw };

// Reads one value at the cursor. Numbers are converted ("number out of range" for overflow).
// Arrays and objects go into `into` (strings with escapes into the reader's arena).
Value read_value(Reader& r, Objects objects, Arena& into);
inline Value read_value(Reader& r) { return read_value(r, Objects::Canonical, r.arena()); }

// A JSON value kept as its canonical text: compact, object members in ascending byte order of
// their names (the last of a repeated name kept), numbers and strings as the writer writes them.
// It takes the size of that text, where a Value takes 24 bytes a value and more. Two values are
// equal exactly when their canonical texts are, except that 0.0 equals -0.0.
struct Canonical {
  std::string_view text;
};

// Reads one value at the cursor, with the errors and positions of read_value(r), and keeps its
// canonical text in r.arena().
Canonical read_canonical(Reader& r);
void write(Out& out, const Canonical& v);
// Value equality (as equal() of the values read back).
bool equal(const Canonical& a, const Canonical& b);

// A canonical deep copy of `v` (objects sorted, the last of repeated keys kept) whose arrays
// live in `arena`; strings are shared.
Value copy_canonical(Arena& arena, const Value& v);

// Sorts the members of an object by key and keeps the last of each repeated key; false when
// they were not already in strictly ascending order.
template <class M>
bool sort_members(ArenaVec<M>& members);

void write(Out& out, const Value& v);
// Same kind and equal: floats by IEEE equality, arrays element-wise, objects member-wise.
// Both values must be canonical.
bool equal(const Value& a, const Value& b);
// FOUND text of an error: "null", "boolean `true`", "integer `5`", "string \"a\"", "sequence", "map".
std::string describe(const Value& v);

template <class M>
__attribute__((noinline)) void sort_unsorted_members(ArenaVec<M>& members);

template <class M>
inline bool sort_members(ArenaVec<M>& members) {
  // Most objects have one member, or a few already in order: those need no call.
  std::size_t n = members.size();
  for (std::size_t i = 1; i < n; ++i) {
    if (compare(members[i - 1].key, members[i].key) >= 0) {
      sort_unsorted_members(members);
      return false;
    }
  }
  return true;
}

// sort_members() once a pair out of order has been seen.
template <class M>
void sort_unsorted_members(ArenaVec<M>& members) {
  std::size_t n = members.size();
  if (n <= 16) {
    // Small objects (the usual case) sort in place without the merge buffer of stable_sort. An
    // element moving left stops at the first key not above its own, so a repeated key always
    // meets its twin there, and only then do repeated keys need to be dropped.
    bool repeated = false;
    for (std::size_t i = 1; i < n; ++i) {
      M m = members[i];
      std::size_t j = i;
      for (; j > 0; --j) {
        int c = compare(m.key, members[j - 1].key);
        if (c >= 0) {
          repeated |= c == 0;
          break;
        }
        members[j] = members[j - 1];
      }
      members[j] = m;
    }
    if (!repeated) return;
  } else {
    std::stable_sort(members.begin(), members.end(),
                     [](const M& a, const M& b) { return less(a.key, b.key); });
  }
  // Within a run of equal keys the input order survived; keep the last one.
  std::size_t out = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (i + 1 < n && same(members[i].key, members[i + 1].key)) continue;
    members[out++] = members[i];
  }
  members.resize_down(out);
}

}  // namespace velmor::json
