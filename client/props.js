// Props on elements. A prop is set as a property when the element has one of that name
// (`name in element`), otherwise as an attribute. Tree content never becomes code: handler
// props (`on…`), HTML-valued props and script URLs are refused, whichever way they would be set.

import { truthy } from './expr.js';

/**
 * A prop value in its written form ("Null", {"Bool":true}, {"Int":5}, {"Float":1.5},
 * {"Str":"a"}, {"List":[…]}, {"Map":{…}}, {"Submodel":7}) as a JavaScript value: null, a
 * boolean, a number, a string, an array or an object.
 * @param {any} pv
 * @returns {unknown}
 */
export function propValue(pv) {
  if (pv === 'Null') return null;
  const [variant] = Object.keys(pv);
  const inner = pv[variant];
  switch (variant) {
    case 'Bool': case 'Int': case 'Float': case 'Str': case 'Submodel': return inner;
    case 'List': return inner.map(propValue);
    case 'Map': {
      /** @type {Record<string, unknown>} */
      const out = {};
      for (const [k, v] of Object.entries(inner)) {
        Object.defineProperty(out, k, { value: propValue(v), writable: true, enumerable: true, configurable: true });
      }
      return out;
    }
    default: throw new Error(`unknown prop value ${JSON.stringify(pv)}`);
  }
}

/**
 * The attribute text of a value, or null for no attribute: true is the empty text (present),
 * false and null remove the attribute, numbers are written as JavaScript writes them, lists and
 * objects as JSON.
 * @param {unknown} v
 * @returns {string|null}
 */
export function attributeText(v) {
  if (v === null || v === undefined || v === false) return null;
  if (v === true) return '';
  if (typeof v === 'string') return v;
  if (typeof v === 'object') return JSON.stringify(v);
  return String(v);
}

// props whose value the browser parses as markup, the slot attribute (which the client sets
// itself from the tree's slots), and the one property that would replace an element's prototype
const REFUSED_NAMES = new Set(['innerhtml', 'outerhtml', 'srcdoc', 'slot', '__proto__']);
// attributes (and their reflecting properties) whose value the browser may follow as a URL
const URL_NAMES = new Set([
  'href', 'src', 'action', 'formaction', 'xlink:href', 'poster', 'data', 'cite', 'background',
  'codebase', 'manifest', 'longdesc', 'usemap', 'ping', 'lowsrc', 'dynsrc', 'icon',
]);
// elements whose content runs as code
const REFUSED_TAGS = new Set(['script']);

/**
 * A URL that would run code when followed. Browsers drop tabs and line breaks anywhere in a URL
 * and spaces and control characters around it, and compare the scheme without case.
 * @param {string} url
 */
export function isScriptUrl(url) {
  // eslint-disable-next-line no-control-regex
  const plain = url.replace(/[\t\n\r]/g, '').replace(/^[\u0000-\u0020]+/, '').toLowerCase();
  return plain.startsWith('javascript:') || plain.startsWith('vbscript:');
}

/**
 * Whether an element has a property of this name that is plain data (a `<details>`'s `open`),
 * not an event handler (those read null or a function).
 * @param {Element|undefined} el @param {string} name
 */
function dataProperty(el, name) {
  if (!el || !(name in el)) return false;
  const current = /** @type {any} */ (el)[name];
  return current !== null && typeof current !== 'function';
}

/**
 * Why a prop may not be set, or null when it may. A name that starts with "on" is refused
 * unless the element has a data property of that name.
 * @param {string} name @param {unknown} value @param {Element} [el]
 * @returns {string|null}
 */
export function propRefusal(name, value, el) {
  const lower = name.toLowerCase();
  if (lower.startsWith('on') && !dataProperty(el, name)) return `prop ${JSON.stringify(name)} refused: handlers come only from events`;
  if (REFUSED_NAMES.has(lower)) return `prop ${JSON.stringify(name)} refused`;
  if (URL_NAMES.has(lower) && typeof value === 'string' && isScriptUrl(value)) {
    return `prop ${JSON.stringify(name)} refused: a script URL`;
  }
  return null;
}

/** Why an element of this tag may not be made, or null. @param {string} tag */
export function tagRefusal(tag) {
  return REFUSED_TAGS.has(tag.toLowerCase()) ? `tag ${JSON.stringify(tag)} refused: its content would run` : null;
}

/**
 * Set a prop from a JavaScript value; throws with the reason when the prop is refused or the
 * element will not take it.
 * @param {Element} el @param {string} name @param {unknown} value
 */
export function setProp(el, name, value) {
  const refusal = propRefusal(name, value, el);
  if (refusal) throw new Error(refusal);
  if (name in el) {
    const current = /** @type {any} */ (el)[name];
    // null resets a property to the empty value of its current type ('' or false), so that a
    // string property never reads "null"; a list or map given to a string property is its
    // JSON text, as it would be in an attribute (never "[object Object]")
    if (value === null) /** @type {any} */ (el)[name] = emptyLike(current);
    else if (typeof value === 'object' && typeof current === 'string') /** @type {any} */ (el)[name] = JSON.stringify(value);
    else /** @type {any} */ (el)[name] = value;
    return;
  }
  const text = attributeText(value);
  if (text === null) el.removeAttribute(name);
  else el.setAttribute(name, text);
}

/** @param {unknown} current */
function emptyLike(current) {
  if (typeof current === 'string') return '';
  if (typeof current === 'boolean') return false;
  return null;
}

/**
 * Remove a prop: the attribute goes, and a property is reset as for null.
 * @param {Element} el @param {string} name
 */
export function removeProp(el, name) {
  if (el.hasAttribute(name)) el.removeAttribute(name);
  if (name in el && propRefusal(name, null, el) === null) {
    /** @type {any} */ (el)[name] = emptyLike(/** @type {any} */ (el)[name]);
  }
}

/**
 * A prop as handlers read it: the property when the element has one, else the attribute's text
 * (null when absent).
 * @param {Element} el @param {string} name
 */
export function readProp(el, name) {
  return name in el ? /** @type {any} */ (el)[name] : el.getAttribute(name);
}

/**
 * `toggle`: a property becomes its negation (by truthiness); an attribute is added when absent
 * and removed when present.
 * @param {Element} el @param {string} name
 */
export function toggleProp(el, name) {
  if (name in el) setProp(el, name, !truthy(/** @type {any} */ (el)[name]));
  else setProp(el, name, !el.hasAttribute(name));
}
