// Patches: ordered edit operations, each addressing its node by a path of {slot, index} steps.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "model/node.hpp"

namespace velmor {

struct PathSeg {
  Text slot;
  std::uint64_t index;
};
using Path = ArenaVec<PathSeg>;  // from the root; empty = the root

namespace op {
struct SetProp {
  Path path;
  Text name;
  PropValue value;
};
struct RemoveProp {
  Path path;
  Text name;
};
struct SetEvent {
  Path path;
  Text name;
  Action action;
};
struct RemoveEvent {
  Path path;
  Text name;
};
struct SetBinding {
  Path path;
  Text name;
  Binding binding;
};
struct RemoveBinding {
  Path path;
  Text name;
};
struct SetKey {
  Path path;
  std::optional<Text> key;  // none: clear the key
};
struct InsertChild {
  Path path;
  Text slot;
  std::uint64_t index;
  Node node;
};
struct RemoveChild {
  Path path;
  Text slot;
  std::uint64_t index;
};
struct MoveChild {
  Path path;
  Text slot;
  std::uint64_t from;
  std::uint64_t to;  // counted after the child at `from` was taken out
};
struct Replace {
  Path path;
  Node node;
};
}  // namespace op

struct Op {
  std::variant<op::SetProp, op::RemoveProp, op::SetEvent, op::RemoveEvent, op::SetBinding,
               op::RemoveBinding, op::SetKey, op::InsertChild, op::RemoveChild, op::MoveChild,
               op::Replace>
      v;
};

struct Patch {
  ArenaVec<Op> ops;
};

Op read_op(json::Reader& r);
// Reads a whole text holding one patch.
Patch read_patch_text(json::Reader& r);

void write(json::Out& out, const Op& op);
// {"ops":[…]}
void write_patch(json::Out& out, const Op* ops, std::size_t count);

}  // namespace velmor
