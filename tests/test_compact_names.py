"""Member and variant names in compact text (no whitespace), which the reader matches as whole
words together with their quote and colon, next to the near misses that must take the general
path: names that extend or shorten a known one, whitespace before the colon, escapes, repeated
members and the nesting limit reached on a variant's brace. Positions follow the reading rules
(here / next)."""

from __future__ import annotations

import pytest

import velmor

UNKNOWN_ACTION = "expected one of `set`, `toggle`, `set-field`, `toggle-field`, `seq`, `emit`, `patch`, `if`, `call`, `js`"
UNKNOWN_EXPR = "expected one of `lit`, `event`, `not`, `prop`, `field`, `obj`, `concat`"
UNKNOWN_PROP = "expected one of `Null`, `Bool`, `Int`, `Float`, `Str`, `List`, `Map`, `Submodel`"


def tree(text: str) -> str:
    return velmor.apply(text, '{"ops":[]}')


@pytest.mark.parametrize("text, expected", [
    # Unknown members that share a prefix with a field, or that a field is a prefix of.
    ('{"tags":"x","tag":"a"}', '{"tag":"a"}'),
    ('{"ta":1,"tag":"a","keys":2,"key":"k"}', '{"tag":"a","key":"k"}'),
    ('{"tag":"a","prop":{"p":1},"propsx":2,"props":{"p":{"Int":1}}}', '{"tag":"a","props":{"p":{"Int":1}}}'),
    # Whitespace around names and colons, and an escaped member name.
    ('{"tag" : "a","props" :{"p" : {"Str" : "x"}}}', '{"tag":"a","props":{"p":{"Str":"x"}}}'),
    ('{"t\\u0061g":"a","props":{"p":{"\\u0053tr":"x"}}}', '{"tag":"a","props":{"p":{"Str":"x"}}}'),
    ('{"tag":"a","props":{"p":{"Str":"x"} }}', '{"tag":"a","props":{"p":{"Str":"x"}}}'),
    # A variant name longer than a word, and every short one.
    ('{"tag":"a","props":{"p":{"Submodel":3}}}', '{"tag":"a","props":{"p":{"Submodel":3}}}'),
    ('{"tag":"a","props":{"a":{"Null":null},"b":{"Bool":true},"c":{"Int":-2},"d":{"Float":1.5},'
     '"e":{"Str":""},"f":{"List":[]},"g":{"Map":{}}}}',
     '{"tag":"a","props":{"a":"Null","b":{"Bool":true},"c":{"Int":-2},"d":{"Float":1.5},'
     '"e":{"Str":""},"f":{"List":[]},"g":{"Map":{}}}}'),
    # Handlers whose tag is not first, or whose fields are named like near misses.
    ('{"tag":"a","events":{"e":{"event":"x","kind":"emit"}}}',
     '{"tag":"a","events":{"e":{"kind":"emit","event":"x","detail":null}}}'),
    ('{"tag":"a","events":{"e":{"kind":"emit","even":1,"event":"x","details":2}}}',
     '{"tag":"a","events":{"e":{"kind":"emit","event":"x","detail":null}}}'),
    ('{"tag":"a","events":{"e":{"kind" :"toggle","target":{"ref":"this"},"prop":"p"}}}',
     '{"tag":"a","events":{"e":{"kind":"toggle","target":{"ref":"this"},"prop":"p"}}}'),
])
def test_names_near_the_known_ones_read_as_in_any_form(text, expected):
    assert tree(text) == expected


@pytest.mark.parametrize("text, message", [
    ('{"tag":"a","tag":"b"}', "duplicate field `tag` at line 1 column 16"),
    ('{"tag":"a","tag" :"b"}', "duplicate field `tag` at line 1 column 17"),
    ('{"tag":"a","props":{},"props":{}}', "duplicate field `props` at line 1 column 29"),
    ('{"tag":"a","props":{"p":{"Strx":"a"}}}', f"unknown variant `Strx`, {UNKNOWN_PROP} at line 1 column 31"),
    ('{"tag":"a","props":{"p":{"Nul":null}}}', f"unknown variant `Nul`, {UNKNOWN_PROP} at line 1 column 30"),
    ('{"tag":"a","props":{"p":{"Str"}}}', "expected `:` at line 1 column 31"),
    ('{"tag":"a","props":{"p":{"Str":5}}}', "invalid type: integer `5`, expected a string at line 1 column 32"),
    ('{"tag":"a","props":{"p":{"Str":"x","Int":1}}}', "expected value at line 1 column 34"),
    ('{"tag":"a","props":{"p":{"Str":', "EOF while parsing a value at line 1 column 31"),
    ('{"tag":"a","events":{"e":{"kind":"emit","kind":"emit","event":"x"}}}',
     "duplicate field `kind` at line 1 column 46"),
    ('{"tag":"a","events":{"e":{"kind":"emit","event":"x","event":"y"}}}',
     "duplicate field `event` at line 1 column 65"),
    ('{"tag":"a","events":{"e":{"kind":"emit","events":"x"}}}', "missing field `event` at line 1 column 54"),
])
def test_errors_at_names_keep_their_texts_and_positions(text, message):
    with pytest.raises(ValueError) as exc:
        tree(text)
    assert str(exc.value) == message


def test_the_nesting_limit_applies_to_a_compact_variant_brace():
    # 127 brackets may be open; the 128th, here the brace of {"Int":1}, is refused at `next`.
    inner = '{"List":[' * 61 + '{"Int":1}' + ']}' * 61
    text = '{"tag":"a","slots":{"s":[{"tag":"a","props":{"p":' + inner + '}}]}}'
    with pytest.raises(ValueError) as exc:
        tree(text)
    column = text.index('{"Int"') + 1
    assert str(exc.value) == f"recursion limit exceeded at line 1 column {column}"
    # One level less reads.
    inner = '{"List":[' * 62 + '{"Int":1}' + ']}' * 62
    text = '{"tag":"a","props":{"p":' + inner + '}}'
    assert tree(text) == text


def props(*pairs: tuple[str, int]) -> str:
    return '{"tag":"a","props":{' + ",".join(f'"{k}":{{"Int":{v}}}' for k, v in pairs) + "}}"


@pytest.mark.parametrize("given, kept", [
    # In order, out of order, and repeated keys adjacent, apart, three times and in long maps:
    # members come out sorted and a repeated key keeps its last value.
    ([("a", 1), ("b", 2)], [("a", 1), ("b", 2)]),
    ([("b", 1), ("a", 2)], [("a", 2), ("b", 1)]),
    ([("a", 1), ("a", 2)], [("a", 2)]),
    ([("b", 1), ("a", 2), ("b", 3)], [("a", 2), ("b", 3)]),
    ([("c", 1), ("b", 2), ("c", 3), ("a", 4), ("c", 5)], [("a", 4), ("b", 2), ("c", 5)]),
    ([("ab", 1), ("a", 2), ("abc", 3), ("ab", 4)], [("a", 2), ("ab", 4), ("abc", 3)]),
    ([(f"k{i:02}", i) for i in range(20, 0, -1)] + [("k05", 99)],
     [(f"k{i:02}", 99 if i == 5 else i) for i in range(1, 21)]),
])
def test_maps_come_out_sorted_keeping_the_last_of_a_repeated_key(given, kept):
    assert tree(props(*given)) == props(*kept)


# Handler and expression tags in compact text, which the reader matches as whole words together
# with their quotes, next to near misses: tags that extend or shorten a
# known one, a space after it, an escape, a repeated tag and texts that end after it.
REF = '{"tag":"a","events":{"e":{"kind":"toggle","target":%s,"prop":"p"}}}'
UNKNOWN_REF = "expected `this` or `id`"


@pytest.mark.parametrize("text, expected", [
    ('{"tag":"a","events":{"e":{"kind":"toggle","target":{"ref":"this"},"prop":"p"}}}',
     '{"tag":"a","events":{"e":{"kind":"toggle","target":{"ref":"this"},"prop":"p"}}}'),
    ('{"tag":"a","events":{"e":{"kind":"set","target":{"ref":"this"},"prop":"p","value":{"expr":"lit","value":1}}}}',
     '{"tag":"a","events":{"e":{"kind":"set","target":{"ref":"this"},"prop":"p","value":{"expr":"lit","value":1}}}}'),
    ('{"tag":"a","events":{"e":{"kind":"set" ,"target":{"ref":"this"},"prop":"p","value":{"expr":"not","of":{"expr":"event"}}}}}',
     '{"tag":"a","events":{"e":{"kind":"set","target":{"ref":"this"},"prop":"p","value":{"expr":"not","of":{"expr":"event"}}}}}'),
    ('{"tag":"a","events":{"e":{"kind":"s\\u0065t","target":{"ref":"this"},"prop":"p","value":{"expr":"field","name":"f"}}}}',
     '{"tag":"a","events":{"e":{"kind":"set","target":{"ref":"this"},"prop":"p","value":{"expr":"field","name":"f"}}}}'),
    ('{"tag":"a","events":{"e":{"kind":"set-field","field":"f","value":{"expr":"prop","target":{"ref":"this"},"name":"n"}}}}',
     '{"tag":"a","events":{"e":{"kind":"set-field","field":"f","value":{"expr":"prop","target":{"ref":"this"},"name":"n"}}}}'),
    ('{"tag":"a","events":{"e":{"kind":"seq","actions":[{"kind":"js","handler":"h"},{"kind":"emit","event":"x"}]}}}',
     '{"tag":"a","events":{"e":{"kind":"seq","actions":[{"kind":"js","handler":"h"},{"kind":"emit","event":"x","detail":null}]}}}'),
    ('{"tag":"a","events":{"e":{"kind":"emit","event":"x","detail":{"expr":"obj","fields":{"a":{"expr":"lit" ,"value":2}}}}}}',
     '{"tag":"a","events":{"e":{"kind":"emit","event":"x","detail":{"expr":"obj","fields":{"a":{"expr":"lit","value":2}}}}}}'),
    (REF % '{"ref":"this"}', REF % '{"ref":"this"}'),
    (REF % '{"ref":"this" }', REF % '{"ref":"this"}'),
    (REF % '{"ref":"id","id":"x"}', REF % '{"ref":"id","id":"x"}'),
    (REF % '{"ref":"i\\u0064","id":"x"}', REF % '{"ref":"id","id":"x"}'),
])
def test_handler_tags_read_as_in_any_form(text, expected):
    assert tree(text) == expected


@pytest.mark.parametrize("text, message", [
    ('{"tag":"a","events":{"e":{"kind":"toggl","target":{"ref":"this"},"prop":"p"}}}',
     f'unknown variant `toggl`, {UNKNOWN_ACTION} at line 1 column 40'),
    ('{"tag":"a","events":{"e":{"kind":"toggles","target":{"ref":"this"},"prop":"p"}}}',
     f'unknown variant `toggles`, {UNKNOWN_ACTION} at line 1 column 42'),
    ('{"tag":"a","events":{"e":{"kind":"se","target":{"ref":"this"},"prop":"p"}}}',
     f'unknown variant `se`, {UNKNOWN_ACTION} at line 1 column 37'),
    ('{"tag":"a","events":{"e":{"kind":"sett","prop":"p"}}}',
     f'unknown variant `sett`, {UNKNOWN_ACTION} at line 1 column 39'),
    ('{"tag":"a","events":{"e":{"kind":"js"}}}',
     'missing field `handler` at line 1 column 39'),
    ('{"tag":"a","events":{"e":{"kind":"js","handler":"h","kind":"js"}}}',
     'duplicate field `kind` at line 1 column 58'),
    ('{"tag":"a","events":{"e":{"kind":"set","kind":"set"}}}',
     'duplicate field `kind` at line 1 column 45'),
    ('{"tag":"a","events":{"e":{"kind":"emit","event":"x","detail":{"expr":"concat","parts":[{"expr":"lit","value":"a"},{"expr":"litx","value":1}]}}}}',
     f'unknown variant `litx`, {UNKNOWN_EXPR} at line 1 column 143'),
    ('{"tag":"a","events":{"e":{"kind":"js",}}',
     'trailing comma at line 1 column 39'),
    ('{"tag":"a","events":{"e":{"kind":"js"}}',
     'missing field `handler` at line 1 column 39'),
    ('{"tag":"a","events":{"e":{"kind":"emit","event":"x","detail":{"expr":"not",}}',
     'trailing comma at line 1 column 76'),
    (REF % '{"ref":"thi"}', f'unknown variant `thi`, {UNKNOWN_REF} at line 1 column 77'),
    (REF % '{"ref":"thiss"}', f'unknown variant `thiss`, {UNKNOWN_REF} at line 1 column 79'),
    (REF % '{"ref":"ids","id":"x"}', f'unknown variant `ids`, {UNKNOWN_REF} at line 1 column 86'),
    (REF % '{"ref":"id"}', 'missing field `id` at line 1 column 76'),
    ('{"tag":"a","events":{"e":{"kind":"emit","event":"x","detail":{"expr":"lit"}}}}',
     'missing field `value` at line 1 column 77'),
])
def test_errors_at_handler_tags_keep_their_texts_and_positions(text, message):
    with pytest.raises(ValueError) as e:
        tree(text)
    assert str(e.value) == message
