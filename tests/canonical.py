"""Reference forms for frame payload tests, written from the rules rather than from the module.

`canonical(value)` is the text the module writes for a JSON value (compact, keys in byte order,
integers in decimal, floats in the shortest round-trip digits with a point or an exponent);
`pack(value)` is its MessagePack form with the smallest marker for every value. Values are
Python data: None, bool, int, float, str, list, and dict (already holding one value per key).
`random_value` and `text_of` make random values and JSON texts for them, with random
whitespace, key order and repeated keys whose last value is the one that counts.
"""

from __future__ import annotations

import json
import math
import random
import struct
from decimal import Decimal


def write_float(x: float) -> str:
    if not math.isfinite(x):
        return "null"
    if x == 0:
        return "-0.0" if math.copysign(1.0, x) < 0 else "0.0"
    sign = "-" if x < 0 else ""
    _, digit_tuple, exponent = Decimal(repr(abs(x))).as_tuple()
    digits = "".join(map(str, digit_tuple))
    e = len(digits) + exponent - 1  # decimal exponent of the leading digit
    digits = digits.rstrip("0") or "0"
    if -5 <= e <= 15:
        if e >= 0:
            whole = digits[: e + 1].ljust(e + 1, "0")
            return f"{sign}{whole}.{digits[e + 1:] or '0'}"
        return f"{sign}0.{'0' * (-e - 1)}{digits}"
    mantissa = digits[0] + ("." + digits[1:] if len(digits) > 1 else "")
    return f"{sign}{mantissa}e{'-' if e < 0 else '+'}{abs(e)}"


def write_string(s: str) -> str:
    named = {'"': '\\"', "\\": "\\\\", "\b": "\\b", "\t": "\\t", "\n": "\\n", "\f": "\\f", "\r": "\\r"}
    out = []
    for ch in s:
        if ch in named:
            out.append(named[ch])
        elif ord(ch) < 0x20:
            out.append(f"\\u{ord(ch):04x}")
        else:
            out.append(ch)
    return '"' + "".join(out) + '"'


def canonical(v) -> str:
    if v is None:
        return "null"
    if v is True:
        return "true"
    if v is False:
        return "false"
    if isinstance(v, int):
        return str(v)
    if isinstance(v, float):
        return write_float(v)
    if isinstance(v, str):
        return write_string(v)
    if isinstance(v, list):
        return "[" + ",".join(canonical(e) for e in v) + "]"
    keys = sorted(v, key=lambda k: k.encode())
    return "{" + ",".join(write_string(k) + ":" + canonical(v[k]) for k in keys) + "}"


def decoded(payload: str, model_type: str = "m", kind: str = "snapshot", rev: int = 1) -> str:
    """The text decode_frame returns for a canonical payload text."""
    return f'{{"kind":"{kind}","model_type":{write_string(model_type)},"payload":{payload},"rev":{rev}}}'


def _length(n: int, fix: int, fix_limit: int, markers: list[tuple[int, int, str]]) -> bytes:
    if n < fix_limit:
        return bytes([fix + n])
    for marker, limit, fmt in markers:
        if n < limit:
            return bytes([marker]) + struct.pack(fmt, n)
    raise ValueError("too long")


def pack(v) -> bytes:
    if v is None:
        return b"\xc0"
    if v is True:
        return b"\xc3"
    if v is False:
        return b"\xc2"
    if isinstance(v, int):
        if v >= 0:
            if v < 128:
                return bytes([v])
            for marker, limit, fmt in [(0xCC, 2**8, ">B"), (0xCD, 2**16, ">H"), (0xCE, 2**32, ">I")]:
                if v < limit:
                    return bytes([marker]) + struct.pack(fmt, v)
            return b"\xcf" + struct.pack(">Q", v)
        if v >= -32:
            return struct.pack(">b", v)
        for marker, limit, fmt in [(0xD0, -(2**7), ">b"), (0xD1, -(2**15), ">h"), (0xD2, -(2**31), ">i")]:
            if v >= limit:
                return bytes([marker]) + struct.pack(fmt, v)
        return b"\xd3" + struct.pack(">q", v)
    if isinstance(v, float):
        return b"\xcb" + struct.pack(">d", v)
    if isinstance(v, str):
        b = v.encode()
        return _length(len(b), 0xA0, 32, [(0xD9, 2**8, ">B"), (0xDA, 2**16, ">H"), (0xDB, 2**32, ">I")]) + b
    if isinstance(v, list):
        return _length(len(v), 0x90, 16, [(0xDC, 2**16, ">H"), (0xDD, 2**32, ">I")]) + b"".join(
            pack(e) for e in v)
    keys = sorted(v, key=lambda k: k.encode())
    return _length(len(v), 0x80, 16, [(0xDE, 2**16, ">H"), (0xDF, 2**32, ">I")]) + b"".join(
        pack(k) + pack(v[k]) for k in keys)


# ---- random values and texts ------------------------------------------------------------------

INTS = [0, 1, 127, 128, 255, 256, 65535, 65536, 2**32 - 1, 2**32, 2**63, 2**64 - 1,
        -1, -32, -33, -128, -129, -32768, -32769, -(2**31), -(2**31) - 1, -(2**63)]
FLOATS = [0.0, -0.0, 1.0, -1.5, 0.1, 1e16, 1e15, 123456789012345.6, 1e-5, 1e-6, 5e-324,
          2.2250738585072014e-308, 1.7976931348623157e308, 100.0, 0.5]
CHARS = 'aZ09 "\\/\b\f\n\r\t\x00\x1f\x7f\u0080\u009f\u00e9\u2028\u4e2d\U0001f600'


def random_string(rnd: random.Random) -> str:
    n = rnd.choice([0, 1, 2, 5, 31, 32, rnd.randrange(40), 255, 256])
    return "".join(rnd.choice(CHARS) for _ in range(n))


def random_value(rnd: random.Random, depth: int = 0):
    kind = rnd.randrange(9 if depth < 4 else 6)
    if kind == 0:
        return rnd.choice([None, True, False])
    if kind == 1:
        return rnd.choice(INTS + [rnd.randrange(-(2**63), 2**64)])
    if kind == 2:
        if rnd.random() < 0.5:
            return rnd.choice(FLOATS)
        x = struct.unpack(">d", rnd.getrandbits(64).to_bytes(8, "big"))[0]
        return x if math.isfinite(x) else 2.5
    if kind in (3, 4, 5):
        return random_string(rnd)
    n = rnd.choice([0, 1, 3, 15, 16, rnd.randrange(20)])
    if kind in (6, 7):
        return [random_value(rnd, depth + 1) for _ in range(n)]
    return {random_string(rnd) if rnd.random() < 0.3 else rnd.choice("abcdefg"): random_value(rnd, depth + 1)
            for _ in range(n)}


def _space(rnd: random.Random) -> str:
    return rnd.choice(["", "", "", " ", "\n", "\t ", "\r\n"])


def text_of(v, rnd: random.Random) -> str:
    """A JSON text for `v`: random whitespace and escapes, members shuffled, and now and then a
    member given twice with a throwaway value before the one that counts."""
    if isinstance(v, bool) or v is None:
        return json.dumps(v)
    if isinstance(v, int):
        return str(v)
    if isinstance(v, float):
        return repr(v)
    if isinstance(v, str):
        return json.dumps(v, ensure_ascii=rnd.random() < 0.5)
    if isinstance(v, list):
        return "[" + ",".join(_space(rnd) + text_of(e, rnd) + _space(rnd) for e in v) + "]"
    members = []
    for k, value in v.items():
        if rnd.random() < 0.1:
            members.append((k, random_value(rnd, 4)))
        members.append((k, value))
    order = list(range(len(members)))
    rnd.shuffle(order)
    # A repeated key keeps its last value: the members of one key stay in their relative order.
    by_key: dict[str, list[int]] = {}
    for i in order:
        by_key.setdefault(members[i][0], []).append(i)
    for idxs in by_key.values():
        idxs.sort()
    slots = {k: iter(idxs) for k, idxs in by_key.items()}
    arranged = [members[next(slots[members[i][0]])] for i in order]
    return "{" + ",".join(
        _space(rnd) + json.dumps(k) + _space(rnd) + ":" + _space(rnd) + text_of(value, rnd) + _space(rnd)
        for k, value in arranged) + "}"
