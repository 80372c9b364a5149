// Patch application: the apply_json entry point and the effect of each operation on the working
// tree.
//
// The working tree is the root as read; operations move their payloads (nodes, values, actions,
// bindings) into it as shallow handles. That is safe because every array of the root and of the
// patch was built by the reader for exactly one place, and each operation runs once: after an
// operation has stored its payload, only the tree holds it. The patch is not read again.
#include <algorithm>
#include <string>

#include "call.hpp"
#include "model/patch.hpp"

namespace velmor {

namespace {

// Every text that apply returns reads back: its arrays and objects nest at most json::kMaxDepth
// deep, as in any text the reader accepts. The root as read keeps to that, since no value is
// written nesting deeper than it was read; only what the operations store can go deeper.
constexpr std::size_t kMaxNesting = json::kMaxDepth;
// Node levels (the root is level 1) of the deepest tree within that nesting: each level below the
// root opens three containers (the slots object, the slot's array, the node's object).
constexpr std::size_t kMaxLevels = (kMaxNesting - 1) / 3 + 1;

// A patch that does not fit the tree; reported as a core error without a position.
struct Misfit {
  std::string message;
};

[[noreturn]] void misfit(std::string message) { throw Misfit{std::move(message)}; }

[[noreturn]] void removal_misfit(std::uint64_t index, std::size_t len) {
  misfit("removal index (is " + std::to_string(index) + ") should be < len (is " +
         std::to_string(len) + ")");
}

[[noreturn]] void insertion_misfit(std::uint64_t index, std::size_t len) {
  misfit("insertion index (is " + std::to_string(index) + ") should be <= len (is " +
         std::to_string(len) + ")");
}

// The position of the first entry whose key is not below `key`.
template <class T>
std::size_t lower_bound(const Map<T>& map, Text key) {
  std::size_t lo = 0, hi = map.size();
  while (lo < hi) {
    std::size_t mid = lo + (hi - lo) / 2;
    if (less(map[mid].key, key)) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

template <class T>
T* find_value(Map<T>& map, Text key) {
  std::size_t i = lower_bound(map, key);
  return i < map.size() && same(map[i].key, key) ? &map[i].value : nullptr;
}

template <class T>
void set_entry(Arena& arena, Map<T>& map, Text key, const T& value) {
  std::size_t i = lower_bound(map, key);
  if (i < map.size() && same(map[i].key, key)) {
    map[i].value = value;
  } else {
    map.insert(arena, i, Entry<T>{key, value});
  }
}

template <class T>
void remove_entry(Map<T>& map, Text key) {
  std::size_t i = lower_bound(map, key);
  if (i < map.size() && same(map[i].key, key)) map.erase(i);
}

Node& resolve(Node& root, const Path& path) {
  Node* node = &root;
  for (const PathSeg& seg : path) {
    NodeMaps* maps = node->maps_if_any();
    Children* list = maps == nullptr ? nullptr : find_value(maps->slots, seg.slot);
    if (list == nullptr) misfit("path references an existing slot");
    if (seg.index >= list->size()) {
      misfit("index out of bounds: the len is " + std::to_string(list->size()) +
             " but the index is " + std::to_string(seg.index));
    }
    node = &(*list)[seg.index];
  }
  return *node;
}

class Applier {
 public:
  explicit Applier(Arena& arena) : arena_(arena) {}

  void run(Node& root, const Op& op) {
    std::visit([&](const auto& x) { perform(resolve(root, x.path), x); }, op.v);
  }

 private:
  void perform(Node& n, const op::SetProp& x) { set_entry(arena_, n.maps(arena_).props, x.name, x.value); }
  void perform(Node& n, const op::RemoveProp& x) {
    if (NodeMaps* m = n.maps_if_any()) remove_entry(m->props, x.name);
  }
  void perform(Node& n, const op::SetEvent& x) { set_entry(arena_, n.maps(arena_).events, x.name, x.action); }
  void perform(Node& n, const op::RemoveEvent& x) {
    if (NodeMaps* m = n.maps_if_any()) remove_entry(m->events, x.name);
  }
  void perform(Node& n, const op::SetBinding& x) {
    set_entry(arena_, n.maps(arena_).bindings, x.name, x.binding);
  }
  void perform(Node& n, const op::RemoveBinding& x) {
    if (NodeMaps* m = n.maps_if_any()) remove_entry(m->bindings, x.name);
  }
  void perform(Node& n, const op::SetKey& x) { n.set_key(x.key); }
  void perform(Node& n, const op::Replace& x) { n = x.node; }

  void perform(Node& n, const op::InsertChild& x) {
    Map<Children>& slots = n.maps(arena_).slots;
    std::size_t at = lower_bound(slots, x.slot);
    if (at == slots.size() || !same(slots[at].key, x.slot)) {
      if (x.index != 0) insertion_misfit(x.index, 0);
      slots.insert(arena_, at, Entry<Children>{x.slot, Children{}});
    }
    Children& list = slots[at].value;
    if (x.index > list.size()) insertion_misfit(x.index, list.size());
    list.insert(arena_, x.index, x.node);
  }

  void perform(Node& n, const op::RemoveChild& x) {
    NodeMaps* m = n.maps_if_any();
    if (m == nullptr) return;
    Map<Children>& slots = m->slots;
    std::size_t at = lower_bound(slots, x.slot);
    if (at == slots.size() || !same(slots[at].key, x.slot)) return;
    Children& list = slots[at].value;
    if (x.index >= list.size()) removal_misfit(x.index, list.size());
    list.erase(x.index);
    if (list.empty()) slots.erase(at);
  }

  void perform(Node& n, const op::MoveChild& x) {
    NodeMaps* m = n.maps_if_any();
    Children* list = m == nullptr ? nullptr : find_value(m->slots, x.slot);
    if (list == nullptr) return;
    std::size_t len = list->size();
    if (x.from >= len) removal_misfit(x.from, len);
    if (x.to >= len) insertion_misfit(x.to, len - 1);
    Node* first = list->begin();
    if (x.from < x.to) {
      std::rotate(first + x.from, first + x.from + 1, first + x.to + 1);
    } else if (x.to < x.from) {
      std::rotate(first + x.to, first + x.from, first + x.from + 1);
    }
  }

  Arena& arena_;
};

// The number of levels of the tree below and including `n`, counted up to `limit` (the walk
// stops there, so its own recursion stays bounded).
std::size_t levels(const Node& n, std::size_t limit) {
  std::size_t most = 1;
  if (limit <= 1) return most;
  for (const Entry<Children>& slot : n.slots()) {
    for (const Node& child : slot.value) most = std::max(most, 1 + levels(child, limit - 1));
  }
  return most;
}

// How deep the containers that an operation stores in the tree can nest once written.
class Reach {
 public:
  std::size_t operator()(const Op& op) {
    return std::visit([&](const auto& x) { return of(x.path.size(), x); }, op.v);
  }

 private:
  // A node `d` steps below the root (`d` the length of its path) writes its own object at
  // nesting 3d + 1 and the values of its maps at 3d + 3; `base` is the nesting just outside the
  // payload. A payload nests at most kMaxNesting - 4 deep, since the patch holds it four
  // containers in; where that fits anyway it is not written out to be measured.
  template <class T>
  std::size_t stored(std::size_t base, const T& payload) {
    if (base + (kMaxNesting - 4) <= kMaxNesting) return 0;
    scratch_.clear();
    write(scratch_, payload);
    return base + json::nesting(scratch_.view());
  }
  std::size_t of(std::size_t d, const op::SetProp& x) { return stored(3 * d + 2, x.value); }
  std::size_t of(std::size_t d, const op::SetEvent& x) { return stored(3 * d + 2, x.action); }
  std::size_t of(std::size_t d, const op::SetBinding& x) { return stored(3 * d + 2, x.binding); }
  std::size_t of(std::size_t d, const op::InsertChild& x) { return stored(3 * d + 3, x.node); }
  std::size_t of(std::size_t d, const op::Replace& x) { return stored(3 * d, x.node); }
  template <class T>
  std::size_t of(std::size_t, const T&) {
    return 0;
  }

  json::Out scratch_;
};

}  // namespace

Result<std::string> apply_json(std::string_view root_text, std::string_view patch_text,
                               std::size_t lead) {
  return guarded([&]() -> Result<std::string> {
    // A tree or patch takes a little over twice its text in the arena; one block should hold both.
    std::size_t input = root_text.size() + patch_text.size();
    std::size_t first_block = std::max<std::size_t>(16 * 1024, input / 2 * 5);
    // The lead is the first thing taken from the arena and never written (see apply_json's
    // declaration); it only saves memory, so it is dropped where it does not fit.
    if (first_block > SIZE_MAX / 2 || lead > SIZE_MAX / 2 - first_block) lead = 0;
    Arena arena(first_block + lead);
    if (lead != 0) arena.allocate(lead, 1);
    Node root;
    Patch patch;
    Error error;
    if (!read_text(root_text, arena, root, error, read_node_text)) return error;
    if (!read_text(patch_text, arena, patch, error, read_patch_text)) return error;
    Applier applier(arena);
    Reach reach;
    std::size_t deepest = 0;  // a bound on the nesting of the result
    try {
      for (const Op& op : patch.ops) {
        deepest = std::max(deepest, reach(op));
        applier.run(root, op);
      }
    } catch (Misfit& m) {
      return Error{std::move(m.message)};
    }
    // Past the bound, later operations may still have taken the deep parts away: the written
    // result decides. Node levels are checked first, since the writer recurses once per level.
    if (deepest > kMaxNesting && levels(root, kMaxLevels + 1) > kMaxLevels) {
      return Error{"recursion limit exceeded"};
    }
    json::Out out(root_text.size() + root_text.size() / 8 + patch_text.size());
    write(out, root);
    if (deepest > kMaxNesting && json::nesting(out.view()) > kMaxNesting) {
      return Error{"recursion limit exceeded"};
    }
    return out.take();
  });
}

}  // namespace velmor
