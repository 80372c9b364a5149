"""Benchmark: what a call costs a server, and what it does to an asyncio event loop.

    python bench/bench_server.py [10KB 1MB 10MB]

First, for each size (the trees of the diff benchmark, treegen.pair): the best and the median
time of diff(old, new), apply(old, patch), encode_frame of the tree as a MessagePack snapshot
and decode_frame of that frame, and of json.dumps of the tree as Python objects (what rendering
the tree to text costs a server that builds it as dicts), over repeated calls in this process.

Then, for each size: an asyncio event loop runs a ticker that wakes every millisecond and
records the longest gap between two wake-ups (the stall every other connection sees) while the
loop awaits ten diffs, one at a time with a 5 ms pause after each, made in one of three ways:
called directly on the loop, in a thread (asyncio.to_thread), or in a one-worker process pool
(loop.run_in_executor). Printed: the longest gap and the median time from asking for a diff to
having its patch, each the best of three runs; "idle" is the longest gap without any call, the
loop's own noise on this machine.
"""

from __future__ import annotations

import asyncio
import concurrent.futures
import json
import os
import statistics
import sys
import time

sys.path.insert(0, os.path.dirname(__file__))
import treegen  # noqa: E402

import velmor  # noqa: E402

CODEC = "application/msgpack"
CALLS = 10


def times(fn, budget: float, at_least: int = 5, at_most: int = 200) -> tuple[float, float]:
    """(best, median) of single calls, repeated until `budget` seconds have passed."""
    samples = []
    start = time.perf_counter()
    while len(samples) < at_most and (len(samples) < at_least or time.perf_counter() - start < budget):
        t = time.perf_counter()
        fn()
        samples.append(time.perf_counter() - t)
    return min(samples), statistics.median(samples)


def ms(seconds: float) -> str:
    return f"{seconds * 1e3:.2f} ms" if seconds >= 1e-4 else f"{seconds * 1e6:.0f} us"


def call_costs(sizes: list[str]) -> None:
    print("| size | tree | patch | diff | apply | encode_frame (snapshot) | decode_frame (snapshot) | json.dumps of the tree |")
    print("|---|---|---|---|---|---|---|---|")
    for size in sizes:
        old, new = treegen.pair(size)
        patch = velmor.diff(old, new)
        frame = velmor.encode_frame(old, "m", "snapshot", 1, CODEC)
        as_objects = json.loads(old)
        budget = 3.0
        cells = []
        for fn in (lambda: velmor.diff(old, new), lambda: velmor.apply(old, patch),
                   lambda: velmor.encode_frame(old, "m", "snapshot", 1, CODEC), lambda: velmor.decode_frame(frame),
                   lambda: json.dumps(as_objects, ensure_ascii=False)):
            b, m = times(fn, budget)
            cells.append(f"{ms(b)} (median {ms(m)})")
        print(f"| {size} | {len(old.encode()) / 1e6:.2f} MB | {len(patch.encode()) / 1e3:.1f} KB | " + " | ".join(cells) + " |",
              flush=True)


async def ticking(work) -> tuple[float, float]:
    """Runs `work` (a coroutine function returning the latency of each call) beside a 1 ms
    ticker: (longest gap between two ticks, median latency)."""
    gaps = [0.0]
    done = asyncio.Event()

    async def ticker() -> None:
        last = time.perf_counter()
        while not done.is_set():
            await asyncio.sleep(0.001)
            now = time.perf_counter()
            gaps[0] = max(gaps[0], now - last)
            last = now

    tick = asyncio.create_task(ticker())
    await asyncio.sleep(0.01)  # let the ticker settle
    gaps[0] = 0.0
    latencies = await work()
    done.set()
    await tick
    return gaps[0], statistics.median(latencies)


def worker_diff(old: str, new: str) -> int:
    return len(velmor.diff(old, new))


def loop_stalls(sizes: list[str]) -> None:
    print()
    print("| size | idle: longest gap | diff on the loop | in a thread (to_thread) | in a process pool |")
    print("|---|---|---|---|---|")
    pool = concurrent.futures.ProcessPoolExecutor(max_workers=1)
    pool.submit(worker_diff, '{"tag":"a"}', '{"tag":"a"}').result()  # start the worker
    try:
        for size in sizes:
            old, new = treegen.pair(size)

            async def idle() -> list[float]:
                await asyncio.sleep(0.2)
                return [0.0]

            async def calls(one) -> list[float]:
                latencies = []
                for _ in range(CALLS):
                    t = time.perf_counter()
                    await one()
                    latencies.append(time.perf_counter() - t)
                    await asyncio.sleep(0.005)
                return latencies

            async def direct() -> None:
                velmor.diff(old, new)

            async def thread() -> None:
                await asyncio.to_thread(velmor.diff, old, new)

            async def process() -> None:
                await asyncio.get_running_loop().run_in_executor(pool, worker_diff, old, new)

            cells = []
            for one in (None, direct, thread, process):
                runs = [asyncio.run(ticking(idle if one is None else (lambda: calls(one)))) for _ in range(3)]
                gap = min(r[0] for r in runs)
                latency = min(r[1] for r in runs)
                cells.append(f"{gap * 1e3:.1f} ms" if one is None
                             else f"gap {gap * 1e3:.1f} ms, result in {latency * 1e3:.1f} ms")
            print(f"| {size} | " + " | ".join(cells) + " |", flush=True)
    finally:
        pool.shutdown()


if __name__ == "__main__":
    chosen = sys.argv[1:] or ["10KB", "1MB", "10MB"]
    call_costs(chosen)
    loop_stalls(chosen)
