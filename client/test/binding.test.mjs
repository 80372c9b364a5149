// The JavaScript surface of the WebAssembly binding: loading from every kind of source, argument
// checks, rev in both forms, core errors as VelmorError, and memory that stays put over many calls.
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { test } from 'node:test';

import { load, VelmorError } from '../dist/velmor.js';

const WASM_URL = new URL('../dist/velmor.wasm', import.meta.url);
const WASM = readFileSync(WASM_URL);
const OLD = '{"tag":"ul","slots":{"items":[{"tag":"li","key":"a","props":{"text":{"Str":"Apples"}}},{"tag":"li","key":"b"}]}}';
const NEW = '{"tag":"ul","slots":{"items":[{"tag":"li","key":"b"},{"tag":"li","key":"a","props":{"text":{"Str":"Apples!"}}}]}}';
const PATCH = '{"ops":[{"MoveChild":{"path":[],"slot":"items","from":1,"to":0}},{"SetProp":{"path":[{"slot":"items","index":1}],"name":"text","value":{"Str":"Apples!"}}}]}';
const MANIFEST = '{"modules":[{"declarations":[{"customElement":true,"tagName":"todo-button","attributes":[{"name":"size","type":{"text":"\'s\' | \'m\' | null"},"default":"\'m\'"}]}]}]}';

const v = await load();

test('load takes the wasm from every kind of source', async (t) => {
  const sources = {
    'the default, beside the module': undefined,
    'a file URL': WASM_URL,
    'a URL string': WASM_URL.href,
    'a Uint8Array': new Uint8Array(WASM),
    'an ArrayBuffer': WASM.buffer.slice(WASM.byteOffset, WASM.byteOffset + WASM.length),
    'a Response': new Response(WASM, { headers: { 'content-type': 'application/wasm' } }),
  };
  for (const [name, source] of Object.entries(sources)) {
    await t.test(name, async () => {
      const core = await load(source);
      assert.equal(core.diff(OLD, NEW), PATCH);
    });
  }
});

test('load refuses what is not a wasm module', async () => {
  await assert.rejects(load(new Uint8Array([0, 97, 115, 109, 2, 0, 0, 0])), WebAssembly.CompileError);
  await assert.rejects(load(new Response('missing', { status: 404 })), /HTTP 404/);
  await assert.rejects(load(42), TypeError);
});

test('the five operations', () => {
  assert.equal(v.diff(OLD, NEW), PATCH);
  assert.equal(v.diff(OLD, OLD), '{"ops":[]}');
  assert.equal(v.apply(OLD, PATCH), NEW);
  const frame = v.encodeFrame('{"ops":[]}', 'counter', 'patch', 3, 'application/json');
  assert.ok(frame instanceof Uint8Array);
  assert.equal(frame.length, 103);
  assert.equal(v.decodeFrame(frame), '{"kind":"patch","model_type":"counter","payload":{"ops":[]},"rev":3}');
  assert.deepEqual([...v.encodeFrame('{"ops":[]}', 'counter', 'patch', 3, 'application/msgpack').slice(-6)],
    [0x81, 0xa3, 0x6f, 0x70, 0x73, 0x90]);
  assert.equal(v.parseCem(MANIFEST),
    '[{"tag_name":"todo-button","class_name":"TodoButton","props":[{"name":"size","ty":{"Optional":{"Enum":["s","m"]}},"default":"m"}],"events":[],"slots":[]}]');
});

test('non-ASCII text crosses the boundary both ways', () => {
  const tree = '{"tag":"é€😀","props":{"t":{"Str":"\\u00e9 ok \u2028"}}}';
  assert.equal(v.apply(tree, '{"ops":[]}'), '{"tag":"é€😀","props":{"t":{"Str":"é ok \u2028"}}}');
  const frame = v.encodeFrame(tree, 'ü', 'snapshot', 0, 'application/msgpack');
  assert.equal(v.decodeFrame(frame), '{"kind":"snapshot","model_type":"ü","payload":{"props":{"t":{"Str":"é ok \u2028"}},"tag":"é€😀"},"rev":0}');
});

test('rev: a BigInt up to 2**64 - 1 or a non-negative safe integer', () => {
  const cases = [[0, '0'], [2 ** 53 - 1, '9007199254740991'], [2n ** 53n + 1n, '9007199254740993'],
    [2n ** 32n, '4294967296'], [2 ** 32 + 5, '4294967301'], [2n ** 64n - 1n, '18446744073709551615']];
  for (const [rev, text] of cases) {
    const out = v.decodeFrame(v.encodeFrame('1', 'm', 'snapshot', rev, 'application/json'));
    assert.equal(out, `{"kind":"snapshot","model_type":"m","payload":1,"rev":${text}}`, String(rev));
  }
});

test('wrong arguments throw TypeError or RangeError, and nothing is called', () => {
  const cases = [
    [() => v.diff(1, NEW), TypeError, "diff(): 'old' must be a string, not number"],
    [() => v.diff(OLD), TypeError, "diff(): 'new' must be a string, not undefined"],
    [() => v.apply(OLD, null), TypeError, "apply(): 'patch' must be a string, not null"],
    [() => v.parseCem(new Uint8Array(2)), TypeError, "parseCem(): 'manifest' must be a string, not Uint8Array"],
    [() => v.decodeFrame('frame'), TypeError, "decodeFrame(): 'frame' must be a Uint8Array, not string"],
    [() => v.decodeFrame(new ArrayBuffer(8)), TypeError, "decodeFrame(): 'frame' must be a Uint8Array, not ArrayBuffer"],
    [() => v.diff('{"tag":"\ud800"}', NEW), TypeError, "diff(): 'old' holds a lone surrogate, which has no UTF-8 form"],
    [() => v.encodeFrame('{}', 'm', 'patch', -1, 'application/json'), RangeError,
      "encodeFrame(): 'rev' must be from 0 to Number.MAX_SAFE_INTEGER (or a BigInt), not -1"],
    [() => v.encodeFrame('{}', 'm', 'patch', 2 ** 53, 'application/json'), RangeError,
      "encodeFrame(): 'rev' must be from 0 to Number.MAX_SAFE_INTEGER (or a BigInt), not 9007199254740992"],
    [() => v.encodeFrame('{}', 'm', 'patch', 2n ** 64n, 'application/json'), RangeError,
      "encodeFrame(): 'rev' must be from 0 to 2**64 - 1, not 18446744073709551616"],
    [() => v.encodeFrame('{}', 'm', 'patch', -1n, 'application/json'), RangeError,
      "encodeFrame(): 'rev' must be from 0 to 2**64 - 1, not -1"],
    [() => v.encodeFrame('{}', 'm', 'patch', 1.5, 'application/json'), TypeError,
      "encodeFrame(): 'rev' must be an integer, not 1.5"],
    [() => v.encodeFrame('{}', 'm', 'patch', '1', 'application/json'), TypeError,
      "encodeFrame(): 'rev' must be a BigInt or a number, not string"],
    [() => v.encodeFrame('{}', 'm', 'patch', 1, undefined), TypeError,
      "encodeFrame(): 'codec' must be a string, not undefined"],
  ];
  const before = v.memoryStats().used;
  for (const [call, type, message] of cases) {
    assert.throws(call, (e) => e.constructor === type && e.message === message, message);
  }
  // The arguments already copied in before the failing one are given back.
  assert.equal(v.memoryStats().used, before);
});

test('core failures throw VelmorError with the core\'s text', () => {
  const cases = [
    [() => v.diff('{"tag":"a",}', NEW), 'trailing comma at line 1 column 12'],
    [() => v.diff('{"tag":"a","props":{"n":{"Int":1.5}}}', NEW), 'invalid type: floating point `1.5`, expected i64 at line 1 column 34'],
    [() => v.apply(OLD, '{"ops":[{"RemoveChild":{"path":[],"slot":"items","index":5}}]}'), 'removal index (is 5) should be < len (is 2)'],
    [() => v.decodeFrame(new Uint8Array([0, 0])), 'truncated frame'],
    [() => v.encodeFrame('{}', 'm', 'delta', 1, 'application/json'), 'unknown frame kind: delta'],
  ];
  for (const [call, message] of cases) {
    assert.throws(call, (e) => e instanceof VelmorError && e instanceof Error && e.name === 'VelmorError' && e.message === message, message);
  }
});

test('memory stops growing: 100k calls of each function', () => {
  const frame = v.encodeFrame(NEW, 'm', 'snapshot', 1, 'application/msgpack');
  const bad = frame.slice(0, frame.length - 3);
  // Each function, alternately succeeding and failing (reading errors unwind through the core).
  const calls = {
    diff: [() => v.diff(OLD, NEW), () => v.diff(OLD, '{"tag":"a",}')],
    apply: [() => v.apply(OLD, PATCH), () => v.apply(OLD, '{"ops":[{"RemoveChild":{"path":[],"slot":"items","index":5}}]}')],
    encodeFrame: [() => v.encodeFrame(NEW, 'm', 'snapshot', 7n, 'application/msgpack'), () => v.encodeFrame('{"a":[1,}', 'm', 'patch', 1, 'application/msgpack')],
    decodeFrame: [() => v.decodeFrame(frame), () => v.decodeFrame(bad)],
    parseCem: [() => v.parseCem(MANIFEST), () => v.parseCem('{"modules":[{"declarations":[{"tagName":1}]}]}')],
  };
  for (const [name, [good, failing]] of Object.entries(calls)) {
    const run = (n) => {
      for (let i = 0; i < n; i++) {
        if (i % 2 === 0) good();
        else assert.throws(failing, VelmorError);
      }
    };
    run(1000);
    const warm = v.memoryStats();
    run(100_000);
    const after = v.memoryStats();
    assert.deepEqual(after, warm, name);
  }
});

test('random bytes and texts: a result or a VelmorError, never a trap, and nothing left allocated', () => {
  let seed = 12;
  const next = () => (seed = (Math.imul(seed, 1103515245) + 12345) >>> 0) / 2 ** 32;
  const pieces = ['{', '}', '[', ']', ',', ':', '"', '\\', '"tag"', '"slots"', '"ops"', '0', '1e999', '-', 'é', '\u0000'];
  const frame = v.encodeFrame(OLD, 'm', 'snapshot', 1, 'application/msgpack');
  let failures = 0;
  for (let i = 0; i < 20_000; i++) {
    const bytes = frame.slice(0, Math.floor(next() * frame.length));
    for (let k = 0; k < 3; k++) bytes[Math.floor(next() * bytes.length)] = Math.floor(next() * 256);
    let text = OLD.slice(0, Math.floor(next() * OLD.length));
    for (let k = 0; k < 3; k++) {
      const at = Math.floor(next() * text.length);
      text = text.slice(0, at) + pieces[Math.floor(next() * pieces.length)] + text.slice(at + 1);
    }
    for (const call of [() => v.decodeFrame(bytes), () => v.diff(text, NEW), () => v.apply(text, PATCH),
      () => v.encodeFrame(text, 'm', 'patch', 1, 'application/msgpack'), () => v.parseCem(text)]) {
      try {
        call();
      } catch (e) {
        assert.ok(e instanceof VelmorError, e);
        failures++;
      }
    }
  }
  assert.ok(failures > 0);
  assert.equal(v.memoryStats().used, 0);
});
