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
import sys

sys.path.insert(0, os.path.dirname(__file__))
import treegen  # noqa: E402
from measure import best as best_of, peak_extra  # noqa: E402

import msgpack  # noqa: E402
import orjson  # noqa: E402
import velmor  # noqa: E402

JSON = "application/json"
MSGPACK = "application/msgpack"


def best(fn, inner: int) -> float:
    """The best time of one call over about 3 s of runs of `inner` calls."""
    return best_of(fn, inner=inner, budget=3.0)


def payload_of(frame: bytes) -> bytes:
    (h,) = struct.unpack(">I", frame[:4])
    (p,) = struct.unpack(">I", frame[4 + h:8 + h])
    return frame[8 + h:8 + h + p]


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
            extra = peak_extra("velmor.decode_frame(args[0])", frame)
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
