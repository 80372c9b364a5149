// The todo page: the components, then the client connected to the server's socket. Errors are
// shown in the page (and kept in `window.velmorErrors` for whoever drives the page); with
// ?debug the client checks the DOM after every frame, with ?timing it records each frame's times.

import './elements.js';
import { connect } from '/client/connect.js';

/** @type {Array<{kind: string, message: string}>} */
const errors = [];
const shown = /** @type {HTMLElement} */ (document.getElementById('errors'));

/**
 * The count a filter button shows: the items of the field its compute names (the list the
 * server's item endpoints reply with), those the filter lets through.
 * @param {any} compute @param {{field: (name: string) => unknown}} ctx
 */
function count(compute, ctx) {
  const items = ctx.field(compute?.of);
  if (!Array.isArray(items)) return undefined;
  if (compute.filter === 'active') return items.filter((i) => !i.done).length;
  if (compute.filter === 'done') return items.filter((i) => i.done).length;
  return items.length;
}

const query = new URLSearchParams(location.search);
/** @type {Array<{kind: string, ops: number, apply: number, paint: number}>} with ?timing: per frame, ms from its arrival */
const timings = [];

const client = connect(/** @type {Element} */ (document.getElementById('app')), '/ws', {
  debug: query.has('debug'),
  compute: count,
  onUpdate(info) {
    if (!query.has('timing')) return;
    // a task queued from an animation frame runs once that frame has been painted
    requestAnimationFrame(() => setTimeout(() => timings.push({
      kind: info.kind, ops: info.ops, apply: info.applied - info.received, paint: performance.now() - info.received,
    })));
  },
  onError(err) {
    errors.push({ kind: err.kind, message: err.message });
    const line = document.createElement('li');
    line.textContent = `${err.kind}: ${err.message}`;
    shown.append(line);
    console.warn(err);
  },
});

Object.assign(window, { velmorClient: client, velmorErrors: errors, velmorTimings: timings });
