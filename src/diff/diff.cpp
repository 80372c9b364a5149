// The tree diff and the diff_json entry point.
#include "diff/diff.hpp"

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "call.hpp"
#include "text.hpp"

namespace velmor {

namespace {

class Differ {
 public:
  Differ(Arena& arena, std::vector<PathSeg>& path, std::vector<Op>& ops)
      : arena_(arena), path_(path), ops_(ops) {}

  void node(const Node& a, const Node& b) {
    const NodeMaps& x = a.maps();
    const NodeMaps& y = b.maps();
    // Read from equal texts: equal, with nothing below to walk.
    if (!x.text.empty() && x.text.size() == y.text.size() &&
        std::memcmp(x.text.data(), y.text.data(), x.text.size()) == 0) {
      return;
    }
    // Tags and keys are short: compared in line rather than with a call to memcmp.
    if (!same(a.tag(), b.tag())) {
      emit(op::Replace{here(), b});
      return;
    }
    if (a.has_key() != b.has_key() || (a.has_key() && !same(*a.key(), *b.key()))) {
      emit(op::SetKey{here(), b.key()});
    }
    if (&x == &y) return;  // neither has any
    maps<PropValue, op::SetProp, op::RemoveProp>(x.props, y.props);
    maps<Action, op::SetEvent, op::RemoveEvent>(x.events, y.events);
    maps<Binding, op::SetBinding, op::RemoveBinding>(x.bindings, y.bindings);
    slots(x.slots, y.slots);
  }

 private:
  Path here() { return Path::copy_of(arena_, path_.data(), path_.size()); }

  template <class T>
  void emit(T&& op) {
    ops_.push_back(Op{std::forward<T>(op)});
  }

  // Sets for entries of `b` that `a` lacks or holds differently, then removals of the entries
  // that only `a` has; both in ascending key order.
  template <class T, class SetOp, class RemoveOp>
  void maps(const Map<T>& a, const Map<T>& b) {
    std::size_t i = 0;
    // c: the order of the entry reached against e's key (nonzero when there is none).
    for (const Entry<T>& e : b) {
      int c = 1;
      while (i < a.size() && (c = compare(a[i].key, e.key)) < 0) ++i;
      if (c != 0 || !equal(a[i].value, e.value)) emit(SetOp{here(), e.key, e.value});
    }
    std::size_t j = 0;
    for (const Entry<T>& e : a) {
      int c = 1;
      while (j < b.size() && (c = compare(b[j].key, e.key)) < 0) ++j;
      if (c != 0) emit(RemoveOp{here(), e.key});
    }
  }

  void slots(const Map<Children>& a, const Map<Children>& b) {
    static const Children kEmpty;
    std::size_t i = 0, j = 0;
    while (i < a.size() || j < b.size()) {
      int c = j == b.size() ? -1 : i == a.size() ? 1 : compare(a[i].key, b[j].key);
      if (c < 0) {
        slot(a[i].key, a[i].value, kEmpty);
        ++i;
      } else if (c > 0) {
        slot(b[j].key, kEmpty, b[j].value);
        ++j;
      } else {
        slot(a[i].key, a[i].value, b[j].value);
        ++i, ++j;
      }
    }
  }

  static bool all_keyed(const Children& list) {
    return std::all_of(list.begin(), list.end(), [](const Node& n) { return n.has_key(); });
  }

  // Keyed lists with the same keys in the same order, the usual case: keyed() would leave every
  // child where it is, as positional() does, without sorting and searching the keys.
  static bool same_keys(const Children& o, const Children& n) {
    if (o.size() != n.size()) return false;
    for (std::size_t i = 0; i < o.size(); ++i) {
      if (!same(*o[i].key(), *n[i].key())) return false;
    }
    return true;
  }

  // In a large tree, what the walk reads of the children it compares (their maps, and the tags
  // and keys in their texts) is mostly out of the cache, and waiting for it took most of the
  // walk's time; the addresses are in the child lists, so a window of children is fetched ahead.
  static constexpr std::size_t kAhead = 64;
  static void fetch_ahead(const Node& c) {
    __builtin_prefetch(c.maps_address());
    __builtin_prefetch(c.tag().data());
    __builtin_prefetch(c.key_address());
  }

  void slot(Text name, const Children& o, const Children& n) {
    for (std::size_t i = 0; i < std::min(o.size(), kAhead); ++i) fetch_ahead(o[i]);
    for (std::size_t i = 0; i < std::min(n.size(), kAhead); ++i) fetch_ahead(n[i]);
    if (all_keyed(o) && all_keyed(n) && !same_keys(o, n)) {
      keyed(name, o, n);
    } else {
      positional(name, o, n);
    }
  }

  void descend(Text name, std::size_t index, const Node& a, const Node& b) {
    path_.push_back(PathSeg{name, index});
    node(a, b);
    path_.pop_back();
  }

  void positional(Text name, const Children& o, const Children& n) {
    std::size_t m = std::min(o.size(), n.size());
    for (std::size_t i = 0; i < m; ++i) {
      if (i + kAhead < m) {
        fetch_ahead(o[i + kAhead]);
        fetch_ahead(n[i + kAhead]);
      }
      descend(name, i, o[i], n[i]);
    }
    for (std::size_t i = o.size(); i > n.size(); --i) emit(op::RemoveChild{here(), name, i - 1});
    for (std::size_t i = o.size(); i < n.size(); ++i) emit(op::InsertChild{here(), name, i, n[i]});
  }

  static constexpr std::size_t kInserted = static_cast<std::size_t>(-1);
  struct Work {
    Text key;
    std::size_t origin;  // position in the old list, or kInserted
  };

  void keyed(Text name, const Children& o, const Children& n) {
    // The keys of the new list, as a sorted set.
    keys_.clear();
    for (const Node& c : n) keys_.push_back(*c.key());
    std::sort(keys_.begin(), keys_.end(), less);
    auto in_new = [&](Text k) { return std::binary_search(keys_.begin(), keys_.end(), k, less); };

    // Removals, from the end, so that each index is still the child's old position.
    std::vector<Work> w;
    w.reserve(std::max(o.size(), n.size()));
    for (std::size_t i = o.size(); i-- > 0;) {
      if (!in_new(*o[i].key())) emit(op::RemoveChild{here(), name, i});
    }
    for (std::size_t i = 0; i < o.size(); ++i) {
      if (in_new(*o[i].key())) w.push_back(Work{*o[i].key(), i});
    }

    // Placement: position j takes the first entry at or after j with the wanted key.
    for (std::size_t j = 0; j < n.size(); ++j) {
      Text k = *n[j].key();
      std::size_t p = j;
      while (p < w.size() && !same(w[p].key, k)) ++p;
      if (p == w.size()) {
        emit(op::InsertChild{here(), name, j, n[j]});
        w.insert(w.begin() + static_cast<std::ptrdiff_t>(j), Work{k, kInserted});
      } else if (p > j) {
        emit(op::MoveChild{here(), name, p, j});
        Work moved = w[p];
        std::move_backward(w.begin() + static_cast<std::ptrdiff_t>(j),
                           w.begin() + static_cast<std::ptrdiff_t>(p),
                           w.begin() + static_cast<std::ptrdiff_t>(p) + 1);
        w[j] = moved;
      }
    }

    // Old children whose key the old list repeats more often than the new one are left over
    // behind the placed ones; they go, from the end.
    for (std::size_t i = w.size(); i > n.size(); --i) emit(op::RemoveChild{here(), name, i - 1});

    for (std::size_t j = 0; j < n.size(); ++j) {
      if (w[j].origin != kInserted) descend(name, j, o[w[j].origin], n[j]);
    }
  }

  Arena& arena_;
  std::vector<PathSeg>& path_;
  std::vector<Op>& ops_;
  std::vector<Text> keys_;
};

// A patch holds what an operation carries four containers in (the patch, its list, the operation,
// its fields). A value or subtree read near the root of the new tree sat shallower than that, so
// only such operations can make the patch nest deeper than the reading limit: values of the root
// (nesting 3 in the tree), children inserted into the root's slots (4), and a replaced root (1) or
// child of the root (4). Everything deeper in the tree is no deeper in the patch.
bool may_outgrow_tree(const Op& op) {
  return std::visit(
      [](const auto& x) {
        using T = std::decay_t<decltype(x)>;
        if constexpr (std::is_same_v<T, op::Replace>) {
          return x.path.size() <= 1;
        } else if constexpr (std::is_same_v<T, op::SetProp> || std::is_same_v<T, op::SetEvent> ||
                             std::is_same_v<T, op::SetBinding> || std::is_same_v<T, op::InsertChild>) {
          return x.path.size() == 0;
        } else {
          return false;
        }
      },
      op.v);
}

}  // namespace

void diff_node(Arena& arena, std::vector<PathSeg>& path, const Node& old_node,
               const Node& new_node, std::vector<Op>& ops) {
  Differ(arena, path, ops).node(old_node, new_node);
}

Result<std::string> diff_json(std::string_view old_text, std::string_view new_text) {
  return guarded([&]() -> Result<std::string> {
    Arena arena(std::max<std::size_t>(16 * 1024, (old_text.size() + new_text.size()) / 2));
    Node old_root, new_root;
    Error error;
    if (!read_text(old_text, arena, old_root, error, read_node_text)) return error;
    if (!read_text(new_text, arena, new_root, error, read_node_text)) return error;
    std::vector<PathSeg> path;
    std::vector<Op> ops;
    diff_node(arena, path, old_root, new_root, ops);
    json::Out out;
    write_patch(out, ops.data(), ops.size());
    // A patch that no reader accepts would be a failure reported as success: the receiver could
    // not apply it, and the server should send a snapshot instead.
    if (std::any_of(ops.begin(), ops.end(), may_outgrow_tree) &&
        json::nesting(out.view()) > json::kMaxDepth) {
      return Error{"recursion limit exceeded"};
    }
    return out.take();
  });
}

}  // namespace velmor
