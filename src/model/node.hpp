// The component tree: nodes, property values and bindings, with their JSON forms.
#pragma once

#include <cstdint>
#include <new>
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
  // The size stays in the variant's padding (24 bytes on 64-bit hosts, as without it).
  [[no_unique_address]] std::variant<json::Null, bool, std::int64_t, double, Text, PropList, PropMap, Submodel> v;
  // For the value of a map entry read from text, when that text is already exactly what the
  // writer writes (and follows the entry's key, its closing quote and a colon, with nothing in
  // between): its size, so that the entry is written by copying it. 0 otherwise, and for every
  // value made any other way.
  std::uint32_t text_size = 0;
};
static_assert(sizeof(void*) != 8 || sizeof(PropValue) == 24);

enum class BindingMode : std::uint8_t { OneWay, TwoWay };

struct Binding {
  std::optional<Text> field;
  std::optional<json::Canonical> compute;  // never JSON null
  BindingMode mode = BindingMode::OneWay;
};

struct Node;
using Children = ArenaVec<Node>;

// The maps of a node, kept apart from it: most nodes of a tree are leaves with none, and hold a
// null pointer instead of four empty maps.
struct NodeMaps {
  Map<PropValue> props;
  Map<Children> slots;
  Map<Action> events;
  Map<Binding> bindings;
  // The text the node was read from, while the node is still exactly what it says (its holder
  // lets go of it before any change below the node); empty otherwise. Nodes read from equal
  // texts are equal, which the diff uses to pass over unchanged subtrees without walking them.
  Text text;

  bool empty() const { return props.empty() && slots.empty() && events.empty() && bindings.empty(); }
};

// 32 bytes on 64-bit hosts (24 on wasm32, padded to the 8-byte multiple that the readers' scratch
// stack keeps): the tag and the key as pointer and 32-bit length each (no text of a tree reaches
// 4 GB: its arrays count elements in 32 bits too), the maps behind one pointer. Copies share
// the maps, like the arrays of ArenaVec: whoever changes them must be the tree's only holder.
struct alignas(8) Node {
  Text tag() const { return {tag_, tag_size_}; }
  void set_tag(Text t) {
    tag_ = t.data();
    tag_size_ = narrow(t.size());
  }
  bool has_key() const { return key_ != nullptr; }
  std::optional<Text> key() const {
    if (key_ == nullptr) return std::nullopt;
    return Text{key_, key_size_};
  }
  void set_key(std::optional<Text> k) {
    if (!k) {
      key_ = nullptr;
      key_size_ = 0;
      return;
    }
    // An empty key is still a key: its pointer must not be null.
    key_ = k->data() != nullptr ? k->data() : "";
    key_size_ = narrow(k->size());
  }

  const NodeMaps& maps() const { return maps_ != nullptr ? *maps_ : kNoMaps; }
  const Map<PropValue>& props() const { return maps().props; }
  const Map<Children>& slots() const { return maps().slots; }
  const Map<Action>& events() const { return maps().events; }
  const Map<Binding>& bindings() const { return maps().bindings; }
  // The maps to change, made (empty) in `arena` when the node has none. The node stops being its
  // text (see NodeMaps::text), and so do the nodes above it, whose maps were asked for on the way.
  NodeMaps& maps(Arena& arena) {
    if (maps_ == nullptr) maps_ = arena.make<NodeMaps>();
    maps_->text = {};
    return *maps_;
  }
  // maps(arena) for the reader of the node, which gives the node its text once it is read.
  NodeMaps& maps_to_fill(Arena& arena) {
    if (maps_ == nullptr) maps_ = arena.make<NodeMaps>();
    return *maps_;
  }
  // The maps to change, or nullptr when the node has none.
  NodeMaps* maps_if_any() {
    if (maps_ != nullptr) maps_->text = {};
    return maps_;
  }
  // The text a node with maps has just been read from.
  void set_text(Text t) {
    if (maps_ != nullptr) maps_->text = t;
  }
  // Once the node is read: maps that were made but stayed empty are dropped, as if never made.
  void drop_empty_maps() {
    if (maps_ != nullptr && maps_->empty()) maps_ = nullptr;
  }
  // Keeps `m`, in `arena` unless it is empty.
  void set_maps(Arena& arena, const NodeMaps& m) { maps_ = m.empty() ? nullptr : arena.make<NodeMaps>(m); }

  static inline const NodeMaps kNoMaps{};
  // Where the maps are, or nullptr: for a walk to ask the memory for them ahead of time.
  const NodeMaps* maps_address() const { return maps_; }
  // Where the key is, or nullptr; likewise.
  const char* key_address() const { return key_; }

 private:
  static std::uint32_t narrow(std::size_t n) {
    if (n > UINT32_MAX) throw std::bad_alloc();
    return static_cast<std::uint32_t>(n);
  }

  const char* tag_ = nullptr;
  const char* key_ = nullptr;  // null: no key
  std::uint32_t tag_size_ = 0;
  std::uint32_t key_size_ = 0;
  NodeMaps* maps_ = nullptr;
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
