"""Benchmark: the WebAssembly binding (client/dist) against the native module, in Node and in
Chromium, and the size of the built files.

    python bench/bench_wasm.py

Inputs: those of the frame benchmark: the 1 MB tree (`treegen.tree(treegen.SIZES["1MB"])`), its
copy with 0.4% of its nodes edited (`treegen.edit(tree, rate=0.004)`) and the patch of about
10 KB between them; frames of the patch and of the tree with the MessagePack codec. For each of
decodeFrame (both frames), apply (the tree and the patch), diff (the two trees) and encodeFrame,
the best time of one call over about 4 s of runs, in wall time and (where the host tells it) in
CPU time, which a busy machine inflates less: the native module called from this interpreter,
bench/bench_wasm.mjs under Node, and the same module in Debian's chromium (headless, driven by
Playwright, with `chromium` from the PATH; skipped when either is missing; wall time only). Target:
at most 2x native. Sizes: velmor.wasm plus velmor.js, raw and gzipped (level 9); target: at
most 150 KB gzipped together.
"""

from __future__ import annotations

import gzip
import json
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import velmor

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "bench"))
sys.path.insert(0, str(ROOT / "tests"))

import chromium_page as browser  # noqa: E402
import treegen  # noqa: E402
from measure import best  # noqa: E402

MSGPACK = "application/msgpack"


def write_inputs(folder: Path) -> dict:
    tree = treegen.tree(treegen.SIZES["1MB"])
    edited, _ = treegen.edit(tree, rate=0.004)
    texts = {"tree": treegen.dumps(tree), "edited": treegen.dumps(edited)}
    texts["patch"] = velmor.diff(texts["tree"], texts["edited"])
    frames = {"patch": velmor.encode_frame(texts["patch"], "dashboard", "patch", 7, MSGPACK),
              "tree": velmor.encode_frame(texts["tree"], "dashboard", "snapshot", 7, MSGPACK)}
    for name, text in texts.items():
        (folder / f"{name}.json").write_text(text, encoding="utf-8")
    for name, frame in frames.items():
        (folder / f"{name}.frame").write_bytes(frame)
    return texts | {f"{k}Frame": v for k, v in frames.items()}


def native(i: dict) -> dict:
    cases = {
        "decodeFrame 10 KB patch": (lambda: velmor.decode_frame(i["patchFrame"]), 50),
        "decodeFrame 1 MB tree": (lambda: velmor.decode_frame(i["treeFrame"]), 1),
        "apply 1 MB tree + 10 KB patch": (lambda: velmor.apply(i["tree"], i["patch"]), 1),
        "diff 1 MB trees": (lambda: velmor.diff(i["tree"], i["edited"]), 1),
        "encodeFrame 10 KB patch": (lambda: velmor.encode_frame(i["patch"], "dashboard", "patch", 7, MSGPACK), 50),
        "encodeFrame 1 MB tree": (lambda: velmor.encode_frame(i["tree"], "dashboard", "snapshot", 7, MSGPACK), 1),
    }
    wall, cpu = {}, {}
    for name, (fn, inner) in cases.items():
        wall[name] = best(fn, inner=inner, budget=4.0)
        cpu[name] = best_cpu(fn, inner=inner, budget=4.0)
    return {"wall": wall, "cpu": cpu}


def best_cpu(fn, inner: int, budget: float) -> float:
    """The best CPU time of this thread for one call (which a busy machine inflates less than
    wall time)."""
    times = []
    start = time.perf_counter()
    while len(times) < 5 or time.perf_counter() - start < budget:
        t = time.thread_time()
        for _ in range(inner):
            fn()
        times.append((time.thread_time() - t) / inner)
    return min(times)


def in_node(folder: Path) -> dict | None:
    if shutil.which("node") is None:
        return None
    out = subprocess.run(["node", str(ROOT / "bench" / "bench_wasm.mjs"), str(folder)], check=True,
                         capture_output=True, text=True).stdout
    return json.loads(out)


PAGE = """<!doctype html><meta charset="utf-8"><script type="module">
import { load } from '/client/dist/velmor.js';
import { measure } from '/bench/bench_wasm.mjs';
const get = (name) => fetch('/inputs/' + name);
const inputs = {
  tree: await (await get('tree.json')).text(), edited: await (await get('edited.json')).text(),
  patch: await (await get('patch.json')).text(),
  patchFrame: new Uint8Array(await (await get('patch.frame')).arrayBuffer()),
  treeFrame: new Uint8Array(await (await get('tree.frame')).arrayBuffer()),
};
window.result = measure(await load(), inputs);
</script>"""


def in_chromium(folder: Path) -> dict | None:
    if browser.unavailable():
        return None
    # Cross-origin isolated, for timers fine enough to tell a 10 KB call's time to 5 us (a page
    # that is not has them in steps of 100 us).
    with browser.page(PAGE, inputs=folder, isolated=True) as tab:
        tab.wait_for_function("window.result !== undefined", timeout=300_000)
        if not tab.evaluate("crossOriginIsolated"):
            raise RuntimeError("the benchmark page is not cross-origin isolated")
        return tab.evaluate("window.result")


def sizes() -> list[tuple[str, int, int]]:
    rows = []
    total_raw = total_gz = 0
    for name in ("velmor.wasm", "velmor.js"):
        data = (ROOT / "client" / "dist" / name).read_bytes()
        gz = len(gzip.compress(data, 9, mtime=0))
        rows.append((name, len(data), gz))
        total_raw += len(data)
        total_gz += gz
    rows.append(("together", total_raw, total_gz))
    return rows


def main() -> None:
    with tempfile.TemporaryDirectory() as tmp:
        folder = Path(tmp)
        inputs = write_inputs(folder)
        print(f"patch {len(inputs['patch'].encode())} bytes, tree {len(inputs['tree'].encode())} bytes", flush=True)
        results = {"native": native(inputs)}
        results["Node"] = in_node(folder)
        results["Chromium"] = in_chromium(folder)

    for clock in ("wall", "cpu"):
        print()
        print(f"{clock} time:")
        print("| operation, input | native | wasm, Node | ratio | wasm, Chromium | ratio |")
        print("|---|---|---|---|---|---|")
        for name, t in results["native"][clock].items():
            cells = [name, f"{t * 1e6:.1f} us"]
            for where in ("Node", "Chromium"):
                r = (results[where] or {}).get(clock)
                cells += [f"{r[name] * 1e6:.1f} us", f"{r[name] / t:.2f}x"] if r else ["-", "-"]
            print("| " + " | ".join(cells) + " |")
    print()
    print("| file | bytes | gzipped |")
    print("|---|---|---|")
    for name, raw, gz in sizes():
        print(f"| {name} | {raw} | {gz} |")


if __name__ == "__main__":
    main()
