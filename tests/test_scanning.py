"""Strings and numbers at every length and alignment.

The reader looks for the end of a string eight (with SSE2 sixteen) bytes at a time, the writer copies plain runs
eight bytes at a time (and short tails with overlapping loads), and short decimal numbers are
read and written without the general conversions. These tests put the bytes that stop those
fast paths at every offset of strings around the word size, and numbers on both sides of the
limits of the short forms, against reference forms written from the rules."""

from __future__ import annotations

import json
import random
import struct

import pytest
import velmor

from canonical import write_float, write_string
from test_frames import decode_error, frame, header
from test_json import canonical, read_error

LENGTHS = list(range(0, 20)) + [23, 24, 25, 31, 32, 33]


def prop_tree(key: str, value: str) -> str:
    """A tree whose root holds one Str property, as JSON text (escaped the usual way)."""
    return '{"tag":"a","props":{%s:{"Str":%s}}}' % (
        json.dumps(key, ensure_ascii=False), json.dumps(value, ensure_ascii=False))


@pytest.mark.parametrize("special", [
    '"', "\\", "\n", "\t", "\x00", "\x01", "\x1f", "\x7f", "/", "\u00e9", "\u2028", "\U0001F600",
])
@pytest.mark.parametrize("length", LENGTHS)
def test_a_special_character_at_every_offset_round_trips(special, length):
    for pos in range(max(length, 1)):
        s = ("abcdefgh" * 5)[:pos] + special + ("ijklmnop" * 5)[:max(length - pos - 1, 0)]
        written = '{"tag":"a","props":{%s:{"Str":%s}}}' % (write_string(s), write_string(s))
        assert canonical(prop_tree(s, s)) == written, (pos, s)


@pytest.mark.parametrize("length", LENGTHS)
def test_plain_strings_of_every_length_round_trip(length):
    s = "".join(chr(0x20 + (i * 7) % 95) for i in range(length)).replace('"', "x").replace("\\", "y")
    assert canonical(prop_tree(s, s)) == '{"tag":"a","props":{%s:{"Str":%s}}}' % (
        write_string(s), write_string(s))


@pytest.mark.parametrize("byte", ["\x00", "\x01", "\x1f"])
@pytest.mark.parametrize("length", [1, 2, 7, 8, 9, 15, 16, 17, 24])
def test_a_raw_control_byte_is_reported_just_after_it(byte, length):
    for pos in range(length):
        text = '{"tag":"' + "a" * pos + byte + "b" * (length - pos - 1) + '"}'
        column = len('{"tag":"') + pos + 1
        assert read_error(text) == (
            f"control character (\\u0000-\\u001F) found while parsing a string at line 1 column {column}")


@pytest.mark.parametrize("length", LENGTHS)
def test_a_raw_newline_in_a_string_is_reported_on_the_next_line(length):
    for pos in range(length):
        text = '{"tag":"' + "a" * pos + "\n" + "b" * (length - pos - 1) + '"}'
        assert read_error(text) == (
            "control character (\\u0000-\\u001F) found while parsing a string at line 2 column 0")


@pytest.mark.parametrize("length", LENGTHS)
@pytest.mark.parametrize("tail", ["", "\\", "\\u00", "\u00e9"])
def test_an_unterminated_string_ends_at_the_end_of_the_text(length, tail):
    text = '{"tag":"' + "a" * length + tail
    column = len(text.encode())
    assert read_error(text) == f"EOF while parsing a string at line 1 column {column}"


@pytest.mark.parametrize("before", [0, 1, 6, 7, 8, 9, 15, 16, 17])
@pytest.mark.parametrize("after", [0, 1, 7, 8, 9])
@pytest.mark.parametrize("bad", ["\xff", "\xc3", "\xe2\x82", "\xed\xa0\x80", "\xc0\x80"])
def test_invalid_utf8_inside_a_long_header_string(before, after, bad):
    # The whole string is read before it is checked: the error is just past its closing quote.
    model_type = '"' + "a" * before + bad + "b" * after + '"'
    raw = header(model_type=model_type)
    column = len(header(model_type="")) - len(',"target":0,"rev":1,"kind":"Patch"}') + len(model_type)
    assert decode_error(frame(raw.encode("latin-1"))) == (
        f"bad frame header: invalid unicode code point at line 1 column {column}")


@pytest.mark.parametrize("before", [0, 1, 6, 7, 8, 9, 15, 16, 17, 31, 32, 33])
def test_invalid_utf8_inside_a_long_payload_run(before):
    payload = b'"' + b"a" * before + b"\xff" + b"b" * 9 + b'"'
    assert decode_error(frame(header(), payload)) == (
        f"invalid utf-8 sequence of 1 bytes from index {before + 1}")


# ---- numbers ----------------------------------------------------------------------------------

@pytest.mark.parametrize("literal", [
    # digits as one integer up to 2^53 and a power of ten up to 10^22 take the short way
    "9007199254740991.0", "900719925474099.1", "9007199254740992e-1", "9007199254740993e-1",
    "4503599627370497.5", "0.9007199254740993", "1e22", "1e23", "1e-22", "1e-23", "15e-23",
    "9007199254740991e22", "9007199254740991e-22", "123.456e-20", "123.456e20", "0.1e-21",
    "-0.0", "-0e5", "0e-400", "1.000000000000000000000000001", "0.0000000000000000000000001",
    "1" + "0" * 30 + ".5", "0." + "0" * 30 + "1", "1E+2", "1e+022", "2.5E-3", "-7.25e1",
    "100000000000000000.0", "99999999999999999e-17", "0.30000000000000004",
])
def test_float_literals_on_both_sides_of_the_short_forms(literal):
    tree = '{"tag":"a","props":{"x":{"Float":%s}}}' % literal
    assert canonical(tree) == '{"tag":"a","props":{"x":{"Float":%s}}}' % write_float(float(literal))


def random_literal(rng: random.Random) -> str:
    s = "-" if rng.random() < 0.3 else ""
    s += str(rng.randrange(10 ** rng.randrange(1, 19)))
    if rng.random() < 0.8:
        s += "." + "".join(rng.choice("0123456789") for _ in range(rng.randrange(1, 21)))
    if rng.random() < 0.3:
        s += rng.choice("eE") + rng.choice(["", "+", "-"]) + str(rng.randrange(0, 40))
    return s


def random_double(rng: random.Random) -> float:
    kind = rng.randrange(3)
    if kind == 0:  # a short decimal
        return rng.randrange(10 ** rng.randrange(1, 17)) / 10 ** rng.randrange(0, 23)
    if kind == 1:  # any bit pattern
        x = struct.unpack("<d", rng.getrandbits(64).to_bytes(8, "little"))[0]
        return x if x == x and abs(x) != float("inf") else 1.5
    return rng.uniform(-1e6, 1e6)


@pytest.mark.parametrize("seed", range(4))
def test_random_floats_read_and_write_like_the_reference(seed):
    rng = random.Random(seed)
    literals = [random_literal(rng) for _ in range(1500)] + [repr(random_double(rng)) for _ in range(1500)]
    props = ",".join('"p%04d":{"Float":%s}' % (i, lit) for i, lit in enumerate(literals))
    written = ",".join('"p%04d":{"Float":%s}' % (i, write_float(float(lit))) for i, lit in enumerate(literals))
    assert canonical('{"tag":"a","props":{%s}}' % props) == '{"tag":"a","props":{%s}}' % written


@pytest.mark.parametrize("literal", ["18446744073709551615", "18446744073709551616", "-9223372036854775808",
                                     "-9223372036854775809", "9007199254740993", "123456789"])
def test_integers_stay_exact_in_generic_values(literal):
    # An expression literal keeps integers that fit in 64 bits as integers.
    tree = ('{"tag":"a","events":{"e":{"kind":"set-field","field":"f","value":{"expr":"lit","value":%s}}}}'
            % literal)
    value = int(literal)
    fits = -(2 ** 63) <= value < 2 ** 64
    shown = literal if fits else write_float(float(literal))
    assert canonical(tree) == (
        '{"tag":"a","events":{"e":{"kind":"set-field","field":"f","value":{"expr":"lit","value":%s}}}}' % shown)
