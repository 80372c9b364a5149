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
import sys

sys.path.insert(0, os.path.dirname(__file__))
import treegen  # noqa: E402
from measure import best, peak_extra  # noqa: E402

import orjson  # noqa: E402
import velmor  # noqa: E402


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
        extra = peak_extra("velmor.diff(*args)", old, new)
        print(f"| {size} | {nbytes / 1e6:.2f} MB | {t_velmor * 1e3:.2f} ms | {t_orjson * 1e3:.2f} ms | "
              f"{t_velmor / t_orjson:.3f}x | {t_jsonpatch * 1e3:.0f} ms | {t_jsonpatch / t_velmor:.0f}x | "
              f"{nbytes / t_velmor / 1e6:.0f} | {extra / 1e6:.1f} MB | {extra / nbytes:.2f} | {ops} |", flush=True)


if __name__ == "__main__":
    main(sys.argv[1:] or ["10KB", "1MB", "10MB"])
