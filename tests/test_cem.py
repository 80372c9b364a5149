"""parse_cem: reading custom-elements manifests and the component schemas derived from them."""

import json
import random
import re
import unicodedata
from pathlib import Path

import pytest
import velmor

ROOT = Path(__file__).resolve().parent.parent
DATA = Path(__file__).resolve().parent / "data"
COMPACT = dict(ensure_ascii=False, separators=(",", ":"))

# Declarations and attributes spliced into a one-module manifest.
IN_MODULE = '{"modules":[{"declarations":[%s]}]}'
IN_ELEMENT = IN_MODULE % '{"customElement":true,"tagName":"x-a","attributes":[%s]}'


def manifest(*declarations) -> str:
    return json.dumps({"modules": [{"declarations": list(declarations)}]}, **COMPACT)


def element(tag="x-a", **fields) -> dict:
    return {"customElement": True, "tagName": tag, **fields}


def parse_error(text: str) -> str:
    with pytest.raises(ValueError) as exc:
        velmor.parse_cem(text)
    return str(exc.value)


# ---- the function object ----------------------------------------------------------------------

def test_function_object_and_arguments():
    f = velmor.parse_cem
    assert f.__text_signature__ == "(manifest)"
    assert f.__doc__ == ("Parse a `custom-elements.json` manifest into the JSON-encoded list of "
                         "component schemas.")
    assert velmor.parse_cem(manifest="{}") == "[]"
    with pytest.raises(TypeError) as exc:
        velmor.parse_cem(None)
    assert (str(exc.value), exc.value.__notes__) == (
        "'None' is not an instance of 'str'", ["while processing 'manifest'"])
    with pytest.raises(TypeError) as exc:
        velmor.parse_cem(b"{}")
    assert (str(exc.value), exc.value.__notes__) == (
        "'bytes' object is not an instance of 'str'", ["while processing 'manifest'"])
    with pytest.raises(TypeError, match=r"^parse_cem\(\) missing 1 required positional argument: 'manifest'$"):
        velmor.parse_cem()


# ---- reading ----------------------------------------------------------------------------------

X_A = '{"tag_name":"x-a","class_name":"XA","props":[],"events":[],"slots":[]}'


@pytest.mark.parametrize("text, expected", [
    ("{}", "[]"),
    ("[]", "[]"),
    (" \t\r\n{}\n ", "[]"),
    ('{"schemaVersion":"1.0.0","readme":"","modules":[]}', "[]"),
    ('{"modules":[{},[],{"declarations":[]},[[]]]}', "[]"),
    # every form of the records: objects and arrays of their fields in declared order
    (IN_MODULE % '{"customElement":true,"tagName":"x-a"}', f"[{X_A}]"),
    (IN_MODULE % '[true,"x-a"]', f"[{X_A}]"),
    ('[[[[[true,"x-a"]]]]]', f"[{X_A}]"),
    (IN_MODULE % '[true,"x-a",null,"d",[["p",["string"],"1","doc"]],[[""]],[["e"]]]',
     '[{"tag_name":"x-a","class_name":"XA","summary":"d",'
     '"props":[{"name":"p","ty":"Str","default":"1","doc":"doc"}],"events":["e"],"slots":[""]}]'),
    (IN_ELEMENT % '["p"],["q",null,null,null],["r",[]],["s",{}],{"name":"t","type":null}',
     '[{"tag_name":"x-a","class_name":"XA","props":[{"name":"p","ty":"Any"},{"name":"q","ty":"Any"},'
     '{"name":"r","ty":"Any"},{"name":"s","ty":"Any"},{"name":"t","ty":"Any"}],"events":[],"slots":[]}]'),
    # optional texts accept null; unknown members of every record are skipped, whatever they hold
    (IN_MODULE % '{"customElement":true,"tagName":"x-a","summary":null,"description":null}', f"[{X_A}]"),
    ('{"modules":[{"declarations":[{"customElement":true,"tagName":"x-a","members":[{"kind":"field",'
     '"x":[1e999,{"a":[null,true,"\\u00e9\\ud83d\\ude00"]}]}],"superclass":{"name":"B"}}],'
     '"exports":[{"kind":"js"}],"path":"a.js"}],"package":{"deep":[[[[]]]]}}', f"[{X_A}]"),
    (IN_ELEMENT % '{"name":"p","fieldName":"p","inheritedFrom":{"name":"B"},"type":{"text":"number","references":[]}}',
     '[{"tag_name":"x-a","class_name":"XA","props":[{"name":"p","ty":"Number"}],"events":[],"slots":[]}]'),
    (IN_MODULE % '{"customElement":true,"tagName":"x-a","slots":[{"name":"","description":"default slot"}]}',
     '[{"tag_name":"x-a","class_name":"XA","props":[],"events":[],"slots":[""]}]'),
    # member names match in their exact case only
    (IN_MODULE % '{"customElement":true,"tagname":"x-a","TagName":"x-b"}', "[]"),
    (IN_MODULE % '{"CustomElement":true,"tagName":"x-a"}', "[]"),
    (IN_ELEMENT % '{"name":"p","Type":{"text":"string"},"type":{"Text":"string"}}',
     '[{"tag_name":"x-a","class_name":"XA","props":[{"name":"p","ty":"Any"}],"events":[],"slots":[]}]'),
    # texts are unescaped as read and escaped again on output
    (IN_MODULE % '{"customElement":true,"tagName":"x-\\u00e9\\t","summary":"a\\"b\\\\c\\u0001\\/"}',
     '[{"tag_name":"x-é\\t","class_name":"XÉ\\t","summary":"a\\"b\\\\c\\u0001/",'
     '"props":[],"events":[],"slots":[]}]'),
])
def test_reading(text, expected):
    assert velmor.parse_cem(text) == expected


@pytest.mark.parametrize("text, message", [
    ("", "EOF while parsing a value at line 1 column 0"),
    ("   ", "EOF while parsing a value at line 1 column 3"),
    ("{", "EOF while parsing an object at line 1 column 1"),
    ("[", "EOF while parsing a list at line 1 column 1"),
    ("5", "invalid type: integer `5`, expected struct Manifest at line 1 column 1"),
    ("null", "invalid type: null, expected struct Manifest at line 1 column 4"),
    ('"x"', 'invalid type: string "x", expected struct Manifest at line 1 column 3'),
    # only whitespace may follow the manifest, not even a second value
    ("{} {}", "trailing characters at line 1 column 4"),
    ("{}x", "trailing characters at line 1 column 3"),
    ("[] ]", "trailing characters at line 1 column 4"),
    ('{"modules":[]}\n\n  ,', "trailing characters at line 3 column 3"),
    # lists must be arrays, null included
    ('{"modules":null}', "invalid type: null, expected a sequence at line 1 column 15"),
    ('{"modules":{}}', "invalid type: map, expected a sequence at line 1 column 11"),
    ('{"modules":[{"declarations":null}]}', "invalid type: null, expected a sequence at line 1 column 32"),
    (IN_MODULE % '{"slots":null}', "invalid type: null, expected a sequence at line 1 column 42"),
    (IN_MODULE % '{"attributes":"x"}', 'invalid type: string "x", expected a sequence at line 1 column 46'),
    ('{"modules":[5]}', "invalid type: integer `5`, expected struct Module at line 1 column 13"),
    ('{"modules":[],"modules":[]}', "duplicate field `modules` at line 1 column 23"),
    # declarations
    (IN_MODULE % '{"customElement":null}', "invalid type: null, expected a boolean at line 1 column 50"),
    (IN_MODULE % '{"customElement":"true"}', 'invalid type: string "true", expected a boolean at line 1 column 52'),
    (IN_MODULE % '{"customElement":1}', "invalid type: integer `1`, expected a boolean at line 1 column 47"),
    (IN_MODULE % '{"tagName":"x","tagName":"y"}', "duplicate field `tagName` at line 1 column 53"),
    (IN_MODULE % '{"tagName":5}', "invalid type: integer `5`, expected a string at line 1 column 41"),
    (IN_MODULE % '{"summary":false}', "invalid type: boolean `false`, expected a string at line 1 column 45"),
    (IN_MODULE % "7", "invalid type: integer `7`, expected struct Declaration at line 1 column 30"),
    (IN_MODULE % "[]", "invalid length 1, expected struct Declaration with 7 elements at line 1 column 31"),
    (IN_MODULE % "[true]", "invalid length 1, expected struct Declaration with 7 elements at line 1 column 35"),
    (IN_MODULE % '[true,"x",null,null,[],[],[],null]', "trailing characters at line 1 column 59"),
    (IN_MODULE % '[true,"x",]', "trailing comma at line 1 column 40"),
    # slots and events
    (IN_MODULE % '{"slots":[{"description":"x"}]}', "missing field `name` at line 1 column 58"),
    (IN_MODULE % '{"events":[[]]}', "invalid length 0, expected struct Named with 1 element at line 1 column 42"),
    (IN_MODULE % '{"events":[["a","b"]]}', "trailing characters at line 1 column 46"),
    (IN_MODULE % '{"events":["change"]}', 'invalid type: string "change", expected struct Named at line 1 column 48'),
    # attributes and their type
    (IN_ELEMENT % '{"type":{"text":"string"}}', "missing field `name` at line 1 column 107"),
    (IN_ELEMENT % "[]", "invalid length 0, expected struct Attribute with 4 elements at line 1 column 83"),
    (IN_ELEMENT % '{"name":null}', "invalid type: null, expected a string at line 1 column 93"),
    (IN_ELEMENT % '{"name":"a","type":"string"}',
     'invalid type: string "string", expected struct TypeText at line 1 column 108'),
    (IN_ELEMENT % '{"name":"a","type":{"text":5}}', "invalid type: integer `5`, expected a string at line 1 column 109"),
    (IN_ELEMENT % '{"name":"a","type":{"text":"x","text":"y"}}', "duplicate field `text` at line 1 column 118"),
    (IN_ELEMENT % '{"name":"a","default":1}', "invalid type: integer `1`, expected a string at line 1 column 104"),
    (IN_ELEMENT % '{"name":"a","description":[]}', "invalid type: sequence, expected a string at line 1 column 107"),
    # skipped members are still read as JSON
    ('{"modules":[],"x":[1,}', "expected value at line 1 column 22"),
    ('{"modules":[],"x":tru}', "expected ident at line 1 column 22"),
    ('{"modules":[],"x":"\\q"}', "invalid escape at line 1 column 21"),
    ('{"modules":[],"x":' + "[" * 127, "recursion limit exceeded at line 1 column 145"),
    ('{"modules":[],"x":' + "[" * 100_000, "recursion limit exceeded at line 1 column 145"),
    ('{\n  "modules": [\n    {"declarations": [{"customElement": "yes"}]}\n  ]\n}',
     'invalid type: string "yes", expected a boolean at line 3 column 45'),
])
def test_reading_errors(text, message):
    assert parse_error(text) == message


def test_nesting_up_to_the_limit_reads():
    assert velmor.parse_cem('{"modules":[],"x":' + "[" * 126 + "]" * 126 + "}") == "[]"


# ---- selection, order and documentation --------------------------------------------------------

@pytest.mark.parametrize("declaration, expected", [
    (element("my-button"), '[{"tag_name":"my-button","class_name":"MyButton","props":[],"events":[],"slots":[]}]'),
    (element(""), '[{"tag_name":"","class_name":"","props":[],"events":[],"slots":[]}]'),
    ({"customElement": False, "tagName": "x-a"}, "[]"),
    ({"tagName": "x-a"}, "[]"),
    ({"customElement": True}, "[]"),
    ({"customElement": True, "tagName": None}, "[]"),
    (element(summary="A", description="B"), '[{"tag_name":"x-a","class_name":"XA","summary":"A","props":[],"events":[],"slots":[]}]'),
    (element(description="B"), '[{"tag_name":"x-a","class_name":"XA","summary":"B","props":[],"events":[],"slots":[]}]'),
    (element(summary="", description="B"), '[{"tag_name":"x-a","class_name":"XA","summary":"","props":[],"events":[],"slots":[]}]'),
    (element(summary=None, description=" B\n "), '[{"tag_name":"x-a","class_name":"XA","summary":" B\\n ","props":[],"events":[],"slots":[]}]'),
    (element(events=[{"name": "b"}, {"name": "a"}, {"name": "b"}], slots=[{"name": ""}, {"name": "icon"}, {"name": ""}]),
     '[{"tag_name":"x-a","class_name":"XA","props":[],"events":["b","a","b"],"slots":["","icon",""]}]'),
    (element(attributes=[{"name": "size"}, {"name": "size", "description": " Size. "}]),
     '[{"tag_name":"x-a","class_name":"XA","props":[{"name":"size","ty":"Any"},'
     '{"name":"size","ty":"Any","doc":" Size. "}],"events":[],"slots":[]}]'),
])
def test_one_declaration(declaration, expected):
    assert velmor.parse_cem(manifest(declaration)) == expected


def test_schemas_keep_manifest_order_and_duplicates():
    text = json.dumps({"modules": [
        {"declarations": [element("x-b"), {"kind": "class", "name": "Plain"}, element("x-a")]},
        {"path": "empty.js"},
        {"declarations": [element("x-a"), {"customElement": False, "tagName": "x-c"}]},
    ]})
    assert velmor.parse_cem(text) == "[" + ",".join(
        f'{{"tag_name":"{t}","class_name":"{c}","props":[],"events":[],"slots":[]}}'
        for t, c in [("x-b", "XB"), ("x-a", "XA"), ("x-a", "XA")]) + "]"


# ---- class names ------------------------------------------------------------------------------

@pytest.mark.parametrize("tag, class_name", [
    ("my-button", "MyButton"),
    ("x-foo_bar", "XFooBar"),
    ("-a--b-", "AB"),
    ("ab-cD", "AbCD"),
    ("ab-CD", "AbCD"),
    ("1-x", "1X"),
    ("my_el", "MyEl"),
    ("--_", ""),
    ("", ""),
    ("ß-x", "SSX"),
    ("a-ßb", "ASSb"),          # only a segment's first character changes
    ("é-x", "ÉX"),
    ("ǆ-ǅ", "ǄǄ"),            # title-case digraphs go to the upper-case one
    ("\u0149-\ufb03", "\u02bcNFFI"),
    ("\u0390", "\u0399\u0308\u0301"),  # one character, three code points
    ("𐐨-𐐩x", "𐐀𐐁x"),       # four-byte characters
    ("x-1a", "X1a"),
    ("a b-c\td", "A bC\td"),   # only "-" and "_" separate
    ("ı-ſ", "IS"),            # non-ASCII characters whose upper case is ASCII
])
def test_class_names(tag, class_name):
    out = velmor.parse_cem(manifest(element(tag)))
    assert out == json.dumps([{"tag_name": tag, "class_name": class_name, "props": [], "events": [], "slots": []}],
                             **COMPACT)


def table_unicode_version() -> str:
    first_line = (ROOT / "src" / "cem" / "upper_table.inc").read_text(encoding="ascii").splitlines()[0]
    return re.search(r"\(Unicode ([0-9.]+)\)", first_line).group(1)


def quoted(s: str) -> str:
    """The JSON string of `s` as the module writes it (only what needs an escape is escaped)."""
    return json.dumps(s, ensure_ascii=False) if s < " " or s in '"\\' else f'"{s}"'


def test_class_name_of_every_code_point_matches_str_upper():
    if table_unicode_version() != unicodedata.unidata_version:
        pytest.skip(f"the upper-case table is from Unicode {table_unicode_version()}, this Python has "
                    f"{unicodedata.unidata_version}: regenerate it with tools/gen_upper_table.py")
    chars = [chr(cp) for cp in range(0x110000) if not 0xD800 <= cp <= 0xDFFF]
    tags = [quoted(ch) for ch in chars]
    text = "[[[[" + ",".join(f"[true,{t}]" for t in tags) + "]]]]"
    out = velmor.parse_cem(text)
    expected = "[" + ",".join(
        f'{{"tag_name":{t},"class_name":{quoted("" if ch in "-_" else ch.upper())},"props":[],"events":[],"slots":[]}}'
        for ch, t in zip(chars, tags)) + "]"
    if out != expected:
        got = [s["class_name"] for s in json.loads(out)]
        wrong = [(f"U+{ord(ch):04X}", g, ch.upper()) for ch, g in zip(chars, got) if g != ch.upper() and ch not in "-_"]
        pytest.fail(f"{len(wrong)} class names differ from str.upper(), first ones: {wrong[:20]}")


# ---- property types -----------------------------------------------------------------------------

def prop_output(prop: str) -> str:
    return f'[{{"tag_name":"x-a","class_name":"XA","props":[{prop}],"events":[],"slots":[]}}]'


@pytest.mark.parametrize("type_text, ty", [
    ("string", '"Str"'),
    ("number", '"Number"'),
    ("boolean", '"Bool"'),
    ("string | undefined", '{"Optional":"Str"}'),
    ("boolean|null", '{"Optional":"Bool"}'),
    ("null | undefined | number", '{"Optional":"Number"}'),
    (" string ", '"Str"'),
    ("| string |", '"Str"'),
    ("\u00a0\u3000string\u2028\u205f", '"Str"'),         # White_Space beyond ASCII
    ("\u200bstring", '"Any"'),                           # zero width space is not White_Space
    ("\x1cstring", '"Any"'),                             # nor is the file separator
    ("String", '"Any"'),
    ("string | number", '"Any"'),
    ("string | string", '"Any"'),
    ("HTMLElement | undefined", '"Any"'),
    ("(v: number) => string", '"Any"'),
    ("null", '"Any"'),
    ("undefined | null", '"Any"'),
    ("", '"Any"'),
    ("|", '"Any"'),
    (" | \t| ", '"Any"'),
    ("Null", '"Any"'),
    ("'primary' | 'secondary'", '{"Enum":["primary","secondary"]}'),
    ("'a' | \"b\" | undefined", '{"Optional":{"Enum":["a","b"]}}'),
    ("'x'", '{"Enum":["x"]}'),
    ("''", '{"Enum":[""]}'),
    ("'a' | 'a'", '{"Enum":["a","a"]}'),
    ("'a\"b' | \"it's\"", '{"Enum":["a\\"b","it\'s"]}'),
    ("' padded '", '{"Enum":[" padded "]}'),
    ("'a|b'", '"Any"'),                                   # the split comes before the literal test
    ("'|'", '"Any"'),
    ("'a\"", '"Any"'),
    ("'", '"Any"'),
    ("'a' | string", '"Any"'),
    ("'a' | null | 'b'", '{"Optional":{"Enum":["a","b"]}}'),
])
def test_property_types(type_text, ty):
    attribute = {"name": "p", "type": {"text": type_text}}
    assert velmor.parse_cem(manifest(element(attributes=[attribute]))) == prop_output(f'{{"name":"p","ty":{ty}}}')


# ---- defaults -------------------------------------------------------------------------------------

@pytest.mark.parametrize("default, written", [
    ("'primary'", "primary"),
    ('"x"', "x"),
    ("''", ""),
    ("' 42 '", " 42 "),
    ("\u00a0'x'\u2029", "x"),
    ("'a\"b'", 'a\\"b'),
    (" 42 ", "42"),
    ("-1.5e3", "-1.5e3"),
    (".5", ".5"),
    ("5.", "5."),
    ("+5", "+5"),
    ("-.5E-3", "-.5E-3"),
    ("1e+7", "1e+7"),
    ("007", "007"),
    ("1e999", "1e999"),
    ("-1e-999", "-1e-999"),
    ("NaN", "NaN"),
    ("nan", "nan"),
    ("-inf", "-inf"),
    ("+Infinity", "+Infinity"),
    ("INFINITY", "INFINITY"),
    ("true", "true"),
    ("false", "false"),
])
def test_defaults(default, written):
    attribute = {"name": "p", "default": default}
    assert velmor.parse_cem(manifest(element(attributes=[attribute]))) == prop_output(
        f'{{"name":"p","ty":"Any","default":"{written}"}}')


@pytest.mark.parametrize("default", [
    "", "   ", "null", "undefined", " null ", "True", "FALSE", "foo", "[]", "{}", "'", '"', "'x\"",
    ".", "+", "-", "+.", "e5", ".e5", "1e", "1e+", "1.2.3", "1..", "..5", "1 000", "1_000", "0x10",
    "1f", "5px", "--1", "+-1", "infinit", "infinityy", "in", "+nan1", "1e5.", "1e5e5", "١", "１",
])
def test_defaults_that_give_none(default):
    attribute = {"name": "p", "default": default}
    assert velmor.parse_cem(manifest(element(attributes=[attribute]))) == prop_output('{"name":"p","ty":"Any"}')


def test_property_members_in_order():
    attribute = {"description": "d", "default": "1", "type": {"text": "number"}, "name": "p"}
    assert velmor.parse_cem(manifest(element(attributes=[attribute]))) == prop_output(
        '{"name":"p","ty":"Number","default":"1","doc":"d"}')


# ---- a whole library --------------------------------------------------------------------------------

def test_realistic_manifest():
    text = (DATA / "manifest.json").read_text(encoding="utf-8")
    expected = json.loads((DATA / "manifest.schemas.json").read_text(encoding="utf-8"))
    assert velmor.parse_cem(text) == json.dumps(expected, **COMPACT)


def test_every_truncation_fails_at_the_end():
    text = (DATA / "manifest.json").read_text(encoding="utf-8").rstrip()
    for n in range(len(text)):
        prefix = text[:n]
        lines = prefix.split("\n")
        end = f" at line {len(lines)} column {len(lines[-1].encode())}"
        message = parse_error(prefix)
        assert message.startswith("EOF while parsing ") and message.endswith(end), (n, message)


TOKENS = ["{", "}", "[", "]", ",", ":", '"', "\\", "null", "true", "1e999", "-", '"name"', '"tagName"',
          '"customElement"', '"attributes"', '"slots"', '"type"', " ", "\x00", "é"]


def test_mutated_manifests_read_or_fail_with_a_position():
    rnd = random.Random(11)
    text = (DATA / "manifest.json").read_text(encoding="utf-8")
    outcomes = set()
    for _ in range(3000):
        chars = list(text)
        for _ in range(rnd.randrange(1, 4)):
            pos = rnd.randrange(len(chars))
            if rnd.random() < 0.5:
                del chars[pos]
            else:
                chars.insert(pos, rnd.choice(TOKENS))
        try:
            out = velmor.parse_cem("".join(chars))
        except ValueError as e:
            assert re.fullmatch(r".+ at line \d+ column \d+", str(e), re.S), str(e)
            outcomes.add("error")
        else:
            assert isinstance(json.loads(out), list)
            outcomes.add("read")
    assert outcomes == {"error", "read"}
