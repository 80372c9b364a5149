// Patch operations applied to the DOM in place, one by one, as the tree's own application does
// them: an element that no operation names is left alone; `MoveChild` moves the element it
// names; `Replace` builds the new subtree.

import { build, dropProp, insertChild, moveChild, putProp, recordOf, removeChild, replaceChild, release } from './mount.js';
import { removeEvent, setEvent } from './handlers.js';
import { removeBinding, setBinding } from './bindings.js';

/**
 * The element at a path from the root.
 * @param {Element} root @param {Array<{slot: string, index: number}>} path
 */
function resolve(root, path) {
  let el = root;
  for (const { slot, index } of path) {
    const kids = recordOf(el).slots.get(slot);
    if (!kids) throw new Error('path references an existing slot');
    if (index >= kids.length) throw new Error(`index out of bounds: the len is ${kids.length} but the index is ${index}`);
    el = kids[index];
  }
  return el;
}

/**
 * Apply a patch's operations (in their written form) to the DOM under `host.root`. Throws at
 * the first operation that does not fit the DOM; the caller then rebuilds from the tree.
 * @param {any[]} ops @param {import('./connect.js').Host} host
 */
export function applyOps(ops, host) {
  for (const op of ops) {
    const [variant] = Object.keys(op);
    const o = op[variant];
    if (variant === 'Replace' && o.path.length === 0) {
      const fresh = build(o.node, host);
      host.root.replaceWith(fresh);
      release(host.root);
      host.root = fresh;
      continue;
    }
    if (variant === 'Replace') {
      const last = o.path[o.path.length - 1];
      replaceChild(resolve(host.root, o.path.slice(0, -1)), last.slot, last.index, build(o.node, host));
      continue;
    }
    const el = resolve(host.root, o.path);
    switch (variant) {
      case 'SetProp': putProp(el, o.name, o.value, host); break;
      case 'RemoveProp': dropProp(el, o.name, host); break;
      case 'SetEvent': setEvent(el, recordOf(el), o.name, o.action, host); break;
      case 'RemoveEvent': removeEvent(el, recordOf(el), o.name); break;
      case 'SetBinding': setBinding(el, recordOf(el), o.name, o.binding, host); break;
      case 'RemoveBinding': removeBinding(recordOf(el), o.name); break;
      case 'SetKey': recordOf(el).key = o.key ?? null; break;
      case 'InsertChild': insertChild(el, o.slot, o.index, build(o.node, host)); break;
      case 'RemoveChild': removeChild(el, o.slot, o.index); break;
      case 'MoveChild': moveChild(el, o.slot, o.from, o.to); break;
      default: throw new Error(`unknown operation ${JSON.stringify(variant)}`);
    }
  }
}
