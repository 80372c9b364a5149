// The client-side field store: JSON values under dotted names ("items.milk.done"), with
// subscriptions for bindings. A name is a path into nested objects; writing creates the objects
// on the way, as own properties only, so no name ("__proto__.x") reaches a prototype.

/** @typedef {(name: string, source: unknown) => void} Listener */

/**
 * Two names are related when one is the other or a path inside it: a change to either may
 * change what the other reads.
 * @param {string} a @param {string} b
 */
export function related(a, b) {
  return a === b || a.startsWith(b + '.') || b.startsWith(a + '.');
}

/** @param {unknown} v @returns {v is Record<string, unknown>} */
function isContainer(v) {
  return v !== null && typeof v === 'object';
}

/** @param {object} obj @param {string} key @param {unknown} value */
function own(obj, key, value) {
  Object.defineProperty(obj, key, { value, writable: true, enumerable: true, configurable: true });
}

/**
 * @param {Record<string, unknown>} [initial] the starting values, read as if set one by one
 */
export function createFields(initial = {}) {
  /** @type {Record<string, unknown>} */
  const root = {};
  /** @type {Set<{name: string|null, fn: Listener}>} */
  const listeners = new Set();

  /** @param {string} name @returns {unknown} undefined when nothing is stored there */
  function get(name) {
    /** @type {unknown} */
    let cur = root;
    for (const seg of name.split('.')) {
      if (!isContainer(cur) || !Object.hasOwn(cur, seg)) return undefined;
      cur = cur[seg];
    }
    return cur;
  }

  /**
   * @param {string} name @param {unknown} value
   * @param {unknown} [source] handed to listeners, so that the writer can skip its own change
   */
  function set(name, value, source) {
    const segs = name.split('.');
    /** @type {Record<string, unknown>} */
    let cur = root;
    for (const seg of segs.slice(0, -1)) {
      let next = Object.hasOwn(cur, seg) ? cur[seg] : undefined;
      if (!isContainer(next)) {
        next = {};
        own(cur, seg, next);
      }
      cur = /** @type {Record<string, unknown>} */ (next);
    }
    own(cur, segs[segs.length - 1], value);
    for (const l of [...listeners]) {
      if (l.name === null || related(l.name, name)) l.fn(name, source);
    }
  }

  /**
   * Call `fn` after every change related to `name` (every change at all when `name` is null).
   * @param {string|null} name @param {Listener} fn @returns {() => void} unsubscribes
   */
  function subscribe(name, fn) {
    const entry = { name, fn };
    listeners.add(entry);
    return () => listeners.delete(entry);
  }

  for (const [name, value] of Object.entries(initial)) set(name, value);
  return { get, set, subscribe, snapshot: () => structuredClone(root) };
}

/** @typedef {ReturnType<typeof createFields>} Fields */
