"""Benchmark: memory and time of every function on inputs of about 100 MB.

    python bench/bench_limits.py [--size 100MB] [--only NAME ...]

Inputs, written once into bench/data/limits-SIZE/ (ignored by git) and reused by later runs:
- a realistic tree of about SIZE bytes and its edit (`treegen.pair`), the patch between them,
  and frames of the tree with both codecs;
- hostile payloads made of the smallest values: MessagePack arrays of nil, of small integers, of
  one-element arrays holding an empty map, of two-member maps with a repeated key, one map with
  a million members in descending key order; JSON arrays of `0` and of `[]` for encode_frame;
  the JSON codec's equivalent (`[0,0,...]`) for decode_frame; and, for diff (against itself) and
  apply (with no operations), a tree whose one binding computes `[0,0,...]` and a tree whose one
  slot holds nothing but children `{"tag":"b"}`.

Each case runs in a fresh process: it reads its inputs from files, resets the peak resident set
size (VmHWM, through /proc/self/clear_refs), calls the function once, and reports the growth of
the peak over the resident size just before the call, and the call's time. "x input" is that
growth over the size of the input (both texts for diff and apply, the frame for decode_frame,
the payload text for encode_frame). The growth includes the returned object.
"""

from __future__ import annotations

import argparse
import os
import struct
import sys
import time

sys.path.insert(0, os.path.dirname(__file__))
import treegen  # noqa: E402
from measure import fresh_call  # noqa: E402

import velmor  # noqa: E402

JSON = "application/json"
MSGPACK = "application/msgpack"

def frame(payload: bytes, codec: str) -> bytes:
    header = ('{"codec":"%s","model_type":"m","target":0,"rev":1,"kind":"Snapshot"}' % codec).encode()
    return struct.pack(">I", len(header)) + header + struct.pack(">I", len(payload)) + payload


def msgpack_array(items: bytes, count: int) -> bytes:
    return b"\xdd" + struct.pack(">I", count) + items


def build(folder: str, size: int) -> None:
    """Writes every input file of the cases into `folder`."""
    os.makedirs(folder, exist_ok=True)

    def put(name: str, data: bytes | str) -> None:
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data.encode() if isinstance(data, str) else data)

    if not os.path.exists(os.path.join(folder, "old.json")):
        old, new = treegen.pair(size)
        put("old.json", old)
        put("new.json", new)
        put("patch.json", velmor.diff(old, new))
        put("tree-json.bin", velmor.encode_frame(old, "m", "snapshot", 1, JSON))
        put("tree-msgpack.bin", velmor.encode_frame(old, "m", "snapshot", 1, MSGPACK))
        del old, new
    n = size
    put("nil.bin", frame(msgpack_array(b"\xc0" * n, n), MSGPACK))
    put("ints.bin", frame(msgpack_array(b"\x01" * n, n), MSGPACK))
    put("map-in-array.bin", frame(msgpack_array(b"\x91\x80" * (n // 2), n // 2), MSGPACK))
    put("repeated-keys.bin", frame(msgpack_array(b"\x82\xa0\xc0\xa0\xc0" * (n // 5), n // 5), MSGPACK))
    members = 1_000_000
    keys = b"".join(b"\xa8" + b"%08d" % i + b"\xc0" for i in reversed(range(members)))
    put("descending-map.bin", frame(b"\xdf" + struct.pack(">I", members) + keys, MSGPACK))
    put("zeros.json", "[" + "0," * (n // 2 - 1) + "0]")
    put("empty-arrays.json", "[" + "[]," * (n // 3 - 1) + "[]]")
    put("zeros-json.bin", frame(("[" + "0," * (n // 2 - 1) + "0]").encode(), JSON))
    put("compute.json", '{"tag":"a","bindings":{"b":{"compute":[' + "0," * (n // 2 - 1) + '0],"mode":"one-way"}}}')
    put("leaves.json", '{"tag":"a","slots":{"s":[' + '{"tag":"b"},' * (n // 12 - 1) + '{"tag":"b"}]}}')
    put("empty-patch.json", '{"ops":[]}')


CALLS = {
    "diff": "velmor.diff(args[0], args[1])",
    "apply": "velmor.apply(args[0], args[1])",
    "encode_json": 'velmor.encode_frame(args[0], "m", "snapshot", 1, "application/json")',
    "encode_msgpack": 'velmor.encode_frame(args[0], "m", "snapshot", 1, "application/msgpack")',
    "decode": "velmor.decode_frame(args[0])",
}

CASES = [
    # name, function, files
    ("diff, tree", "diff", ["old.json", "new.json"]),
    ("apply, tree", "apply", ["old.json", "patch.json"]),
    ("encode_frame json, tree", "encode_json", ["old.json"]),
    ("encode_frame msgpack, tree", "encode_msgpack", ["old.json"]),
    ("decode_frame json, tree", "decode", ["tree-json.bin"]),
    ("decode_frame msgpack, tree", "decode", ["tree-msgpack.bin"]),
    ("decode_frame msgpack, nil array", "decode", ["nil.bin"]),
    ("decode_frame msgpack, small ints", "decode", ["ints.bin"]),
    ("decode_frame msgpack, [{}] array", "decode", ["map-in-array.bin"]),
    ("decode_frame msgpack, repeated keys", "decode", ["repeated-keys.bin"]),
    ("decode_frame msgpack, descending map", "decode", ["descending-map.bin"]),
    ("decode_frame json, [0,0,...]", "decode", ["zeros-json.bin"]),
    ("encode_frame msgpack, [0,0,...]", "encode_msgpack", ["zeros.json"]),
    ("encode_frame msgpack, [[],[],...]", "encode_msgpack", ["empty-arrays.json"]),
    ("diff, binding compute [0,0,...]", "diff", ["compute.json", "compute.json"]),
    ("apply, binding compute [0,0,...]", "apply", ["compute.json", "empty-patch.json"]),
    ('diff, children {"tag":"b"}', "diff", ["leaves.json", "leaves.json"]),
    ('apply, children {"tag":"b"}', "apply", ["leaves.json", "empty-patch.json"]),
]


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--size", default="100MB")
    parser.add_argument("--only", nargs="*", default=None)
    options = parser.parse_args()
    size = int(options.size.upper().removesuffix("MB")) * 1_000_000
    folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data", f"limits-{options.size}")
    start = time.perf_counter()
    build(folder, size)
    print(f"inputs ready in {time.perf_counter() - start:.0f} s", file=sys.stderr)
    print("| input | function | input bytes | time | peak extra | x input | result |")
    print("|---|---|---|---|---|---|---|")
    for label, name, files in CASES:
        if options.only and not any(o in label for o in options.only):
            continue
        paths = [os.path.join(folder, f) for f in files]
        nbytes = sum(os.path.getsize(p) for p in paths)
        extra, elapsed, result = fresh_call(CALLS[name], paths, warm_utf8=name in ("diff", "apply"))
        subject, _, what = label.rpartition(", ")
        print(f"| {what} | {subject} | {nbytes} | {elapsed:.2f} s | {extra / 1e6:.0f} MB | "
              f"{extra / nbytes:.2f} | {result} |", flush=True)


if __name__ == "__main__":
    main()
