// The component tree: nodes, property values and bindings, with their JSON forms.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "model/action.hpp"
#include "model/common.hpp"

namespace velmor {

struct PropValue;
using PropList = ArenaVec<PropValue>;
using PropMap = Map<PropValue>;
struct Submodel {
  std::uint64_t id;
};

// Variants in their declared order: Null, Bool, Int, Float, Str, List, Map, Submodel.
struct PropValue {
  std::variant<json::Null, bool, std::int64_t, double, Text, PropList, PropMap, Submodel> v;
};

enum class BindingMode : std::uint8_t { OneWay, TwoWay };

struct Binding {
  std::optional<Text> field;
  std::optional<json::Canonical> compute;  // never JSON null
  BindingMode mode = BindingMode::OneWay;
};

struct Node;
using Children = ArenaVec<Node>;

struct Node {
  Text tag;
  std::optional<Text> key;
  Map<PropValue> props;
  Map<Children> slots;
  Map<Action> events;
  Map<Binding> bindings;
};

// Readers of values inside a larger text (trees inside patches, for instance).
Node read_node(json::Reader& r);
PropValue read_prop_value(json::Reader& r);
Binding read_binding(json::Reader& r);

// Reads a whole text holding one node.
Node read_node_text(json::Reader& r);

void write(json::Out& out, const Node& n);
void write(json::Out& out, const PropValue& v);
void write(json::Out& out, const Binding& b);

// PropValue equality: same variant, equal payloads (floats by IEEE equality).
bool equal(const PropValue& a, const PropValue& b);
bool equal(const Binding& a, const Binding& b);

}  // namespace velmor
