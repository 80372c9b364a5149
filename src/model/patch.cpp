// Reading and writing patches, operations and paths.
#include "model/patch.hpp"

#include "json/record.hpp"
#include "json/writer.hpp"

namespace velmor {

namespace {

using json::Reader;
using json::RecordSpec;

constexpr std::string_view kOpNames[] = {"SetProp",       "RemoveProp",  "SetEvent",    "RemoveEvent",
                                         "SetBinding",    "RemoveBinding", "SetKey",    "InsertChild",
                                         "RemoveChild",   "MoveChild",   "Replace"};
constexpr json::NameTable kOpTable{kOpNames};

constexpr std::string_view kNamed[] = {"path", "name"};
constexpr std::string_view kSetProp[] = {"path", "name", "value"};
constexpr std::string_view kSetEvent[] = {"path", "name", "action"};
constexpr std::string_view kSetBinding[] = {"path", "name", "binding"};
constexpr std::string_view kSetKey[] = {"path", "key"};
constexpr std::string_view kInsert[] = {"path", "slot", "index", "node"};
constexpr std::string_view kRemove[] = {"path", "slot", "index"};
constexpr std::string_view kMove[] = {"path", "slot", "from", "to"};
constexpr std::string_view kReplace[] = {"path", "node"};

// In the array form every field of an operation must be there; in the object form only
// SetKey's `key` may be missing.
constexpr RecordSpec kOpSpecs[] = {
    {"struct variant Op::SetProp", kSetProp, 7, 7},
    {"struct variant Op::RemoveProp", kNamed, 3, 3},
    {"struct variant Op::SetEvent", kSetEvent, 7, 7},
    {"struct variant Op::RemoveEvent", kNamed, 3, 3},
    {"struct variant Op::SetBinding", kSetBinding, 7, 7},
    {"struct variant Op::RemoveBinding", kNamed, 3, 3},
    {"struct variant Op::SetKey", kSetKey, 1, 3},
    {"struct variant Op::InsertChild", kInsert, 15, 15},
    {"struct variant Op::RemoveChild", kRemove, 7, 7},
    {"struct variant Op::MoveChild", kMove, 15, 15},
    {"struct variant Op::Replace", kReplace, 3, 3},
};

constexpr std::string_view kPathSegFields[] = {"slot", "index"};
constexpr RecordSpec kPathSegSpec{"struct PathSeg", kPathSegFields, 3, 3};
constexpr std::string_view kPatchFields[] = {"ops"};
constexpr RecordSpec kPatchSpec{"struct Patch", kPatchFields, 1, 1};

PathSeg read_path_seg(Reader& r) {
  PathSeg seg{};
  json::read_record(r, kPathSegSpec, [&](std::size_t f) {
    if (f == 0) {
      seg.slot = r.string();
    } else {
      seg.index = r.u64();
    }
  });
  return seg;
}

Path read_path(Reader& r) { return read_list<PathSeg>(r, read_path_seg); }

std::optional<Text> read_optional_text(Reader& r) {
  Text t;
  if (r.optional_string(t)) return t;
  return std::nullopt;
}

// Reads the fields of operation `variant`; field 0 is always the path.
Op read_op_body(Reader& r, std::size_t variant) {
  Path path;
  Text name;
  Op op{};
  auto read = [&](auto&& read_rest) {
    json::read_record(r, kOpSpecs[variant], [&](std::size_t f) {
      if (f == 0) {
        path = read_path(r);
      } else {
        read_rest(f);
      }
    });
  };
  switch (variant) {
    case 0: {
      PropValue value{};
      read([&](std::size_t f) { f == 1 ? void(name = r.string()) : void(value = read_prop_value(r)); });
      op.v = op::SetProp{path, name, value};
      break;
    }
    case 2: {
      Action action{};
      read([&](std::size_t f) { f == 1 ? void(name = r.string()) : void(action = read_action(r)); });
      op.v = op::SetEvent{path, name, action};
      break;
    }
    case 4: {
      Binding binding{};
      read([&](std::size_t f) { f == 1 ? void(name = r.string()) : void(binding = read_binding(r)); });
      op.v = op::SetBinding{path, name, binding};
      break;
    }
    case 1:
    case 3:
    case 5:
      read([&](std::size_t) { name = r.string(); });
      if (variant == 1) op.v = op::RemoveProp{path, name};
      if (variant == 3) op.v = op::RemoveEvent{path, name};
      if (variant == 5) op.v = op::RemoveBinding{path, name};
      break;
    case 6: {
      std::optional<Text> key;
      read([&](std::size_t) { key = read_optional_text(r); });
      op.v = op::SetKey{path, key};
      break;
    }
    case 7: {
      op::InsertChild x{};
      read([&](std::size_t f) {
        if (f == 1) x.slot = r.string();
        if (f == 2) x.index = r.u64();
        if (f == 3) x.node = read_node(r);
      });
      x.path = path;
      op.v = x;
      break;
    }
    case 8: {
      op::RemoveChild x{};
      read([&](std::size_t f) {
        if (f == 1) x.slot = r.string();
        if (f == 2) x.index = r.u64();
      });
      x.path = path;
      op.v = x;
      break;
    }
    case 9: {
      op::MoveChild x{};
      read([&](std::size_t f) {
        if (f == 1) x.slot = r.string();
        if (f == 2) x.from = r.u64();
        if (f == 3) x.to = r.u64();
      });
      x.path = path;
      op.v = x;
      break;
    }
    default: {
      Node node{};
      read([&](std::size_t) { node = read_node(r); });
      op.v = op::Replace{path, node};
      break;
    }
  }
  return op;
}

void write_path(json::Out& out, const Path& path) {
  out += "\"path\":[";
  bool first = true;
  for (const PathSeg& seg : path) {
    if (!first) out.push_back(',');
    first = false;
    out += "{\"slot\":";
    json::write_string(out, seg.slot);
    out += ",\"index\":";
    json::write_u64(out, seg.index);
    out.push_back('}');
  }
  out.push_back(']');
}

void text_member(json::Out& out, std::string_view name, Text value) {
  out += ",\"";
  out += name;
  out += "\":";
  json::write_string(out, value);
}

void u64_member(json::Out& out, std::string_view name, std::uint64_t value) {
  out += ",\"";
  out += name;
  out += "\":";
  json::write_u64(out, value);
}

}  // namespace

Op read_op(Reader& r) {
  Reader::VariantHead head = r.variant_head(kOpTable);
  if (!head.payload) Reader::fail("invalid type: unit variant, expected struct variant");
  Op op = read_op_body(r, head.index);
  r.end_variant();
  return op;
}

Patch read_patch_text(Reader& r) {
  Patch patch{};
  json::read_record(r, kPatchSpec, [&](std::size_t) { patch.ops = read_list<Op>(r, read_op); });
  r.finish();
  return patch;
}

void write(json::Out& out, const Op& op) {
  std::size_t k = op.v.index();
  out += "{\"";
  out += kOpNames[k];
  out += "\":{";
  std::visit([&](const auto& x) { write_path(out, x.path); }, op.v);
  switch (k) {
    case 0: {
      const auto& x = std::get<op::SetProp>(op.v);
      text_member(out, "name", x.name);
      out += ",\"value\":";
      write(out, x.value);
      break;
    }
    case 1: text_member(out, "name", std::get<op::RemoveProp>(op.v).name); break;
    case 2: {
      const auto& x = std::get<op::SetEvent>(op.v);
      text_member(out, "name", x.name);
      out += ",\"action\":";
      write(out, x.action);
      break;
    }
    case 3: text_member(out, "name", std::get<op::RemoveEvent>(op.v).name); break;
    case 4: {
      const auto& x = std::get<op::SetBinding>(op.v);
      text_member(out, "name", x.name);
      out += ",\"binding\":";
      write(out, x.binding);
      break;
    }
    case 5: text_member(out, "name", std::get<op::RemoveBinding>(op.v).name); break;
    case 6: {
      const auto& x = std::get<op::SetKey>(op.v);
      if (x.key) {
        text_member(out, "key", *x.key);
      } else {
        out += ",\"key\":null";
      }
      break;
    }
    case 7: {
      const auto& x = std::get<op::InsertChild>(op.v);
      text_member(out, "slot", x.slot);
      u64_member(out, "index", x.index);
      out += ",\"node\":";
      write(out, x.node);
      break;
    }
    case 8: {
      const auto& x = std::get<op::RemoveChild>(op.v);
      text_member(out, "slot", x.slot);
      u64_member(out, "index", x.index);
      break;
    }
    case 9: {
      const auto& x = std::get<op::MoveChild>(op.v);
      text_member(out, "slot", x.slot);
      u64_member(out, "from", x.from);
      u64_member(out, "to", x.to);
      break;
    }
    default: {
      out += ",\"node\":";
      write(out, std::get<op::Replace>(op.v).node);
      break;
    }
  }
  out += "}}";
}

void write_patch(json::Out& out, const Op* ops, std::size_t count) {
  out += "{\"ops\":[";
  for (std::size_t i = 0; i < count; ++i) {
    if (i != 0) out.push_back(',');
    write(out, ops[i]);
  }
  out += "]}";
}

}  // namespace velmor
