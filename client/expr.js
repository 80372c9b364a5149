// Expressions of event handlers, evaluated to plain JSON-like values. Nothing here touches the
// DOM: what an expression reads from the page (the event, a field, an element's prop) comes
// through the context.

/**
 * @typedef {{ref: 'this'} | {ref: 'id', id: string}} Ref
 * @typedef {object} ExprContext
 * @property {() => unknown} event the value that `event` evaluates to
 * @property {(name: string) => unknown} field a field of the store (undefined when absent)
 * @property {(target: Ref, name: string) => unknown} prop a prop of a referenced element
 */

/**
 * Truthiness for `if` and `not`: false, null, 0, NaN and the empty string are false, and so is
 * a field that holds nothing; everything else, empty lists and objects included, is true.
 * @param {unknown} v
 */
export function truthy(v) {
  return !(v === undefined || v === null || v === false || v === 0 || v === '' || Number.isNaN(v));
}

/**
 * How `concat` writes a part: strings as they are, null and nothing as the empty string, numbers
 * and booleans as JavaScript writes them, lists and objects as JSON.
 * @param {unknown} v
 */
export function toText(v) {
  if (typeof v === 'string') return v;
  if (v === undefined || v === null) return '';
  if (typeof v === 'object') return JSON.stringify(v);
  return String(v);
}

/**
 * @param {any} expr an expression in its written form (`{"expr":"lit","value":1}`)
 * @param {ExprContext} ctx
 * @returns {unknown}
 */
export function evaluate(expr, ctx) {
  switch (expr?.expr) {
    case 'lit': return expr.value;
    case 'event': return ctx.event();
    case 'not': return !truthy(evaluate(expr.of, ctx));
    case 'prop': return ctx.prop(expr.target, expr.name);
    case 'field': return ctx.field(expr.name) ?? null;
    case 'obj': {
      /** @type {Record<string, unknown>} */
      const out = {};
      for (const [k, e] of Object.entries(expr.fields)) {
        Object.defineProperty(out, k, { value: evaluate(e, ctx), writable: true, enumerable: true, configurable: true });
      }
      return out;
    }
    case 'concat': return expr.parts.map((/** @type {any} */ p) => toText(evaluate(p, ctx))).join('');
    default: throw new Error(`unknown expression ${JSON.stringify(expr?.expr)}`);
  }
}
