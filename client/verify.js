// The debug check: does the DOM under the root agree with the tree text the client holds? Each
// disagreement is one line of text naming the element by its path.

import { DEFAULT_SLOT, compareNames, records } from './mount.js';
import { attributeText, propRefusal, propValue } from './props.js';

/** @param {unknown} a @param {unknown} b */
function same(a, b) {
  if (a === b) return true;
  if (a === null || b === null || typeof a !== 'object' || typeof b !== 'object') return false;
  return JSON.stringify(a) === JSON.stringify(b);
}

/**
 * @param {Element} el @param {any} node @param {string} where @param {string[]} out
 */
function check(el, node, where, out) {
  const rec = records.get(el);
  if (!rec) {
    out.push(`${where}: element not made by the client`);
    return;
  }
  const tag = rec.refusedTag === null ? el.localName : rec.refusedTag;
  if (tag !== String(node.tag).toLowerCase() && tag !== node.tag) out.push(`${where}: tag ${tag}, the tree says ${node.tag}`);
  if ((rec.key ?? null) !== (node.key ?? null)) out.push(`${where}: key ${rec.key}, the tree says ${node.key}`);
  for (const [name, pv] of Object.entries(node.props ?? {})) {
    const want = propValue(pv);
    if (propRefusal(name, want, el) !== null || rec.bindings.has(name)) continue;
    if (name in el) {
      const have = /** @type {any} */ (el)[name];
      const asText = typeof have === 'string' && want !== null && typeof want === 'object' && have === JSON.stringify(want);
      if (!same(have, want) && !asText && !(want === null && (have === '' || have === false || have === null))) {
        out.push(`${where}: property ${name} is ${JSON.stringify(have)}, the tree says ${JSON.stringify(want)}`);
      }
    } else if (el.getAttribute(name) !== attributeText(want)) {
      out.push(`${where}: attribute ${name} is ${JSON.stringify(el.getAttribute(name))}, the tree says ${JSON.stringify(attributeText(want))}`);
    }
  }
  const slots = Object.keys(node.slots ?? {}).sort(compareNames);
  /** @type {Element[]} */
  const expected = [];
  for (const slot of slots) {
    const kids = rec.slots.get(slot) ?? [];
    const nodes = node.slots[slot];
    if (kids.length !== nodes.length) out.push(`${where}: slot ${slot} holds ${kids.length} children, the tree says ${nodes.length}`);
    kids.forEach((kid, i) => {
      const at = `${where}/${slot}[${i}]`;
      const attr = kid.getAttribute('slot');
      if (attr !== (slot === DEFAULT_SLOT ? null : slot)) out.push(`${at}: slot attribute ${JSON.stringify(attr)}`);
      expected.push(kid);
      if (i < nodes.length) check(kid, nodes[i], at, out);
    });
  }
  const actual = [...el.children];
  if (actual.length !== expected.length || actual.some((kid, i) => kid !== expected[i])) {
    out.push(`${where}: children are not in slot order`);
  }
}

/**
 * @param {Element} root @param {string} tree the canonical tree text
 * @returns {string[]} the disagreements, none when the DOM matches
 */
export function verifyDom(root, tree) {
  /** @type {string[]} */
  const out = [];
  check(root, JSON.parse(tree), 'root', out);
  return out;
}
