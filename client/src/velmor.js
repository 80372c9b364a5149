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
// Node's Buffer copies a string's UTF-16 code units into memory, and makes a string of them, in
// one step each: with the module's conversions between UTF-16 and UTF-8 that is about half the
// cost of TextEncoder and TextDecoder for a text that is not all ASCII.
const NODE_BUFFER = typeof process !== 'undefined' && process.versions?.node && typeof Buffer === 'function'
  ? Buffer : null;
// Elsewhere a long output is decoded in pieces of about this many bytes, joined: Chromium's
// TextDecoder takes a third of the time for a 1 MB text with a few non-ASCII characters that way
// (0.44 ms against 1.56), and half or less for a dense one or one all ASCII, since each piece's
// string stays in the processor's cache.
const PIECE = 16384;
// Node makes a string of at least this many code units as one over its own copy of them, made
// outside the JavaScript heap in memory that the C library hands out again; a shorter one it
// copies into fresh pages of the heap, which costs a page fault every 4 KB: 1 MB of UTF-16 takes
// 0.11 ms the first way and 1.03 ms the second. So a long output (from a quarter of this many
// units) is made this long and cut to its size, a cut sharing the characters of what it is cut
// from; a shorter one is not worth holding that much memory for.
const NODE_LONG = 1031913;
// Texts through the string builtins are shorter than this many code units (a longer one's array
// might be longer than the host allows one to be).
const LONGEST_ARRAY = 2 ** 24;

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
  let memory = null;
  const core = await new Promise((resolve, reject) => {
    createCore({
      instantiateWasm(imports, done) {
        WebAssembly.instantiate(bytes, imports).then((r) => {
          memory = Object.values(r.instance.exports).find((e) => e instanceof WebAssembly.Memory) ?? null;
          done(r.instance, r.module);
        }, reject);
        return {};
      },
      onAbort: (what) => reject(new Error(`velmor.wasm aborted: ${what}`)),
    }).then(resolve, reject);
  });
  return bind(core, NODE_BUFFER === null && memory !== null ? stringBuiltins(memory) : null);
}

// Where WebAssembly has the string builtins (`wasm:js-string`; Chromium has them), a module of two
// functions over `memory`: units(text, n, at) writes the n UTF-16 code units of the string `text`
// from byte `at` on (the builtin copies them into an array of the module's own, which a loop
// stores in the memory), and text(at, n) makes a string of the n code units at byte `at` (a loop
// fills the array, the builtin makes the string of it). With the core's conversions to and from
// UTF-8, per 1 MB text in Chromium: in 0.8 ms against 2.1 ms for TextEncoder's encodeInto (whether
// the text is ASCII or not); out 0.5 ms against 0.76 ms for TextDecoder in pieces.
// The array is kept for the next text, up to 2**21 units (4 MB): in a diff of two 1 MB texts a
// new array for each took 0.3 ms more per text (Chromium's heap makes and collects each anew).
// Elsewhere null: the module does not compile, or its imports are not met.
function stringBuiltins(memory) {
  const leb = (n) => (n < 0x80 ? [n] : [(n & 0x7f) | 0x80, ...leb(n >>> 7)]);
  const name = (s) => [s.length, ...Array.from(s, (c) => c.charCodeAt(0))];
  const section = (id, ...items) => {
    const body = [...leb(items.length), ...items.flat()];
    return [id, ...leb(body.length), ...body];
  };
  const KEPT = 2 ** 21;  // (its LEB128 form is also that of a positive signed number)
  // Functions: 0 intoCharCodeArray, 1 fromCharCodeArray (imported); 2 array(n), 3 units, 4 text.
  // array(n): the array kept, unless there is none or it is shorter than n: then a new one, kept
  // when n is at most KEPT. Parameter 0 n; local 1 the array.
  const array = [
    0x01, 0x01, 0x63, 0x00,  // locals: (ref null 0)
    0x23, 0, 0x21, 1,
    0x20, 1, 0xd1, 0x04, 0x7f, 0x41, 1, 0x05, 0x20, 1, 0xfb, 0x0f, 0x20, 0, 0x49, 0x0b,  // null or short
    0x04, 0x40,
    0x20, 0, 0xfb, 0x07, 0x00, 0x21, 1,  // array.new_default(n)
    0x20, 0, 0x41, ...leb(KEPT), 0x4d, 0x04, 0x40, 0x20, 1, 0x24, 0, 0x0b,  // n <= KEPT: kept
    0x0b,
    0x20, 1, 0x0b,
  ];
  // In both loops: parameter `at` is local 2 in units, 0 in text; the array local 3 in units, 2
  // in text; the index local 4 in units, 3 in text.
  const steps = (at, arr, index, n, eight, one) => [
    // Eight units a step (a unit a step takes Chromium a fifth longer) ...
    0x02, 0x40, 0x03, 0x40,  // block, loop
    0x20, index, 0x41, 8, 0x6a, 0x20, n, 0x4b, 0x0d, 1,  // leave when index + 8 > n
    ...eight,
    0x20, index, 0x41, 8, 0x6a, 0x21, index,  // index += 8
    0x0c, 0, 0x0b, 0x0b,  // again; end loop, block
    // ... and the rest one a step.
    0x02, 0x40, 0x03, 0x40,
    0x20, index, 0x20, n, 0x4f, 0x0d, 1,  // leave when index >= n
    ...one,
    0x20, index, 0x41, 1, 0x6a, 0x21, index,  // index += 1
    0x0c, 0, 0x0b, 0x0b,
  ];
  // units: parameters 0 the string, 1 n, 2 at; locals 3 the array, 4 the index.
  const address = (at, index) => [0x20, at, 0x20, index, 0x41, 1, 0x74, 0x6a];  // at + 2 * index
  // array[index + k], as an i64 moved up by 16 * (k % 4) bits; four of them or-ed together
  const get = (k) => [0x20, 3, 0x20, 4, 0x41, k, 0x6a, 0xfb, 0x0d, 0x00, 0xad, 0x42, 16 * (k % 4), 0x86];
  const four = (k) => [...get(k), ...get(k + 1), 0x84, ...get(k + 2), 0x84, ...get(k + 3), 0x84];
  const units = [
    0x02, 0x01, 0x63, 0x00, 0x01, 0x7f,  // locals: (ref null 0), i32
    0x20, 1, 0x10, 2, 0x21, 3,  // array = array(n)
    0x20, 0, 0x20, 3, 0x41, 0, 0x10, 0, 0x1a,  // intoCharCodeArray(string, array, 0)
    ...steps(2, 3, 4, 1,
      [...address(2, 4), ...four(0), 0x37, 3, 0, ...address(2, 4), ...four(4), 0x37, 3, 8],  // two i64.store
      [...address(2, 4), 0x20, 3, 0x20, 4, 0xfb, 0x0d, 0x00, 0x3b, 1, 0]),  // i32.store16 of array[index]
    0x0b,
  ];
  // text: parameters 0 at, 1 n; locals 2 the array, 3 the index, 4 eight bytes of memory.
  // array[index + k] = unit k % 4 of local 4
  const set = (k) => [0x20, 2, 0x20, 3, 0x41, k, 0x6a, 0x20, 4, 0x42, 16 * (k % 4), 0x88, 0xa7, 0xfb, 0x0e, 0x00];
  const text = [
    0x03, 0x01, 0x63, 0x00, 0x01, 0x7f, 0x01, 0x7e,  // locals: (ref null 0), i32, i64
    0x20, 1, 0x10, 2, 0x21, 2,  // array = array(n)
    ...steps(0, 2, 3, 1,
      [...address(0, 3), 0x29, 3, 0, 0x21, 4, ...set(0), ...set(1), ...set(2), ...set(3),  // i64.load
        ...address(0, 3), 0x29, 3, 8, 0x21, 4, ...set(4), ...set(5), ...set(6), ...set(7)],  // 8 bytes on
      [0x20, 2, 0x20, 3, ...address(0, 3), 0x2f, 1, 0, 0xfb, 0x0e, 0x00]),  // array[index] = i32.load16_u
    0x20, 2, 0x41, 0, 0x20, 1, 0x10, 1,  // fromCharCodeArray(array, 0, n)
    0x0b,
  ];
  const bytes = new Uint8Array([
    0x00, 0x61, 0x73, 0x6d, 0x01, 0x00, 0x00, 0x00,
    // types: 0 (array (mut i16)); 1 intoCharCodeArray's (externref, (ref null 0), i32) -> i32;
    // 2 fromCharCodeArray's ((ref null 0), i32, i32) -> (ref extern); 3 units' (externref, i32,
    // i32) -> (); 4 text's (i32, i32) -> (ref extern); 5 array's (i32) -> (ref null 0)
    ...section(1, [0x5e, 0x77, 0x01], [0x60, 3, 0x6f, 0x63, 0x00, 0x7f, 1, 0x7f],
      [0x60, 3, 0x63, 0x00, 0x7f, 0x7f, 1, 0x64, 0x6f], [0x60, 3, 0x6f, 0x7f, 0x7f, 0],
      [0x60, 2, 0x7f, 0x7f, 1, 0x64, 0x6f], [0x60, 1, 0x7f, 1, 0x63, 0x00]),
    ...section(2, [...name('wasm:js-string'), ...name('intoCharCodeArray'), 0x00, 1],
      [...name('wasm:js-string'), ...name('fromCharCodeArray'), 0x00, 2],
      [...name('m'), ...name('memory'), 0x02, 0x00, 1]),
    ...section(3, [5], [3], [4]),
    ...section(6, [0x63, 0x00, 0x01, 0xd0, 0x00, 0x0b]),  // the kept array: (mut (ref null 0)), null
    ...section(7, [...name('units'), 0x00, 3], [...name('text'), 0x00, 4]),
    ...section(10, [...leb(array.length), ...array], [...leb(units.length), ...units], [...leb(text.length), ...text]),
  ]);
  try {
    const module = new WebAssembly.Module(bytes, { builtins: ['js-string'] });
    return new WebAssembly.Instance(module, { m: { memory } }).exports;
  } catch {
    return null;
  }
}

function bind(core, strings) {
  // A Buffer over the module's memory, made again when the memory grows.
  let heapBuffer = null;
  function heap() {
    const memory = core.HEAPU8.buffer;
    if (heapBuffer === null || heapBuffer.buffer !== memory) heapBuffer = NODE_BUFFER.from(memory);
    return heapBuffer;
  }

  // Arguments are copied into the module's memory for the length of one call.
  function text(fn, name, value, held) {
    if (typeof value !== 'string') throw new TypeError(`${fn}: '${name}' must be a string, not ${kind(value)}`);
    const room = value.length * 3;
    const ptr = alloc(room, held);
    if (NODE_BUFFER !== null || (strings !== null && value.length < LONGEST_ARRAY)) {
      const units = core._velmor_alloc(value.length * 2);
      if (units === 0) throw new RangeError('out of memory');
      let written;
      try {
        if (NODE_BUFFER !== null) heap().write(value, units, value.length * 2, 'utf16le');
        else strings.units(value, value.length, units);
        written = core._velmor_utf16_to_utf8(units, value.length, ptr);
      } finally {
        core._velmor_free(units);
      }
      if (written < 0) throw new TypeError(`${fn}: '${name}' holds a lone surrogate, which has no UTF-8 form`);
      return [ptr, written];
    }
    const { written } = encoder.encodeInto(value, core.HEAPU8.subarray(ptr, ptr + room));
    // encodeInto writes U+FFFD for a lone surrogate; a text of one byte per code unit has none,
    // nor has one whose bytes lack U+FFFD (which the module finds faster than the text's check).
    if (written !== value.length && core._velmor_has_replacement(ptr, written)
        && !(value.isWellFormed ? value.isWellFormed() : !SURROGATE.test(value))) {
      throw new TypeError(`${fn}: '${name}' holds a lone surrogate, which has no UTF-8 form`);
    }
    return [ptr, written];
  }

  // The UTF-8 text at ptr as a string; what is not UTF-8 throws as TextDecoder does.
  function decode(ptr, size) {
    if (NODE_BUFFER !== null || (strings !== null && size < LONGEST_ARRAY)) {
      const room = NODE_BUFFER !== null && size >= NODE_LONG / 4 ? Math.max(size, NODE_LONG) : size;
      const units = core._velmor_alloc(room * 2);
      if (units !== 0) {
        try {
          const n = core._velmor_utf8_to_utf16(ptr, size, units);
          if (NODE_BUFFER === null) {
            if (n >= 0) return strings.text(units, n);
          } else {
            const long = n >= NODE_LONG / 4 && n < NODE_LONG ? NODE_LONG : n;
            if (n === size) {  // all ASCII
              if (long === n) return heap().toString('latin1', ptr, ptr + size);
              heap().copy(heap(), units, ptr, ptr + size);
              return heap().toString('latin1', units, units + long).slice(0, n);
            }
            if (n >= 0) return heap().toString('utf16le', units, units + 2 * long).slice(0, n);
          }
        } finally {
          core._velmor_free(units);
        }
      }
      return decoder.decode(core.HEAPU8.subarray(ptr, ptr + size));
    }
    const bytes = core.HEAPU8.subarray(ptr, ptr + size);
    if (size <= PIECE) return decoder.decode(bytes);
    let out = '';
    for (let at = 0; at < size;) {
      let end = Math.min(at + PIECE, size);
      while (end < size && (bytes[end] & 0xc0) === 0x80) end++;  // a piece ends before a lead byte
      out += decoder.decode(bytes.subarray(at, end));
      at = end;
    }
    // Reading a character makes the joined pieces one flat string now, which would otherwise be
    // done by the first reader of the text.
    out.charCodeAt(0);
    return out;
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
      if (status === 0) return asBytes ? out.slice() : decode(ptr, out.length);
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
