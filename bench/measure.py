"""Timing and memory measurement shared by the benchmarks.

`best` times a call in this process. `fresh_call` runs one call in a fresh interpreter and
reports the growth of the peak resident set size across it (VmHWM, restarted through
/proc/self/clear_refs just before the call), which includes the returned object. `peak_extra`
measures the call alone: the UTF-8 form that CPython keeps with each non-ASCII `str` argument
once the module has read it (about 1x such a text) is made before the peak is restarted.
"""

from __future__ import annotations

import os
import subprocess
import sys
import tempfile
import time


def best(fn, repeat: int | None = None, budget: float = 20.0, inner: int = 1) -> float:
    """The best time of one call: runs of `inner` calls, `repeat` runs at most, stopping once
    `budget` seconds have passed (after at least 5 runs when `repeat` is not given)."""
    times = []
    start = time.perf_counter()
    while True:
        t = time.perf_counter()
        for _ in range(inner):
            fn()
        times.append((time.perf_counter() - t) / inner)
        if repeat is not None and len(times) >= repeat:
            break
        if time.perf_counter() - start > budget and (repeat is not None or len(times) >= 5):
            break
    return min(times)


FRESH = r"""
import ctypes, sys, time, velmor
expr, warm, paths = sys.argv[1], sys.argv[2] == "1", sys.argv[3:]
def load(p):
    data = open(p, "rb").read()
    return data if p.endswith(".bin") else data.decode("utf-8")
args = [load(p) for p in paths]
if warm:
    # The UTF-8 form that the module reads a non-ASCII str through is kept with the str once
    # made; str.encode() does not make it, PyUnicode_AsUTF8AndSize() does.
    as_utf8 = ctypes.pythonapi.PyUnicode_AsUTF8AndSize
    as_utf8.argtypes = [ctypes.py_object, ctypes.c_void_p]
    as_utf8.restype = ctypes.c_void_p
    for a in args:
        if isinstance(a, str):
            as_utf8(a, None)
def status(field):
    for line in open("/proc/self/status"):
        if line.startswith(field):
            return int(line.split()[1]) * 1024
ctypes.CDLL("libc.so.6").malloc_trim(0)
with open("/proc/self/clear_refs", "w") as f:
    f.write("5")  # restart the peak resident set size from here
before = status("VmRSS:")
t = time.perf_counter()
try:
    out = eval(expr)
    result = "ok %d" % len(out)
except ValueError as e:
    result = "ValueError: %s" % str(e)[:60]
elapsed = time.perf_counter() - t
print(status("VmHWM:") - before, elapsed, result)
"""


def fresh_call(expr: str, paths: list[str], warm_utf8: bool = False) -> tuple[int, float, str]:
    """Evaluates `expr` (over `args`, the contents of `paths`: bytes for files ending in .bin,
    text otherwise) once in a fresh process: (peak growth in bytes, seconds, result)."""
    out = subprocess.run([sys.executable, "-c", FRESH, expr, "1" if warm_utf8 else "0", *paths],
                         check=True, capture_output=True, text=True).stdout.split(maxsplit=2)
    return int(out[0]), float(out[1]), out[2].strip()


def peak_extra(expr: str, *values: str | bytes) -> int:
    """The peak growth of `expr` over `args`, the given values, in a fresh process, with the
    UTF-8 form of the `str` values made before the call."""
    with tempfile.TemporaryDirectory() as d:
        paths = []
        for i, v in enumerate(values):
            paths.append(os.path.join(d, f"arg{i}.bin" if isinstance(v, bytes) else f"arg{i}.json"))
            with open(paths[-1], "wb") as f:
                f.write(v if isinstance(v, bytes) else v.encode("utf-8"))
        return fresh_call(expr, paths, warm_utf8=True)[0]
