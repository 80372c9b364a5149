"""Where reading stops, through every entry point that reads: trees, patches, frame headers,
manifests and frame payloads. Each table holds whole error texts; every position was worked
out from the reading rules (here / next), not taken from the module."""

from __future__ import annotations

import struct

import pytest

import velmor
from canonical import decoded

MSGPACK = "application/msgpack"
CTRL = "control character (\\u0000-\\u001F) found while parsing a string"
# A complete header object without its closing brace, for members to be added after it.
HEADER = '{"codec":"application/json","model_type":"m","target":0,"rev":1,"kind":"Patch"'


def frame(header: str, payload: bytes = b"{}") -> bytes:
    h = header.encode()
    return struct.pack(">I", len(h)) + h + struct.pack(">I", len(payload)) + payload


def read(place: str, text: str) -> str:
    """What the module returns for `text` read as `place`."""
    if place == "tree":
        return velmor.apply(text, '{"ops":[]}')
    if place == "patch":
        return velmor.apply('{"tag":"r"}', text)
    if place == "header":
        return velmor.decode_frame(frame(text))
    if place == "manifest":
        return velmor.parse_cem(text)
    if place == "json frame":
        return velmor.decode_frame(frame(HEADER + "}", text.encode()))
    assert place == "msgpack frame"
    return velmor.decode_frame(velmor.encode_frame(text, "m", "patch", 1, MSGPACK))


def error(place: str, text: str) -> str:
    with pytest.raises(ValueError) as exc:
        read(place, text)
    return str(exc.value)


# ---- skipped members ----------------------------------------------------------------------------
# Unknown members of records are skipped, and at every depth of the skipped value skipping
# differs from reading: a control character is reported in front of it, and after a comma `]` is
# "expected value" and `}` is "key must be a string".

@pytest.mark.parametrize("place, text, message", [
    ("tree", '{"tag":"a","x":"a\x01b"}', f"{CTRL} at line 1 column 17"),
    ("tree", '{"tag":"a","x":"a\nb"}', f"{CTRL} at line 1 column 17"),
    ("tree", '{"tag":"a","x":[1,]}', "expected value at line 1 column 19"),
    ("tree", '{"tag":"a","x":{"a":1,}}', "key must be a string at line 1 column 23"),
    ("tree", '{"tag":"a","x":[{"y":["ok","\x1f"]}]}', f"{CTRL} at line 1 column 28"),
    ("tree", '{"tag":"a","x":{"k\x01":1}}', f"{CTRL} at line 1 column 18"),
    ("tree", '{"tag":"a","x":[[1,],2]}', "expected value at line 1 column 20"),
    ("tree", '{"tag":"a","x":{"a":[{"b":2,\n}]}}', "key must be a string at line 2 column 1"),
    ("tree", '{"tag":"a","slots":{"s":[{"tag":"b","x":[1, \n ]}]}}', "expected value at line 2 column 2"),
    ("tree", '{"tag":"a","bindings":{"b":{"mode":"one-way","x":["\t"]}}}', f"{CTRL} at line 1 column 51"),
    ("patch", '{"ops":[],"x":[1,]}', "expected value at line 1 column 18"),
    ("patch", '{"ops":[{"RemoveProp":{"path":[],"name":"a","x":"\x01"}}]}', f"{CTRL} at line 1 column 49"),
    ("patch", '{"ops":[{"RemoveProp":{"path":[{"slot":"s","index":0,"x":{"a":1,}}],"name":"a"}}]}',
     "key must be a string at line 1 column 65"),
    ("patch", '{"ops":[{"InsertChild":{"path":[],"slot":"s","index":0,"node":{"tag":"b","x":[true,]}}}]}',
     "expected value at line 1 column 84"),
    ("patch", '{"ops":[{"SetBinding":{"path":[],"name":"b","binding":{"mode":"one-way","x":{"\n":0}}}}]}',
     f"{CTRL} at line 1 column 78"),
    ("header", HEADER + ',"x":[1,]}', "bad frame header: expected value at line 1 column 87"),
    ("header", HEADER + ',"x":{"y":{"a":1,}}}', "bad frame header: key must be a string at line 1 column 96"),
    ("header", '{"x":["\n"],' + HEADER[1:] + "}", f"bad frame header: {CTRL} at line 1 column 7"),
    ("manifest", '{"modules":[],"x":[1,]}', "expected value at line 1 column 22"),
    ("manifest", '{"modules":[{"path":"a","x":{"a":1,}}]}', "key must be a string at line 1 column 36"),
    ("manifest", '{"modules":[{"declarations":[{"kind":"class","members":[{"name":"\n"}]}]}]}',
     f"{CTRL} at line 1 column 65"),
    ("manifest", '{"modules":[{"declarations":[{"customElement":true,"tagName":"x-a","attributes":'
     '[{"name":"a","fieldName":[1,]}]}]}]}', "expected value at line 1 column 109"),
    ("manifest", '{"modules":[{"declarations":[{"customElement":true,"tagName":"x-a","attributes":'
     '[{"name":"a","type":{"text":"x","references":[{"a":1,}]}}]}]}]}', "key must be a string at line 1 column 134"),
    ("manifest", '{"modules":[{"declarations":[{"slots":[{"name":"","description":"\x01"}]}]}]}',
     f"{CTRL} at line 1 column 65"),
])
def test_skipped_values(place, text, message):
    assert error(place, text) == message


# What is read rather than skipped keeps the reading rules: a record's own member names, field
# values, `compute`, and everything inside an action (its unknown members included).
@pytest.mark.parametrize("place, text, message", [
    ("tree", '{"tag":"a","k\x01":1}', f"{CTRL} at line 1 column 14"),
    ("tree", '{"tag":"a","props":{"p":{"Str":"a\x01"}}}', f"{CTRL} at line 1 column 34"),
    ("tree", '{"tag":"a","props":{"p":{"List":[{"Int":1},]}}}', "trailing comma at line 1 column 44"),
    ("tree", '{"tag":"a","bindings":{"b":{"mode":"one-way","compute":[1,]}}}', "trailing comma at line 1 column 59"),
    ("tree", '{"tag":"a","bindings":{"b":{"mode":"one-way","compute":{"a":"\n"}}}}', f"{CTRL} at line 2 column 0"),
    ("tree", '{"tag":"a","events":{"e":{"kind":"js","handler":"h","x":{"a":1,}}}}', "trailing comma at line 1 column 64"),
    ("tree", '{"tag":"a","events":{"e":{"kind":"js","handler":"h","x":"\x01"}}}', f"{CTRL} at line 1 column 58"),
    ("tree", '{"tag":"a","events":{"e":{"kind":"js","handler":"h","x":"\\uDC00"}}}',
     "lone leading surrogate in hex escape at line 1 column 63"),
    ("tree", '{"tag":"a","events":{"e":{"kind":"emit","event":"e","detail":{"expr":"lit","value":[1,]}}}}',
     "trailing comma at line 1 column 87"),
    ("header", HEADER[:-7] + '"Pat\x01ch"}', f"bad frame header: {CTRL} at line 1 column 76"),
])
def test_values_that_are_read_not_skipped(place, text, message):
    assert error(place, text) == message


# Surrogate escapes are not paired inside skipped values (their four hex digits still are checked).
@pytest.mark.parametrize("place, text, result", [
    ("tree", '{"tag":"a","x":"\\uDC00"}', '{"tag":"a"}'),
    ("tree", '{"tag":"a","x":{"\\uD800":["\\uD800\\u0041","\\uDBFF\\uDBFF"]}}', '{"tag":"a"}'),
    ("patch", '{"ops":[],"x":"\\uDFFF"}', '{"tag":"r"}'),
    ("header", HEADER + ',"x":["\\uDC00"]}', decoded("{}", kind="patch")),
    ("manifest", '{"modules":[],"x":"\\uD83D"}', "[]"),
])
def test_skipped_surrogates_are_not_checked(place, text, result):
    assert read(place, text) == result


def test_skipped_escapes_still_need_four_hex_digits():
    assert error("tree", '{"tag":"a","x":"\\uDC0g"}') == "invalid escape at line 1 column 22"


# ---- top-level handlers ---------------------------------------------------------------------------
# An action directly in a node's `events` or in SetEvent has its tag analysed while it is read: a
# scalar is reported just after it, a bracket in the tag in front of it (its contents unread), a
# missing or too large tag just past the action's own closing bracket. Anything found later, and
# every problem of a nested action, is placed by the enclosing container after it has closed.

ACTION = "expected internally tagged enum Action"
IDENT = "expected variant identifier"
TAGS = "expected one of `set`, `toggle`, `set-field`, `toggle-field`, `seq`, `emit`, `patch`, `if`, `call`, `js`"


@pytest.mark.parametrize("place, text, message", [
    ("tree", '{"tag":"a","events":{"e":5}}', f"invalid type: integer `5`, {ACTION} at line 1 column 26"),
    ("tree", '{"tag":"a","events":{"e":"js" }}', f'invalid type: string "js", {ACTION} at line 1 column 29'),
    ("tree", '{"tag":"a","events":{"e":-1.5e3}}', f"invalid type: floating point `-1500.0`, {ACTION} at line 1 column 31"),
    ("tree", '{"tag":"a","events":{"e":\ntrue}}', f"invalid type: boolean `true`, {ACTION} at line 2 column 4"),
    ("tree", '{"tag":"a","events":{"e":{"kind":[x}}}', f"invalid type: sequence, {IDENT} at line 1 column 33"),
    ("tree", '{"tag":"a","events":{"e":{"handler":"h","kind": {"a":1,}}}}', f"invalid type: map, {IDENT} at line 1 column 48"),
    ("tree", '{"tag":"a","events":{"e":[[x]]}}', f"invalid type: sequence, {IDENT} at line 1 column 26"),
    ("tree", '{"tag":"a","events":{"e":[ {]}}}', f"invalid type: map, {IDENT} at line 1 column 27"),
    ("tree", '{"tag":"a","events":{"e":{"a":1} }}', "missing field `kind` at line 1 column 32"),
    ("tree", '{"tag":"a","events":{"e":[]}}', "missing field `kind` at line 1 column 27"),
    ("tree", '{"tag":"a",\n"events":{\n"e":{"a":1}\n}}', "missing field `kind` at line 3 column 11"),
    ("tree", '{"tag":"a","events":{"e":{"kind":10} }}',
     "invalid value: integer `10`, expected variant index 0 <= i < 10 at line 1 column 36"),
    ("tree", '{"tag":"a","events":{"e":[ 12 , "h" ] }}',
     "invalid value: integer `12`, expected variant index 0 <= i < 10 at line 1 column 37"),
    ("tree", '{"tag":"a","events":{"e":{"kind":10,"handler":"h"},"f":{"kind":"js","handler":"h"}}}',
     "invalid value: integer `10`, expected variant index 0 <= i < 10 at line 1 column 50"),
    # the syntax of the rest of the action comes before a tag that is too large
    ("tree", '{"tag":"a","events":{"e":{"kind":10,"x":[1,]}}}', "trailing comma at line 1 column 44"),
    ("tree", '{"tag":"a","events":{"click":{"kind":"SET"}}}', f"unknown variant `SET`, {TAGS} at line 1 column 42"),
    ("tree", '{"tag":"a","events":{"click":{"kind":"emit"}}}', "missing field `event` at line 1 column 45"),
    # nested actions keep the enclosing container's position, and their contents are read
    ("tree", '{"tag":"a","events":{"click":{"kind":"seq","actions":[{"a":1}]}}}', "missing field `kind` at line 1 column 64"),
    ("tree", '{"tag":"a","events":{"e":{"kind":"seq","actions":[[]]}}}', "missing field `kind` at line 1 column 55"),
    ("tree", '{"tag":"a","events":{"e":{"kind":"seq","actions":[5]}}}', f"invalid type: integer `5`, {ACTION} at line 1 column 54"),
    ("tree", '{"tag":"a","events":{"e":{"kind":"if","cond":{"expr":"event"},"then":{"kind":[1]}}}}',
     f"invalid type: sequence, {IDENT} at line 1 column 83"),
    ("tree", '{"tag":"a","events":{"e":{"kind":"seq","actions":[{"kind":[x]}]}}}', "expected value at line 1 column 60"),
    ("patch", '{"ops":[{"SetEvent":{"path":[],"name":"e","action":5}}]}', f"invalid type: integer `5`, {ACTION} at line 1 column 52"),
    ("patch", '{"ops":[{"SetEvent":{"path":[],"name":"e","action":{"kind":{}}}}]}', f"invalid type: map, {IDENT} at line 1 column 59"),
    ("patch", '{"ops":[{"SetEvent":{"action":{"a":1},"path":[],"name":"e"}}]}', "missing field `kind` at line 1 column 37"),
    ("patch", '{"ops":[{"SetEvent":{"path":[],"name":"e","action":{"kind":"emit"}}}]}', "missing field `event` at line 1 column 67"),
    ("patch", '{"ops":[{"SetEvent":[[],"e",[[]]]}]}', f"invalid type: sequence, {IDENT} at line 1 column 29"),
    ("patch", '{"ops":[{"SetEvent":[[],"e",{"kind":99}]}]}',
     "invalid value: integer `99`, expected variant index 0 <= i < 10 at line 1 column 39"),
    ("patch", '{"ops":[{"SetEvent":[[],"e",null]}]}', f"invalid type: null, {ACTION} at line 1 column 32"),
    ("patch", '{"ops":[{"SetEvent":[[],"e",{"kind":"emit"}]}]}', "missing field `event` at line 1 column 44"),
])
def test_top_level_handlers(place, text, message):
    assert error(place, text) == message


# ---- long exponents -------------------------------------------------------------------------------
# The exponent's digits are consumed one at a time, up to and including the one that takes its
# value past 2147483647. With a non-zero digit before the `e` and no `-` after it the number is
# out of range right there (the rest is never read); otherwise it reads as zero with its sign.

RANGE = "number out of range"


@pytest.mark.parametrize("place, text, message", [
    ("tree", '{"tag":"a","props":{"p":{"Float":1e99999999999}}}', f"{RANGE} at line 1 column 45"),
    ("tree", '{"tag":"a","props":{"p":{"Float":-1e99999999999}}}', f"{RANGE} at line 1 column 46"),
    ("tree", '{"tag":"a","props":{"p":{"Float":1.5e99999999999}}}', f"{RANGE} at line 1 column 47"),
    ("tree", '{"tag":"a","props":{"p":{"Float":1e+99999999999}}}', f"{RANGE} at line 1 column 46"),
    ("tree", '{"tag":"a","props":{"p":{"Float":12345678901234567890123e99999999999}}}', f"{RANGE} at line 1 column 67"),
    ("tree", '{"tag":"a","props":{"p":{"Float":0.0001E99999999999}}}', f"{RANGE} at line 1 column 50"),
    # leading zeros add no value; the tenth digit of 2147483648 passes the limit, the rest is unread
    ("tree", '{"tag":"a","props":{"p":{"Float":1e000000000000000099999999999}}}', f"{RANGE} at line 1 column 61"),
    ("tree", '{"tag":"a","props":{"p":{"Float":1e21474836480000}}}', f"{RANGE} at line 1 column 45"),
    ("tree", '{"tag":"a","props":{"p":{"Float":1e2147483647}}}', f"{RANGE} at line 1 column 45"),
    ("tree", '{"tag":"a","props":{"p":{"Int":-1e99999999999}}}', f"{RANGE} at line 1 column 44"),
    ("tree", '{"tag":"a","props":{"p":{"Submodel":1.5e+99999999999}}}', f"{RANGE} at line 1 column 51"),
    ("tree", '{"tag":"a","bindings":{"b":{"mode":"one-way","compute":[1, 12345678901234567890123e99999999999]}}}',
     f"{RANGE} at line 1 column 93"),
    ("tree", '{"tag":"a","events":{"e":{"kind":"set-field","field":"f","value":{"expr":"lit","value":0.0001E99999999999}}}}',
     f"{RANGE} at line 1 column 104"),
    ("tree", '{"tag":"a","events":{"e":{"kind":"js","handler":"h","x":1e000000000000000099999999999}}}',
     f"{RANGE} at line 1 column 84"),
    ("tree", '{"tag":"a","events":{"e":{"kind":"seq","actions":[{"kind":"js","handler":"h","x":{"y":2e+99999999999}}]}}}',
     f"{RANGE} at line 1 column 99"),
    ("tree", '{"tag":"a","events":{"e":{"kind":1e21474836480000}}}', f"{RANGE} at line 1 column 45"),
    ("patch", '{"ops":[{"RemoveChild":{"path":[],"slot":"s","index":1e99999999999}}]}', f"{RANGE} at line 1 column 65"),
    ("patch", '{"ops":[{"RemoveProp":{"path":[{"slot":"s","index":1e+99999999999}],"name":"a"}}]}',
     f"{RANGE} at line 1 column 64"),
    ("patch", '{"ops":[{"SetProp":[[],"p",{"Float":\n-0.5e99999999999}]}]}', f"{RANGE} at line 2 column 15"),
    ("header", HEADER.replace('"rev":1', '"rev":1e99999999999') + "}", f"bad frame header: {RANGE} at line 1 column 74"),
    ("header", HEADER.replace('"target":0', '"target":-5e+99999999999') + "}",
     f"bad frame header: {RANGE} at line 1 column 68"),
    ("header", HEADER.replace('"rev":1', '"rev":0e99999999999') + "}",
     "bad frame header: invalid type: floating point `0.0`, expected u64 at line 1 column 75"),
    ("json frame", "[1e99999999999]", f"{RANGE} at line 1 column 13"),
    ("json frame", '{"a":{"b":-1.5e99999999999}}', f"{RANGE} at line 1 column 25"),
    ("msgpack frame", "[0, 1e+99999999999]", f"{RANGE} at line 1 column 17"),
    ("msgpack frame", "99999999999999999999.5e99999999999", f"{RANGE} at line 1 column 33"),
])
def test_long_exponents(place, text, message):
    assert error(place, text) == message


ZEROS = "[0e99999999999,1e-99999999999,-1e-99999999999,-0.000e+99999999999999999999,1e-2147483648,0.0e99999999999]"


@pytest.mark.parametrize("place, text, result", [
    ("tree", '{"tag":"a","props":{"p":{"Float":-1e-99999999999},"q":{"Float":0.0e99999999999}}}',
     '{"tag":"a","props":{"p":{"Float":-0.0},"q":{"Float":0.0}}}'),
    ("tree", '{"tag":"a","events":{"e":{"kind":"emit","event":"x","detail":{"expr":"lit","value":-0e+99999999999}}}}',
     '{"tag":"a","events":{"e":{"kind":"emit","event":"x","detail":{"expr":"lit","value":-0.0}}}}'),
    ("json frame", ZEROS, decoded("[0.0,0.0,-0.0,-0.0,0.0,0.0]", kind="patch")),
    ("msgpack frame", ZEROS, decoded("[0.0,0.0,-0.0,-0.0,0.0,0.0]", kind="patch")),
    # skipped numbers are not converted, however long their exponent
    ("tree", '{"tag":"a","x":[1e99999999999,-1.5e+99999999999]}', '{"tag":"a"}'),
    ("header", HEADER + ',"x":1e99999999999}', decoded("{}", kind="patch")),
    ("manifest", '{"modules":[],"x":1e99999999999}', "[]"),
])
def test_long_exponents_that_read(place, text, result):
    assert read(place, text) == result


def test_exponents_weighed_against_a_long_run_of_zeros():
    # 150000 zeros after the point: only the whole exponent tells overflow from underflow
    text = '{"tag":"a","props":{"p":{"Float":0.%s1%%s}}}' % ("0" * 150000)
    assert error("tree", text % "e200000") == f"{RANGE} at line 1 column 150043"
    assert read("tree", text % "e150000") == '{"tag":"a","props":{"p":{"Float":0.1}}}'
    assert read("tree", text % "e100000") == '{"tag":"a","props":{"p":{"Float":0.0}}}'
