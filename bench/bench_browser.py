"""The browser client in Chromium: patching a mounted DOM against building it anew, one moved row
in a keyed list, and the todo app's frame-to-paint times.

    python bench/bench_browser.py [repeats]        (default 15)

1. The 1 MB tree of the diff benchmark (`treegen.pair("1MB")`) and its 1%-edited copy. "patch":
   a client with the old tree mounted receives the patch frame (MessagePack); "rebuild": a fresh
   client receives the snapshot frame of the new tree. Both are timed from the frame's arrival
   to the end of the client's work on it (decoding, the tree text kept up to date by the core's
   `apply`, the DOM changes: "work"), and again with the layout that follows forced at once
   ("layout"); "dom" and "domLayout" count only the DOM changes (and that layout). Best of
   `repeats` runs each.
2. A keyed list of 10,000 rows, the last moved to the front: the DOM calls and mutation records
   that the patch costs.
3. The live todo app: 60 updates (items ticked and unticked by another connection), each timed
   in the page from the frame's arrival to the end of the DOM work and to the paint after it
   (a task queued from the next animation frame).

Needs Debian's chromium and the test extra (Playwright, the server's packages).
"""

from __future__ import annotations

import json
import shutil
import statistics
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
sys.path.insert(0, str(HERE.parent / "tests"))

import velmor  # noqa: E402
import treegen  # noqa: E402
from live_server import running_server  # noqa: E402

MSGPACK = "application/msgpack"

# A client fed by hand: a stand-in WebSocket whose messages the benchmark delivers.
SETUP = """async () => {
  const { load } = await import('/client/dist/velmor.js');
  const { connect } = await import('/client/connect.js');
  const core = await load();
  class HandSocket {
    static OPEN = 1;
    constructor() { this.readyState = 1; HandSocket.last = this; }
    send() {}
    close() {}
  }
  window.bench = {
    core, HandSocket,
    async client(frames) {
      const box = document.createElement('div');
      document.body.append(box);
      const updates = [];
      connect(box, 'ws://bench/', {
        core, WebSocket: HandSocket, onError: (e) => updates.push({ error: e.message }),
        onUpdate: (u) => {
          const t = performance.now();
          void document.body.offsetHeight;
          const layout = performance.now() - t;
          updates.push({ work: u.applied - u.received, layout: u.applied - u.received + layout, dom: u.dom, domLayout: u.dom + layout, ops: u.ops });
        },
      });
      const sock = HandSocket.last;
      for (const frame of frames) sock.onmessage({ data: frame.slice().buffer });
      box.remove();
      return { updates, elements: box.querySelectorAll('*').length };
    },
  };
}"""

RUN = """async (frames) => {
  const made = frames.map(([payload, kind, rev]) => bench.core.encodeFrame(payload, 'bench', kind, BigInt(rev), 'application/msgpack'));
  return bench.client(made);
}"""

# The parts of the patch path that are not DOM work, each the best of `repeats` calls.
PARTS = """([old, patch, repeats]) => {
  const core = bench.core;
  const frame = core.encodeFrame(patch, 'bench', 'patch', 1n, 'application/msgpack');
  const best = (fn) => { let b = Infinity; for (let i = 0; i < repeats; i++) { const t = performance.now(); fn(); b = Math.min(b, performance.now() - t); } return b; };
  return {
    'decodeFrame(patch frame)': best(() => core.decodeFrame(frame)),
    'apply(tree, patch)': best(() => core.apply(old, patch)),
    'apply(tree, no ops)': best(() => core.apply(old, '{"ops":[]}')),
    'JSON.parse(patch)': best(() => JSON.parse(patch)),
  };
}"""

COUNT_MOVES = """async ([old, patch]) => {
  const snapshot = bench.core.encodeFrame(old, 'bench', 'snapshot', 0n, 'application/msgpack');
  const frame = bench.core.encodeFrame(patch, 'bench', 'patch', 1n, 'application/msgpack');
  const box = document.createElement('div');
  document.body.append(box);
  const { connect } = await import('/client/connect.js');
  const calls = {};
  connect(box, 'ws://bench/', { core: bench.core, WebSocket: bench.HandSocket });
  const sock = bench.HandSocket.last;
  sock.onmessage({ data: snapshot.slice().buffer });
  const records = [];
  const observer = new MutationObserver((r) => records.push(...r));
  observer.observe(box, { childList: true, subtree: true, attributes: true });
  const names = ['insertBefore', 'appendChild', 'removeChild', 'replaceChild', 'moveBefore'];
  const kept = names.map((n) => Node.prototype[n] ?? Element.prototype[n]);
  names.forEach((n, i) => {
    const proto = n in Node.prototype ? Node.prototype : Element.prototype;
    proto[n] = function (...args) { calls[n] = (calls[n] ?? 0) + 1; return kept[i].apply(this, args); };
  });
  const started = performance.now();
  sock.onmessage({ data: frame.slice().buffer });
  const ms = performance.now() - started;
  names.forEach((n, i) => { (n in Node.prototype ? Node.prototype : Element.prototype)[n] = kept[i]; });
  records.push(...observer.takeRecords());
  observer.disconnect();
  const first = box.querySelector('li').getAttribute('text');
  box.remove();
  return { calls, records: records.map((r) => `${r.type}:-${r.removedNodes.length}+${r.addedNodes.length}`), first, ms };
}"""


def timed(fn) -> float:
    t = time.perf_counter()
    fn()
    return (time.perf_counter() - t) * 1e3


def keyed_list(n: int) -> tuple[str, str]:
    rows = [{"tag": "li", "key": f"k{i}", "props": {"text": {"Str": f"Row {i}"}}} for i in range(n)]
    old = {"tag": "ul", "slots": {"items": rows}}
    new = {"tag": "ul", "slots": {"items": [rows[-1], *rows[:-1]]}}
    return json.dumps(old), json.dumps(new)


def main() -> int:
    repeats = int(sys.argv[1]) if len(sys.argv) > 1 else 15
    from playwright.sync_api import sync_playwright
    import websockets.sync.client as ws_client

    chromium = shutil.which("chromium")
    if chromium is None:
        print("chromium is not on the PATH", file=sys.stderr)
        return 1
    old, new = treegen.pair("1MB")
    old_c, new_c = velmor.apply(old, '{"ops":[]}'), velmor.apply(new, '{"ops":[]}')
    patch = velmor.diff(old_c, new_c)
    list_old, list_new = keyed_list(10_000)
    list_patch = velmor.diff(list_old, list_new)

    with running_server() as url, sync_playwright() as p:
        browser = p.chromium.launch(executable_path=chromium)
        print(f"Chromium {browser.version}; tree {len(old_c) / 1e6:.2f} MB, patch {len(patch) / 1e3:.1f} KB, "
              f"{len(json.loads(patch)['ops'])} ops")
        page = browser.new_context(bypass_csp=True).new_page()
        page.route(url + "bench", lambda route: route.fulfill(body="<!doctype html><body></body>", content_type="text/html"))
        page.goto(url + "bench")
        page.evaluate(SETUP)

        patched, rebuilt, elements = [], [], 0
        for _ in range(repeats):
            out = page.evaluate(RUN, [[old_c, "snapshot", 0], [patch, "patch", 1]])
            assert len(out["updates"]) == 2 and "error" not in out["updates"][1], out["updates"]
            patched.append(out["updates"][1])
            out = page.evaluate(RUN, [[new_c, "snapshot", 0]])
            assert "error" not in out["updates"][0], out["updates"]
            rebuilt.append(out["updates"][0])
            elements = out["elements"]
        print(f"1 MB tree, {elements} elements: best of {repeats}")
        for what in ("work", "layout", "dom", "domLayout"):
            a = min(u[what] for u in patched)
            b = min(u[what] for u in rebuilt)
            print(f"  {what:9}: patch {a:8.2f} ms   rebuild {b:8.2f} ms   ratio {a / b:.3f}x")

        parts = page.evaluate(PARTS, [old_c, patch, repeats])
        print("  of the patch path, in the core: " + ", ".join(f"{k} {v:.2f} ms" for k, v in parts.items()))
        native = min(timed(lambda: velmor.apply(old_c, patch)) for _ in range(repeats))
        print(f"  (the Python module's apply(tree, patch) on this machine: {native:.2f} ms)")

        moved = page.evaluate(COUNT_MOVES, [list_old, list_patch])
        print(f"10,000 keyed rows, last moved to the front: patch {list_patch}")
        print(f"  DOM calls {moved['calls']}, mutation records {moved['records']}, first row now {moved['first']!r}, "
              f"{moved['ms']:.2f} ms")

        todo = browser.new_context(bypass_csp=True).new_page()
        todo.goto(url + "?timing")
        todo.wait_for_function("() => window.velmorTimings.length === 1", timeout=15000)
        origin = url.rstrip("/")
        with ws_client.connect(url.replace("http://", "ws://") + "ws", origin=origin) as sock:
            sock.recv(timeout=10)
            for n in range(60):
                item = ("milk", "tyres", "taxes")[n % 3]
                done = (n // 3) % 2 == 0
                sock.send(json.dumps({"v": 1, "type": "patch", "model": "todo", "field": f"items.{item}.done", "value": done}))
                sock.recv(timeout=10)
                todo.wait_for_function(f"() => window.velmorTimings.length >= {n + 2}", timeout=10000)
                time.sleep(0.02)
        timings = todo.evaluate("() => window.velmorTimings")[1:]
        for what in ("apply", "paint"):
            xs = sorted(t[what] for t in timings)
            print(f"todo app, {len(xs)} patches of {min(t['ops'] for t in timings)}-{max(t['ops'] for t in timings)} ops, "
                  f"arrival to {what}: median {statistics.median(xs):.2f} ms, p90 {xs[int(len(xs) * 0.9)]:.2f} ms, "
                  f"max {xs[-1]:.2f} ms")
        browser.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
