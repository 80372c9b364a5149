// Texts across the boundary in both of the binding's ways: Node's (code units copied in and out
// with Buffer, converted by the module) and every other host's (TextEncoder, and long outputs
// decoded in pieces), here the same module loaded with Buffer hidden.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { load } from '../dist/velmor.js';

const buffer = Object.getOwnPropertyDescriptor(globalThis, 'Buffer');
delete globalThis.Buffer;
let loadElsewhere;
try {
  ({ load: loadElsewhere } = await import('../dist/velmor.js?without-buffer'));
} finally {
  Object.defineProperty(globalThis, 'Buffer', buffer);
}
const ways = { Node: await load(), elsewhere: await loadElsewhere() };

const NOOP = '{"ops":[]}';
const tree = (s) => `{"tag":"t","props":{"s":{"Str":"${s}"}}}`;
const frameOut = (s) => `{"kind":"snapshot","model_type":"m","payload":{"props":{"s":{"Str":"${s}"}},"tag":"t"},"rev":1}`;

// Characters that are not ASCII at every offset of a 16-byte block and across the ends of the
// pieces a long output is decoded in (the text starts 32 bytes into the output), at the start and
// the end, spread at every few bytes, and dense.
function texts() {
  const out = { empty: '', short: 'é', ascii: 'a'.repeat(40000), 'non-ASCII first': '€' + 'b'.repeat(40000),
    'non-ASCII last': 'c'.repeat(40000) + '😀', dense: 'Жёлтый 東京 😀 ü '.repeat(2000) };
  for (const ch of ['é', '–', '😀']) {
    for (let at = 0; at < 40; at++) {
      out[`${ch} at ${at}`] = 'd'.repeat(at) + ch + 'e'.repeat(40 - at) + ch;
      out[`${ch} across a piece's end, ${at}`] = 'd'.repeat(16384 - 32 - 20 + at) + ch + 'e'.repeat(16384 - 20) + ch;
    }
    for (const gap of [0, 1, 2, 15, 16, 17, 300]) out[`${ch} every ${gap}`] = ('f'.repeat(gap) + ch).repeat(Math.ceil(40000 / (gap + 1)));
  }
  return out;
}

test('every text comes back as it went in, both ways', () => {
  for (const [way, v] of Object.entries(ways)) {
    for (const [name, s] of Object.entries(texts())) {
      const t = tree(s);
      assert.ok(v.apply(t, NOOP) === t, `${way}: apply, ${name}`);
      assert.ok(v.decodeFrame(v.encodeFrame(t, 'm', 'snapshot', 1, 'application/msgpack')) === frameOut(s),
        `${way}: frame, ${name}`);
      assert.equal(v.diff(t, tree(s + 'z')), `{"ops":[{"SetProp":{"path":[],"name":"s","value":{"Str":"${s}z"}}}]}`,
        `${way}: diff, ${name}`);
    }
    assert.equal(v.memoryStats().used, 0, way);
  }
});

test('long outputs of every length near where Node makes its strings another way', () => {
  // Node copies a string of 1031913 code units or more out of the JavaScript heap; the binding
  // makes outputs from a quarter of that as long as that, and cuts them.
  const edges = [Math.ceil(1031913 / 4), 1031913];
  for (const [way, v] of Object.entries(ways)) {
    for (const edge of edges) {
      for (const off of [-2, -1, 0, 1]) {
        const n = edge + off - tree('').length;
        for (const [name, s] of Object.entries({ ascii: 'a'.repeat(n), 'non-ASCII first': '€' + 'b'.repeat(n - 1),
          'non-ASCII last': 'c'.repeat(n - 2) + '😀', 'two-byte, one byte more': 'é' + 'd'.repeat(n - 1) })) {
          const text = tree(s);
          const out = v.apply(text, NOOP);
          assert.ok(out.length === text.length && out === text, `${way}: apply, ${name}, ${edge} ${off}`);
          assert.ok(v.decodeFrame(v.encodeFrame(text, 'm', 'snapshot', 1, 'application/msgpack')) === frameOut(s),
            `${way}: frame, ${name}, ${edge} ${off}`);
        }
      }
    }
    assert.equal(v.memoryStats().used, 0, way);
  }
});

test('a lone surrogate is refused both ways, wherever it lies; a pair across a block is kept', () => {
  const refused = (e) => e instanceof TypeError && e.message === "apply(): 'root' holds a lone surrogate, which has no UTF-8 form";
  for (const [way, v] of Object.entries(ways)) {
    for (let at = 0; at < 40; at++) {
      const [before, after] = ['g'.repeat(at), 'h'.repeat(40 - at)];
      for (const lone of ['\ud800', '\udbff', '\udc00', '\udfff', '\ude00\ud83d']) {
        assert.throws(() => v.apply(tree(before + lone + after), NOOP), refused, `${way}: ${escape(lone)} at ${at}`);
      }
      assert.throws(() => v.apply(tree(before) + '\ud83d', NOOP), refused, `${way}: high surrogate last`);
      const pair = tree(before + '\ud83d\ude00' + after);
      assert.equal(v.apply(pair, NOOP), pair, `${way}: pair at ${at}`);
    }
    assert.equal(v.memoryStats().used, 0, way);
  }
});

test('long keys sort and long values compare byte by byte, a difference at any place', () => {
  const v = ways.Node;
  for (const length of [17, 31, 32, 33, 47, 64]) {
    const base = 'k'.repeat(length);
    const keys = [base];
    for (let at = 0; at < length; at++) {
      for (const ch of ['a', '~', 'é', '\u0001']) keys.push(base.slice(0, at) + ch + base.slice(at + 1));
    }
    keys.push(base + 'a', base.slice(1));
    const props = keys.map((k, i) => `${JSON.stringify(k)}:{"Int":${i}}`).reverse().join(',');
    const out = JSON.parse(v.apply(`{"tag":"t","props":{${props}}}`, NOOP));
    const bytes = (k) => Buffer.from(k, 'utf8');
    assert.deepEqual(Object.keys(out.props), [...keys].sort((a, b) => Buffer.compare(bytes(a), bytes(b))), `length ${length}`);

    const value = (s) => `{"tag":"t","props":{"v":{"Str":${JSON.stringify(s)}}}}`;
    assert.equal(v.diff(value(base), value(base)), NOOP, `length ${length}`);
    for (let at = 0; at < length; at++) {
      const other = base.slice(0, at) + 'j' + base.slice(at + 1);
      assert.equal(v.diff(value(base), value(other)),
        `{"ops":[{"SetProp":{"path":[],"name":"v","value":{"Str":"${other}"}}}]}`, `length ${length}, at ${at}`);
    }
  }
});

test('random texts of every kind of character come back as they went in, both ways', () => {
  let seed = 7;
  const next = (n) => (seed = (Math.imul(seed, 1103515245) + 12345) >>> 0) % n;
  // ASCII, two-byte, three-byte (below and above the surrogates) and four-byte characters.
  const kinds = [() => String.fromCharCode(0x20 + next(0x5f)).replace(/["\\]/, 'q'), () => String.fromCharCode(0x80 + next(0x780)),
    () => String.fromCharCode(0x800 + next(0xd000)), () => String.fromCharCode(0xe000 + next(0x2000)),
    () => String.fromCodePoint(0x10000 + next(0x100000))];
  for (let i = 0; i < 300; i++) {
    let s = '';
    const length = next(3) === 0 ? next(40000) : next(100);
    const mostly = next(kinds.length);
    while (s.length < length) s += kinds[next(4) === 0 ? next(kinds.length) : mostly]();
    for (const [way, v] of Object.entries(ways)) {
      const t = tree(s);
      assert.ok(v.apply(t, NOOP) === t, `${way}: text ${i}`);
    }
  }
});
