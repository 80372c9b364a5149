"""Writes the seed corpora of the fuzz targets from the test fixtures.

    python fuzz/make_seeds.py OUT_DIR

OUT_DIR/<target>/ receives one file per seed. Trees come from the tests' generators
(tests/trees.py) and fixtures; patches from diffs of those trees, plus misfitting ones; frames
from encoding them in both codecs; manifests from the tests' manifest fixture when present.
Needs the velmor module.
"""

from __future__ import annotations

import hashlib
import json
import random
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests"))

import trees  # noqa: E402
import velmor  # noqa: E402


def write(out: Path, target: str, data: bytes) -> None:
    folder = out / target
    folder.mkdir(parents=True, exist_ok=True)
    (folder / hashlib.sha1(data).hexdigest()[:16]).write_bytes(data)


def main(out: Path) -> None:
    rnd = random.Random(1)
    pairs = []
    for i in range(60):
        old = trees.random_tree(rnd, empty_slots=i % 3 == 0, negative_zero=i % 4 == 0)
        new = trees.mutate(rnd, old, repeat_keys=i % 5 == 0, empty_slots=i % 3 == 0)
        pairs.append((trees.dumps(old), trees.dumps(new, rnd if i % 2 else None)))
    for old, new in pairs:
        write(out, "diff", f"{old}\0{new}".encode())
        patch = velmor.diff(old, new)
        write(out, "apply", f"{old}\0{patch}".encode())
        # a patch meant for another tree mostly does not fit
        write(out, "apply", f"{new}\0{patch}".encode())
        for payload in (old, patch):
            write(out, "encode_frame", payload.encode())
            write(out, "decode_frame", velmor.encode_frame(payload, "model", "patch", 3, "application/json"))
            write(out, "decode_frame", velmor.encode_frame(payload, "", "snapshot", 2**64 - 1, "application/msgpack"))
    write(out, "apply", b'{"tag":"a"}\0{"ops":[{"RemoveChild":{"path":[{"slot":"s","index":0}],"slot":"s","index":0}}]}')
    # bare numbers that end the text: nothing may be read after their last digit
    for number in ("5", "-12", "1.5", "-0", "1e5", "18446744073709551616", "-9223372036854775809"):
        write(out, "encode_frame", number.encode())
        write(out, "decode_frame", velmor.encode_frame(number, "m", "snapshot", 1, "application/json"))
    write(out, "decode_frame", b"\0\0\0\0")
    write(out, "decode_frame", b"\0\0\0\x10[\"a\",\"m\",0,1,\"Patch\"]\0\0\0\x02{}")
    manifest = ROOT / "tests" / "data" / "manifest.json"
    if manifest.is_file():
        write(out, "parse_cem", manifest.read_bytes())
    write(out, "parse_cem", json.dumps({"modules": [{"declarations": [
        {"customElement": True, "tagName": "x-a", "attributes": [
            {"name": "size", "type": {"text": "'s' | 'm' | undefined"}, "default": "'m'"}],
         "slots": [{"name": ""}], "events": [{"name": "change"}]}]}]}).encode())


if __name__ == "__main__":
    main(Path(sys.argv[1]))
