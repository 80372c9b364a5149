// Tree nodes as elements. Every element the client made has a record: its key, its children
// per slot (in the tree's order), its handlers and bindings. The children of an element are
// grouped by slot, the slots in byte order of their names, so that (slot, index) names one DOM
// position; a child of the slot "default" carries no `slot` attribute (it goes to an unnamed
// <slot> of a shadow root), a child of any other slot carries slot="NAME".

import { ClientError, describe } from './errors.js';
import { propValue, setProp, removeProp, tagRefusal } from './props.js';
import { setEvent } from './handlers.js';
import { setBinding, releaseBindings } from './bindings.js';

/**
 * @typedef {object} Rec
 * @property {string|null} key
 * @property {Map<string, Element[]>} slots children per slot, in the tree's order
 * @property {string[]} order slot names in byte order
 * @property {Map<string, any>} events actions by event name
 * @property {Map<string, EventListener>} listeners the listener added for each event name
 * @property {Map<string, {binding: any, offs: Array<() => void>}>} bindings
 * @property {string|null} refusedTag the tree's tag when the element stands in for a refused one
 */

/** @type {WeakMap<Element, Rec>} */
export const records = new WeakMap();

export const DEFAULT_SLOT = 'default';

/**
 * Byte order of the UTF-8 forms, which is code point order: a surrogate (the half of a code
 * point above U+FFFF) sorts after every other UTF-16 unit.
 * @param {string} a @param {string} b
 */
export function compareNames(a, b) {
  const n = Math.min(a.length, b.length);
  for (let i = 0; i < n; i++) {
    const x = a.charCodeAt(i);
    const y = b.charCodeAt(i);
    if (x !== y) {
      const sx = x >= 0xd800 && x <= 0xdfff;
      const sy = y >= 0xd800 && y <= 0xdfff;
      if (sx !== sy) return sx ? 1 : -1;
      return x - y;
    }
  }
  return a.length - b.length;
}

/** @param {Element} el */
export function recordOf(el) {
  const rec = records.get(el);
  if (!rec) throw new Error('element not made by this client');
  return rec;
}

/** @param {string} tag @param {import('./connect.js').Host} host */
function createElementFor(tag, host) {
  const refusal = tagRefusal(tag);
  if (refusal === null) {
    try {
      return { el: document.createElement(tag), refused: null };
    } catch (err) {
      host.report(new ClientError('refused', `tag ${JSON.stringify(tag)} is not an element name: ${describe(err)}`));
    }
  } else {
    host.report(new ClientError('refused', refusal));
  }
  // an inert stand-in keeps the positions of its siblings and holds the node's children
  return { el: document.createElement('template'), refused: tag };
}

/**
 * Set or remove one prop from its written form, reporting (not throwing) a refusal.
 * @param {Element} el @param {string} name @param {any} pv @param {import('./connect.js').Host} host
 */
export function putProp(el, name, pv, host) {
  try {
    setProp(el, name, propValue(pv));
  } catch (err) {
    host.report(new ClientError('refused', describe(err), err));
  }
}

/** @param {Element} el @param {string} name @param {import('./connect.js').Host} host */
export function dropProp(el, name, host) {
  try {
    removeProp(el, name);
  } catch (err) {
    host.report(new ClientError('refused', describe(err), err));
  }
}

/** @param {Element} el @param {string} slot */
function setSlotName(el, slot) {
  if (slot === DEFAULT_SLOT) el.removeAttribute('slot');
  else el.setAttribute('slot', slot);
}

/**
 * A new element for a node and its whole subtree.
 * @param {any} node a node in its written form
 * @param {import('./connect.js').Host} host
 * @returns {Element}
 */
export function build(node, host) {
  const { el, refused } = createElementFor(node.tag, host);
  /** @type {Rec} */
  const rec = {
    key: node.key ?? null, slots: new Map(), order: [], events: new Map(), listeners: new Map(),
    bindings: new Map(), refusedTag: refused,
  };
  records.set(el, rec);
  if (node.props) for (const name in node.props) putProp(el, name, node.props[name], host);
  if (node.slots) {
    rec.order = Object.keys(node.slots).sort(compareNames);
    for (const slot of rec.order) {
      const kids = node.slots[slot].map((/** @type {any} */ child) => build(child, host));
      for (const kid of kids) {
        setSlotName(kid, slot);
        el.appendChild(kid);
      }
      rec.slots.set(slot, kids);
    }
  }
  if (node.events) for (const name in node.events) setEvent(el, rec, name, node.events[name], host);
  if (node.bindings) for (const name in node.bindings) setBinding(el, rec, name, node.bindings[name], host);
  return el;
}

/**
 * Let go of an element leaving the tree: its bindings stop listening to the field store.
 * @param {Element} el
 */
export function release(el) {
  const rec = records.get(el);
  if (!rec) return;
  releaseBindings(rec);
  for (const kids of rec.slots.values()) for (const kid of kids) release(kid);
}

/** The first element after the children of `slot`, or null. @param {Rec} rec @param {string} slot */
function afterSlot(rec, slot) {
  for (const name of rec.order) {
    if (compareNames(name, slot) > 0) {
      const kids = rec.slots.get(name);
      if (kids && kids.length) return kids[0];
    }
  }
  return null;
}

/** Move an element keeping its state (focus, selection) where the browser can. */
function place(/** @type {Element} */ parent, /** @type {Element} */ el, /** @type {Element|null} */ ref) {
  const p = /** @type {any} */ (parent);
  if (typeof p.moveBefore === 'function' && el.isConnected && parent.isConnected) {
    try {
      p.moveBefore(el, ref);
      return;
    } catch {
      // not movable in place (another document, say): an ordinary insertion below
    }
  }
  parent.insertBefore(el, ref);
}

/** @param {Element} parent @param {string} slot @param {number} index @param {Element} el */
export function insertChild(parent, slot, index, el) {
  const rec = recordOf(parent);
  let kids = rec.slots.get(slot);
  const len = kids ? kids.length : 0;
  if (index > len) throw new Error(`insertion index (is ${index}) should be <= len (is ${len})`);
  if (!kids) {
    kids = [];
    rec.slots.set(slot, kids);
    let at = 0;
    while (at < rec.order.length && compareNames(rec.order[at], slot) < 0) at++;
    rec.order.splice(at, 0, slot);
  }
  setSlotName(el, slot);
  parent.insertBefore(el, kids[index] ?? afterSlot(rec, slot));
  kids.splice(index, 0, el);
}

/** @param {Element} parent @param {string} slot @param {number} index */
export function removeChild(parent, slot, index) {
  const rec = recordOf(parent);
  const kids = rec.slots.get(slot);
  if (!kids) return;
  if (index >= kids.length) throw new Error(`removal index (is ${index}) should be < len (is ${kids.length})`);
  const [el] = kids.splice(index, 1);
  el.remove();
  release(el);
  if (!kids.length) {
    rec.slots.delete(slot);
    rec.order.splice(rec.order.indexOf(slot), 1);
  }
}

/** @param {Element} parent @param {string} slot @param {number} from @param {number} to */
export function moveChild(parent, slot, from, to) {
  const rec = recordOf(parent);
  const kids = rec.slots.get(slot);
  if (!kids) return;
  if (from >= kids.length) throw new Error(`removal index (is ${from}) should be < len (is ${kids.length})`);
  if (to > kids.length - 1) throw new Error(`insertion index (is ${to}) should be <= len (is ${kids.length - 1})`);
  if (from === to) return;
  const [el] = kids.splice(from, 1);
  kids.splice(to, 0, el);
  place(parent, el, kids[to + 1] ?? afterSlot(rec, slot));
}

/**
 * Put a new element in place of the child at (slot, index).
 * @param {Element} parent @param {string} slot @param {number} index @param {Element} el
 */
export function replaceChild(parent, slot, index, el) {
  const kids = recordOf(parent).slots.get(slot);
  if (!kids || index >= kids.length) throw new Error(`no child ${index} in slot ${JSON.stringify(slot)}`);
  const old = kids[index];
  setSlotName(el, slot);
  parent.replaceChild(el, old);
  kids[index] = el;
  release(old);
}
