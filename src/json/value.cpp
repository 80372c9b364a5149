// Reading, writing and comparing generic JSON values.
#include "json/value.hpp"

#include "json/writer.hpp"

namespace velmor::json {

Value read_value(Reader& r, Objects objects, Arena& into) {
  int c = r.peek();
  switch (c) {
    case -1:
      r.fail_next("EOF while parsing a value");
    case 'n':
      r.null();
      return {Null{}};
    case 't':
    case 'f':
      return {r.boolean()};
    case '"':
      return {r.string_literal()};
    case '[': {
      Scratch& s = r.scratch();
      std::size_t mark = s.mark();
      r.array([&](Reader::Seq& seq) {
        while (r.next_element(seq)) s.push(read_value(r, objects, into));
      });
      return {s.pop<Value>(into, mark)};
    }
    case '{': {
      Scratch& s = r.scratch();
      std::size_t mark = s.mark();
      r.object([&](std::string_view key) {
        r.colon();
        s.push(Member{key, read_value(r, objects, into)});
      });
      Object members = s.pop<Member>(into, mark);
      if (objects == Objects::Canonical) sort_members(members);
      return {members};
    }
    default:
      if (c == '-' || (c >= '0' && c <= '9')) {
        Number n = r.number();
        switch (n.kind) {
          case Number::Kind::Uint: return {Uint{n.u}};
          case Number::Kind::Neg: return {Neg{n.i}};
          case Number::Kind::Float: return {n.f};
        }
      }
      r.fail_next("expected value");
  }
}

Value copy_canonical(Arena& arena, const Value& v) {
  if (const auto* a = std::get_if<Array>(&v.v)) {
    if (a->empty()) return v;
    Array out(arena.allocate_array<Value>(a->size()), a->size());
    for (std::size_t i = 0; i < a->size(); ++i) out[i] = copy_canonical(arena, (*a)[i]);
    return {out};
  }
  if (const auto* o = std::get_if<Object>(&v.v)) {
    if (o->empty()) return v;
    Object out(arena.allocate_array<Member>(o->size()), o->size());
    for (std::size_t i = 0; i < o->size(); ++i) out[i] = Member{(*o)[i].key, copy_canonical(arena, (*o)[i].value)};
    sort_members(out);
    return {out};
  }
  return v;
}

void write(Out& out, const Value& v) {
  switch (v.v.index()) {
    case 0: out += "null"; return;
    case 1: out += std::get<bool>(v.v) ? "true" : "false"; return;
    case 2: write_u64(out, std::get<Uint>(v.v).v); return;
    case 3: write_i64(out, std::get<Neg>(v.v).v); return;
    case 4: write_f64(out, std::get<double>(v.v)); return;
    case 5: write_string(out, std::get<std::string_view>(v.v)); return;
    case 6: {
      out.push_back('[');
      bool first = true;
      for (const Value& e : std::get<Array>(v.v)) {
        if (!first) out.push_back(',');
        first = false;
        write(out, e);
      }
      out.push_back(']');
      return;
    }
    default: {
      out.push_back('{');
      bool first = true;
      for (const Member& m : std::get<Object>(v.v)) {
        if (!first) out.push_back(',');
        first = false;
        write_string(out, m.key);
        out.push_back(':');
        write(out, m.value);
      }
      out.push_back('}');
      return;
    }
  }
}

bool equal(const Value& a, const Value& b) {
  if (a.v.index() != b.v.index()) return false;
  switch (a.v.index()) {
    case 0: return true;
    case 1: return std::get<bool>(a.v) == std::get<bool>(b.v);
    case 2: return std::get<Uint>(a.v).v == std::get<Uint>(b.v).v;
    case 3: return std::get<Neg>(a.v).v == std::get<Neg>(b.v).v;
    case 4: return std::get<double>(a.v) == std::get<double>(b.v);
    case 5: return std::get<std::string_view>(a.v) == std::get<std::string_view>(b.v);
    case 6: {
      const Array& x = std::get<Array>(a.v);
      const Array& y = std::get<Array>(b.v);
      if (x.size() != y.size()) return false;
      for (std::size_t i = 0; i < x.size(); ++i) {
        if (!equal(x[i], y[i])) return false;
      }
      return true;
    }
    default: {
      const Object& x = std::get<Object>(a.v);
      const Object& y = std::get<Object>(b.v);
      if (x.size() != y.size()) return false;
      for (std::size_t i = 0; i < x.size(); ++i) {
        if (x[i].key != y[i].key || !equal(x[i].value, y[i].value)) return false;
      }
      return true;
    }
  }
}

std::string describe(const Value& v) {
  switch (v.v.index()) {
    case 0: return "null";
    case 1: return std::get<bool>(v.v) ? "boolean `true`" : "boolean `false`";
    case 2: return describe(Number{Number::Kind::Uint, std::get<Uint>(v.v).v, 0, 0});
    case 3: return describe(Number{Number::Kind::Neg, 0, std::get<Neg>(v.v).v, 0});
    case 4: return describe(Number{Number::Kind::Float, 0, 0, std::get<double>(v.v)});
    case 5: return describe_string(std::get<std::string_view>(v.v));
    case 6: return "sequence";
    default: return "map";
  }
}

}  // namespace velmor::json
