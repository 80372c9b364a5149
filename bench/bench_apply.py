"""Benchmark: velmor.apply against reading and writing the tree with orjson.

    python bench/bench_apply.py [10KB 1MB 10MB]

For each size: the trees of the diff benchmark (treegen.pair), the patch velmor.diff(old, new),
and the best of several runs of velmor.apply(old, patch), of velmor.apply(old, '{"ops":[]}')
(reading and writing alone), and of orjson.dumps(orjson.loads(old)) (the floor of any patcher
written in Python, which must read and write the tree too); the ratio against that floor, the
throughput in MB/s of the tree text, and velmor's peak extra memory, measured in a fresh process
as the growth of its peak resident set size across one call (VmHWM reset through
/proc/self/clear_refs).
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

EMPTY = '{"ops":[]}'


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
root = open(sys.argv[1], encoding="utf-8").read()
patch = open(sys.argv[2], encoding="utf-8").read()
def status(field):
    for line in open("/proc/self/status"):
        if line.startswith(field):
            return int(line.split()[1]) * 1024
ctypes.CDLL("libc.so.6").malloc_trim(0)
with open("/proc/self/clear_refs", "w") as f:
    f.write("5")  # restart the peak resident set size from here
before = status("VmRSS:")
velmor.apply(root, patch)
print(status("VmHWM:") - before)
"""


def peak_extra(root: str, patch: str) -> int:
    with tempfile.TemporaryDirectory() as d:
        paths = [os.path.join(d, "root.json"), os.path.join(d, "patch.json")]
        for p, text in zip(paths, (root, patch)):
            with open(p, "w", encoding="utf-8") as f:
                f.write(text)
        out = subprocess.run([sys.executable, "-c", PEAK, *paths], check=True, capture_output=True, text=True)
        return int(out.stdout)


def main(sizes: list[str]) -> None:
    print("| size | tree | patch | ops | velmor.apply | apply, no ops | orjson loads+dumps | ratio | MB/s | peak extra | x input |")
    print("|---|---|---|---|---|---|---|---|---|---|---|")
    for size in sizes:
        old, new = treegen.pair(size)
        patch = velmor.diff(old, new)
        if velmor.apply(old, patch) != velmor.apply(new, EMPTY):
            raise SystemExit(f"{size}: apply(old, diff(old, new)) is not new")
        nbytes = len(old.encode())
        ops = len(json.loads(patch)["ops"])
        repeat = 50 if nbytes < 3_000_000 else 15
        t_apply = best(lambda: velmor.apply(old, patch), repeat)
        t_rewrite = best(lambda: velmor.apply(old, EMPTY), repeat)
        t_orjson = best(lambda: orjson.dumps(orjson.loads(old)), repeat)
        extra = peak_extra(old, patch)
        print(f"| {size} | {nbytes / 1e6:.2f} MB | {len(patch) / 1e3:.0f} KB | {ops} | {t_apply * 1e3:.2f} ms | "
              f"{t_rewrite * 1e3:.2f} ms | {t_orjson * 1e3:.2f} ms | {t_apply / t_orjson:.3f}x | "
              f"{nbytes / t_apply / 1e6:.0f} | {extra / 1e6:.1f} MB | {extra / (nbytes + len(patch)):.2f} |", flush=True)


if __name__ == "__main__":
    main(sys.argv[1:] or ["10KB", "1MB", "10MB"])
