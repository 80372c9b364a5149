"""The JSON layer as every tree text meets it: syntax errors and their positions, typed values,
the nesting limit, numbers and strings on output."""

import pytest
import velmor

ROOT = '{"tag":"\\u0000"}'  # a root tag no test tree uses, so diff(ROOT, t) is Replace(t)
PREFIX = '{"ops":[{"Replace":{"path":[],"node":'
SUFFIX = "}}]}"


def canonical(tree: str) -> str:
    """The canonical text of a tree, as the writer produces it (apply with no operations); where a
    patch can carry the tree, diff's Replace carries the same text."""
    text = velmor.apply(tree, '{"ops":[]}')
    try:
        patch = velmor.diff(ROOT, tree)
    except ValueError as e:
        assert str(e) == "recursion limit exceeded", e  # too deep to travel inside a patch
    else:
        assert patch == PREFIX + text + SUFFIX, patch
    return text


def read_error(text: str) -> str:
    with pytest.raises(ValueError) as exc:
        velmor.diff(text, "{}")
    return str(exc.value)


@pytest.mark.parametrize("text, message", [
    ("", "EOF while parsing a value at line 1 column 0"),
    ("   \n ", "EOF while parsing a value at line 2 column 1"),
    ("x", "expected value at line 1 column 1"),
    ("\n\n  }", "expected value at line 3 column 3"),
    ("{", "EOF while parsing an object at line 1 column 1"),
    ('{"tag"', "EOF while parsing an object at line 1 column 6"),
    ('{"tag":', "EOF while parsing a value at line 1 column 7"),
    ('{"tag":"a",', "EOF while parsing a value at line 1 column 11"),
    ('{"tag" "a"}', "expected `:` at line 1 column 8"),
    ('{"tag":"a" "b"}', "expected `,` or `}` at line 1 column 12"),
    ('{"tag":"a",}', "trailing comma at line 1 column 12"),
    ('{tag:"a"}', "key must be a string at line 1 column 2"),
    ('{,"tag":"a"}', "key must be a string at line 1 column 2"),
    ('{"tag":"a"} x', "trailing characters at line 1 column 13"),
    ('{"tag":"a"}{}', "trailing characters at line 1 column 12"),
    ('{"tag":"a","slots":{"s":[', "EOF while parsing a list at line 1 column 25"),
    ('{"tag":"a","slots":{"s":[{"tag":"b"}', "EOF while parsing a list at line 1 column 36"),
    ('{"tag":"a","slots":{"s":[{"tag":"b"} {', "expected `,` or `]` at line 1 column 38"),
    ('{"tag":"a","slots":{"s":[{"tag":"b"},]}}', "trailing comma at line 1 column 38"),
    ('{"tag":"a","slots":{"s":[,]}}', "expected value at line 1 column 26"),
    # strings
    ('{"tag":"a', "EOF while parsing a string at line 1 column 9"),
    ('{"tag":"a\\', "EOF while parsing a string at line 1 column 10"),
    ('{"tag":"a\\q"}', "invalid escape at line 1 column 11"),
    ('{"tag":"\\u12G4"}', "invalid escape at line 1 column 13"),
    ('{"tag":"\\u00', "EOF while parsing a string at line 1 column 12"),
    ('{"tag":"\\u00e"}', "invalid escape at line 1 column 14"),
    ('{"tag":"\\uDC00"}', "lone leading surrogate in hex escape at line 1 column 14"),
    ('{"tag":"\\uD800x"}', "unexpected end of hex escape at line 1 column 15"),
    ('{"tag":"\\uD800\\x"}', "unexpected end of hex escape at line 1 column 16"),
    ('{"tag":"\\uD800', "EOF while parsing a string at line 1 column 14"),
    ('{"tag":"\\uD800\\u0041"}', "lone leading surrogate in hex escape at line 1 column 20"),
    ('{"tag":"a\x01"}', "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 10"),
    ('{"tag":"a\nb"}', "control character (\\u0000-\\u001F) found while parsing a string at line 2 column 0"),
    # words
    ('{"tag":tru}', "expected ident at line 1 column 11"),
    ('{"tag":nul', "EOF while parsing a value at line 1 column 10"),
    ('{"tag":fals', "EOF while parsing a value at line 1 column 11"),
])
def test_syntax_errors(text, message):
    assert read_error(text) == message


NUMBER_AT = '{"tag":"a","props":{"x":{"Float":'


@pytest.mark.parametrize("number, message, offset", [
    ("-}", "invalid number", 2),
    ("-", "EOF while parsing a value", 1),
    ("01}", "invalid number", 2),
    ("-01}", "invalid number", 3),
    ("1.}", "invalid number", 3),
    ("1.", "EOF while parsing a value", 2),
    ("1e}", "invalid number", 3),
    ("1E+}", "invalid number", 4),
    ("1e", "EOF while parsing a value", 2),
    ("1e999}", "number out of range", 5),
    ("-1.5e999}", "number out of range", 8),
    ("1" + "0" * 400 + "}", "number out of range", 401),
    (".5}", "expected value", 1),
    ("+1}", "expected value", 1),
])
def test_number_errors(number, message, offset):
    column = len(NUMBER_AT) + offset
    assert read_error(NUMBER_AT + number) == f"{message} at line 1 column {column}"


@pytest.mark.parametrize("literal, written", [
    ("0", "0.0"), ("-0", "-0.0"), ("-0.0", "-0.0"), ("2", "2.0"), ("100", "100.0"),
    ("1.50", "1.5"), ("1e2", "100.0"), ("0.1", "0.1"), ("1e15", "1000000000000000.0"),
    ("1e16", "1e+16"), ("12345678901234567890", "1.2345678901234567e+19"),
    ("0.00001", "0.00001"), ("0.000001", "1e-6"), ("1.5e-7", "1.5e-7"), ("2.5e100", "2.5e+100"),
    ("-123.456", "-123.456"), ("1e-999", "0.0"), ("-1e-400", "-0.0"),
    ("5e-324", "5e-324"), ("1.7976931348623157e308", "1.7976931348623157e+308"),
    # correctly rounded: the nearest double, even for long and halfway literals
    ("0.1000000000000000055511151231257827", "0.1"),
    ("9007199254740993", "9007199254740992.0"),
    ("9007199254740995", "9007199254740996.0"),
    ("2.2250738585072011e-308", "2.225073858507201e-308"),
    ("18446744073709551615", "1.8446744073709552e+19"),
])
def test_float_reading_and_writing(literal, written):
    tree = '{"tag":"a","props":{"x":{"Float":%s}}}' % literal
    assert canonical(tree) == '{"tag":"a","props":{"x":{"Float":%s}}}' % written


@pytest.mark.parametrize("text, written", [
    ('"a/b\\/c"', '"a/b/c"'),
    ('"\\u0008\\u0009\\u000a\\u000c\\u000d\\u0000\\u001f"', '"\\b\\t\\n\\f\\r\\u0000\\u001f"'),
    ('"\\"\\\\"', '"\\"\\\\"'),
    ('"\u007f\u00e9\u2028\U0001F600"', '"\u007f\u00e9\u2028\U0001F600"'),
    ('"\\u00e9\\uD83D\\uDE00"', '"\u00e9\U0001F600"'),
])
def test_strings_on_output(text, written):
    assert canonical('{"tag":%s}' % text) == '{"tag":%s}' % written


@pytest.mark.parametrize("value, found", [
    ("5", "integer `5`"),
    ("-5", "integer `-5`"),
    ("18446744073709551615", "integer `18446744073709551615`"),
    ("1.5", "floating point `1.5`"),
    ("1e20", "floating point `1e+20`"),
    ("-0", "floating point `-0.0`"),
    ("null", "null"),
    ('"q\\"\\\\\\n\\r\\t\\u0000\\u0001\\u007f\\u0085é"', 'string "q\\"\\\\\\n\\r\\t\\0\\u{1}\\u{7f}\\u{85}é"'),
])
def test_invalid_type_describes_the_value_found(value, found):
    text = '{"tag":"a","props":{"x":{"Bool":%s}}}' % value
    column = len(text.encode()) - 3  # bytes, just after the value, before `}}}`
    assert read_error(text) == f"invalid type: {found}, expected a boolean at line 1 column {column}"


def test_booleans_are_described_too():
    assert read_error('{"tag":true}') == "invalid type: boolean `true`, expected a string at line 1 column 11"
    assert read_error('{"tag":false }') == "invalid type: boolean `false`, expected a string at line 1 column 12"


@pytest.mark.parametrize("text, message", [
    # an offending bracket is not consumed
    ('{"tag":[1]}', "invalid type: sequence, expected a string at line 1 column 7"),
    ('{"tag": {}}', "invalid type: map, expected a string at line 1 column 8"),
    ('{"tag":"a","props":[]}', "invalid type: sequence, expected a map at line 1 column 19"),
    ('{"tag":"a","props":null}', "invalid type: null, expected a map at line 1 column 23"),
    ('{"tag":"a","key":5}', "invalid type: integer `5`, expected a string at line 1 column 18"),
    ('{"tag":"a","slots":{"s":{}}}', "invalid type: map, expected a sequence at line 1 column 24"),
    ('{"tag":"a","slots":{"s":[1]}}', "invalid type: integer `1`, expected struct Node at line 1 column 26"),
    ('{"tag":"a","slots":{"s":["b"]}}', 'invalid type: string "b", expected struct Node at line 1 column 28'),
    ('"div"', 'invalid type: string "div", expected struct Node at line 1 column 5'),
    ("5 ", "invalid type: integer `5`, expected struct Node at line 1 column 1"),
    ('{"tag":"a","events":[]}', "invalid type: sequence, expected a map at line 1 column 20"),
    ('{"tag":"a","bindings":{"b":5}}', "invalid type: integer `5`, expected struct Binding at line 1 column 28"),
])
def test_typed_values(text, message):
    assert read_error(text) == message


def chain(levels: int) -> str:
    """A root with a chain of `levels` single children below it."""
    text = '{"tag":"leaf"}'
    for _ in range(levels):
        text = '{"tag":"n","slots":{"s":[%s]}}' % text
    return text


def test_nesting_limit_of_node_chains():
    assert canonical(chain(42)) == chain(42)
    # each level opens `{"tag":"n","slots":{"s":[` (25 bytes, three brackets); the 128th bracket
    # is the `{` of the 42nd child's slots
    assert read_error(chain(43)) == f"recursion limit exceeded at line 1 column {42 * 25 + 19 + 1}"


@pytest.mark.parametrize("depth, ok", [(124, True), (125, False)])
def test_nesting_limit_counts_every_bracket(depth, ok):
    # root, bindings and the binding record are three levels; compute adds `depth` more
    text = '{"tag":"a","bindings":{"b":{"compute":%s%s,"mode":"one-way"}}}' % ("[" * depth, "]" * depth)
    if ok:
        assert canonical(text) == text
    else:
        column = len('{"tag":"a","bindings":{"b":{"compute":') + 125
        assert read_error(text) == f"recursion limit exceeded at line 1 column {column}"


def test_nesting_limit_applies_to_skipped_members():
    deep = "[" * 126 + "]" * 126
    assert canonical('{"tag":"a","x":%s}' % deep) == '{"tag":"a"}'
    prefix = '{"tag":"a","x":'
    text = prefix + "[" * 127 + "]" * 127 + "}"
    assert read_error(text) == f"recursion limit exceeded at line 1 column {len(prefix) + 127}"


@pytest.mark.parametrize("member, message", [
    ("1e999", None),  # skipped numbers are not converted
    ("[1,{\"a\":[true,null]}]", None),
    ("01", "invalid number at line 1 column 17"),
    ("[1,]", "expected value at line 1 column 19"),
    ('"\\q"', "invalid escape at line 1 column 18"),
    ("{1:2}", "key must be a string at line 1 column 17"),
    ("tru", "expected ident at line 1 column 19"),
])
def test_unknown_members_are_skipped_but_checked(member, message):
    text = '{"tag":"a","x":%s}' % member
    if message is None:
        assert canonical(text) == '{"tag":"a"}'
    else:
        assert read_error(text) == message


def test_whitespace_is_space_tab_newline_and_return_only():
    assert canonical(' \t\r\n{ "tag" :\n"a" }\r\n') == '{"tag":"a"}'
    assert read_error('{"tag":"a"}\f') == "trailing characters at line 1 column 12"
    assert read_error('\u00a0{"tag":"a"}') == "expected value at line 1 column 1"
