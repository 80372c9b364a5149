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
