// The tree diff: the operations that turn one tree into another.
#pragma once

#include <vector>

#include "model/patch.hpp"

namespace velmor {

// Appends to `ops` the operations that turn `old_node` into `new_node`, addressed at `path`.
// The operations share texts and subtrees with `new_node`, which must outlive them.
void diff_node(Arena& arena, std::vector<PathSeg>& path, const Node& old_node,
               const Node& new_node, std::vector<Op>& ops);

}  // namespace velmor
