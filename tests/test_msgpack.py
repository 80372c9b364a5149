"""The MessagePack payload codec: the markers written, every marker read, the reading errors,
the nesting limits, and the public MessagePack test suite."""

from __future__ import annotations

import json
import random
import struct
import time

import pytest

import velmor
from canonical import canonical, decoded, pack, random_value, text_of

MSGPACK = "application/msgpack"
HEADER = b'{"codec":"application/msgpack","model_type":"m","target":0,"rev":1,"kind":"Snapshot"}'


def encode(text: str) -> bytes:
    """The MessagePack payload of a frame made from `text`."""
    out = velmor.encode_frame(text, "m", "snapshot", 1, MSGPACK)
    assert out[:4 + len(HEADER)] == struct.pack(">I", len(HEADER)) + HEADER
    (size,) = struct.unpack(">I", out[4 + len(HEADER):8 + len(HEADER)])
    payload = out[8 + len(HEADER):]
    assert len(payload) == size
    return payload


def frame(payload: bytes) -> bytes:
    return struct.pack(">I", len(HEADER)) + HEADER + struct.pack(">I", len(payload)) + payload


def decode(payload: bytes) -> str:
    return velmor.decode_frame(frame(payload))


def decode_error(payload: bytes) -> str:
    with pytest.raises(ValueError) as e:
        decode(payload)
    return str(e.value)


def nested(depth: int, inner: bytes = b"\x90") -> bytes:
    return b"\x91" * (depth - 1) + inner


# ---- writing ----------------------------------------------------------------------------------

@pytest.mark.parametrize("text, hex_bytes", [
    ('{"ops":[]}', "81 a3 6f 70 73 90"),
    ('{"b":1,"a":-1,"c":1.5}', "83 a1 61 ff a1 62 01 a1 63 cb 3f f8 00 00 00 00 00 00"),
    ("null", "c0"),
    ("false", "c2"),
    ("true", "c3"),
    ("0", "00"),
    ("127", "7f"),
    ("128", "cc 80"),
    ("255", "cc ff"),
    ("256", "cd 01 00"),
    ("65535", "cd ff ff"),
    ("65536", "ce 00 01 00 00"),
    ("4294967295", "ce ff ff ff ff"),
    ("4294967296", "cf 00 00 00 01 00 00 00 00"),
    ("18446744073709551615", "cf ff ff ff ff ff ff ff ff"),
    ("-1", "ff"),
    ("-32", "e0"),
    ("-33", "d0 df"),
    ("-128", "d0 80"),
    ("-129", "d1 ff 7f"),
    ("-32768", "d1 80 00"),
    ("-32769", "d2 ff ff 7f ff"),
    ("-2147483648", "d2 80 00 00 00"),
    ("-2147483649", "d3 ff ff ff ff 7f ff ff ff"),
    ("-9223372036854775808", "d3 80 00 00 00 00 00 00 00"),
    ("1.0", "cb 3f f0 00 00 00 00 00 00"),
    ("-0", "cb 80 00 00 00 00 00 00 00"),
    ("0.5", "cb 3f e0 00 00 00 00 00 00"),
    ("18446744073709551616", "cb 43 f0 00 00 00 00 00 00"),
    ('""', "a0"),
    ('"\\u00e9"', "a2 c3 a9"),
    ("[]", "90"),
    ("{}", "80"),
    ('{"b":1,"a":2,"b":3}', "82 a1 61 02 a1 62 03"),
    ('{"\\u00e9":1,"z":2,"Z":3,"":4}', "84 a0 04 a1 5a 03 a1 7a 02 a2 c3 a9 01"),
    (' [ 1 , [ ] , { } ] ', "93 01 90 80"),
])
def test_markers_written(text, hex_bytes):
    assert encode(text).hex(" ") == hex_bytes


@pytest.mark.parametrize("n, head", [
    (31, "bf"), (32, "d9 20"), (255, "d9 ff"), (256, "da 01 00"), (65535, "da ff ff"), (65536, "db 00 01 00 00"),
])
def test_string_length_boundaries(n, head):
    out = encode(json.dumps("x" * n))
    assert out.hex(" ").startswith(head + " ")
    assert out == bytes.fromhex(head) + b"x" * n
    assert decode(out) == decoded(json.dumps("x" * n))


@pytest.mark.parametrize("n, head", [(15, "9f"), (16, "dc 00 10"), (65535, "dc ff ff"), (65536, "dd 00 01 00 00")])
def test_array_length_boundaries(n, head):
    out = encode("[" + ",".join(["0"] * n) + "]")
    assert out == bytes.fromhex(head) + b"\x00" * n
    assert decode(out) == decoded("[" + ",".join(["0"] * n) + "]")


@pytest.mark.parametrize("n, head", [(15, "8f"), (16, "de 00 10"), (65535, "de ff ff"), (65536, "df 00 01 00 00")])
def test_map_length_boundaries(n, head):
    value = {f"k{i:05d}": 0 for i in range(n)}
    out = encode(json.dumps(value))
    assert out == bytes.fromhex(head) + b"".join(pack(k) + b"\x00" for k in sorted(value))
    assert decode(out) == decoded(canonical(value))


def test_nesting_limit_when_encoding():
    assert encode("[" * 127 + "]" * 127) == nested(127)
    with pytest.raises(ValueError) as e:
        encode("[" * 128 + "]" * 128)
    assert str(e.value) == "recursion limit exceeded at line 1 column 128"


@pytest.mark.parametrize("text, message", [
    ("", "EOF while parsing a value at line 1 column 0"),
    ("x", "expected value at line 1 column 1"),
    ("1 2", "trailing characters at line 1 column 3"),
    ('{"a":1', "EOF while parsing an object at line 1 column 6"),
    ('{"a" 1}', "expected `:` at line 1 column 6"),
    ("[1,]", "trailing comma at line 1 column 4"),
    ('["\\x"]', "invalid escape at line 1 column 4"),
    ("[tru]", "expected ident at line 1 column 5"),
    ("[1e400]", "number out of range at line 1 column 6"),
    ('\n\n  {"a":[1,2,}', "expected value at line 3 column 13"),
])
def test_encoding_reports_reading_errors(text, message):
    with pytest.raises(ValueError) as e:
        velmor.encode_frame(text, "m", "bogus", 1, MSGPACK)
    assert str(e.value) == message


def test_random_values_are_written_with_the_smallest_markers():
    rnd = random.Random(99)
    for _ in range(300):
        value = random_value(rnd)
        assert encode(text_of(value, rnd)) == pack(value)


# ---- reading ----------------------------------------------------------------------------------

@pytest.mark.parametrize("hex_bytes, payload", [
    ("ca 7f c0 00 00", "null"),
    ("ca 7f 80 00 00", "null"),
    ("ca ff 80 00 00", "null"),
    ("cb 7f f8 00 00 00 00 00 00", "null"),
    ("cb ff f0 00 00 00 00 00 00", "null"),
    ("cb 3f f8 00 00 00 00 00 00", "1.5"),
    ("ca 3d cc cc cd", "0.10000000149011612"),
    ("ca 80 00 00 00", "-0.0"),
    ("cb 00 00 00 00 00 00 00 01", "5e-324"),
    ("d0 05", "5"),
    ("d0 ff", "-1"),
    ("d3 7f ff ff ff ff ff ff ff", "9223372036854775807"),
    ("d3 80 00 00 00 00 00 00 00", "-9223372036854775808"),
    ("cf ff ff ff ff ff ff ff ff", "18446744073709551615"),
    ("e0", "-32"),
    ("a0", '""'),
    ("a5 22 5c 0a 01 7f", '"\\"\\\\\\n\\u0001\x7f"'),
    ("82 a1 62 01 a1 61 02", '{"a":2,"b":1}'),
    ("83 a1 61 01 a1 62 02 a1 61 03", '{"a":3,"b":2}'),
    ("92 c0 c3", "[null,true]"),
    ("91 01 c1 c1", "[1]"),
    ("c0 ff ff", "null"),
])
def test_markers_read(hex_bytes, payload):
    assert decode(bytes.fromhex(hex_bytes)) == decoded(payload)


@pytest.mark.parametrize("hex_bytes, message", [
    ("", "IO error while reading marker: failed to fill whole buffer"),
    ("91", "IO error while reading marker: failed to fill whole buffer"),
    ("93 01 02", "IO error while reading marker: failed to fill whole buffer"),
    ("82 a1 61 01", "IO error while reading marker: failed to fill whole buffer"),
    ("81 a1 61", "IO error while reading marker: failed to fill whole buffer"),
    ("cd 01", "IO error while reading data: failed to fill whole buffer"),
    ("cf 00 00 00 00 00 00 00", "IO error while reading data: failed to fill whole buffer"),
    ("ca 00 00", "IO error while reading data: failed to fill whole buffer"),
    ("cb", "IO error while reading data: failed to fill whole buffer"),
    ("d3 ff", "IO error while reading data: failed to fill whole buffer"),
    ("d9", "IO error while reading data: failed to fill whole buffer"),
    ("da 00", "IO error while reading data: failed to fill whole buffer"),
    ("dc 00", "IO error while reading data: failed to fill whole buffer"),
    ("df 00 00 00", "IO error while reading data: failed to fill whole buffer"),
    ("a5 61 62", "IO error while reading data: unexpected end of file"),
    ("d9 03 61", "IO error while reading data: unexpected end of file"),
    ("db ff ff ff ff 61", "IO error while reading data: unexpected end of file"),
    ("c4 05 00", "IO error while reading data: unexpected end of file"),
    ("c7 02 01 00", "IO error while reading data: unexpected end of file"),
    ("d5 01 00", "IO error while reading data: unexpected end of file"),
    ("c4 01 00", "invalid type: byte array, expected any valid JSON value"),
    ("c5 00 00", "invalid type: byte array, expected any valid JSON value"),
    ("c6 00 00 00 01 ff", "invalid type: byte array, expected any valid JSON value"),
    ("d4 01 00", "invalid type: newtype struct, expected any valid JSON value"),
    ("d8 01" + " 00" * 16, "invalid type: newtype struct, expected any valid JSON value"),
    ("c7 01 05 00", "invalid type: newtype struct, expected any valid JSON value"),
    ("c9 00 00 00 00 05", "invalid type: newtype struct, expected any valid JSON value"),
    ("92 01 c4 00", "invalid type: byte array, expected any valid JSON value"),
    ("c1", "wrong msgpack marker Reserved"),
    ("93 01 02 c1", "wrong msgpack marker Reserved"),
    ("a2 c3 28", "string found to be invalid utf8: invalid utf-8 sequence of 1 bytes from index 0"),
    ("a3 61 e2 82", "string found to be invalid utf8: incomplete utf-8 byte sequence from index 1"),
    ("a4 f0 90 80 28", "string found to be invalid utf8: invalid utf-8 sequence of 3 bytes from index 0"),
    ("81 a1 ff 01", "string found to be invalid utf8: invalid utf-8 sequence of 1 bytes from index 0"),
    ("81 05 01", "invalid type: integer `5`, expected a string key"),
    ("81 ff 01", "invalid type: integer `-1`, expected a string key"),
    ("81 cf ff ff ff ff ff ff ff ff 01", "invalid type: integer `18446744073709551615`, expected a string key"),
    ("81 c0 01", "invalid type: null, expected a string key"),
    ("81 c3 01", "invalid type: boolean `true`, expected a string key"),
    ("81 cb 3f f8 00 00 00 00 00 00 01", "invalid type: floating point `1.5`, expected a string key"),
    ("81 ca 7f c0 00 00 01", "invalid type: floating point `NaN`, expected a string key"),
    ("81 90 01", "invalid type: sequence, expected a string key"),
    ("81 dc 00 05", "invalid type: sequence, expected a string key"),
    ("81 80 01", "invalid type: map, expected a string key"),
    ("81 c4 00 01", "invalid type: byte array, expected a string key"),
    ("81 d4 00 00 01", "invalid type: newtype struct, expected a string key"),
    ("81 c1", "wrong msgpack marker Reserved"),
    ("81 cd 01", "IO error while reading data: failed to fill whole buffer"),
    ("82 a1 61 01 05 01", "invalid type: integer `5`, expected a string"),
    ("83 a1 61 01 a1 62 02 90 03", "invalid type: sequence, expected a string"),
    ("91 81 a1 61 81 07 00", "invalid type: integer `7`, expected a string key"),
])
def test_reading_errors(hex_bytes, message):
    assert decode_error(bytes.fromhex(hex_bytes)) == message


def test_empty_payloads():
    assert decode_error(b"") == "IO error while reading marker: failed to fill whole buffer"


def test_lengths_claiming_4_gib_fail_quickly():
    start = time.perf_counter()
    for head in ["dd ff ff ff ff", "df ff ff ff ff", "db ff ff ff ff", "c6 ff ff ff ff", "c9 ff ff ff ff 01"]:
        with pytest.raises(ValueError):
            decode(bytes.fromhex(head) + b"\x00" * 1000)
    assert decode_error(bytes.fromhex("dd ff ff ff ff") + b"\x90" * 100_000) == (
        "IO error while reading marker: failed to fill whole buffer")
    assert time.perf_counter() - start < 2


def test_nesting_limits_when_decoding():
    assert decode(nested(127)) == decoded("[" * 127 + "]" * 127)
    for depth in (128, 500, 1023):
        assert decode_error(nested(depth)) == "recursion limit exceeded at line 1 column 128"
    for depth in (1024, 5000):
        assert decode_error(nested(depth)) == "depth limit exceeded"
    # Ext values open a level too.
    assert decode_error(nested(1024, b"\xd4\x01\x00")) == "depth limit exceeded"
    assert decode_error(nested(1023, b"\xd4\x01\x00")) == (
        "invalid type: newtype struct, expected any valid JSON value")
    # A later reading error wins over the JSON limit, which applies to the finished value.
    assert decode_error(b"\x92" + nested(200) + b"\xc1") == "wrong msgpack marker Reserved"


def test_recursion_error_is_placed_in_the_canonical_text():
    # {"b":[[...]], "a":"xyz"}: written out, "a" comes first and moves the deep part right.
    deep = b"\x82\xa1b" + nested(127) + b"\xa1a\xa3xyz"
    text = '{"a":"xyz","b":' + "[" * 127
    assert decode_error(deep) == f"recursion limit exceeded at line 1 column {len(text)}"


def test_payload_strings_are_borrowed_and_checked_where_they_are():
    value = {"\u00e9" * 40: ["\U0001f600" * 70, "x" * 300], "k": "\u2028"}
    assert decode(pack(value)) == decoded(canonical(value))


def _strings_around_the_fixed_pieces():
    """Strings of the lengths around 16 and 32 bytes, plain and with a byte that is escaped, kept
    as it is or checked as UTF-8 (first, in the middle, last)."""
    odd = ['"', "\\", "\x00", "\x1f", "\x7f", "/", "\u00e9", "\u2028", "\U0001f600"]
    for n in (0, 1, 14, 15, 16, 17, 28, 29, 30, 31, 32, 33):
        base = "o" * n
        yield base
        for c in odd:
            for at in (0, n // 2, n):
                yield base[:at] + c + base[at:]


def test_short_strings_and_keys_decode_the_same_wherever_they_sit():
    # Near the end of the payload and with at least 32 bytes after their start, as values, keys
    # and keys after a first member.
    pad = "q" * 40
    for s in _strings_around_the_fixed_pieces():
        for value in (s, [s], [s, pad], {s: 1}, {s: pad}, {"!": 0, s: 1}, {"!": 0, s: pad}, [{s: s}, pad]):
            assert decode(pack(value)) == decoded(canonical(value)), (s, value)


@pytest.mark.parametrize("raw, message", [
    (b"\xff", "invalid utf-8 sequence of 1 bytes from index 0"),
    (b"\x80" + b"o" * 15, "invalid utf-8 sequence of 1 bytes from index 0"),
    (b"o" * 15 + b"\xc3(", "invalid utf-8 sequence of 1 bytes from index 15"),
    (b"o" * 20 + b"\xed\xa0\x80", "invalid utf-8 sequence of 1 bytes from index 20"),
    (b"o" * 29 + b"\xe2\x82", "incomplete utf-8 byte sequence from index 29"),
    (b"o" * 30 + b"\xc3", "incomplete utf-8 byte sequence from index 30"),
])
def test_short_strings_and_keys_with_utf8_faults_are_refused_wherever_they_sit(raw, message):
    s = bytes([0xA0 + len(raw)]) + raw
    pad = pack("q" * 40)
    for payload in (s, b"\x92" + s + pad, b"\x81" + s + b"\x01", b"\x81" + s + pad,
                    b"\x82\xa1!\x00" + s + pad, b"\x92\x81" + s + s + pad):
        assert decode_error(payload) == "string found to be invalid utf8: " + message, payload.hex()


def test_msgpack_suite(testdata):
    suite = json.loads((testdata / "msgpack" / "msgpack-test-suite.json").read_text())
    refused = {
        "binary": "invalid type: byte array, expected any valid JSON value",
        "timestamp": "invalid type: newtype struct, expected any valid JSON value",
        "ext": "invalid type: newtype struct, expected any valid JSON value",
    }
    checked = 0
    for group, cases in suite.items():
        for case in cases:
            kind = next((k for k in case if k not in ("msgpack", "bignum")), "bignum")
            for hex_bytes in case["msgpack"]:
                payload = bytes.fromhex(hex_bytes.replace("-", ""))
                checked += 1
                if kind in refused:
                    assert decode_error(payload) == refused[kind], (group, hex_bytes)
                    continue
                value = int(case["bignum"]) if "bignum" in case else case[kind]
                if payload[0] in (0xCA, 0xCB):
                    value = float(value)
                assert decode(payload) == decoded(canonical(value)), (group, hex_bytes)
            if kind not in refused:
                value = int(case["bignum"]) if "bignum" in case else case[kind]
                written = encode(json.dumps(value)).hex("-")
                assert written in case["msgpack"], (group, written)
    assert checked > 150


def test_random_payload_mutations_give_a_text_or_a_value_error():
    rnd = random.Random(11)
    seeds = [pack(random_value(rnd)) for _ in range(40)]
    start = time.perf_counter()
    for _ in range(40000):
        data = bytearray(rnd.choice(seeds))
        for _ in range(rnd.randrange(1, 4)):
            i = rnd.randrange(len(data) + 1)
            if rnd.random() < 0.5 and data:
                data[min(i, len(data) - 1)] = rnd.randrange(256)
            else:
                data[i:i] = bytes([rnd.choice([0x91, 0xDD, 0xDF, 0xDB, 0xC1, 0xD4, 0xCA, 0x81, 0x05])])
        try:
            assert type(decode(bytes(data))) is str
        except ValueError:
            pass
    assert time.perf_counter() - start < 30


# ---- maps out of order ------------------------------------------------------------------------

class Pairs(list):
    """A map as the (key, value) pairs a payload holds, in that order and maybe repeated."""


def pack_pairs(v) -> bytes:
    if isinstance(v, Pairs):
        head = bytes([0x80 + len(v)]) if len(v) < 16 else b"\xde" + struct.pack(">H", len(v))
        return head + b"".join(pack(k) + pack_pairs(x) for k, x in v)
    if isinstance(v, list):
        head = bytes([0x90 + len(v)]) if len(v) < 16 else b"\xdc" + struct.pack(">H", len(v))
        return head + b"".join(pack_pairs(x) for x in v)
    return pack(v)


class Refused(Exception):
    pass


def unpack(data: bytes):
    """The value a payload holds (a repeated key keeping its last value), from the format's rules;
    Refused for whatever decoding must refuse, nesting deeper than a JSON reader allows included."""
    at = 0

    def take(n):
        nonlocal at
        if len(data) - at < n:
            raise Refused
        at += n
        return data[at - n:at]

    def string(n):
        try:
            return take(n).decode("utf-8")
        except UnicodeDecodeError:
            raise Refused from None

    def value(depth):
        (m,) = take(1)
        if m < 0x80:
            return m
        if m >= 0xE0:
            return m - 256
        if m < 0xA0 or m in (0xDC, 0xDD, 0xDE, 0xDF):
            if depth == 127:
                raise Refused
            if m < 0x90 or m >= 0xDE:
                n = m & 0x0F if m < 0x90 else int.from_bytes(take(2 if m == 0xDE else 4), "big")
                out = {}
                for _ in range(n):
                    (k,) = take(1)
                    if 0xA0 <= k < 0xC0:
                        key = string(k & 0x1F)
                    elif 0xD9 <= k <= 0xDB:
                        key = string(int.from_bytes(take(1 << (k - 0xD9)), "big"))
                    else:
                        raise Refused
                    out.pop(key, None)
                    out[key] = value(depth + 1)
                return out
            n = m & 0x0F if m < 0xA0 else int.from_bytes(take(2 if m == 0xDC else 4), "big")
            return [value(depth + 1) for _ in range(n)]
        if m < 0xC0:
            return string(m & 0x1F)
        if m == 0xC0:
            return None
        if m in (0xC2, 0xC3):
            return m == 0xC3
        if m == 0xCA:
            return struct.unpack(">f", take(4))[0]
        if m == 0xCB:
            return struct.unpack(">d", take(8))[0]
        if 0xCC <= m <= 0xCF:
            return int.from_bytes(take(1 << (m - 0xCC)), "big")
        if 0xD0 <= m <= 0xD3:
            return int.from_bytes(take(1 << (m - 0xD0)), "big", signed=True)
        if 0xD9 <= m <= 0xDB:
            return string(int.from_bytes(take(1 << (m - 0xD9)), "big"))
        raise Refused

    return value(0)


def _unordered(rnd: random.Random, depth: int = 0, fill: int = 0):
    if depth == 4 or rnd.random() < 0.25:
        return rnd.choice([0, -5, 300, 1.5, "s" * rnd.choice([1, 40, fill or 3]), None, True, "\u00e9", [], Pairs()])
    if rnd.random() < 0.3:
        return [_unordered(rnd, depth + 1, fill) for _ in range(rnd.choice([1, 2, 16, 17]))]
    keys = rnd.sample("abcdefghijklmnopqrs", rnd.choice([1, 2, 3, 5, 16, 17]))
    pairs = Pairs()
    for k in keys:
        for _ in range(rnd.choice([1, 1, 1, 2])):
            pairs.append((k * rnd.choice([1, 1, 9]), _unordered(rnd, depth + 1, fill)))
    if rnd.random() < 0.8:
        rnd.shuffle(pairs)
    return pairs


def _unordered_payloads() -> list[bytes]:
    rnd = random.Random(20261211)
    payloads = []
    # maps put in order as they close and those left to the final copy, around the length where
    # one gives way to the other, nested in each other
    for fill in (990, 1000, 1010, 1012, 1015, 1020, 1030, 2000):
        big = "p" * fill
        inner = Pairs([("y", big), ("x", Pairs([("d", 1), ("c", [7] * 17)]))])
        payloads += [
            pack_pairs(Pairs([("b", big), ("a", 0)])),
            pack_pairs(Pairs([("b", big), ("a", 0), ("b", 1)])),
            pack_pairs(Pairs([("z", inner), ("a", [inner, inner]), ("m", Pairs([("n", inner)]))])),
            pack_pairs(Pairs([("z", [inner] * 3), ("z", inner), ("a", 1)])),
        ]
    for fill in (0, 400, 1000):
        payloads += [pack_pairs(_unordered(rnd, fill=fill)) for _ in range(30)]
    return payloads


def test_maps_out_of_order_decode_as_the_reference_reads_them():
    for payload in _unordered_payloads():
        assert decode(payload) == decoded(canonical(unpack(payload))), payload.hex()


def test_damaged_maps_out_of_order_are_refused_or_read_as_the_reference_reads_them():
    rnd = random.Random(12)
    seeds = _unordered_payloads()
    seeds.append(pack_pairs(Pairs([("b", 0), ("a", "\u00e9" * 20)])))
    for _ in range(3000):
        data = bytearray(rnd.choice(seeds))
        for _ in range(rnd.randrange(1, 3)):
            if not data:
                break
            i = rnd.randrange(len(data))
            if rnd.random() < 0.5:
                data[i] = rnd.choice([rnd.randrange(256), 0xFF, 0xC1, 0x81, 0xA1, 0x91])
            else:
                del data[i:i + rnd.randrange(1, 3)]
        try:
            expected = decoded(canonical(unpack(bytes(data))))
        except Refused:
            with pytest.raises(ValueError):
                decode(bytes(data))
            continue
        except RecursionError:
            continue
        assert decode(bytes(data)) == expected, bytes(data).hex()
