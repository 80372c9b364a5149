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

// Deeper trees than this are not written: the writer recurses once per level, and only patches
// that nest inserted nodes inside each other on purpose can build them (a tree that is read has
// at most 43 levels).
constexpr std::size_t kMaxWrittenDepth = 1000;

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
    if (map[mid].key < key) {
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
  return i < map.size() && map[i].key == key ? &map[i].value : nullptr;
}

template <class T>
void set_entry(Arena& arena, Map<T>& map, Text key, const T& value) {
  std::size_t i = lower_bound(map, key);
  if (i < map.size() && map[i].key == key) {
    map[i].value = value;
  } else {
    map.insert(arena, i, Entry<T>{key, value});
  }
}

template <class T>
void remove_entry(Map<T>& map, Text key) {
  std::size_t i = lower_bound(map, key);
  if (i < map.size() && map[i].key == key) map.erase(i);
}

Node& resolve(Node& root, const Path& path) {
  Node* node = &root;
  for (const PathSeg& seg : path) {
    Children* list = find_value(node->slots, seg.slot);
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
  void perform(Node& n, const op::SetProp& x) { set_entry(arena_, n.props, x.name, x.value); }
  void perform(Node& n, const op::RemoveProp& x) { remove_entry(n.props, x.name); }
  void perform(Node& n, const op::SetEvent& x) { set_entry(arena_, n.events, x.name, x.action); }
  void perform(Node& n, const op::RemoveEvent& x) { remove_entry(n.events, x.name); }
  void perform(Node& n, const op::SetBinding& x) {
    set_entry(arena_, n.bindings, x.name, x.binding);
  }
  void perform(Node& n, const op::RemoveBinding& x) { remove_entry(n.bindings, x.name); }
  void perform(Node& n, const op::SetKey& x) { n.key = x.key; }
  void perform(Node& n, const op::Replace& x) { n = x.node; }

  void perform(Node& n, const op::InsertChild& x) {
    std::size_t at = lower_bound(n.slots, x.slot);
    if (at == n.slots.size() || n.slots[at].key != x.slot) {
      if (x.index != 0) insertion_misfit(x.index, 0);
      n.slots.insert(arena_, at, Entry<Children>{x.slot, Children{}});
    }
    Children& list = n.slots[at].value;
    if (x.index > list.size()) insertion_misfit(x.index, list.size());
    list.insert(arena_, x.index, x.node);
  }

  void perform(Node& n, const op::RemoveChild& x) {
    std::size_t at = lower_bound(n.slots, x.slot);
    if (at == n.slots.size() || n.slots[at].key != x.slot) return;
    Children& list = n.slots[at].value;
    if (x.index >= list.size()) removal_misfit(x.index, list.size());
    list.erase(x.index);
    if (list.empty()) n.slots.erase(at);
  }

  void perform(Node& n, const op::MoveChild& x) {
    Children* list = find_value(n.slots, x.slot);
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
  for (const Entry<Children>& slot : n.slots) {
    for (const Node& child : slot.value) most = std::max(most, 1 + levels(child, limit - 1));
  }
  return most;
}

// How deep the nodes that `op` brings into the tree can reach (levels from the root), or 0.
std::size_t reach(const Op& op) {
  if (const auto* x = std::get_if<op::InsertChild>(&op.v)) {
    return x->path.size() + 1 + levels(x->node, kMaxWrittenDepth + 1);
  }
  if (const auto* x = std::get_if<op::Replace>(&op.v)) {
    return x->path.size() + levels(x->node, kMaxWrittenDepth + 1);
  }
  return 0;
}

}  // namespace

Result<std::string> apply_json(std::string_view root_text, std::string_view patch_text) {
  return guarded([&]() -> Result<std::string> {
    // A tree or patch takes a little over twice its text in the arena; one block should hold both.
    std::size_t input = root_text.size() + patch_text.size();
    Arena arena(std::max<std::size_t>(16 * 1024, input / 2 * 5));
    Node root;
    Patch patch;
    Error error;
    if (!read_text(root_text, arena, root, error, read_node_text)) return error;
    if (!read_text(patch_text, arena, patch, error, read_patch_text)) return error;
    Applier applier(arena);
    // A tree as read is far shallower than the limit; only inserted and replacing nodes make it
    // deeper, and never deeper than their path plus their own levels.
    std::size_t deepest = 0;
    try {
      for (const Op& op : patch.ops) {
        applier.run(root, op);
        deepest = std::max(deepest, reach(op));
      }
    } catch (Misfit& m) {
      return Error{std::move(m.message)};
    }
    if (deepest > kMaxWrittenDepth && levels(root, kMaxWrittenDepth + 1) > kMaxWrittenDepth) {
      return Error{"recursion limit exceeded"};
    }
    std::string out;
    out.reserve(root_text.size() + root_text.size() / 8 + patch_text.size());
    write(out, root);
    return out;
  });
}

}  // namespace velmor
