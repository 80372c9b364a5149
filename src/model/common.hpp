// Shared pieces of the data model: texts and ordered maps.
#pragma once

#include <string_view>

#include "arena.hpp"
#include "json/reader.hpp"
#include "json/value.hpp"
#include "text.hpp"

namespace velmor {

// Texts are UTF-8 views into the input text or into the call's arena.
using Text = std::string_view;

template <class T>
struct Entry {
  Text key;
  T value;
};

// An ordered map keyed by text: entries in ascending byte order of their keys, each key once.
template <class T>
using Map = ArenaVec<Entry<T>>;

// The entry of `key`, or nullptr (binary search by exact bytes).
template <class T>
const Entry<T>* find(const Map<T>& map, Text key) {
  const Entry<T>* lo = map.begin();
  const Entry<T>* hi = map.end();
  while (lo < hi) {
    const Entry<T>* mid = lo + (hi - lo) / 2;
    int c = compare(mid->key, key);
    if (c == 0) return mid;
    if (c < 0) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return nullptr;
}

// The next value must open a container (`open`: '{' or '['); otherwise the error for what was
// wanted ("a map", "a sequence").
inline void expect_container(json::Reader& r, char open, std::string_view wanted) {
  int c = r.peek();
  if (c != open) {
    if (c < 0) r.fail_next("EOF while parsing a value");
    r.invalid_type(wanted);
  }
}

// Reads an object into a map; a repeated key keeps its last value.
template <class T, class F>
Map<T> read_map(json::Reader& r, F&& read_item) {
  expect_container(r, '{', "a map");
  Scratch& s = r.scratch();
  std::size_t mark = s.mark();
  r.object([&](std::string_view key) {
    r.colon();
    T value = read_item(r);
    s.push(Entry<T>{key, value});
  });
  Map<T> map = s.pop<Entry<T>>(r.arena(), mark);
  json::sort_members(map);
  return map;
}

// Reads an array into a list.
template <class T, class F>
ArenaVec<T> read_list(json::Reader& r, F&& read_item) {
  expect_container(r, '[', "a sequence");
  Scratch& s = r.scratch();
  std::size_t mark = s.mark();
  r.array([&](json::Reader::Seq& seq) {
    while (r.next_element(seq)) {
      T value = read_item(r);
      s.push(value);
    }
  });
  return s.pop<T>(r.arena(), mark);
}

}  // namespace velmor
