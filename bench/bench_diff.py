"""Benchmark: velmor.diff against parsing both texts with orjson and against jsonpatch.

    python bench/bench_diff.py [10KB 1MB 10MB]

For each size: the best of several runs of velmor.diff(old, new), of orjson.loads(old) plus
orjson.loads(new) (the floor of any differ written in Python), and of
jsonpatch.make_patch(json.loads(old), json.loads(new)); the ratios, the throughput in MB/s of
input (both texts), and velmor's peak extra memory, measured in a fresh process as the growth
of its peak resident set size across one call (VmHWM reset through /proc/self/clear_refs).
"""

from __future__ import annotations

import json
import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(__file__))
import treegen  # noqa: E402

import orjson  # noqa: E402
import velmor  # noqa: E402


def best(fn, repeat: int, budget: float = 20.0) -> float:
    times = []
    start = time.perf_counter()
    for _ in range(repeat):
        t = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t)
        if time.perf_counter() - start > budget:
            break
    return min(times)


PEAK = """
import ctypes, sys, velmor
old = open(sys.argv[1], encoding="utf-8").read()
new = open(sys.argv[2], encoding="utf-8").read()
def status(field):
    for line in open("/proc/self/status"):
        if line.startswith(field):
            return int(line.split()[1]) * 1024
ctypes.CDLL("libc.so.6").malloc_trim(0)
with open("/proc/self/clear_refs", "w") as f:
    f.write("5")  # restart the peak resident set size from here
before = status("VmRSS:")
velmor.diff(old, new)
print(status("VmHWM:") - before)
"""


def peak_extra(old: str, new: str) -> int:
    with tempfile.TemporaryDirectory() as d:
        paths = [os.path.join(d, "old.json"), os.path.join(d, "new.json")]
        for p, text in zip(paths, (old, new)):
            with open(p, "w", encoding="utf-8") as f:
                f.write(text)
        out = subprocess.run([sys.executable, "-c", PEAK, *paths], check=True, capture_output=True, text=True)
        return int(out.stdout)


def main(sizes: list[str]) -> None:
    import jsonpatch

    print("| size | input (both) | velmor.diff | 2x orjson.loads | ratio | jsonpatch.make_patch | speedup | MB/s | peak extra | x input | ops |")
    print("|---|---|---|---|---|---|---|---|---|---|---|")
    for size in sizes:
        old, new = treegen.pair(size)
        nbytes = len(old.encode()) + len(new.encode())
        patch = velmor.diff(old, new)
        ops = len(json.loads(patch)["ops"])
        repeat = 50 if nbytes < 3_000_000 else 10
        t_velmor = best(lambda: velmor.diff(old, new), repeat)
        t_orjson = best(lambda: (orjson.loads(old), orjson.loads(new)), repeat)
        t_jsonpatch = best(lambda: jsonpatch.make_patch(json.loads(old), json.loads(new)), 3 if nbytes < 3_000_000 else 1, 600)
        extra = peak_extra(old, new)
        print(f"| {size} | {nbytes / 1e6:.2f} MB | {t_velmor * 1e3:.2f} ms | {t_orjson * 1e3:.2f} ms | "
              f"{t_velmor / t_orjson:.3f}x | {t_jsonpatch * 1e3:.0f} ms | {t_jsonpatch / t_velmor:.0f}x | "
              f"{nbytes / t_velmor / 1e6:.0f} | {extra / 1e6:.1f} MB | {extra / nbytes:.2f} | {ops} |", flush=True)


if __name__ == "__main__":
    main(sys.argv[1:] or ["10KB", "1MB", "10MB"])
