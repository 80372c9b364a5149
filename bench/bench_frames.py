"""Benchmark: frame encoding and decoding against orjson plus msgpack.

    python bench/bench_frames.py

Inputs: the 1 MB tree of the diff benchmark (`treegen.pair("1MB")[0]`) and a patch of about
10 KB: the diff between that tree and a copy with 0.4% of its nodes edited
(`treegen.edit(tree, rate=0.004)`).

For each input, the best of many runs of:
- encode_frame(text, ..., "application/msgpack") against msgpack.packb(orjson.loads(text))
  (target: at most 0.3x);
- decode_frame of that frame against orjson.dumps(msgpack.unpackb(payload)), where payload is the
  frame's MessagePack payload (target: at most 0.5x);
- encode_frame(text, ..., "application/json") against one copy of the payload's bytes into a new
  bytes object, bytes(memoryview(data)) (it should cost little more);
- decode_frame of the JSON frame against orjson.dumps(orjson.loads(payload)), for reference;
and the peak extra memory of one decode_frame call of each frame, measured in a fresh process as
the growth of its peak resident set size (VmHWM reset through /proc/self/clear_refs).
"""

from __future__ import annotations

import os
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(__file__))
import treegen  # noqa: E402

import msgpack  # noqa: E402
import orjson  # noqa: E402
import velmor  # noqa: E402

JSON = "application/json"
MSGPACK = "application/msgpack"


def best(fn, budget: float = 3.0, inner: int = 1) -> float:
    """The best time of one call, over repeated runs of `inner` calls for about `budget` seconds."""
    times = []
    start = time.perf_counter()
    while time.perf_counter() - start < budget or len(times) < 5:
        t = time.perf_counter()
        for _ in range(inner):
            fn()
        times.append((time.perf_counter() - t) / inner)
    return min(times)


def payload_of(frame: bytes) -> bytes:
    (h,) = struct.unpack(">I", frame[:4])
    (p,) = struct.unpack(">I", frame[4 + h:8 + h])
    return frame[8 + h:8 + h + p]


PEAK = """
import ctypes, sys, velmor
frame = open(sys.argv[1], "rb").read()
def status(field):
    for line in open("/proc/self/status"):
        if line.startswith(field):
            return int(line.split()[1]) * 1024
ctypes.CDLL("libc.so.6").malloc_trim(0)
with open("/proc/self/clear_refs", "w") as f:
    f.write("5")  # restart the peak resident set size from here
before = status("VmRSS:")
velmor.decode_frame(frame)
print(status("VmHWM:") - before)
"""


def peak_extra(frame: bytes) -> int:
    with tempfile.TemporaryDirectory() as d:
        path = os.path.join(d, "frame.bin")
        with open(path, "wb") as f:
            f.write(frame)
        out = subprocess.run([sys.executable, "-c", PEAK, path], check=True, capture_output=True, text=True)
        return int(out.stdout)


def inputs() -> list[tuple[str, str, str]]:
    tree = treegen.tree(treegen.SIZES["1MB"])
    edited, _ = treegen.edit(tree, rate=0.004)
    patch = velmor.diff(treegen.dumps(tree), treegen.dumps(edited))
    return [("1 MB tree", "snapshot", treegen.dumps(tree)), ("10 KB patch", "patch", patch)]


def main() -> None:
    rows = []
    for name, kind, text in inputs():
        size = len(text.encode())
        inner = 1 if size > 100_000 else 50
        mp_frame = velmor.encode_frame(text, "dashboard", kind, 7, MSGPACK)
        js_frame = velmor.encode_frame(text, "dashboard", kind, 7, JSON)
        mp_payload = payload_of(mp_frame)
        js_payload = payload_of(js_frame)
        assert orjson.loads(velmor.decode_frame(mp_frame))["payload"] == orjson.loads(text)
        assert msgpack.unpackb(mp_payload) == orjson.loads(text)

        t = best(lambda: velmor.encode_frame(text, "dashboard", kind, 7, MSGPACK), inner=inner)
        b = best(lambda: msgpack.packb(orjson.loads(text)), inner=inner)
        rows.append((name, size, "encode_frame, msgpack", t, "msgpack.packb(orjson.loads(text))", b, "0.3x"))

        t = best(lambda: velmor.decode_frame(mp_frame), inner=inner)
        b = best(lambda: orjson.dumps(msgpack.unpackb(mp_payload)), inner=inner)
        rows.append((name, size, "decode_frame, msgpack", t, "orjson.dumps(msgpack.unpackb(payload))", b, "0.5x"))

        t = best(lambda: velmor.encode_frame(text, "dashboard", kind, 7, JSON), inner=inner * 20)
        b = best(lambda: bytes(memoryview(js_payload)), inner=inner * 20)
        rows.append((name, size, "encode_frame, json", t, "bytes(memoryview(payload)): one copy", b, "~1x"))

        t = best(lambda: velmor.decode_frame(js_frame), inner=inner)
        b = best(lambda: orjson.dumps(orjson.loads(js_payload)), inner=inner)
        rows.append((name, size, "decode_frame, json", t, "orjson.dumps(orjson.loads(payload))", b, "-"))

        for codec, frame in (("msgpack", mp_frame), ("json", js_frame)):
            extra = peak_extra(frame)
            print(f"{name}: decode_frame, {codec}: frame {len(frame) / 1e6:.3f} MB, peak extra "
                  f"{extra / 1e6:.1f} MB ({extra / len(frame):.1f}x the frame)", flush=True)

    print()
    print("| input | bytes | velmor | time | baseline | time | ratio | target |")
    print("|---|---|---|---|---|---|---|---|")
    for name, size, what, t, base, b, target in rows:
        print(f"| {name} | {size} | {what} | {t * 1e6:.1f} us | {base} | {b * 1e6:.1f} us | "
              f"{t / b:.2f}x | {target} |")


if __name__ == "__main__":
    main()
