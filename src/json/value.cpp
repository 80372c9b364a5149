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

namespace {

// One member of an object being written canonically: its name, and where its text (name, colon
// and value, without a comma) lies in the output.
struct Span {
  std::string_view key;
  std::size_t begin;
  std::size_t end;
};

// read_value() with Objects::Canonical, step for step (so with the same errors at the same
// places), writing the value instead of building it.
void write_canonical(Reader& r, Out& out, std::string& spare) {
  int c = r.peek();
  switch (c) {
    case -1:
      r.fail_next("EOF while parsing a value");
    case 'n':
      r.null();
      out += "null";
      return;
    case 't':
    case 'f':
      out += r.boolean() ? "true" : "false";
      return;
    case '"':
      write_string(out, r.string_literal());
      return;
    case '[': {
      out.push_back('[');
      bool first = true;
      r.array([&](Reader::Seq& seq) {
        while (r.next_element(seq)) {
          if (!first) out.push_back(',');
          first = false;
          write_canonical(r, out, spare);
        }
      });
      out.push_back(']');
      return;
    }
    case '{': {
      Scratch& s = r.scratch();
      std::size_t mark = s.mark();
      std::size_t open = out.size() + 1;  // where the first member starts
      out.push_back('{');
      r.object([&](std::string_view key) {
        r.colon();
        if (s.count<Span>(mark) != 0) out.push_back(',');
        std::size_t begin = out.size();
        write_string(out, key);
        out.push_back(':');
        write_canonical(r, out, spare);
        s.push(Span{key, begin, out.size()});
      });
      std::size_t n = s.count<Span>(mark);
      Span* m = s.since<Span>(mark);
      ArenaVec<Span> members(m, n);
      bool sorted = true;
      for (std::size_t i = 1; i < n && sorted; ++i) sorted = compare(m[i - 1].key, m[i].key) < 0;
      if (!sorted) {
        sort_members(members);
        spare.assign(out.view().substr(open));
        out.resize_down(open);
        for (std::size_t i = 0; i < members.size(); ++i) {
          if (i != 0) out.push_back(',');
          out.append(spare.data() + (members[i].begin - open), members[i].end - members[i].begin);
        }
      }
      s.reset(mark);
      out.push_back('}');
      return;
    }
    default:
      if (c == '-' || (c >= '0' && c <= '9')) {
        Number n = r.number();
        switch (n.kind) {
          case Number::Kind::Uint: write_u64(out, n.u); return;
          case Number::Kind::Neg: write_i64(out, n.i); return;
          case Number::Kind::Float: write_f64(out, n.f); return;
        }
      }
      r.fail_next("expected value");
  }
}

}  // namespace

Canonical read_canonical(Reader& r) {
  Out& out = r.canonical_out();
  std::size_t start = out.size();
  std::size_t scratch = r.scratch().mark();
  try {
    write_canonical(r, out, r.canonical_spare());
  } catch (...) {
    out.resize_down(start);
    r.scratch().reset(scratch);
    throw;
  }
  Canonical v{r.arena().copy(out.view().substr(start))};
  out.resize_down(start);
  return v;
}

void write(Out& out, const Canonical& v) { out += v.text; }

bool equal(const Canonical& a, const Canonical& b) {
  if (a.text == b.text) return true;
  // Different canonical texts of equal values differ in the sign of a zero somewhere.
  constexpr std::string_view kNegativeZero = "-0.0";
  if (a.text.find(kNegativeZero) == std::string_view::npos &&
      b.text.find(kNegativeZero) == std::string_view::npos) {
    return false;
  }
  Arena arena;
  Reader ra(a.text, arena), rb(b.text, arena);
  return equal(read_value(ra), read_value(rb));
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
