// The JavaScript side of the WebAssembly binding. tools/build_wasm.sh writes client/dist/velmor.js
// as emscripten's glue (which defines `createCore`) followed by this file.

/**
 * A core failure: `message` is exactly the text of the ValueError that the Python module raises
 * for the same input.
 */
export class VelmorError extends Error {
  /** @param {string} message */
  constructor(message) {
    super(message);
    this.name = 'VelmorError';
  }
}

const encoder = new TextEncoder();
const decoder = new TextDecoder('utf-8', { fatal: true });
const U64_MAX = (1n << 64n) - 1n;
const SURROGATE = /\p{Surrogate}/u;

/** @param {URL | string | Response | ArrayBuffer | Uint8Array} source @returns {Promise<ArrayBuffer | Uint8Array>} */
async function wasmBytes(source) {
  if (source instanceof Uint8Array || source instanceof ArrayBuffer) return source;
  if (typeof Response !== 'undefined' && source instanceof Response) {
    if (!source.ok) throw new Error(`cannot load velmor.wasm: HTTP ${source.status} for ${source.url}`);
    return source.arrayBuffer();
  }
  if (typeof source === 'string' || source instanceof URL) {
    const url = new URL(source, typeof location !== 'undefined' ? location.href : import.meta.url);
    if (url.protocol === 'file:') {
      const fs = await import('node:fs/promises');
      return fs.readFile(url);
    }
    return wasmBytes(await fetch(url));
  }
  throw new TypeError('load(): the source must be a URL, a Response, an ArrayBuffer or a Uint8Array');
}

/**
 * The core, ready to call.
 * @typedef {object} Velmor
 * @property {(oldTree: string, newTree: string) => string} diff the patch that turns one tree into the next
 * @property {(root: string, patch: string) => string} apply a patch applied to a tree, in canonical form
 * @property {(payload: string, modelType: string, kind: string, rev: bigint | number, codec: string) => Uint8Array} encodeFrame
 *   a tree or patch wrapped in a frame
 * @property {(frame: Uint8Array) => string} decodeFrame `{"kind":…,"model_type":…,"payload":…,"rev":…}`
 * @property {(manifest: string) => string} parseCem the JSON list of component schemas of a manifest
 * @property {() => {reserved: number, used: number}} memoryStats the bytes of WebAssembly memory
 *   the module holds, and of those the bytes its allocator has handed out
 */

/**
 * Instantiates the core.
 * @param {URL | string | Response | ArrayBuffer | Uint8Array} [source] the wasm; by default the
 *   velmor.wasm beside this module
 * @returns {Promise<Velmor>}
 */
export async function load(source = new URL('velmor.wasm', import.meta.url)) {
  const bytes = await wasmBytes(source);
  const core = await new Promise((resolve, reject) => {
    createCore({
      instantiateWasm(imports, done) {
        WebAssembly.instantiate(bytes, imports).then((r) => done(r.instance, r.module), reject);
        return {};
      },
      onAbort: (what) => reject(new Error(`velmor.wasm aborted: ${what}`)),
    }).then(resolve, reject);
  });
  return bind(core);
}

function bind(core) {
  // Arguments are copied into the module's memory for the length of one call.
  function text(fn, name, value, held) {
    if (typeof value !== 'string') throw new TypeError(`${fn}: '${name}' must be a string, not ${kind(value)}`);
    const room = value.length * 3;
    const ptr = alloc(room, held);
    const { written } = encoder.encodeInto(value, core.HEAPU8.subarray(ptr, ptr + room));
    // encodeInto writes U+FFFD for a lone surrogate; a text of one byte per code unit has none.
    if (written !== value.length && !(value.isWellFormed ? value.isWellFormed() : !SURROGATE.test(value))) {
      throw new TypeError(`${fn}: '${name}' holds a lone surrogate, which has no UTF-8 form`);
    }
    return [ptr, written];
  }

  function bytes(fn, name, value, held) {
    if (!(value instanceof Uint8Array)) throw new TypeError(`${fn}: '${name}' must be a Uint8Array, not ${kind(value)}`);
    const ptr = alloc(value.length, held);
    core.HEAPU8.set(value, ptr);
    return [ptr, value.length];
  }

  function alloc(n, held) {
    const ptr = core._velmor_alloc(n);
    if (ptr === 0) throw new RangeError('out of memory');
    held.push(ptr);
    return ptr;
  }

  // Runs one core operation on the marshalled arguments and returns its output as text (or as
  // bytes), or throws its error.
  function run(held, call, asBytes) {
    let status;
    try {
      status = call();
    } finally {
      for (const ptr of held) core._velmor_free(ptr);
    }
    try {
      const ptr = core._velmor_out_data();
      const out = core.HEAPU8.subarray(ptr, ptr + core._velmor_out_size());
      if (status === 0) return asBytes ? out.slice() : decoder.decode(out);
      if (status === 1) throw new VelmorError(decoder.decode(out));
      throw new RangeError('out of memory');
    } finally {
      core._velmor_out_release();
    }
  }

  function marshal(fn, args) {
    const held = [];
    try {
      return [held, args.map(([name, value, convert]) => convert(fn, name, value, held))];
    } catch (e) {
      for (const ptr of held) core._velmor_free(ptr);
      throw e;
    }
  }

  return Object.freeze({
    diff(oldTree, newTree) {
      const [held, [a, b]] = marshal('diff()', [['old', oldTree, text], ['new', newTree, text]]);
      return run(held, () => core._velmor_diff(a[0], a[1], b[0], b[1]), false);
    },
    apply(root, patch) {
      const [held, [a, b]] = marshal('apply()', [['root', root, text], ['patch', patch, text]]);
      return run(held, () => core._velmor_apply(a[0], a[1], b[0], b[1]), false);
    },
    encodeFrame(payload, modelType, kind, rev, codec) {
      const [held, [p, m, k, r, c]] = marshal('encodeFrame()', [
        ['payload', payload, text], ['modelType', modelType, text], ['kind', kind, text],
        ['rev', rev, revision], ['codec', codec, text],
      ]);
      return run(held, () => core._velmor_encode_frame(p[0], p[1], m[0], m[1], k[0], k[1], r[0], r[1], c[0], c[1]), true);
    },
    decodeFrame(frame) {
      const [held, [f]] = marshal('decodeFrame()', [['frame', frame, bytes]]);
      return run(held, () => core._velmor_decode_frame(f[0], f[1]), false);
    },
    parseCem(manifest) {
      const [held, [m]] = marshal('parseCem()', [['manifest', manifest, text]]);
      return run(held, () => core._velmor_parse_cem(m[0], m[1]), false);
    },
    memoryStats() {
      return { reserved: core.HEAPU8.buffer.byteLength, used: core._velmor_heap_used() };
    },
  });
}

// `rev` as its low and high 32 bits: a BigInt from 0 to 2**64 - 1 or a non-negative safe integer.
function revision(fn, name, value) {
  if (typeof value === 'bigint') {
    if (value < 0n || value > U64_MAX) throw new RangeError(`${fn}: '${name}' must be from 0 to 2**64 - 1, not ${value}`);
    return [Number(value & 0xffffffffn), Number(value >> 32n)];
  }
  if (typeof value === 'number') {
    if (!Number.isInteger(value)) throw new TypeError(`${fn}: '${name}' must be an integer, not ${value}`);
    if (value < 0 || value > Number.MAX_SAFE_INTEGER) {
      throw new RangeError(`${fn}: '${name}' must be from 0 to Number.MAX_SAFE_INTEGER (or a BigInt), not ${value}`);
    }
    return [value % 2 ** 32, Math.floor(value / 2 ** 32)];
  }
  throw new TypeError(`${fn}: '${name}' must be a BigInt or a number, not ${kind(value)}`);
}

function kind(value) {
  if (value === null) return 'null';
  if (typeof value === 'object') return value.constructor?.name ?? 'object';
  return typeof value;
}
