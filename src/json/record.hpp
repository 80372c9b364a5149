// Reading records: JSON objects (members by name, in any order) or arrays (fields in declared
// order) that stand for one record type.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "json/reader.hpp"
#include "text.hpp"

namespace velmor::json {

struct RecordSpec {
  std::string_view name;                     // "struct Node", "struct variant Op::SetProp"
  std::span<const std::string_view> fields;  // declared order
  unsigned required;                         // object form: bit i set = field i must be present
  unsigned array_required;                   // array form: bit i set = element i must be present
  NameTable table = NameTable(fields);       // the field names, for matching member names
};

// Reads the record at the cursor; `read_field(index)` reads the value of field `index`.
//
// Object form: unknown members are skipped (still checked as JSON), a repeated field is
// "duplicate field `NAME`", and after the closing brace the first missing required field in
// declared order is "missing field `NAME`". Array form: elements are the fields in order; after
// the closing bracket a missing required element is "invalid length I, expected NAME with N
// elements"; an element beyond the last field is "trailing characters". Anything else is
// "invalid type: FOUND, expected NAME".
template <class F>
void read_record(Reader& r, const RecordSpec& shape, F&& read_field) {
  const std::size_t n = shape.fields.size();
  int c = r.peek();
  if (c == '{') {
    unsigned seen = 0;
    const NameTable* names = &shape.table;
    r.object_fields(names, [&](std::size_t f, std::string_view key) {
      if (f == n) {
        r.colon();
        r.skip_value();
        return;
      }
      if (seen & (1u << f)) r.duplicate(key);
      seen |= 1u << f;
      r.colon();
      read_field(f);
    });
    for (std::size_t f = 0; f < n; ++f) {
      if ((shape.required & (1u << f)) && !(seen & (1u << f))) {
        r.fail_here("missing field `" + std::string(shape.fields[f]) + "`");
      }
    }
    return;
  }
  if (c == '[') {
    std::size_t count = 0;
    r.array([&](Reader::Seq& seq) {
      while (count < n && r.next_element(seq)) read_field(count++);
    });
    for (std::size_t f = count; f < n; ++f) {
      if (shape.array_required & (1u << f)) {
        r.fail_here("invalid length " + std::to_string(f) + ", expected " + std::string(shape.name) +
                    " with " + std::to_string(n) + (n == 1 ? " element" : " elements"));
      }
    }
    return;
  }
  if (c < 0) r.fail_next("EOF while parsing a value");
  r.invalid_type(shape.name);
}

}  // namespace velmor::json
