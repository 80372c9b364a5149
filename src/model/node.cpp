// Reading, writing and comparing trees, property values and bindings.
#include "model/node.hpp"

#include <cmath>
#include <cstring>
#include <iterator>

#include "json/record.hpp"
#include "json/writer.hpp"

namespace velmor {

namespace {

using json::Reader;

constexpr std::string_view kPropVariants[] = {"Null", "Bool", "Int", "Float",
                                              "Str",  "List", "Map", "Submodel"};
constexpr json::NameTable kPropTable{kPropVariants};
// What each variant's written form starts with, as one piece ("Null" is written whole).
constexpr std::string_view kPropOpen[] = {"\"Null\"",     "{\"Bool\":", "{\"Int\":",  "{\"Float\":",
                                          "{\"Str\":",     "{\"List\":[", "{\"Map\":{", "{\"Submodel\":"};
constexpr std::string_view kModes[] = {"one-way", "two-way"};
constexpr json::NameTable kModeTable{kModes};
constexpr std::string_view kNodeFields[] = {"tag", "key", "props", "slots", "events", "bindings"};
constexpr std::string_view kBindingFields[] = {"field", "compute", "mode"};

constexpr json::RecordSpec kNodeSpec{"struct Node", kNodeFields, 1, 1};
constexpr json::RecordSpec kBindingSpec{"struct Binding", kBindingFields, 4, 4};

Children read_children(Reader& r) { return read_list<Node>(r, read_node); }
PropMap read_prop_map(Reader& r);

// In line in read_node()'s record reader: the call per member would cost as much as the member.
// The maps are made on the first of them, in the arena, and filled in there.
__attribute__((always_inline)) inline void read_node_field(Reader& r, Node& n, std::size_t field) {
  switch (field) {
    case 0: n.set_tag(r.string()); break;
    case 1: {
      Text key;
      if (r.optional_string(key)) {
        n.set_key(key);
      } else {
        n.set_key(std::nullopt);
      }
      break;
    }
    case 2: {
      PropMap props = read_prop_map(r);
      n.maps_to_fill(r.arena()).props = props;
      break;
    }
    case 3: {
      Map<Children> slots = read_map<Children>(r, read_children);
      n.maps_to_fill(r.arena()).slots = slots;
      break;
    }
    case 4: {
      Map<Action> events = read_map<Action>(r, read_action);
      n.maps_to_fill(r.arena()).events = events;
      break;
    }
    default: {
      Map<Binding> bindings = read_map<Binding>(r, read_binding);
      n.maps_to_fill(r.arena()).bindings = bindings;
      break;
    }
  }
}

void read_binding_field(Reader& r, Binding& b, std::size_t field) {
  switch (field) {
    case 0: {
      Text f;
      if (r.optional_string(f)) {
        b.field = f;
      } else {
        b.field.reset();
      }
      break;
    }
    case 1:
      if (r.null()) {
        b.compute.reset();
      } else {
        b.compute = json::read_canonical(r);
      }
      break;
    default: b.mode = static_cast<BindingMode>(r.unit_variant(kModeTable)); break;
  }
}

void write_key(json::Out& out, std::string_view name) {
  out.push_back('"');
  out += name;
  out += "\":";
}

}  // namespace

Node read_node(Reader& r) {
  Node n{};
  // Whitespace in front of the node is part of its text here: equal texts still read as equal
  // nodes.
  const char* start = r.place().cur;
  json::read_record(r, kNodeSpec, [&](std::size_t f) { read_node_field(r, n, f); });
  n.drop_empty_maps();
  n.set_text(Text(start, static_cast<std::size_t>(r.place().cur - start)));
  return n;
}

Binding read_binding(Reader& r) {
  Binding b{};
  json::read_record(r, kBindingSpec, [&](std::size_t f) { read_binding_field(r, b, f); });
  return b;
}

Node read_node_text(Reader& r) {
  Node n = read_node(r);
  r.finish();
  return n;
}

namespace {

using PropVariant = decltype(PropValue::v);

// Where a value being read goes: a list element or the value of a map entry, at an offset in the
// reader's scratch stack.
template <class Slot>
PropValue* prop_slot(Scratch& s, std::size_t at) {
  if constexpr (std::is_same_v<Slot, PropValue>) {
    return s.at<PropValue>(at);
  } else {
    return &s.at<Slot>(at)->value;
  }
}

template <class Slot, std::size_t I, class A>
void put(Reader& r, std::size_t at, const A& a) {
  ::new (prop_slot<Slot>(r.scratch(), at)) PropValue{PropVariant(std::in_place_index<I>, a)};
}

template <class Slot>
void read_prop_value_at(Reader& r, std::size_t at);

PropList read_prop_list(Reader& r) {
  expect_container(r, '[', "a sequence");
  Scratch& s = r.scratch();
  std::size_t mark = s.mark();
  r.array([&](Reader::Seq& seq) {
    while (r.next_element(seq)) read_prop_value_at<PropValue>(r, s.claim<PropValue>());
  });
  return s.pop<PropValue>(r.arena(), mark);
}

// read_map() for property values, each entry built where the scratch stack keeps it. An entry
// read without a departure (see Reader::departures) since the previous one ended gets the size
// of its value's text (see PropValue::text_size): its key then has no escapes (a key with escapes
// is a copy elsewhere), and neither it nor the colon has whitespace after it.
PropMap read_prop_map(Reader& r) {
  expect_container(r, '{', "a map");
  Scratch& s = r.scratch();
  std::size_t mark = s.mark();
  std::size_t departures = r.departures();
  r.object([&](std::string_view key) {
    r.colon();
    std::size_t at = s.claim<Entry<PropValue>>();
    s.at<Entry<PropValue>>(at)->key = key;
    read_prop_value_at<Entry<PropValue>>(r, at);
    auto address = [](const char* p) { return reinterpret_cast<std::uintptr_t>(p); };
    std::size_t size = address(r.place().cur) - address(key.data() + key.size() + 2);
    if (r.departures() == departures && size <= UINT32_MAX) {
      s.at<Entry<PropValue>>(at)->value.text_size = static_cast<std::uint32_t>(size);
    }
    departures = r.departures();
  });
  PropMap map = s.pop<Entry<PropValue>>(r.arena(), mark);
  if (!json::sort_members(map)) r.depart();
  return map;
}

// Whether the float literal [p, end) (as read: sign, digits, then any fraction and exponent) is
// what write_f64 writes for its value `v`. Only the positional form is recognised: at most 15
// digits, a fraction without trailing zeros (or exactly ".0"), no exponent, and a magnitude of
// 1e-5 up to 1e15. Its digits are then the only ones of their length that read back as `v`,
// and no shorter ones do (they would be the same digits with a zero at the end), so they are
// the shortest, which the writer writes in that form.
bool canonical_float(const char* p, const char* end, double v) {
  double a = std::fabs(v);
  if (!(a >= 1e-5 && a < 1e15)) return false;
  if (*p == '-') ++p;
  if (end - p > 16) return false;
  // Back over the fraction: the literal has the form DIGITS.DIGITS when a point ends that run
  // (an exponent or a literal without a point ends it otherwise).
  const char* q = end;
  while (q != p && q[-1] >= '0' && q[-1] <= '9') --q;
  if (q == end || q - p < 2 || q[-1] != '.') return false;
  return end[-1] != '0' || end - q == 1;
}

// The payload of a Float; a literal that is not written as the writer writes it is a departure.
[[gnu::noinline]] double read_float(Reader& r) {
  r.peek();
  const char* start = r.place().cur;
  double f = r.f64();
  if (!canonical_float(start, r.place().cur, f)) r.depart();
  return f;
}

template <class Slot>
void read_prop_value_at(Reader& r, std::size_t at) {
  Reader::VariantHead head;
  if (!r.compact_variant_head(kPropTable, head)) {
    // A bare name ("Null", the only one that needs no payload) in line too.
    std::size_t bare = r.compact_name_value(kPropTable);
    if (bare != kPropTable.names.size()) {
      head = {bare, false};
    } else if (!r.compact_long_variant_head(kPropTable, head)) {
      head = r.variant_head(kPropTable);
    }
  }
  if (!head.payload) {
    if (head.index == 0) return put<Slot, 0>(r, at, json::Null{});
    Reader::fail("invalid type: unit variant, expected newtype variant");
  }
  switch (head.index) {
    case 0: {
      r.depart();  // the writer writes "Null"
      int c = r.peek();
      if (c == 'n') {
        r.null();
      } else if (c < 0) {
        r.fail_next("EOF while parsing a value");
      } else {
        r.invalid_type("unit");
      }
      put<Slot, 0>(r, at, json::Null{});
      break;
    }
    case 1: put<Slot, 1>(r, at, r.boolean()); break;
    case 2: put<Slot, 2>(r, at, r.i64()); break;
    case 3: put<Slot, 3>(r, at, read_float(r)); break;
    case 4: put<Slot, 4>(r, at, r.string()); break;
    case 5: put<Slot, 5>(r, at, read_prop_list(r)); break;
    case 6: put<Slot, 6>(r, at, read_prop_map(r)); break;
    default: put<Slot, 7>(r, at, Submodel{r.u64()}); break;
  }
  r.end_variant();
}

}  // namespace

PropValue read_prop_value(Reader& r) {
  Scratch& s = r.scratch();
  std::size_t at = s.claim<PropValue>();
  read_prop_value_at<PropValue>(r, at);
  PropValue v = *s.at<PropValue>(at);
  s.reset(at);
  return v;
}

namespace {

// "KEY":VALUE, copied from the text it was read from when that is already canonical.
void write_entry(json::Out& out, const Entry<PropValue>& e) {
  if (e.value.text_size != 0) {
    // The key has no escapes, and its quotes and the colon lie around it in that text.
    out.append(e.key.data() - 1, e.key.size() + 3 + e.value.text_size);
    return;
  }
  json::write_string(out, e.key);
  out.push_back(':');
  write(out, e.value);
}

// The entries of a map of property values, between braces written by the caller.
[[gnu::always_inline]] inline void write_entries(json::Out& out, const PropMap& map) {
  bool first = true;
  for (const Entry<PropValue>& e : map) {
    if (!first) out.push_back(',');
    first = false;
    write_entry(out, e);
  }
}

}  // namespace

void write(json::Out& out, const PropValue& v) {
  std::size_t k = v.v.index();
  // Each opening padded to 16 bytes, so that one copy of 16 bytes writes it (the cursor then
  // moves past its real length only).
  static constexpr auto kOpen = [] {
    struct Padded {
      char bytes[8][16];
    } t{};
    for (std::size_t i = 0; i < 8; ++i) {
      for (std::size_t j = 0; j < kPropOpen[i].size(); ++j) t.bytes[i][j] = kPropOpen[i][j];
    }
    return t;
  }();
  static_assert(std::size(kPropOpen) == 8);
  char* d = out.room(16);
  std::memcpy(d, kOpen.bytes[k], 16);
  out.commit(d + kPropOpen[k].size());
  switch (k) {
    case 0: return;
    case 1: out += std::get<bool>(v.v) ? "true" : "false"; break;
    case 2: json::write_i64(out, std::get<std::int64_t>(v.v)); break;
    case 3: json::write_f64(out, std::get<double>(v.v)); break;
    case 4: json::write_string(out, std::get<Text>(v.v)); break;
    case 5: {
      bool first = true;
      for (const PropValue& e : std::get<PropList>(v.v)) {
        if (!first) out.push_back(',');
        first = false;
        write(out, e);
      }
      out.push_back(']');
      break;
    }
    case 6:
      write_entries(out, std::get<PropMap>(v.v));
      out.push_back('}');
      break;
    default: json::write_u64(out, std::get<Submodel>(v.v).id); break;
  }
  out.push_back('}');
}

void write(json::Out& out, const Binding& b) {
  out.push_back('{');
  if (b.field) {
    write_key(out, "field");
    json::write_string(out, *b.field);
    out.push_back(',');
  }
  if (b.compute) {
    write_key(out, "compute");
    json::write(out, *b.compute);
    out.push_back(',');
  }
  write_key(out, "mode");
  out += b.mode == BindingMode::OneWay ? "\"one-way\"}" : "\"two-way\"}";
}

void write(json::Out& out, const Node& n) {
  // In a large tree the maps of a node and their arrays are rarely still in the cache: the memory
  // is asked for the arrays as soon as the maps are known, and for the maps of the next child
  // while a child is written.
  if (const NodeMaps* m = n.maps_address()) {
    __builtin_prefetch(m->props.data());
    __builtin_prefetch(m->slots.data());
  }
  out += "{\"tag\":";
  json::write_string(out, n.tag());
  if (std::optional<Text> key = n.key()) {
    out += ",\"key\":";
    json::write_string(out, *key);
  }
  // `head` is the whole text before the first entry: ,"NAME":{
  auto map = [&](std::string_view head, const auto& m, auto&& write_value) {
    if (m.empty()) return;
    out += head;
    bool first = true;
    for (const auto& e : m) {
      if (!first) out.push_back(',');
      first = false;
      json::write_string(out, e.key);
      out.push_back(':');
      write_value(e.value);
    }
    out.push_back('}');
  };
  const NodeMaps& m = n.maps();
  if (!m.props.empty()) {
    out += ",\"props\":{";
    write_entries(out, m.props);
    out.push_back('}');
  }
  map(",\"slots\":{", m.slots, [&](const Children& list) {
    out.push_back('[');
    const Node* child = list.begin();
    const Node* end = list.end();
    for (; child != end; ++child) {
      if (child != list.begin()) out.push_back(',');
      if (child + 1 != end) __builtin_prefetch(child[1].maps_address());
      write(out, *child);
    }
    out.push_back(']');
  });
  map(",\"events\":{", m.events, [&](const Action& a) { write(out, a); });
  map(",\"bindings\":{", m.bindings, [&](const Binding& b) { write(out, b); });
  out.push_back('}');
}

bool equal(const PropValue& a, const PropValue& b) {
  if (a.v.index() != b.v.index()) return false;
  switch (a.v.index()) {
    case 0: return true;
    case 1: return std::get<bool>(a.v) == std::get<bool>(b.v);
    case 2: return std::get<std::int64_t>(a.v) == std::get<std::int64_t>(b.v);
    case 3: return std::get<double>(a.v) == std::get<double>(b.v);
    case 4: return same(std::get<Text>(a.v), std::get<Text>(b.v));
    case 5: {
      const PropList& x = std::get<PropList>(a.v);
      const PropList& y = std::get<PropList>(b.v);
      if (x.size() != y.size()) return false;
      for (std::size_t i = 0; i < x.size(); ++i) {
        if (!equal(x[i], y[i])) return false;
      }
      return true;
    }
    case 6: {
      const PropMap& x = std::get<PropMap>(a.v);
      const PropMap& y = std::get<PropMap>(b.v);
      if (x.size() != y.size()) return false;
      for (std::size_t i = 0; i < x.size(); ++i) {
        if (x[i].key != y[i].key || !equal(x[i].value, y[i].value)) return false;
      }
      return true;
    }
    default: return std::get<Submodel>(a.v).id == std::get<Submodel>(b.v).id;
  }
}

bool equal(const Binding& a, const Binding& b) {
  if (a.field != b.field || a.mode != b.mode) return false;
  if (a.compute.has_value() != b.compute.has_value()) return false;
  return !a.compute || json::equal(*a.compute, *b.compute);
}

}  // namespace velmor
