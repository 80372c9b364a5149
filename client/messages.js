// The shapes that cross the socket besides frames: client messages (one JSON text each, version
// 1), server notices, and the split of a decoded frame into its header members and payload text.

export const PROTOCOL_VERSION = 1;

/**
 * @param {string} type
 * @param {Record<string, unknown>} members
 */
function message(type, members) {
  return JSON.stringify({ v: PROTOCOL_VERSION, type, ...members });
}

/** An `emit` action ran: @param {string} event @param {unknown} detail */
export function emitMessage(event, detail) {
  return message('emit', { event, detail: detail ?? null });
}

/** A `patch` action ran: @param {string} model @param {string} field @param {unknown} value */
export function patchMessage(model, field, value) {
  return message('patch', { model, field, value: value ?? null });
}

/** A two-way binding wrote a value back: @param {string} field @param {unknown} value */
export function fieldMessage(field, value) {
  return message('field', { field, value: value ?? null });
}

/**
 * Ask for a snapshot; `rev` is the last revision applied (a decimal text, exact up to 2**64 - 1)
 * or null.
 * @param {bigint|null} rev
 */
export function resyncMessage(rev) {
  return `{"v":${PROTOCOL_VERSION},"type":"resync","rev":${rev === null ? 'null' : rev.toString()}}`;
}

/**
 * A server notice (a text WebSocket message): `{"v":1,"type":"error","message":TEXT}`.
 * @param {string} text
 * @returns {{type: string, message: string}}
 */
export function readNotice(text) {
  let data;
  try {
    data = JSON.parse(text);
  } catch {
    throw new Error(`server notice is not JSON: ${text.slice(0, 80)}`);
  }
  if (data === null || typeof data !== 'object' || data.v !== PROTOCOL_VERSION || typeof data.type !== 'string') {
    throw new Error(`server notice of unknown shape: ${text.slice(0, 80)}`);
  }
  return { type: data.type, message: typeof data.message === 'string' ? data.message : '' };
}

/**
 * @typedef {{kind: 'snapshot'|'patch', modelType: string, rev: bigint, payload: string}} Decoded
 */

/**
 * Split the text that `decodeFrame` returns, `{"kind":K,"model_type":M,"payload":P,"rev":R}`
 * (canonical: members in this order, no whitespace), without parsing the payload, so that its
 * exact text (integers past 2**53, floats that are whole numbers) reaches the tree unchanged.
 * @param {string} text
 * @returns {Decoded}
 */
export function splitDecoded(text) {
  let kind;
  let at;
  for (const k of /** @type {const} */ (['snapshot', 'patch'])) {
    const head = `{"kind":"${k}","model_type":"`;
    if (text.startsWith(head)) {
      kind = k;
      at = head.length;
    }
  }
  if (kind === undefined || at === undefined) throw new Error('decoded frame of unknown shape');
  // the model type is a JSON string: find its closing quote, stepping over escapes
  let end = at;
  while (end < text.length && text[end] !== '"') end += text[end] === '\\' ? 2 : 1;
  const modelType = JSON.parse(text.slice(at - 1, end + 1));
  const open = ',"payload":';
  if (!text.startsWith(open, end + 1)) throw new Error('decoded frame of unknown shape');
  const revAt = text.lastIndexOf(',"rev":');
  const revText = text.slice(revAt + 7, -1);
  if (revAt < end || !text.endsWith('}') || !/^[0-9]+$/.test(revText)) throw new Error('decoded frame of unknown shape');
  return { kind, modelType, rev: BigInt(revText), payload: text.slice(end + 1 + open.length, revAt) };
}
