// The client's entry point: connect(container, url, options) mounts the server's tree in the
// container and keeps it up to date from the frames that arrive over a WebSocket.

import { load } from './dist/velmor.js';
import { ClientError, describe } from './errors.js';
import { createFields } from './fields.js';
import { readNotice, resyncMessage, splitDecoded } from './messages.js';
import { build, release } from './mount.js';
import { applyOps } from './ops.js';
import { openSocket, socketUrl } from './socket.js';
import { verifyDom } from './verify.js';

const NO_OPS = '{"ops":[]}';

/**
 * @typedef {object} Options
 * @property {(error: ClientError) => void} [onError] every failure, with its `kind` (default: console.error)
 * @property {(info: Update) => void} [onUpdate] after each frame has been applied to the DOM
 * @property {Record<string, (ctx: {element: Element, event: Event|null, fields: import('./fields.js').Fields, send: (text: string) => boolean}) => unknown>} [handlers]
 *   the handlers that `js` actions name
 * @property {(compute: unknown, ctx: {element: Element, name: string, value: unknown, field: (name: string) => unknown}) => unknown} [compute]
 *   what a binding's `compute` gives (without it, `compute` is left alone)
 * @property {Record<string, unknown>} [fields] the field store's starting values
 * @property {boolean} [debug] check after every frame that the DOM agrees with the tree
 * @property {any} [core] the loaded binding (from `load()`), else it is loaded here
 * @property {string|URL|Response|ArrayBuffer|Uint8Array} [wasm] where `load` finds the module
 * @property {typeof fetch} [fetch] for `call` actions (default: the global fetch)
 * @property {number} [reconnectDelay] first wait before reopening a dropped socket, in ms (250)
 * @property {number} [maxReconnectDelay] the longest such wait, in ms (5000)
 */

/**
 * @typedef {{kind: 'snapshot'|'patch', rev: bigint, ops: number, received: number, applied: number, dom: number}} Update
 *   `received` and `applied` are `performance.now()` times: the message's arrival and the end
 *   of its DOM changes; `dom` is the part of that spent changing (or building) the DOM, in ms
 */

/**
 * What the modules share for one connection.
 * @typedef {object} Host
 * @property {Element} container
 * @property {Element} root
 * @property {import('./fields.js').Fields} fields
 * @property {(text: string) => boolean} send
 * @property {(error: ClientError) => void} report
 * @property {Options} options
 * @property {number} depth how deeply handlers are nested right now
 */

/**
 * Connect a container to a server: open the socket, mount the first snapshot in the container
 * and apply every later frame to the DOM in place.
 * @param {Element} container
 * @param {string} url the WebSocket URL, relative to the page allowed (`/ws`)
 * @param {Options} [options]
 */
export function connect(container, url, options = {}) {
  const onError = options.onError ?? ((/** @type {ClientError} */ e) => console.error(e));
  /** @param {ClientError} err */
  const report = (err) => {
    try {
      onError(err);
    } catch (inner) {
      console.error(inner);
    }
  };
  /** @type {Host} */
  const host = {
    container,
    root: container,
    fields: createFields(options.fields),
    send: () => false,
    report,
    options,
    depth: 0,
  };
  /** @type {string|null} the tree the DOM shows, canonical */
  let tree = null;
  /** @type {bigint|null} */
  let rev = null;
  let mounted = false;
  let waitingForSnapshot = true;
  /** @type {any} */
  let core = options.core ?? null;
  /** @type {Array<[Uint8Array, number]>} frames that arrived while the binding loaded */
  const early = [];
  /** @type {(value: void) => void} */
  let painted = () => {};
  const ready = new Promise((resolve) => { painted = resolve; });

  const socket = openSocket(socketUrl(url, globalThis.location?.href ?? 'http://localhost/'), {
    frame: (bytes, at) => {
      if (core) guarded(bytes, at);
      else early.push([bytes, at]);
    },
    notice: (text) => {
      try {
        const notice = readNotice(text);
        report(new ClientError('server', notice.type === 'error' ? notice.message : `${notice.type}: ${notice.message}`));
      } catch (err) {
        report(new ClientError('message', describe(err), err));
      }
    },
    open: () => {},
    close: () => { waitingForSnapshot = true; },
  }, options);

  host.send = (text) => {
    if (socket.send(text)) return true;
    report(new ClientError('socket', `not connected: message dropped: ${text.slice(0, 120)}`));
    return false;
  };

  if (!core) {
    load(options.wasm).then((loaded) => {
      core = loaded;
      for (const [bytes, at] of early.splice(0)) guarded(bytes, at);
    }, (/** @type {unknown} */ err) => report(new ClientError('load', `the WebAssembly core did not load: ${describe(err)}`, err)));
  }

  function resync() {
    waitingForSnapshot = true;
    host.send(resyncMessage(rev));
  }

  /** Build the DOM anew from the tree (the last resort when the DOM no longer fits it). @param {string} text */
  function rebuild(text) {
    const fresh = build(JSON.parse(text), host);
    if (mounted) {
      host.root.replaceWith(fresh);
      release(host.root);
    } else {
      container.replaceChildren(fresh);
      mounted = true;
    }
    host.root = fresh;
  }

  /**
   * Change the DOM by a patch's operations; if the DOM turns out not to fit them, report it and
   * build the DOM from the tree instead.
   * @param {string} patchText @param {string} next
   */
  function patchDom(patchText, next) {
    const ops = JSON.parse(patchText).ops;
    try {
      applyOps(Array.isArray(ops) ? ops : JSON.parse(core.diff(tree, next)).ops, host);
    } catch (err) {
      report(new ClientError('patch', `the DOM did not take the patch (${describe(err)}); rebuilt from the tree`, err));
      rebuild(next);
    }
    return Array.isArray(ops) ? ops.length : 0;
  }

  /**
   * Nothing a frame does escapes into the event loop: what `receive` does not report itself
   * (a callback of the page that throws, say) is reported here.
   * @param {Uint8Array} bytes @param {number} received
   */
  function guarded(bytes, received) {
    try {
      receive(bytes, received);
    } catch (err) {
      report(new ClientError('frame', `frame not handled: ${describe(err)}`, err));
    }
  }

  /** @param {Uint8Array} bytes @param {number} received */
  function receive(bytes, received) {
    let frame;
    try {
      frame = splitDecoded(core.decodeFrame(bytes));
    } catch (err) {
      report(new ClientError('frame', `bad frame: ${describe(err)}`, err));
      return;
    }
    let next;
    let count = 0;
    let domStart = 0;
    if (frame.kind === 'snapshot') {
      try {
        next = core.apply(frame.payload, NO_OPS);
      } catch (err) {
        report(new ClientError('frame', `the snapshot is not a tree: ${describe(err)}`, err));
        return;
      }
      if (mounted && tree !== null) {
        // a snapshot over a mounted tree changes only what differs, so that the elements
        // (and what the user is doing in them) outlive a reconnection
        const patch = core.diff(tree, next);
        domStart = performance.now();
        count = patchDom(patch, next);
      } else {
        domStart = performance.now();
        rebuild(next);
      }
      waitingForSnapshot = false;
    } else {
      if (waitingForSnapshot || tree === null || rev === null) return;
      if (frame.rev !== rev + 1n) {
        report(new ClientError('resync', `patch rev ${frame.rev} does not follow rev ${rev}; resyncing`));
        resync();
        return;
      }
      try {
        next = core.apply(tree, frame.payload);
      } catch (err) {
        report(new ClientError('patch', `the patch does not fit the tree (${describe(err)}); resyncing`, err));
        resync();
        return;
      }
      domStart = performance.now();
      count = patchDom(frame.payload, next);
    }
    const domEnd = performance.now();
    tree = next;
    rev = frame.rev;
    if (options.debug) {
      const wrong = verifyDom(host.root, tree);
      if (wrong.length) report(new ClientError('verify', `the DOM differs from the tree at rev ${rev}: ${wrong.slice(0, 5).join('; ')}`));
    }
    options.onUpdate?.({ kind: frame.kind, rev: frame.rev, ops: count, received, applied: performance.now(), dom: domEnd - domStart });
    painted();
  }

  return {
    /** Resolves once the first snapshot is in the DOM. */
    ready,
    /** The tree the DOM shows (canonical JSON text), or null before the first snapshot. */
    get tree() { return tree; },
    /** The revision of that tree. */
    get rev() { return rev; },
    /** The root element of the tree. */
    get root() { return mounted ? host.root : null; },
    fields: host.fields,
    /** Send a client message (JSON text); false when the socket is not open. */
    send: host.send,
    /** Ask the server for a snapshot. */
    resync,
    /** Drop the socket as a network failure would (it reconnects and resyncs). */
    drop: () => socket.drop(),
    /** Close the connection for good. */
    close: () => socket.close(),
  };
}
