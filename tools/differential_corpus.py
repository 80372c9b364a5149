"""Writes a seeded corpus of calls with the Python module's outputs, for comparing another binding
of the core with it (client/test/differential.test.mjs runs the WebAssembly one on it).

    python tools/differential_corpus.py OUT_FILE [seed]

OUT_FILE receives one JSON object per line: {"fn": name, "args": [...], "ok": output} or
{"fn": name, "args": [...], "error": exception class name, "message": its text}. Frames (the
`frame` argument of decode_frame and the output of encode_frame) are written in hex; every other
argument and output is text, `rev` included (its decimal digits). Inputs come from the project's generators: the random trees of
tests/trees.py and their mutations, the benchmark trees of bench/treegen.py, the manifest fixture
of tests/data, the bare numbers of fuzz/make_seeds.py, patches from diffs of those trees, frames
from encoding them, and damaged copies of all of them (characters or bytes deleted, inserted,
replaced, or the text cut short).
"""

from __future__ import annotations

import json
import random
import struct
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests"))
sys.path.insert(0, str(ROOT / "bench"))

import treegen  # noqa: E402
import trees  # noqa: E402
import velmor  # noqa: E402

# Pieces that damage a text where reading is most fragile: structure, escapes, numbers at and
# beyond their ranges, and characters of several UTF-8 lengths.
TOKENS = ['{', '}', '[', ']', ',', ':', '"', '\\', '"tag"', '"key"', '"slots"', '"props"', '"ops"',
          '"path"', '"kind"', '"expr"', '"Float"', '"Int"', 'null', 'true', '-', '0', '1e999', '1e-999',
          '01', '0.1', '18446744073709551616', '-9223372036854775809', '2.5e-324', '\\u', '\\uD800',
          '\\ud83d\\ude00', ' ', '\n', '\t', '\x00', '\x1f', 'é', '€', '😀']

CODECS = ["application/json", "application/msgpack"]


def damaged(rnd: random.Random, text: str, count: int):
    return trees.damaged(rnd, text, count, TOKENS)


def damaged_bytes(rnd: random.Random, data: bytes, count: int):
    for _ in range(count):
        b = bytearray(data)
        for _ in range(rnd.randrange(1, 4)):
            pos = rnd.randrange(len(b) + 1)
            pick = rnd.randrange(5)
            if pick == 0 and b:
                del b[min(pos, len(b) - 1)]
            elif pick == 1:
                b[pos:pos] = bytes([rnd.randrange(256)])
            elif pick == 2 and b:
                b[min(pos, len(b) - 1)] = rnd.randrange(256)
            elif pick == 3 and len(b) >= 8:
                # a length field made larger or smaller
                at = rnd.choice([0, 4 + struct.unpack(">I", bytes(b[:4]))[0]]) if rnd.random() < 0.7 else 0
                if at + 4 <= len(b):
                    (n,) = struct.unpack(">I", bytes(b[at:at + 4]))
                    b[at:at + 4] = struct.pack(">I", max(0, min(2**32 - 1, n + rnd.choice([-3, -1, 1, 2, 2**31]))))
            else:
                b = b[:pos]
        yield bytes(b)


def arg(a: object) -> object:
    # bytes in hex; an integer (rev) as its decimal text, since JSON numbers lose precision in
    # JavaScript past 2**53
    if isinstance(a, bytes):
        return a.hex()
    if isinstance(a, int):
        return str(a)
    return a


class Corpus:
    def __init__(self, out) -> None:
        self.out = out
        self.count = 0

    def call(self, fn: str, *args) -> object:
        """Calls velmor.<fn> and records the call; returns the output, or None on failure."""
        record: dict = {"fn": fn, "args": [arg(a) for a in args]}
        result = None
        try:
            result = getattr(velmor, fn)(*args)
        except Exception as e:  # every exception is part of what is compared
            record["error"] = type(e).__name__
            record["message"] = str(e)
        else:
            record["ok"] = result.hex() if isinstance(result, bytes) else result
        self.out.write(json.dumps(record, ensure_ascii=True) + "\n")
        self.count += 1
        return result


def main(path: Path, seed: int) -> None:
    rnd = random.Random(seed)
    with path.open("w", encoding="ascii") as out:
        c = Corpus(out)

        # Trees and patches: random pairs of every option, written canonically and scrambled,
        # then damaged.
        # Most are kept small (three levels below the root) so that the corpus stays small.
        for i in range(120):
            depth = 4 if i % 40 == 0 else 3
            old = trees.random_tree(rnd, empty_slots=i % 3 == 0, negative_zero=i % 4 == 0, max_depth=depth)
            new = trees.mutate(rnd, old, repeat_keys=i % 5 == 0, empty_slots=i % 3 == 0,
                               negative_zero=i % 4 == 0, max_depth=depth)
            old_text, new_text = trees.dumps(old, rnd if i % 2 else None), trees.dumps(new, rnd if i % 3 else None)
            patch = c.call("diff", old_text, new_text)
            c.call("diff", new_text, old_text)
            if isinstance(patch, str):
                c.call("apply", old_text, patch)
                c.call("apply", new_text, patch)  # mostly does not fit
                for bad in damaged(rnd, patch, 3):
                    c.call("apply", old_text, bad)
                for codec in CODECS:
                    frame = c.call("encode_frame", patch, "model", "patch", rnd.choice([0, 3, 2**53, 2**64 - 1]), codec)
                    if isinstance(frame, bytes):
                        c.call("decode_frame", frame)
                        for bad in damaged_bytes(rnd, frame, 4):
                            c.call("decode_frame", bad)
            for bad in damaged(rnd, old_text, 6 if len(old_text) < 20_000 else 1):
                c.call("diff", bad, new_text)
                c.call("diff", new_text, bad)
                c.call("apply", bad, '{"ops":[]}')
                if i % 2 == 0:
                    frame = c.call("encode_frame", bad, "m", "snapshot", 1, "application/msgpack")
                    if isinstance(frame, bytes):
                        c.call("decode_frame", frame)
            for codec in CODECS:
                frame = c.call("encode_frame", old_text, "tree", "snapshot", i, codec)
                if isinstance(frame, bytes):
                    c.call("decode_frame", frame)

        # The benchmark's dashboard trees, and a patch between two of them.
        for size in (2_000, 30_000, 200_000):
            old, new = treegen.pair(size, seed=seed)
            patch = c.call("diff", old, new)
            c.call("apply", old, patch)
            for codec in CODECS:
                frame = c.call("encode_frame", old, "dash", "snapshot", size, codec)
                c.call("decode_frame", frame)

        # Bare numbers as payloads, the float forms at the edges of reading and writing, and
        # numbers in every place a tree holds one.
        numbers = ["5", "-12", "1.5", "-0", "1e5", "18446744073709551615", "18446744073709551616",
                   "-9223372036854775808", "-9223372036854775809", "0.1", "1e308", "1e309", "1.7976931348623157e308",
                   "1.7976931348623158e308", "1.7976931348623159e308", "5e-324", "2.4703282292062328e-324",
                   "2.4703282292062327e-324", "1e-400", "-1e-400", "123456789012345678901234567890",
                   "0.30000000000000004", "9007199254740993", "2.2250738585072011e-308", "1e22", "1e23",
                   "4.35679", "100000000000000000000000", "1" + "0" * 400 + "e-400", "0." + "0" * 330 + "1e330"]
        for _ in range(300):
            numbers.append(repr(rnd.uniform(-1, 1) * 10 ** rnd.randrange(-320, 308)))
            numbers.append(str(rnd.getrandbits(64) - 2**63) + rnd.choice(["", ".0", "e3", "e-3"]))
        for number in numbers:
            for codec in CODECS:
                frame = c.call("encode_frame", number, "m", "snapshot", 1, codec)
                if isinstance(frame, bytes):
                    c.call("decode_frame", frame)
            c.call("apply", f'{{"tag":"n","props":{{"f":{{"Float":{number}}},"i":{{"Int":{number}}},'
                            f'"s":{{"Submodel":{number}}}}}}}', '{"ops":[]}')
            c.call("apply", f'{{"tag":"n","bindings":{{"b":{{"mode":"one-way","compute":[{number}]}}}}}}',
                   '{"ops":[]}')

        # Manifests: the fixture, and damaged copies of it.
        manifest_file = ROOT / "tests" / "data" / "manifest.json"
        manifests = [json.dumps({"modules": [{"declarations": [
            {"customElement": True, "tagName": "x-a", "attributes": [
                {"name": "size", "type": {"text": "'s' | 'm' | undefined"}, "default": "'m'"}],
             "slots": [{"name": ""}], "events": [{"name": "change"}]}]}]})]
        if manifest_file.is_file():
            manifests.append(manifest_file.read_text(encoding="utf-8"))
        for manifest in manifests:
            c.call("parse_cem", manifest)
            for bad in damaged(rnd, manifest, 150):
                c.call("parse_cem", bad)

        # Frames: hand-made headers and lengths, kinds and codecs that do not exist.
        for frame in (b"", b"\0\0", b"\0\0\0\0", b"\0\0\0\0\0\0\0\0", b'\0\0\0\x10["a","m",0,1,"Patch"]\0\0\0\x02{}',
                      b"\xff\xff\xff\xff", b"\0\0\0\x02{}\0\0\0\x02{}", b"\0\0\0\x01\xff\0\0\0\0"):
            c.call("decode_frame", frame)
        for kind in ("snapshot", "patch", "Snapshot", "delta", ""):
            for codec in CODECS + ["application/cbor", ""]:
                c.call("encode_frame", '{"ops":[]}', "m", kind, 7, codec)

        # Texts that have no UTF-8 form (a lone surrogate), in each text parameter.
        lone = '{"tag":"a\ud800"}'
        c.call("diff", lone, '{"tag":"a"}')
        c.call("diff", '{"tag":"a"}', lone)
        c.call("apply", lone, '{"ops":[]}')
        c.call("apply", '{"tag":"a"}', '{"ops":[\udfff]}')
        c.call("parse_cem", '{"modules":"\udc00"}')
        for k in range(5):
            args = ['{"ops":[]}', "m", "patch", 1, "application/json"]
            if k != 3:
                args[k] = args[k][:1] + "\ud83d" + args[k][1:]
                c.call("encode_frame", *args)

        # Texts that are not well formed at all.
        for text in ("", " ", "x", "{", "[]", "null", '"tag"', "{}", '{"tag":1}', '{"tag":"a"}x', "\ufeff{}",
                     '{"tag":"a","x":' + "[" * 200 + "]" * 200 + "}",
                     # nesting far past the limit: refused without recursing
                     '{"tag":"a","x":' + "[" * 100_000, '{"tag":"a","props":{"p":' + '{"List":[' * 50_000,
                     '{"tag":"a","events":{"e":' + '{"kind":"seq","actions":[' * 20_000,
                     '{"tag":"a","x":' + '{"":' * 50_000 + "1" + "}" * 50_000 + "}"):
            c.call("diff", text, '{"tag":"a"}')
            c.call("apply", text, '{"ops":[]}')
            c.call("apply", '{"tag":"a"}', text)
            c.call("parse_cem", text)
    print(f"{c.count} calls written to {path}")


if __name__ == "__main__":
    main(Path(sys.argv[1]), int(sys.argv[2]) if len(sys.argv) > 2 else 12)
