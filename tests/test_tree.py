"""Trees, property values, bindings and event actions: their JSON forms, read and written back,
and their reading errors with positions."""

import pytest
import velmor

from canonical import write_float
from test_json import canonical, read_error


@pytest.mark.parametrize("text, written", [
    ('{"tag":"div"}', '{"tag":"div"}'),
    ('{"tag":"div","key":null}', '{"tag":"div"}'),
    ('{"key":"k","tag":"div"}', '{"tag":"div","key":"k"}'),
    ('{"tag":"div","props":{},"slots":{},"events":{},"bindings":{}}', '{"tag":"div"}'),
    ('{"tag":"div","props":{"b":{"Int":1},"a":"Null"}}', '{"tag":"div","props":{"a":"Null","b":{"Int":1}}}'),
    ('{"tag":"div","props":{"a":{"Int":1},"a":{"Int":2}}}', '{"tag":"div","props":{"a":{"Int":2}}}'),
    ('{"tag":"p","style":[1,2],"props":{"x":"Null"}}', '{"tag":"p","props":{"x":"Null"}}'),
    ('{"tag":"ul","slots":{"s":[],"items":[{"tag":"li"}]}}', '{"tag":"ul","slots":{"items":[{"tag":"li"}],"s":[]}}'),
    ('{"tag":"ul","slots":{"b":[{"tag":"x"}],"B":[{"tag":"y"}],"é":[],"a":[]}}',
     '{"tag":"ul","slots":{"B":[{"tag":"y"}],"a":[],"b":[{"tag":"x"}],"é":[]}}'),
    ('["div"]', '{"tag":"div"}'),
    ('["div","k",{"a":"Null"},{"s":[["li"]]},{},{"v":{"mode":"one-way"}}]',
     '{"tag":"div","key":"k","props":{"a":"Null"},"slots":{"s":[{"tag":"li"}]},"bindings":{"v":{"mode":"one-way"}}}'),
    ('["div",null,{}]', '{"tag":"div"}'),
    ('{"tag":""}', '{"tag":""}'),
])
def test_nodes_are_written_canonically(text, written):
    assert canonical(text) == written


@pytest.mark.parametrize("text, message", [
    ('{"key":"a"}', "missing field `tag` at line 1 column 11"),
    ('{"tag":"a","tag":"b"}', "duplicate field `tag` at line 1 column 16"),
    ('{"tag":"a","key":"x" , "key" :"y"}', "duplicate field `key` at line 1 column 29"),
    ('{"tag":"a","props":{},"props":{}}', "duplicate field `props` at line 1 column 29"),
    ("[]", "invalid length 0, expected struct Node with 6 elements at line 1 column 2"),
    ("[ ]", "invalid length 0, expected struct Node with 6 elements at line 1 column 3"),
    ('["a",null,{},{},{},{},1]', "trailing characters at line 1 column 23"),
    ('["a",null,{},{},{},{}, ]', "trailing comma at line 1 column 24"),
    ('["a",null,{},{},{},{} 1]', "trailing characters at line 1 column 23"),
    ('["a" "b"]', "expected `,` or `]` at line 1 column 6"),
])
def test_node_reading_errors(text, message):
    assert read_error(text) == message


def props(value: str) -> str:
    return '{"tag":"a","props":{"x":%s}}' % value


@pytest.mark.parametrize("value, written", [
    ('"Null"', '"Null"'),
    ('{"Null":null}', '"Null"'),
    ('{"Bool":true}', '{"Bool":true}'),
    ('{"Int":-5}', '{"Int":-5}'),
    ('{"Int":9223372036854775807}', '{"Int":9223372036854775807}'),
    ('{"Int":-9223372036854775808}', '{"Int":-9223372036854775808}'),
    ('{"Float":2}', '{"Float":2.0}'),
    ('{"Float":-7}', '{"Float":-7.0}'),
    ('{"Str":"a\\u00e9"}', '{"Str":"aé"}'),
    ('{"List":[]}', '{"List":[]}'),
    ('{"List":["Null",{"Int":1},{"List":[{"Bool":false}]}]}', '{"List":["Null",{"Int":1},{"List":[{"Bool":false}]}]}'),
    ('{"Map":{}}', '{"Map":{}}'),
    ('{"Map":{"b":"Null","a":{"Int":1},"b":{"Int":2}}}', '{"Map":{"a":{"Int":1},"b":{"Int":2}}}'),
    ('{"Submodel":0}', '{"Submodel":0}'),
    ('{"Submodel":18446744073709551615}', '{"Submodel":18446744073709551615}'),
    ('{ "Int" : 3 }', '{"Int":3}'),
])
def test_property_values(value, written):
    assert canonical(props(value)) == props(written)


# A property entry whose text is already what the writer writes is copied through as it is; any
# departure from that form, at the top of the entry or anywhere inside its value, must still be
# rewritten.
@pytest.mark.parametrize("text, written", [
    ('{"x":{"Int":1},"y":"Null"}', '{"x":{"Int":1},"y":"Null"}'),
    ('{"y":{"Int":1},"x":{"Str":"s"}}', '{"x":{"Str":"s"},"y":{"Int":1}}'),
    ('{"x":{"Int":1},"x":{"Int":2}}', '{"x":{"Int":2}}'),
    ('{"\\u0078":{"Int":1}}', '{"x":{"Int":1}}'),
    ('{"x" :{"Int":1}}', '{"x":{"Int":1}}'),
    ('{"x": {"Int":1}}', '{"x":{"Int":1}}'),
    ('{"x":{"Int": 1}}', '{"x":{"Int":1}}'),
    ('{"x":{"Int":1 }}', '{"x":{"Int":1}}'),
    ('{"x":{ "Int":1}}', '{"x":{"Int":1}}'),
    ('{"x":{"Str":"\\u0041\\n"}}', '{"x":{"Str":"A\\n"}}'),
    ('{"x":{"Null":null}}', '{"x":"Null"}'),
    ('{"x":{"List":[{"Null":null}]}}', '{"x":{"List":["Null"]}}'),
    ('{"x":{"List":[{"Int":1}, {"Int":2}]}}', '{"x":{"List":[{"Int":1},{"Int":2}]}}'),
    ('{"x":{"List":[{"Str":"\\/"}]}}', '{"x":{"List":[{"Str":"/"}]}}'),
    ('{"x":{"Map":{"b":{"Int":1},"a":{"Int":2}}}}', '{"x":{"Map":{"a":{"Int":2},"b":{"Int":1}}}}'),
    ('{"x":{"Map":{"a":{"Int":1},"a":{"Int":2}}}}', '{"x":{"Map":{"a":{"Int":2}}}}'),
    ('{"x":{"Map":{"a":{"Map":{"\\u0062":{"Null":null}}}}}}', '{"x":{"Map":{"a":{"Map":{"b":"Null"}}}}}'),
    ('{"x":{"Map":{"a":{"Float":1.50}}}}', '{"x":{"Map":{"a":{"Float":1.5}}}}'),
    ('{"x":{"Submodel":7},"y":{"Map":{"a":{"Submodel":8}}}}', '{"x":{"Submodel":7},"y":{"Map":{"a":{"Submodel":8}}}}'),
    ('{"x":{"Map":{"a":{"Submodel" :8}}}}', '{"x":{"Map":{"a":{"Submodel":8}}}}'),
    ('{"x":{"Map":{"a":{"Submodel": 8}}}}', '{"x":{"Map":{"a":{"Submodel":8}}}}'),
])
def test_property_entries_copied_only_when_canonical(text, written):
    assert canonical('{"tag":"a","props":%s}' % text) == '{"tag":"a","props":%s}' % written


@pytest.mark.parametrize("name", ["Int", "Submodel"])
def test_property_value_at_the_nesting_limit(name):
    # the value's `{` is the 128th bracket open, short name or long
    prefix = '{"tag":"a","slots":{"s":[{"tag":"b","props":{"x":' + '{"List":[' * 61
    text = prefix + '{"%s":1}' % name + "]}" * 61 + "}}]}}"
    assert read_error(text) == "recursion limit exceeded at line 1 column %d" % (len(prefix) + 1)


@pytest.mark.parametrize("literal", [
    "1.5", "1.50", "1.0", "1.00", "10.0", "0.5", "-0.5", "0.05", "0.050", "-12.25", "0.1",
    "0.00001", "0.000012", "0.000001", "0.0", "-0.0", "0.00", "2", "-3", "1e2", "1.5e0", "1E-3",
    "123456789012345.0", "12345678901234.5", "1234567890.12345", "1234567890.123456",
    "999999999999999.9", "0.30000000000000004", "0.3000000000000000", "5e-324",
    "100000000000000.0", "1000000000000000.0", "9007199254740993.0",
])
def test_float_literals_in_entries(literal):
    written = write_float(float(literal))
    for value in ('{"Float":%s}', '{"List":[{"Float":%s}]}', '{"Map":{"k":{"Float":%s}}}'):
        assert canonical(props(value % literal)) == props(value % written)


P = len('{"tag":"a","props":{"x":')  # where the value starts


@pytest.mark.parametrize("value, message, column", [
    # a bare variant name that needs a payload has no position of its own: the props object
    # finishes (consuming its `}`) and places it there
    ('"Bool"', "invalid type: unit variant, expected newtype variant", P + 7),
    ('"Bool" ', "invalid type: unit variant, expected newtype variant", P + 8),
    ('"Nope"', "unknown variant `Nope`, expected one of `Null`, `Bool`, `Int`, `Float`, `Str`, `List`, `Map`, `Submodel`", P + 6),
    ('{"Nope":1}', "unknown variant `Nope`, expected one of `Null`, `Bool`, `Int`, `Float`, `Str`, `List`, `Map`, `Submodel`", P + 7),
    ('"null"', "unknown variant `null`, expected one of `Null`, `Bool`, `Int`, `Float`, `Str`, `List`, `Map`, `Submodel`", P + 6),
    ("5", "expected value", P + 1),
    ("null", "expected value", P + 1),
    ("[]", "expected value", P + 1),
    ("{}", "expected value", P + 2),
    ("{5:1}", "invalid type: integer `5`, expected variant identifier", P + 2),
    ('{"Int":1,"Str":"a"}', "expected value", P + 8),
    ('{"Int":1 ,"Str":"a"}', "expected value", P + 9),
    ('{"Int" 1}', "expected `:`", P + 8),
    ('{"Int":1.5}', "invalid type: floating point `1.5`, expected i64", P + 10),
    ('{"Int":9223372036854775808}', "invalid value: integer `9223372036854775808`, expected i64", P + 26),
    ('{"Int":"1"}', 'invalid type: string "1", expected i64', P + 10),
    ('{"Submodel":-1}', "invalid value: integer `-1`, expected u64", P + 14),
    ('{"Submodel":1.0}', "invalid type: floating point `1.0`, expected u64", P + 15),
    ('{"Float":"x"}', 'invalid type: string "x", expected f64', P + 12),
    ('{"Float":1e999}', "number out of range", P + 14),
    ('{"Bool":1}', "invalid type: integer `1`, expected a boolean", P + 9),
    ('{"Null":1}', "invalid type: integer `1`, expected unit", P + 9),
    ('{"List":{}}', "invalid type: map, expected a sequence", P + 8),
    ('{"Map":[]}', "invalid type: sequence, expected a map", P + 7),
    # inside a List the list places the error, after consuming a following comma
    ('{"List":["Str", "Null"]}', "invalid type: unit variant, expected newtype variant", P + 16),
])
def test_property_value_errors(value, message, column):
    assert read_error(props(value)) == f"{message} at line 1 column {column}"


def binding(b: str) -> str:
    return '{"tag":"a","bindings":{"v":%s}}' % b


@pytest.mark.parametrize("value, written", [
    ('{"mode":"two-way"}', '{"mode":"two-way"}'),
    ('{"mode":"one-way","field":null,"compute":null}', '{"mode":"one-way"}'),
    ('{"compute":{"b":[1,1.0,-1],"a":{"y":null,"x":true}},"mode":"one-way","field":"f"}',
     '{"field":"f","compute":{"a":{"x":true,"y":null},"b":[1,1.0,-1]},"mode":"one-way"}'),
    ('{"mode":{"two-way":null}}', '{"mode":"two-way"}'),
    ('["f",5,"one-way"]', '{"field":"f","compute":5,"mode":"one-way"}'),
    ('[null,null,"two-way"]', '{"mode":"two-way"}'),
    ('{"compute":"x","mode":"one-way","other":1e999}', '{"compute":"x","mode":"one-way"}'),
])
def test_bindings(value, written):
    assert canonical(binding(value)) == binding(written)


B = len('{"tag":"a","bindings":{"v":')


@pytest.mark.parametrize("value, message, column", [
    ('{"field":"x"}', "missing field `mode`", B + 13),
    ('{"mode":"both"}', "unknown variant `both`, expected `one-way` or `two-way`", B + 14),
    ('{"mode":"One-Way"}', "unknown variant `One-Way`, expected `one-way` or `two-way`", B + 17),
    ('{"mode":1}', "expected value", B + 9),
    ('{"mode":{}}', "expected value", B + 10),
    ('{"mode":{"one-way":1}}', "invalid type: integer `1`, expected unit", B + 20),
    ('{"mode":"one-way","mode":"one-way"}', "duplicate field `mode`", B + 24),
    ("[null,null]", "invalid length 2, expected struct Binding with 3 elements", B + 11),
    ("[]", "invalid length 2, expected struct Binding with 3 elements", B + 2),
    ('[null,null,"one-way",1]', "trailing characters", B + 22),
    ('{"mode":"one-way","compute":1e999}', "number out of range", B + 33),
    ('{"mode":"one-way","field":5}', "invalid type: integer `5`, expected a string", B + 27),
])
def test_binding_errors(value, message, column):
    assert read_error(binding(value)) == f"{message} at line 1 column {column}"


def events(action: str) -> str:
    return '{"tag":"a","events":{"click":%s}}' % action


@pytest.mark.parametrize("action", [
    '{"kind":"toggle","target":{"ref":"this"},"prop":"open"}',
    '{"kind":"emit","event":"save","detail":null}',
    '{"kind":"if","cond":{"expr":"not","of":{"expr":"field","name":"busy"}},"then":{"kind":"js","handler":"go"},"else":null}',
    '{"kind":"call","method":"POST","url":"/items","body":{"expr":"event"},"result":"items"}',
    '{"kind":"set","target":{"ref":"id","id":"title"},"prop":"text","value":{"expr":"concat","parts":[{"expr":"lit","value":"Hello, "},{"expr":"prop","target":{"ref":"this"},"name":"value"}]}}',
    '{"kind":"set-field","field":"f","value":{"expr":"lit","value":{"a":[1,1.0,-2,null,true,"x"]}}}',
    '{"kind":"toggle-field","field":"f"}',
    '{"kind":"seq","actions":[{"kind":"if","cond":{"expr":"event"},"then":{"kind":"seq","actions":[]},"else":{"kind":"js","handler":"h"}}]}',
    '{"kind":"patch","model":"m","field":"f","value":{"expr":"obj","fields":{"a":{"expr":"event"},"b":{"expr":"lit","value":null}}}}',
    '{"kind":"call","method":"GET","url":{"expr":"field","name":"u"},"body":null,"result":null}',
])
def test_actions_round_trip(action):
    assert canonical(events(action)) == events(action)


@pytest.mark.parametrize("action, written", [
    ('{"kind":"emit","event":"save"}', '{"kind":"emit","event":"save","detail":null}'),
    ('{"prop":"open","target":{"ref":"this"},"kind":"toggle"}', '{"kind":"toggle","target":{"ref":"this"},"prop":"open"}'),
    ('{"kind":"js","handler":"h","note":1}', '{"kind":"js","handler":"h"}'),
    ('{"kind":"set-field","field":"f","value":{"expr":"event","x":1}}', '{"kind":"set-field","field":"f","value":{"expr":"event"}}'),
    ('{"kind":9,"handler":"h"}', '{"kind":"js","handler":"h"}'),
    ('{"kind":1,"target":{"ref":1,"id":"x"},"prop":"p"}', '{"kind":"toggle","target":{"ref":"id","id":"x"},"prop":"p"}'),
    ('{"kind":"set-field","field":"f","value":{"expr":"obj","fields":{"b":{"expr":"event"},"a":{"expr":"lit","value":{"y":1,"x":2,"y":3}}}}}',
     '{"kind":"set-field","field":"f","value":{"expr":"obj","fields":{"a":{"expr":"lit","value":{"x":2,"y":3}},"b":{"expr":"event"}}}}'),
    ('["js","h"]', '{"kind":"js","handler":"h"}'),
    ('["emit","save",null]', '{"kind":"emit","event":"save","detail":null}'),
    ('["set",["id","t"],"p",["field","f"]]', '{"kind":"set","target":{"ref":"id","id":"t"},"prop":"p","value":{"expr":"field","name":"f"}}'),
    ('["toggle",["this"],"p"]', '{"kind":"toggle","target":{"ref":"this"},"prop":"p"}'),
    ('{"kind":"patch","model":"m","field":"f","value":["event"]}', '{"kind":"patch","model":"m","field":"f","value":{"expr":"event"}}'),
    ('{"kind":"emit","event":"e","detail":{"expr":"lit","value":1e2}}', '{"kind":"emit","event":"e","detail":{"expr":"lit","value":100.0}}'),
])
def test_action_forms_read(action, written):
    assert canonical(events(action)) == events(written)


E = len('{"tag":"a","events":{"click":')
E_END = len(events("{}"))  # just past the `}` of the events object when the action is `{}`

ACTION_NAMES = "expected one of `set`, `toggle`, `set-field`, `toggle-field`, `seq`, `emit`, `patch`, `if`, `call`, `js`"
EXPR_NAMES = "expected one of `lit`, `event`, `not`, `prop`, `field`, `obj`, `concat`"


@pytest.mark.parametrize("action, message, column", [
    # a handler's own tag problems are placed just after the tag value, a bracket in front of it
    ('{"kind":"SET"}', f"unknown variant `SET`, {ACTION_NAMES}", E + 13),
    ('{"x":1,"kind":"nope" }', f"unknown variant `nope`, {ACTION_NAMES}", E + 20),
    ('{"kind":true}', "invalid type: boolean `true`, expected variant identifier", E + 12),
    ('{"kind":-1}', "invalid type: integer `-1`, expected variant identifier", E + 10),
    ('{"kind":[1]}', "invalid type: sequence, expected variant identifier", E + 8),
    ('["bogus"]', f"unknown variant `bogus`, {ACTION_NAMES}", E + 8),
    ('{"kind":"js","kind":"js"}', "duplicate field `kind`", E + 19),
    # a missing or too large tag just past the handler's own closing bracket
    ('{"event":"x"}', "missing field `kind`", E + 13),
    ("[]", "missing field `kind`", E + 2),
    ('{"kind":10}', "invalid value: integer `10`, expected variant index 0 <= i < 10", E + 11),
    # a handler that is a scalar just after it
    ('"js"', 'invalid type: string "js", expected internally tagged enum Action', E + 4),
    ("null", "invalid type: null, expected internally tagged enum Action", E + 4),
    # everything else is placed by the events object, after its closing brace
    ('{"kind":"emit"}', "missing field `event`", None),
    ('{"kind":"emit","event":"a","event":"b"}', "duplicate field `event`", None),
    ('{"kind":"emit","event":5}', "invalid type: integer `5`, expected a string", None),
    ('["js","h","x"]', "invalid length 2, expected 1 element in sequence", None),
    ('["emit","x"]', "invalid length 1, expected struct variant Action::Emit with 2 elements", None),
    ('["call","GET"]', "invalid length 1, expected struct variant Action::CallEndpoint with 4 elements", None),
    ('{"kind":"if","cond":{"expr":"event"},"then":null}', "invalid type: null, expected internally tagged enum Action", None),
    ('{"kind":"seq","actions":[{"kind":"js","handler":"h"},"x"]}', 'invalid type: string "x", expected internally tagged enum Action', None),
    ('{"kind":"seq","actions":{}}', "invalid type: map, expected a sequence", None),
    ('{"kind":"seq","actions":[{"kind":"SET"}]}', f"unknown variant `SET`, {ACTION_NAMES}", None),
    ('{"kind":"seq","actions":[{"kind":"js","handler":"h","kind":"js"}]}', "duplicate field `kind`", None),
    ('{"kind":"set-field","field":"f","value":{"expr":true}}', "invalid type: boolean `true`, expected variant identifier", None),
    ('{"kind":"set-field","field":"f","value":{"expr":7}}', "invalid value: integer `7`, expected variant index 0 <= i < 7", None),
    ('{"kind":"set-field","field":"f","value":{"expr":"Lit"}}', f"unknown variant `Lit`, {EXPR_NAMES}", None),
    ('{"kind":"set-field","field":"f","value":{"expr":"lit"}}', "missing field `value`", None),
    ('{"kind":"set-field","field":"f","value":["lit"]}', "invalid length 0, expected struct variant Expr::Lit with 1 element", None),
    ('{"kind":"set-field","field":"f","value":["event",1]}', "invalid length 1, expected 0 elements in sequence", None),
    ('{"kind":"set-field","field":"f","value":{"expr":"obj","fields":[]}}', "invalid type: sequence, expected a map", None),
    ('{"kind":"toggle","target":{"ref":"them"},"prop":"p"}', "unknown variant `them`, expected `this` or `id`", None),
    ('{"kind":"toggle","target":["this",1],"prop":"p"}', "invalid length 1, expected 0 elements in sequence", None),
    ('{"kind":"toggle","target":{"ref":"id"},"prop":"p"}', "missing field `id`", None),
    ('{"kind":"toggle","target":{"ref":2},"prop":"p"}', "invalid value: integer `2`, expected variant index 0 <= i < 2", None),
    ('{"kind":"call","method":"GET","url":5,"body":null,"result":null}', "data did not match any variant of untagged enum EndpointUrl", None),
    ('{"kind":"call","method":"GET","url":{"expr":"nope"},"body":null,"result":null}', "data did not match any variant of untagged enum EndpointUrl", None),
    # JSON syntax keeps its own position, even inside a value that is read whole
    ('{"kind":"js","handler":"h","x":01}', "invalid number", E + 33),
    ('{"kind":"js","handler":"h","x":1e999}', "number out of range", E + 36),
])
def test_action_errors(action, message, column):
    text = events(action)
    if column is None:
        column = len(text) - 1  # placed by the events object, just past its closing brace
    assert read_error(text) == f"{message} at line 1 column {column}"


def test_action_error_placed_by_the_events_object_skips_whitespace_first():
    text = '{"tag":"a","events":{"click":{"kind":"emit"} \n } }'
    assert read_error(text) == "missing field `event` at line 2 column 2"
    head = '{"tag":"a","events":{"click":{"kind":"emit"}'
    assert read_error(head + ', "x":{}}}') == f"missing field `event` at line 1 column {len(head)}"
