// The todo page: the components, then the client connected to the server's socket. Errors are
// shown in the page (and kept in `window.velmorErrors` for whoever drives the page).

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

const client = connect(/** @type {Element} */ (document.getElementById('app')), '/ws', {
  debug: new URLSearchParams(location.search).has('debug'),
  compute: count,
  onError(err) {
    errors.push({ kind: err.kind, message: err.message });
    const line = document.createElement('li');
    line.textContent = `${err.kind}: ${err.message}`;
    shown.append(line);
    console.warn(err);
  },
});

Object.assign(window, { velmorClient: client, velmorErrors: errors });
