"""Frames: the envelope layout, every check of decoding, the entry points' argument rules, the
JSON payload codec, and arbitrary bytes fed to decode_frame."""

from __future__ import annotations

import json
import random
import struct
import time

import pytest

import velmor
from canonical import canonical, decoded, pack, random_value, text_of

JSON = "application/json"
MSGPACK = "application/msgpack"


def frame(header: bytes | str, payload: bytes | str = b"{}") -> bytes:
    if isinstance(header, str):
        header = header.encode()
    if isinstance(payload, str):
        payload = payload.encode()
    return struct.pack(">I", len(header)) + header + struct.pack(">I", len(payload)) + payload


def header(codec='"application/json"', model_type='"m"', target="0", rev="1", kind='"Patch"') -> str:
    return (f'{{"codec":{codec},"model_type":{model_type},"target":{target},"rev":{rev},'
            f'"kind":{kind}}}')


def decode_error(data: bytes) -> str:
    with pytest.raises(ValueError) as e:
        velmor.decode_frame(data)
    return str(e.value)


# ---- the layout -------------------------------------------------------------------------------

COUNTER_HEADER = b'{"codec":"application/json","model_type":"counter","target":0,"rev":3,"kind":"Patch"}'
COUNTER_FRAME = b"\x00\x00\x00\x55" + COUNTER_HEADER + b"\x00\x00\x00\x0a" + b'{"ops":[]}'


def test_frame_layout_byte_for_byte():
    out = velmor.encode_frame('{"ops":[]}', "counter", "patch", 3, JSON)
    assert type(out) is bytes
    assert len(out) == 103
    assert out == COUNTER_FRAME
    assert velmor.decode_frame(out) == '{"kind":"patch","model_type":"counter","payload":{"ops":[]},"rev":3}'


def test_snapshot_frame_with_an_empty_payload():
    out = velmor.encode_frame("", "", "snapshot", 0, JSON)
    head = b'{"codec":"application/json","model_type":"","target":0,"rev":0,"kind":"Snapshot"}'
    assert out == struct.pack(">I", len(head)) + head + b"\x00\x00\x00\x00"
    assert decode_error(out) == "EOF while parsing a value at line 1 column 0"


@pytest.mark.parametrize("model_type, written", [
    ("", '""'),
    ('q"uote\\back/slash', '"q\\"uote\\\\back/slash"'),
    ("\x00\x01\b\t\n\x0b\f\r\x1f\x7f", '"\\u0000\\u0001\\b\\t\\n\\u000b\\f\\r\\u001f\x7f"'),
    ("h\u00e9 \u4e2d \U0001f600 \u2028", '"h\u00e9 \u4e2d \U0001f600 \u2028"'),
])
def test_model_type_is_escaped_in_the_header_and_comes_back_unchanged(model_type, written):
    out = velmor.encode_frame("1", model_type, "snapshot", 7, JSON)
    head = f'{{"codec":"application/json","model_type":{written},"target":0,"rev":7,"kind":"Snapshot"}}'
    assert out == frame(head, "1")
    assert velmor.decode_frame(out) == decoded("1", model_type, rev=7)


@pytest.mark.parametrize("rev", [0, 1, 2**32, 2**63, 2**64 - 1])
@pytest.mark.parametrize("codec", [JSON, MSGPACK])
def test_rev_survives_a_round_trip(rev, codec):
    out = velmor.encode_frame("[1]", "m", "patch", rev, codec)
    assert velmor.decode_frame(out) == decoded("[1]", kind="patch", rev=rev)


def test_json_codec_carries_the_text_unchecked_and_decoding_reads_it():
    out = velmor.encode_frame("not json", "m", "patch", 1, JSON)
    assert out.endswith(b"\x00\x00\x00\x08not json")
    assert decode_error(out) == "expected ident at line 1 column 2"


def test_json_payload_comes_back_normalised():
    text = '{ "b" : 1.50 , "a" : [1e2, 100, -0, 0.00001, 1E16, "\\u00e9\\/"], "b": 2 }\n'
    out = velmor.encode_frame(text, "m", "snapshot", 1, JSON)
    assert out.endswith(text.encode())
    assert velmor.decode_frame(out) == decoded('{"a":[100.0,100,-0.0,0.00001,1e+16,"\u00e9/"],"b":2}')


@pytest.mark.parametrize("payload, kind, codec, message", [
    ("{}", "Patch", JSON, "unknown frame kind: Patch"),
    ("{}", "SNAPSHOT", JSON, "unknown frame kind: SNAPSHOT"),
    ("{}", "", MSGPACK, "unknown frame kind: "),
    ("{}", "patch ", JSON, "unknown frame kind: patch "),
    ("{}", "patch", "application/JSON", "unknown codec: application/JSON"),
    ("{}", "patch", " application/json", "unknown codec:  application/json"),
    ("{}", "patch", "", "unknown codec: "),
    ("{}", "bogus", "text/plain", "unknown codec: text/plain"),
    # The payload is read before the kind is looked at, and only for MessagePack.
    ("x", "bogus", MSGPACK, "expected value at line 1 column 1"),
    ("x", "bogus", JSON, "unknown frame kind: bogus"),
    ("x", "bogus", "text/plain", "unknown codec: text/plain"),
])
def test_encode_checks_codec_then_payload_then_kind(payload, kind, codec, message):
    with pytest.raises(ValueError) as e:
        velmor.encode_frame(payload, "m", kind, 1, codec)
    assert str(e.value) == message


# ---- decoding: lengths ------------------------------------------------------------------------

def test_every_cut_of_a_frame_is_truncated():
    for n in range(len(COUNTER_FRAME)):
        assert decode_error(COUNTER_FRAME[:n]) == "truncated frame", n


@pytest.mark.parametrize("data", [
    b"\x00\x00\x00\x05abc",
    b"\xff\xff\xff\xff" + COUNTER_HEADER,
    # The payload length claims 4 GiB; nothing of that size is allocated.
    b"\x00\x00\x00\x55" + COUNTER_HEADER + b"\xff\xff\xff\xff" + b'{"ops":[]}',
    b"\x00\x00\x00\x55" + COUNTER_HEADER + b"\x00\x00\x00\x0b" + b'{"ops":[]}',
])
def test_lengths_running_past_the_end_are_truncated(data):
    assert decode_error(data) == "truncated frame"


def test_the_header_is_read_before_the_payload_length_is_looked_for():
    assert decode_error(b"\x00\x00\x00\x00") == "bad frame header: EOF while parsing a value at line 1 column 0"
    assert decode_error(b"\x00\x00\x00\x01x") == "bad frame header: expected value at line 1 column 1"


def test_bytes_after_the_payload_are_ignored():
    expected = velmor.decode_frame(COUNTER_FRAME)
    assert velmor.decode_frame(COUNTER_FRAME + b"\x00\x00\x00\x01garbage") == expected
    msgpack_frame = velmor.encode_frame("[1]", "m", "patch", 1, MSGPACK)
    assert velmor.decode_frame(msgpack_frame + b"\xc1") == decoded("[1]", kind="patch")


@pytest.mark.parametrize("number, after", [
    ("5", b"77"), ("-1", b"2345678901234567890"), ("0", b".5"), ("1", b"e5"), ("12", b"3"), ("7", b"")])
def test_a_bare_number_payload_ends_at_the_payload_length(number, after):
    """Digits, a point or an exponent that follow the payload in the frame are not part of it."""
    frame = velmor.encode_frame(number, "m", "snapshot", 1, JSON)
    assert velmor.decode_frame(frame + after) == decoded(number)


# ---- decoding: the header ---------------------------------------------------------------------

@pytest.mark.parametrize("text", [
    header().encode(),
    header(kind='{"Patch":null}').encode(),
    b' {"kind" : "Patch","rev":1,"target":0,"model_type":"m","codec":"application/json",\n'
    b'  "x":[1,{"y":2}],"z":"\\u00e9","w":1e999} \r\n\t',
    b'["application/json","m",0,1,"Patch"]',
    b'["application/json","m",0,1,{"Patch":null}]',
    header(target="18446744073709551615").encode(),
    # Strings inside skipped members are only scanned for their end.
    header().replace('"target"', '"skipped":"\xff\xfe","target"').encode("latin-1"),
])
def test_header_forms_that_read(text):
    assert velmor.decode_frame(frame(text)) == decoded("{}", kind="patch")


@pytest.mark.parametrize("text, message", [
    ("", "EOF while parsing a value at line 1 column 0"),
    ("   ", "EOF while parsing a value at line 1 column 3"),
    ("{}", "missing field `codec` at line 1 column 2"),
    (header().replace('"target":0,', ""), "missing field `target` at line 1 column 68"),
    (header().replace('"rev":1,', '"rev":1,"rev":2,'), "duplicate field `rev` at line 1 column 69"),
    (header(kind='"patch"'), "unknown variant `patch`, expected `Snapshot` or `Patch` at line 1 column 78"),
    (header(kind='"SNAPSHOT"'), "unknown variant `SNAPSHOT`, expected `Snapshot` or `Patch` at line 1 column 81"),
    (header(kind="1"), "expected value at line 1 column 72"),
    (header(kind="null"), "expected value at line 1 column 72"),
    (header(kind="[]"), "expected value at line 1 column 72"),
    (header(kind="{}"), "expected value at line 1 column 73"),
    (header(kind='{"Patch":null,"x":1}'), "expected value at line 1 column 84"),
    (header(kind='{"patch":null}'), "unknown variant `patch`, expected `Snapshot` or `Patch` at line 1 column 79"),
    (header(codec="5"), "invalid type: integer `5`, expected a string at line 1 column 10"),
    (header(model_type="null"), "invalid type: null, expected a string at line 1 column 45"),
    (header(target="-1"), "invalid value: integer `-1`, expected u64 at line 1 column 56"),
    (header(rev="1.5"), "invalid type: floating point `1.5`, expected u64 at line 1 column 65"),
    (header(rev='"1"'), 'invalid type: string "1", expected u64 at line 1 column 65'),
    (header(rev="18446744073709551616"), "invalid type: floating point `1.8446744073709552e+19`, "
     "expected u64 at line 1 column 82"),
    (header() + " x", "trailing characters at line 1 column 81"),
    (header() + "{}", "trailing characters at line 1 column 80"),
    ('["application/json","m",0]', "invalid length 3, expected struct Header with 5 elements at line 1 column 26"),
    ("[]", "invalid length 0, expected struct Header with 5 elements at line 1 column 2"),
    ('["application/json","m",0,1,"Patch",1]', "trailing characters at line 1 column 37"),
    ('["application/json","m",0,1,"Patch",]', "trailing comma at line 1 column 37"),
    ('"x"', 'invalid type: string "x", expected struct Header at line 1 column 3'),
    ("5", "invalid type: integer `5`, expected struct Header at line 1 column 1"),
    ("null", "invalid type: null, expected struct Header at line 1 column 4"),
    ("true", "invalid type: boolean `true`, expected struct Header at line 1 column 4"),
    ('{"codec":"application/json"', "EOF while parsing an object at line 1 column 27"),
    ('{"x":' + "[" * 127 + "]" * 127 + "}", "recursion limit exceeded at line 1 column 132"),
    ('{\n  "codec": "application/json",\n  "model_type": "m",\n  "rev": 1,\n  "kind": "Patch"\n}',
     "missing field `target` at line 6 column 1"),
])
def test_bad_headers(text, message):
    assert decode_error(frame(text)) == "bad frame header: " + message


@pytest.mark.parametrize("raw, message", [
    (header(model_type='"\xff"'), "invalid unicode code point at line 1 column 44"),
    (header(codec='"app\xc3"'), "invalid unicode code point at line 1 column 15"),
    ('{"\xe9":1}', "invalid unicode code point at line 1 column 4"),
])
def test_header_strings_must_be_utf8(raw, message):
    assert decode_error(frame(raw.encode("latin-1"))) == "bad frame header: " + message


def test_header_codec_is_checked_after_the_header_is_read():
    assert decode_error(frame(header(codec='"text/plain"'), b"\xff")) == "unknown codec: text/plain"
    assert decode_error(frame(header(codec='"application/JSON"'))) == "unknown codec: application/JSON"
    assert decode_error(frame(header(codec='"\\u00e9"'))) == "unknown codec: \u00e9"


# ---- the JSON payload codec -------------------------------------------------------------------

@pytest.mark.parametrize("payload, message", [
    (b"\xff", "invalid utf-8 sequence of 1 bytes from index 0"),
    (b'"ab\xff"', "invalid utf-8 sequence of 1 bytes from index 3"),
    (b'"\xc0\x80"', "invalid utf-8 sequence of 1 bytes from index 1"),
    (b'"\xc2"', "invalid utf-8 sequence of 1 bytes from index 1"),
    (b'"\xe2\x28\xa1"', "invalid utf-8 sequence of 1 bytes from index 1"),
    (b'"\xe2\x82\x28"', "invalid utf-8 sequence of 2 bytes from index 1"),
    (b'"\xe0\x80\x80"', "invalid utf-8 sequence of 1 bytes from index 1"),
    (b'"\xed\xa0\x80"', "invalid utf-8 sequence of 1 bytes from index 1"),
    (b'"\xf0\x8f\xbf\xbf"', "invalid utf-8 sequence of 1 bytes from index 1"),
    (b'"\xf0\x90\x80\x28"', "invalid utf-8 sequence of 3 bytes from index 1"),
    (b'"\xf4\x90\x80\x80"', "invalid utf-8 sequence of 1 bytes from index 1"),
    (b'"\xf5\x80\x80\x80"', "invalid utf-8 sequence of 1 bytes from index 1"),
    (b'["\xc3\xa9", "\xe2\x82', "incomplete utf-8 byte sequence from index 8"),
    (b'"\xf0\x90\x80', "incomplete utf-8 byte sequence from index 1"),
    # The whole payload is checked before it is read as JSON.
    (b'x \xff', "invalid utf-8 sequence of 1 bytes from index 2"),
])
def test_json_payload_must_be_utf8(payload, message):
    assert decode_error(frame(header(), payload)) == message


def _utf8_cases():
    long = b"x" * 30
    cases = [
        # faults in a key or a value, within the first sixteen bytes of a string or past them,
        # after strings that hold valid non-ASCII text
        (b'{"a\xc3\xa9":1,"b":"' + long + b'\xff"}', b"\xff", 1),
        (b'{"a\xc3\xa9":1,"' + long + b'\xff":2}', b"\xff", 1),
        (b'["\xc3\xa9' + long + b'","\xe2\x82"]', b"\xe2", 2),
        (b'"' + b"z" * 17 + b'\xc3"', b"\xc3", 1),
        (b'["\xf0\x9f\x98\x80","\xf0\x9f\x98"]', b"\xf0\x9f\x98\x22", 3),
        # strings with escapes, whose bytes the walk in one pass does not look at past the escape
        (b'["\\n\xff"]', b"\xff", 1),
        (b'{"\\u00e9":"\xff"}', b"\xff", 1),
        # a fault counts before a reading error, wherever each is
        (b'["\xff", x]', b"\xff", 1),
        (b'[x, "\xff"]', b"\xff", 1),
        (b'{"b":1,"a":"\xc3\xa9\xff"', b"\xff", 1),
    ]
    return [(p, f"invalid utf-8 sequence of {n} bytes from index {p.index(m)}") for p, m, n in cases]


@pytest.mark.parametrize("payload, message", _utf8_cases())
def test_json_payload_faults_inside_strings(payload, message):
    assert decode_error(frame(header(), payload)) == message
    # and the same with valid text: non-ASCII strings decode as they are
    fixed = payload.replace(b"\xff", b"\xc3\xa9")
    try:
        text = fixed.decode()
        json.loads(text)
    except ValueError:
        return
    assert velmor.decode_frame(frame(header(), fixed)) == decoded(canonical(json.loads(text)), kind="patch")


@pytest.mark.parametrize("payload, message", [
    ("x", "expected value at line 1 column 1"),
    ("1 2", "trailing characters at line 1 column 3"),
    ('{"a":1,}', "trailing comma at line 1 column 8"),
    ('[1,\n2\n', "EOF while parsing a list at line 3 column 0"),
    ('[1,\n2,\n', "EOF while parsing a value at line 3 column 0"),
    ("[" * 128 + "]" * 128, "recursion limit exceeded at line 1 column 128"),
    ('"\\ud800"', "unexpected end of hex escape at line 1 column 8"),
    ("1e999", "number out of range at line 1 column 5"),
])
def test_json_payload_reading_errors(payload, message):
    assert decode_error(frame(header(), payload)) == message


def test_json_payload_nesting_limit():
    deep = "[" * 127 + "]" * 127
    assert velmor.decode_frame(frame(header(), deep)) == decoded(deep, kind="patch")


def test_json_parsing_suite_through_a_json_frame(testdata):
    """Every y_ text is accepted, every n_ text refused, and no i_ text does anything else; the
    same texts encoded with MessagePack give the same outcome as decoding them as JSON."""
    files = sorted((testdata / "json-parsing").glob("*.json"))
    assert len(files) > 300
    for path in files:
        data = path.read_bytes()
        try:
            result = velmor.decode_frame(frame(header(), data))
        except ValueError as e:
            result = e
        prefix = path.name[:2]
        if prefix == "y_":
            assert isinstance(result, str), path.name
        elif prefix == "n_":
            assert isinstance(result, ValueError), path.name
        try:
            text = data.decode("utf-8")
        except UnicodeDecodeError:
            continue
        try:
            again = velmor.decode_frame(velmor.encode_frame(text, "m", "patch", 1, MSGPACK))
        except ValueError as e:
            again = e
        assert type(again) is type(result), path.name
        assert str(again) == str(result), path.name


# ---- round trips ------------------------------------------------------------------------------

def test_random_values_round_trip_through_both_codecs():
    rnd = random.Random(20240611)
    for _ in range(400):
        value = random_value(rnd)
        text = text_of(value, rnd)
        expected = decoded(canonical(value), "m\u00e9", "patch", 42)
        for codec in (JSON, MSGPACK):
            out = velmor.encode_frame(text, "m\u00e9", "patch", 42, codec)
            assert velmor.decode_frame(out) == expected, (codec, text)


def _fixed_up(rnd: random.Random, depth: int = 0) -> str:
    """JSON text full of containers that are not written in the order read: objects with members
    out of order and repeated keys whose dropped values are such containers too, and arrays
    around the 16 elements where a MessagePack head grows."""
    if depth == 3 or rnd.random() < 0.3:
        return rnd.choice(["0", "-1", '"s"', '"a\\\\"', "null", "1.5", "[]", "{}"])
    if rnd.random() < 0.4:
        n = rnd.choice([1, 2, 15, 16, 17])
        return "[" + ",".join(_fixed_up(rnd, depth + 1) for _ in range(n)) + "]"
    keys = rnd.sample("abcdefghijklmnopqrs", rnd.choice([1, 2, 4, 4, 16, 17]))
    members = []
    for k in keys:
        for _ in range(rnd.choice([1, 1, 1, 2, 3])):
            members.append(f'"{k}":{_fixed_up(rnd, depth + 1)}')
    if rnd.random() < 0.8:
        rnd.shuffle(members)
    return "{" + ",".join(members) + "}"


@pytest.mark.parametrize("text", [
    # the dropped values of a repeated key hold containers to put right; so do the kept ones
    '{"z":{"b":1,"a":[' + ",".join(["0"] * 17) + ']},"y":[{"d":1,"c":2}],"z":{"b":{"q":1,"p":2},"a":0},'
    '"x":[' + ",".join(['{"b":0,"a":0}'] * 16) + "]}",
    # more objects to reorder than the bookkeeping of one walk is let to hold
    "[" + ",".join(['{"b":0,"a":0}'] * 40000) + "]",
    "[" + ",".join(['{"b":[{"d":0,"c":0,"d":1}],"a":[' + ",".join(["1"] * 16) + "]}"] * 5000) + "]",
])
def test_payloads_whose_containers_are_rewritten_out_of_order(text):
    value = json.loads(text)  # a repeated key keeps its last value there as here
    expected = decoded(canonical(value))
    assert velmor.decode_frame(velmor.encode_frame(text, "m", "snapshot", 1, JSON)) == expected
    encoded = velmor.encode_frame(text, "m", "snapshot", 1, MSGPACK)
    assert encoded.endswith(pack(value))
    assert velmor.decode_frame(encoded) == expected


def test_short_strings_and_keys_up_to_the_end_of_the_text():
    # strings and keys of every length around the widths copied at once, ending at every distance
    # from the end of the payload: the bytes past a string are never taken for it
    for n in (0, 1, 15, 16, 17, 31, 32, 33):
        s = "".join(chr(97 + k % 26) for k in range(n))
        for value in ([s], {s: s}, {s: [s, {s: 0}]}):
            for pad in range(0, 40):
                text = json.dumps(value, separators=(",", ":")) + " " * pad
                encoded = velmor.encode_frame(text, "m", "snapshot", 1, MSGPACK)
                assert encoded.endswith(pack(value)), (n, pad, value)
                assert velmor.decode_frame(encoded) == decoded(canonical(value))


def test_random_payloads_whose_containers_are_rewritten_out_of_order():
    rnd = random.Random(20261210)
    for _ in range(300):
        text = _fixed_up(rnd)
        value = json.loads(text)
        expected = decoded(canonical(value))
        assert velmor.decode_frame(velmor.encode_frame(text, "m", "snapshot", 1, JSON)) == expected, text
        encoded = velmor.encode_frame(text, "m", "snapshot", 1, MSGPACK)
        assert encoded.endswith(pack(value)), text
        assert velmor.decode_frame(encoded) == expected, text


def _settling_cases() -> list[str]:
    """Texts whose containers are put in order as they close or left to the final copy, around
    the length where one gives way to the other: out-of-order objects and long arrays of about a
    kilobyte, nested in each other, with repeated keys, whitespace and damage."""
    rnd = random.Random(20261211)
    cases = []
    for fill in (980, 1000, 1010, 1016, 1020, 1024, 1030, 1100, 2100):
        pad = "p" * fill
        inner = '{"y":"' + pad + '","x":{"d":1,"c":[' + ",".join(["7"] * 17) + ']}}'
        cases += [
            '{"b":"' + pad + '","a":0}',
            '{"b":"' + pad + '","a":0,"b":1}',
            '{"b":1,"a":"' + pad + '","b":"' + pad + '"}',
            "[" + ",".join(['"' + pad[:fill // 20] + '"'] * 20) + "]",
            '{"z":' + inner + ',"a":[' + inner + "," + inner + '],"m":{"n":' + inner + "}}",
            '{"z":[' + ",".join([inner] * 3) + '],"z":' + inner + ',"a":1}',
            '{ "q" : ' + inner + ' ,\n "a" :\t[ ' + inner + " ] }",
        ]
    for _ in range(40):
        cases.append(_fixed_up(rnd).replace('"s"', '"' + "s" * rnd.choice([100, 500, 1000]) + '"'))
    # objects whose first member belongs further on (taken out and written again where it falls):
    # short or long, as it stands in the text or rewritten (whitespace, a float, an escape), with
    # objects to put in order inside; then followed by keys in order, out of order, or by the
    # same key again
    unsettled = '{"y":"' + "p" * 1100 + '","x":1}'
    firsts = ['"z":1', '"z":"' + "q" * 500 + '"', '"z":"' + "q" * 520 + '"', '"z":{"b":1,"a":2}',
              '"z" : 1.50', '"z":"\\n"', '"z":' + unsettled, '"z":[' + unsettled + "]"]
    rests = ['"a":1', '"a":1,"b":2', '"a":1,"z":3', '"a":1,"b":2,"zz":3', '"a":1,"y":2,"b":3',
             '"z":0,"a":1', '"a":1,"z":2,"z":3', '"a":{"n":1,"m":2},"b":' + unsettled]
    for first in firsts:
        for rest in rests:
            one = "{" + first + "," + rest + "}"
            cases += [one, '{"z":1,"a":' + one + ',"b":[' + one + "," + one + "]}"]
    damaged = []
    for text in cases[:40]:
        at = rnd.randrange(1, len(text))
        damaged += [text[:at], text[:at] + "}" + text[at:], text[:at] + '"\x01' + text[at:]]
    return cases + damaged


def test_one_walk_writes_and_refuses_what_the_two_walks_do():
    # A key with an escape sends the text to the two walks; the same key written plainly (padded
    # to the same length, so that every error position matches) lets the one walk take it, and
    # either way the frames, the decode outputs and the errors must match byte for byte.
    for text in _settling_cases():
        one = '[{"a":0}     ,' + text + "]"
        two = '[{"\\u0061":0},' + text + "]"
        for codec in (JSON, MSGPACK):
            try:
                a = velmor.encode_frame(one, "m", "snapshot", 1, codec)
            except ValueError as e:
                a = str(e)
            try:
                b = velmor.encode_frame(two, "m", "snapshot", 1, codec)
            except ValueError as e:
                b = str(e)
            if codec == MSGPACK:
                assert a == b, (codec, text)
                if isinstance(a, str):
                    continue
            else:
                assert isinstance(a, bytes) and isinstance(b, bytes)
            try:
                da = velmor.decode_frame(a)
            except ValueError as e:
                da = str(e)
            try:
                db = velmor.decode_frame(b)
            except ValueError as e:
                db = str(e)
            assert da == db, (codec, text)


def _one_and_two_walks_agree(text: str) -> None:
    """`text` behind a plain key (the one walk's) and behind the same key escaped (the two walks'),
    padded to the same length: the MessagePack frames, the decode outputs and the errors match byte
    for byte (a JSON frame carries its text as it is)."""
    one = '[{"a":0}     ,' + text + "]"
    two = '[{"\\u0061":0},' + text + "]"
    for codec in (JSON, MSGPACK):
        outputs = []
        for payload in (one, two):
            try:
                data = velmor.encode_frame(payload, "m", "snapshot", 1, codec)
            except ValueError as e:
                outputs.append(("encode", str(e)))
                continue
            written = data if codec == MSGPACK else None
            try:
                outputs.append(("decode", written, velmor.decode_frame(data)))
            except ValueError as e:
                outputs.append(("decode", written, str(e)))
        assert outputs[0] == outputs[1], (codec, text)


@pytest.mark.parametrize("text", [
    # the words, whole, cut short, misspelt in their last letters, run on, and at the end
    "null", "nul", "nu", "n", "nulL", "nulx", "nulll", "true", "tru", "t", "trUe", "truE", "truee",
    "false", "fals", "f", "falsE", "falsee", "fal se", "[null,true,false]", "[nul]", "[tru,1]",
    '{"a":fals}', '{"a":false}', '{"a":true,"b":null}', '{"a":nulltrue}',
    # whitespace before and after values, keys and colons
    " \n\ttrue\r ", "[ 1 , 2 ]", "[1,\n2]", '{"a" :1}', '{"a": 1 }', '{ "b":1 , "a" : [ null ] }',
    "[\t]", "[ , 1]", "[1 ,]", '{"a":1 ,}',
    # integers at the edges of their kinds, and the numbers left to the reader
    "-", "-0", "0", "01", "-01", "1.", "1.5", "0x1", "1e5", "2E-3", "-0.0", "1e400",
    "9223372036854775807", "-9223372036854775808", "-9223372036854775809",
    "18446744073709551615", "18446744073709551616", "123456789012345678901234",
    '{"b":-1.25e3,"a":-12}', "[-0,-1,-32,-33,-128,-129,127,128,255,256,65535,65536]",
])
def test_one_walk_reads_scalars_and_whitespace_as_the_two_walks_do(text):
    _one_and_two_walks_agree(text)
    _one_and_two_walks_agree("[" + text)
    _one_and_two_walks_agree('{"k":' + text + "}")


# ---- the Python functions ---------------------------------------------------------------------

class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class Rev(int):
    pass


class Frame(bytes):
    pass


@pytest.mark.parametrize("rev, expected", [
    (True, 1),
    (False, 0),
    (Rev(9), 9),
    (Index(5), 5),
    (Index(2**64 - 1), 2**64 - 1),
    (2**64 - 1, 2**64 - 1),
])
def test_rev_accepts_integers_and_the_index_protocol(rev, expected):
    out = velmor.encode_frame("0", "m", "snapshot", rev, JSON)
    assert velmor.decode_frame(out) == decoded("0", rev=expected)


@pytest.mark.parametrize("rev, exception", [
    (-1, OverflowError),
    (2**64, OverflowError),
    (Index(-1), OverflowError),
    (1.0, TypeError),
    ("1", TypeError),
    (None, TypeError),
    (Index(1.5), TypeError),
])
def test_rev_conversion_failures_are_the_interpreters(rev, exception):
    with pytest.raises(exception) as e:
        velmor.encode_frame("0", "m", "snapshot", rev, JSON)
    assert type(e.value) is exception
    assert e.value.__notes__ == ["while processing 'rev'"]


def test_arguments_are_converted_in_order_before_any_content_check():
    with pytest.raises(TypeError) as e:
        velmor.encode_frame("x", "m", "bogus", 1, 5)
    assert str(e.value) == "'int' object is not an instance of 'str'"
    assert e.value.__notes__ == ["while processing 'codec'"]
    with pytest.raises(OverflowError) as e:
        velmor.encode_frame("x", "m", "bogus", -1, 5)
    assert e.value.__notes__ == ["while processing 'rev'"]
    with pytest.raises(TypeError) as e:
        velmor.encode_frame(b"x", "m", "bogus", -1, 5)
    assert str(e.value) == "'bytes' object is not an instance of 'str'"
    assert e.value.__notes__ == ["while processing 'payload'"]


def test_keywords_and_argument_count():
    out = velmor.encode_frame(codec=JSON, rev=3, kind="patch", model_type="counter", payload='{"ops":[]}')
    assert out == COUNTER_FRAME
    assert velmor.decode_frame(frame=out) == velmor.decode_frame(out)
    with pytest.raises(TypeError) as e:
        velmor.encode_frame("{}", "m", "patch", 1)
    assert str(e.value) == "encode_frame() missing 1 required positional argument: 'codec'"
    with pytest.raises(TypeError) as e:
        velmor.decode_frame(COUNTER_FRAME, COUNTER_FRAME)
    assert str(e.value) == "decode_frame() takes 1 positional arguments but 2 were given"


@pytest.mark.parametrize("data, message", [
    (bytearray(COUNTER_FRAME), "'bytearray' object is not an instance of 'bytes'"),
    (memoryview(COUNTER_FRAME), "'memoryview' object is not an instance of 'bytes'"),
    (None, "'None' is not an instance of 'bytes'"),
    (COUNTER_FRAME.decode(), "'str' object is not an instance of 'bytes'"),
])
def test_frame_must_be_bytes(data, message):
    with pytest.raises(TypeError) as e:
        velmor.decode_frame(data)
    assert str(e.value) == message
    assert e.value.__notes__ == ["while processing 'frame'"]


def test_frame_may_be_a_bytes_subclass():
    assert velmor.decode_frame(Frame(COUNTER_FRAME)) == velmor.decode_frame(COUNTER_FRAME)


def test_module_surface():
    assert velmor.__all__ == ["Example", "diff", "apply", "parse_cem", "encode_frame", "decode_frame"]
    assert velmor.encode_frame.__text_signature__ == "(payload, model_type, kind, rev, codec)"
    assert velmor.encode_frame.__doc__ == (
        "Frame a JSON-encoded tree/patch into trasken' length-prefixed envelope bytes.\n\n"
        '`kind` is `"snapshot"` or `"patch"`; `codec` is `"application/json"` or `"application/msgpack"`.'
    )
    assert velmor.decode_frame.__text_signature__ == "(frame)"
    assert velmor.decode_frame.__doc__ == (
        'Decode one frame back to a `{"model_type","kind","rev","payload"}` JSON string.'
    )


# ---- oversized sections -----------------------------------------------------------------------

def _available_memory() -> int:
    try:
        with open("/proc/meminfo") as f:
            for line in f:
                if line.startswith("MemAvailable:"):
                    return int(line.split()[1]) * 1024
    except OSError:
        pass
    return 0


@pytest.mark.skipif(_available_memory() < 12 * 2**30, reason="needs a 4 GiB string")
def test_sections_longer_than_a_length_field_are_refused():
    big = " " * 2**32
    with pytest.raises(ValueError) as e:
        velmor.encode_frame(big, "m", "bogus", 1, JSON)
    assert str(e.value) == "unknown frame kind: bogus"
    with pytest.raises(ValueError) as e:
        velmor.encode_frame(big, "m", "patch", 1, JSON)
    assert str(e.value) == "payload too long for a frame: 4294967296 bytes (at most 4294967295)"
    del big
    # A model type that makes the header one byte longer than a length can say.
    rest = len(header(model_type='""', kind='"Snapshot"'))
    with pytest.raises(ValueError) as e:
        velmor.encode_frame("{}", "m" * (2**32 - rest), "snapshot", 1, JSON)
    assert str(e.value) == "header too long for a frame: 4294967296 bytes (at most 4294967295)"


# ---- arbitrary bytes --------------------------------------------------------------------------

def _mutate(rnd: random.Random, data: bytes) -> bytes:
    b = bytearray(data)
    for _ in range(rnd.randrange(1, 4)):
        op = rnd.randrange(4)
        i = rnd.randrange(len(b) + 1)
        if op == 0 and b:
            b[min(i, len(b) - 1)] = rnd.randrange(256)
        elif op == 1:
            b[i:i] = bytes(rnd.randrange(256) for _ in range(rnd.randrange(1, 5)))
        elif op == 2 and b:
            del b[i:i + rnd.randrange(1, 5)]
        else:
            b[i:i] = rnd.choice([b"\xff\xff\xff\xff", b"\xdd\xff\xff\xff\xff", b"\xdb\xff\xff\xff\xff",
                                 b"\xdf\x00\x01\x00\x00", b"\x91" * 40, b"[" * 40, b"\x00\x00\x00\x00"])
    return bytes(b)


def test_arbitrary_bytes_give_a_text_or_a_value_error():
    rnd = random.Random(7)
    seeds = [COUNTER_FRAME]
    for _ in range(30):
        text = text_of(random_value(rnd), rnd)
        seeds.append(velmor.encode_frame(text, "m", "patch", rnd.randrange(2**64), rnd.choice([JSON, MSGPACK])))
    start = time.perf_counter()
    for n in range(40000):
        if n % 3 == 0:
            data = bytes(rnd.randrange(256) for _ in range(rnd.randrange(40)))
        else:
            data = _mutate(rnd, rnd.choice(seeds))
        try:
            assert type(velmor.decode_frame(data)) is str
        except ValueError:
            pass
    assert time.perf_counter() - start < 30
