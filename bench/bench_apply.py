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
import sys

sys.path.insert(0, os.path.dirname(__file__))
import treegen  # noqa: E402
from measure import best, peak_extra  # noqa: E402

import orjson  # noqa: E402
import velmor  # noqa: E402

EMPTY = '{"ops":[]}'


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
        extra = peak_extra("velmor.apply(*args)", old, patch)
        print(f"| {size} | {nbytes / 1e6:.2f} MB | {len(patch) / 1e3:.0f} KB | {ops} | {t_apply * 1e3:.2f} ms | "
              f"{t_rewrite * 1e3:.2f} ms | {t_orjson * 1e3:.2f} ms | {t_apply / t_orjson:.3f}x | "
              f"{nbytes / t_apply / 1e6:.0f} | {extra / 1e6:.1f} MB | {extra / (nbytes + len(patch)):.2f} |", flush=True)


if __name__ == "__main__":
    main(sys.argv[1:] or ["10KB", "1MB", "10MB"])
