"""The WebAssembly binding (client/dist) in Chromium: it loads from the page's server and gives
the Python module's outputs and error texts on a seeded set of trees, patches, frames and
manifests, valid and damaged. Skips where Playwright or chromium is missing."""

from __future__ import annotations

import random

import pytest
import velmor

import chromium_page as browser
import trees

REASON = browser.unavailable()
# a browser test: CI runs it in its browser step, not under the sanitizers (whose preloaded
# runtime keeps chromium from starting) nor once per interpreter
pytestmark = [pytest.mark.browser, pytest.mark.skipif(REASON is not None, reason=REASON or "")]

PAGE = """<!doctype html><meta charset="utf-8"><script type="module">
import { load, VelmorError } from '/client/dist/velmor.js';
const velmor = await load();
const hex = (b) => Array.from(b, (x) => x.toString(16).padStart(2, '0')).join('');
const unhex = (s) => new Uint8Array(s.match(/../g)?.map((x) => parseInt(x, 16)) ?? []);
const NAMES = { diff: 'diff', apply: 'apply', encode_frame: 'encodeFrame', decode_frame: 'decodeFrame', parse_cem: 'parseCem' };
window.run = (cases) => cases.map(([fn, args]) => {
  if (fn === 'decode_frame') args = [unhex(args[0])];
  if (fn === 'encode_frame') args = [args[0], args[1], args[2], BigInt(args[3]), args[4]];
  try {
    const out = velmor[NAMES[fn]](...args);
    return { ok: out instanceof Uint8Array ? hex(out) : out };
  } catch (e) {
    return { error: e instanceof VelmorError ? 'ValueError' : e.name, message: e.message };
  }
});
window.ready = true;
</script>"""


def cases() -> list[tuple[str, list]]:
    rnd = random.Random(5)
    out: list[tuple[str, list]] = []
    for i in range(30):
        old = trees.random_tree(rnd, max_depth=3, negative_zero=i % 2 == 0)
        new = trees.mutate(rnd, old, max_depth=3)
        a, b = trees.dumps(old, rnd), trees.dumps(new)
        patch = velmor.diff(a, b)
        frame = velmor.encode_frame(patch, "m", "patch", 2**64 - 1 - i, "application/msgpack")
        out += [("diff", [a, b]), ("apply", [a, patch]), ("apply", [b, patch]), ("diff", [a[:-1 - i], b]),
                ("encode_frame", [a, "tree", "snapshot", str(i), "application/json"]),
                ("decode_frame", [frame.hex()]), ("decode_frame", [frame[:-1 - i].hex()])]
    out += [("parse_cem", ['{"modules":[{"declarations":[{"customElement":true,"tagName":"x-a","attributes":'
                           '[{"name":"size","type":{"text":"\'s\' | null"}}]}]}]}']),
            ("parse_cem", ['{"modules":[{"declarations":[{"tagName":1}]}]}']),
            ("encode_frame", ["{}", "m", "delta", "1", "application/json"]),
            ("apply", ['{"tag":"a","props":{"f":{"Float":1.2345678901234567e-300}}}', '{"ops":[]}'])]
    return out


def python_result(fn: str, args: list) -> dict:
    if fn == "decode_frame":
        args = [bytes.fromhex(args[0])]
    if fn == "encode_frame":
        args = [*args[:3], int(args[3]), args[4]]
    try:
        out = getattr(velmor, fn)(*args)
    except ValueError as e:
        return {"error": "ValueError", "message": str(e)}
    return {"ok": out.hex() if isinstance(out, bytes) else out}


def test_chromium_gives_the_python_outputs_and_error_texts() -> None:
    with browser.page(PAGE) as tab:
        tab.wait_for_function("window.ready === true", timeout=60_000)
        todo = cases()
        got = tab.evaluate("cases => window.run(cases)", todo)
    expected = [python_result(fn, args) for fn, args in todo]
    assert len(got) == len(todo)
    assert [c for c, g, e in zip(todo, got, expected) if g != e] == []
    assert any("error" in e for e in expected) and any("ok" in e for e in expected)


# Texts built in the page (a lone surrogate would not survive the way to it): each goes into the
# module as a tree and must come back the same from apply and through a frame; one with a lone
# surrogate must be refused. Characters of one to four UTF-8 bytes at every offset of a 16-byte
# block and across the ends of the pieces a long output is decoded in, last in texts of every
# length up to 20, spread and dense, and long texts of each kind.
TEXTS = """<!doctype html><meta charset="utf-8"><script type="module">
import { load } from '/client/dist/velmor.js';
const velmor = await load();
const tree = (s) => `{"tag":"t","props":{"s":{"Str":"${s}"}}}`;
const frameOut = (s) => `{"kind":"snapshot","model_type":"m","payload":{"props":{"s":{"Str":"${s}"}},"tag":"t"},"rev":1}`;
const texts = { empty: '', ascii: 'a'.repeat(40000), dense: 'Жёлтый 東京 😀 ü '.repeat(2000),
  'long ascii': 'b'.repeat(1100000), 'long, a few non-ASCII': ('c'.repeat(800) + '–').repeat(1300),
  'longer than the array the binding keeps': 'é' + 'b'.repeat(2 ** 21 + 10), 'short after that': 'é' };
for (const ch of ['é', '–', '😀', '\\u007f', '\\u0080', '\\u07ff', '\\u0800', '\\ud7ff', '\\ue000', '\\uffff']) {
  for (let at = 0; at < 40; at++) {
    texts[`${escape(ch)} at ${at}`] = 'd'.repeat(at) + ch + 'e'.repeat(40 - at) + ch;
    texts[`${escape(ch)} across a piece's end, ${at}`] = 'd'.repeat(16384 - 32 - 20 + at) + ch + 'e'.repeat(16384 - 20) + ch;
  }
  for (const gap of [0, 1, 15, 16, 17]) texts[`${escape(ch)} every ${gap}`] = ('f'.repeat(gap) + ch).repeat(3000);
  for (let n = 0; n < 20; n++) texts[`${escape(ch)} after ${n}`] = 'k'.repeat(n) + ch;
}
const failed = [];
try {
  for (const [name, s] of Object.entries(texts)) {
    const t = tree(s);
    if (velmor.apply(t, '{"ops":[]}') !== t) failed.push(`apply: ${name}`);
    if (velmor.decodeFrame(velmor.encodeFrame(t, 'm', 'snapshot', 1, 'application/msgpack')) !== frameOut(s)) failed.push(`frame: ${name}`);
  }
  for (let at = 0; at < 40; at++) {
    const [before, after] = ['g'.repeat(at), 'h'.repeat(40 - at)];
    for (const lone of ['\\ud800', '\\udbff', '\\udc00', '\\udfff', '\\ude00\\ud83d']) {
      try {
        velmor.apply(tree(before + lone + after), '{"ops":[]}');
        failed.push(`${escape(lone)} at ${at}: taken`);
      } catch (e) {
        if (!(e instanceof TypeError) || e.message !== "apply(): 'root' holds a lone surrogate, which has no UTF-8 form") failed.push(`${escape(lone)} at ${at}: ${e}`);
      }
    }
    const pair = tree(before + '\\ud83d\\ude00' + after);
    if (velmor.apply(pair, '{"ops":[]}') !== pair) failed.push(`pair at ${at}`);
  }
  if (velmor.memoryStats().used !== 0) failed.push('memory left allocated');
} catch (e) {
  failed.push(String(e));
}
window.failed = failed;
</script>"""


def test_chromium_takes_and_gives_every_text_as_it_is() -> None:
    with browser.page(TEXTS) as tab:
        tab.wait_for_function("window.failed !== undefined", timeout=120_000)
        assert tab.evaluate("window.failed") == []
