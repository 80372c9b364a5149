// Bindings: a prop fed from the field store. One-way: the prop is set from the field whenever
// the field (or a path inside or around it) changes. Two-way: the element's `input` and
// `change` events also write the prop's value back into the field and send it to the server.
// `compute` is never run as code: when `options.compute` is given it is called with the
// binding's compute value and the prop takes what it returns (undefined leaves the prop).

import { ClientError, describe } from './errors.js';
import { readProp, setProp } from './props.js';
import { fieldMessage } from './messages.js';

/**
 * @param {Element} el @param {string} name @param {unknown} value
 * @param {import('./connect.js').Host} host
 */
function write(el, name, value, host) {
  // an equal value is not written again: the caret and selection of a field being typed in stay
  if (readProp(el, name) === value) return;
  try {
    setProp(el, name, value);
  } catch (err) {
    host.report(new ClientError('binding', `binding ${JSON.stringify(name)}: ${describe(err)}`, err));
  }
}

/**
 * @param {Element} el @param {import('./mount.js').Rec} rec @param {string} name @param {any} binding
 * @param {import('./connect.js').Host} host
 */
export function setBinding(el, rec, name, binding, host) {
  removeBinding(rec, name);
  /** @type {Array<() => void>} */
  const offs = [];
  rec.bindings.set(name, { binding, offs });
  const field = binding.field ?? null;
  const compute = host.options.compute;
  if (binding.compute != null && typeof compute === 'function') {
    const run = () => {
      let value;
      try {
        value = compute(binding.compute, {
          element: el, name, value: field === null ? undefined : host.fields.get(field),
          field: (/** @type {string} */ n) => host.fields.get(n),
        });
      } catch (err) {
        host.report(new ClientError('binding', `compute of ${JSON.stringify(name)}: ${describe(err)}`, err));
        return;
      }
      if (value !== undefined) write(el, name, value, host);
    };
    offs.push(host.fields.subscribe(field, run));
    run();
  } else if (field !== null) {
    /** @param {string} _changed @param {unknown} source */
    const push = (_changed, source) => {
      if (source === el) return;
      const value = host.fields.get(field);
      if (value !== undefined) write(el, name, value, host);
    };
    offs.push(host.fields.subscribe(field, push));
    push(field, null);
  }
  if (binding.mode === 'two-way' && field !== null) {
    const back = () => {
      const value = readProp(el, name);
      host.fields.set(field, value, el);
      host.send(fieldMessage(field, value));
    };
    el.addEventListener('input', back);
    el.addEventListener('change', back);
    offs.push(() => {
      el.removeEventListener('input', back);
      el.removeEventListener('change', back);
    });
  }
}

/** @param {import('./mount.js').Rec} rec @param {string} name */
export function removeBinding(rec, name) {
  const entry = rec.bindings.get(name);
  if (!entry) return;
  for (const off of entry.offs) off();
  rec.bindings.delete(name);
}

/** @param {import('./mount.js').Rec} rec */
export function releaseBindings(rec) {
  for (const name of [...rec.bindings.keys()]) removeBinding(rec, name);
}
