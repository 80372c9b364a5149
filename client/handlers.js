// Event handlers: the actions a node declares for an event, run when the element fires it.
// Actions run synchronously; only `call` waits (for its reply), and the actions after it in a
// `seq` run once it is done. A failing action stops its handler and is reported, never thrown
// out of the event loop.

import { ClientError, describe } from './errors.js';
import { evaluate, truthy } from './expr.js';
import { readProp, setProp, toggleProp } from './props.js';
import { emitMessage, patchMessage } from './messages.js';

/** Handlers that fire other handlers (through `emit`) may nest this deep, no deeper. */
export const MAX_HANDLER_DEPTH = 16;

/**
 * What the expression `event` evaluates to: the detail of a CustomEvent (null when it has
 * none); for any other event, the `checked` of a checkbox or radio button, the `value` of an
 * element that has one, else null.
 * @param {Event|null} event
 */
export function eventValue(event) {
  if (!event) return null;
  if (event instanceof CustomEvent) return event.detail ?? null;
  const target = /** @type {any} */ (event.target);
  if (target && (target.type === 'checkbox' || target.type === 'radio') && 'checked' in target) return target.checked;
  if (target && 'value' in target) return target.value;
  return null;
}

/**
 * @param {any} ref @param {Element} self @param {import('./connect.js').Host} host
 * @returns {Element}
 */
function resolveRef(ref, self, host) {
  if (ref.ref === 'this') return self;
  const found = host.container.querySelector(`#${CSS.escape(ref.id)}`);
  if (!found) throw new Error(`no element with id ${JSON.stringify(ref.id)}`);
  return found;
}

/**
 * @typedef {{el: Element, event: Event|null}} Scope
 */

/** @param {Scope} scope @param {import('./connect.js').Host} host */
function exprContext(scope, host) {
  return {
    event: () => eventValue(scope.event),
    field: (/** @type {string} */ name) => host.fields.get(name),
    prop: (/** @type {any} */ ref, /** @type {string} */ name) => readProp(resolveRef(ref, scope.el, host), name),
  };
}

/**
 * Run an action; returns a promise only when it has to wait (a `call`), so that everything up
 * to the first wait happens before the event's dispatch returns.
 * @param {any} action @param {Scope} scope @param {import('./connect.js').Host} host
 * @returns {Promise<void>|undefined}
 */
export function runAction(action, scope, host) {
  const ctx = exprContext(scope, host);
  switch (action.kind) {
    case 'set':
      setProp(resolveRef(action.target, scope.el, host), action.prop, evaluate(action.value, ctx));
      return undefined;
    case 'toggle':
      toggleProp(resolveRef(action.target, scope.el, host), action.prop);
      return undefined;
    case 'set-field':
      host.fields.set(action.field, evaluate(action.value, ctx));
      return undefined;
    case 'toggle-field':
      host.fields.set(action.field, !truthy(host.fields.get(action.field)));
      return undefined;
    case 'seq':
      return runSeq(action.actions, 0, scope, host);
    case 'emit': {
      const detail = action.detail == null ? null : evaluate(action.detail, ctx);
      host.send(emitMessage(action.event, detail));
      scope.el.dispatchEvent(new CustomEvent(action.event, { detail, bubbles: true, composed: true }));
      return undefined;
    }
    case 'patch':
      host.send(patchMessage(action.model, action.field, evaluate(action.value, ctx)));
      return undefined;
    case 'if':
      if (truthy(evaluate(action.cond, ctx))) return runAction(action.then, scope, host);
      return action.else == null ? undefined : runAction(action.else, scope, host);
    case 'call':
      return callEndpoint(action, ctx, host);
    case 'js': {
      const handlers = host.options.handlers ?? {};
      const fn = Object.hasOwn(handlers, action.handler) ? handlers[action.handler] : undefined;
      if (typeof fn !== 'function') throw new Error(`no js handler named ${JSON.stringify(action.handler)} in options.handlers`);
      const out = fn({ element: scope.el, event: scope.event, fields: host.fields, send: host.send });
      return out instanceof Promise ? out.then(() => undefined) : undefined;
    }
    default:
      throw new Error(`unknown action ${JSON.stringify(action.kind)}`);
  }
}

/**
 * @param {any[]} actions @param {number} from @param {Scope} scope
 * @param {import('./connect.js').Host} host @returns {Promise<void>|undefined}
 */
function runSeq(actions, from, scope, host) {
  for (let i = from; i < actions.length; i++) {
    const waiting = runAction(actions[i], scope, host);
    if (waiting) return waiting.then(() => runSeq(actions, i + 1, scope, host));
  }
  return undefined;
}

/**
 * `call`: fetch with the method, the URL (a text, or an expression that gives one) and, when
 * there is a body, its value as JSON; a reply is read as JSON and stored under `result`.
 * @param {any} action @param {ReturnType<typeof exprContext>} ctx @param {import('./connect.js').Host} host
 */
async function callEndpoint(action, ctx, host) {
  const url = typeof action.url === 'string' ? action.url : evaluate(action.url, ctx);
  if (typeof url !== 'string') throw new Error(`call: the URL is ${JSON.stringify(url)}, not a text`);
  /** @type {RequestInit} */
  const init = { method: action.method, headers: { accept: 'application/json' } };
  if (action.body != null) {
    init.body = JSON.stringify(evaluate(action.body, ctx));
    init.headers = { ...init.headers, 'content-type': 'application/json' };
  }
  const doFetch = host.options.fetch ?? globalThis.fetch;
  const reply = await doFetch(url, init);
  if (!reply.ok) throw new Error(`call ${action.method} ${url}: HTTP ${reply.status}`);
  if (action.result == null) return;
  let data;
  try {
    data = await reply.json();
  } catch (err) {
    throw new Error(`call ${action.method} ${url}: the reply is not JSON (${describe(err)})`);
  }
  host.fields.set(action.result, data);
}

/**
 * Set (or replace) the handler of an event on an element; the listener reads the action from
 * the record each time, so replacing a handler adds no listener.
 * @param {Element} el @param {import('./mount.js').Rec} rec @param {string} name @param {any} action
 * @param {import('./connect.js').Host} host
 */
export function setEvent(el, rec, name, action, host) {
  rec.events.set(name, action);
  if (rec.listeners.has(name)) return;
  /** @param {Event} event */
  const listener = (event) => {
    const current = rec.events.get(name);
    if (current !== undefined) fire(current, { el, event }, name, host);
  };
  rec.listeners.set(name, listener);
  el.addEventListener(name, listener);
}

/** @param {Element} el @param {import('./mount.js').Rec} rec @param {string} name */
export function removeEvent(el, rec, name) {
  rec.events.delete(name);
  const listener = rec.listeners.get(name);
  if (listener) el.removeEventListener(name, listener);
  rec.listeners.delete(name);
}

/**
 * @param {any} action @param {Scope} scope @param {string} name @param {import('./connect.js').Host} host
 */
function fire(action, scope, name, host) {
  /** @param {unknown} err */
  const report = (err) => host.report(new ClientError('handler', `handler of ${JSON.stringify(name)}: ${describe(err)}`, err));
  if (host.depth >= MAX_HANDLER_DEPTH) {
    report(new Error(`handlers nested more than ${MAX_HANDLER_DEPTH} deep; stopped`));
    return;
  }
  host.depth++;
  try {
    runAction(action, scope, host)?.catch(report);
  } catch (err) {
    report(err);
  } finally {
    host.depth--;
  }
}
