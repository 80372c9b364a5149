"""Event handlers of the usual shape (tag first, known fields once each) are read in one pass;
every other shape is read whole and interpreted. Both ways must give the same records: a
handler written tag first and the same handler with every tag moved to the end (which only the
general way reads) come out identical, and so do handlers with the departures that make the
one-pass reading give up part way."""

from __future__ import annotations

import json
import random

import pytest

import trees
from test_json import canonical, read_error

TAGS = ("kind", "expr", "ref")


def tag_last(v):
    """The same value with the tag of every handler, expression and reference moved to the end."""
    if isinstance(v, list):
        return [tag_last(x) for x in v]
    if isinstance(v, dict):
        items = [(k, tag_last(x)) for k, x in v.items()]
        if any(k in TAGS for k in v):
            items = [kv for kv in items if kv[0] not in TAGS] + [kv for kv in items if kv[0] in TAGS]
        return dict(items)
    return v


def tree_text(events: dict) -> str:
    return json.dumps({"tag": "a", "events": events}, ensure_ascii=False)


@pytest.mark.parametrize("seed", range(40))
def test_both_ways_of_reading_give_the_same_handlers(seed):
    rnd = random.Random(seed)
    events = {f"e{i}": trees.action(rnd, 0, negative_zero=True) for i in range(8)}
    assert canonical(tree_text(events)) == canonical(tree_text(tag_last(events)))


EMIT = '{"kind":"emit","event":"save","detail":%s}'


@pytest.mark.parametrize("handler, same_as", [
    # members the one-pass reading does not expect: read whole, then interpreted
    ('{"kind":"emit","event":"save","extra":[1,{"a":2}]}', '{"kind":"emit","event":"save"}'),
    ('{"kind":"emit","kind2":1,"event":"save"}', '{"kind":"emit","event":"save"}'),
    ('{"kind":"toggle-field","field":"f","field2":null}', '{"kind":"toggle-field","field":"f"}'),
    ('{"kind":"if","cond":{"expr":"event","x":1},"then":{"kind":"js","handler":"h"}}',
     '{"kind":"if","cond":{"expr":"event"},"then":{"kind":"js","handler":"h"},"else":null}'),
    ('{"kind":"seq","actions":[{"kind":"js","handler":"a"},["js","b"]]}',
     '{"kind":"seq","actions":[{"kind":"js","handler":"a"},{"kind":"js","handler":"b"}]}'),
    (EMIT % '{"value":1,"expr":"lit"}', EMIT % '{"expr":"lit","value":1}'),
    (EMIT % '{"expr":"prop","name":"n","target":{"id":"x","ref":"id"}}',
     EMIT % '{"expr":"prop","target":{"ref":"id","id":"x"},"name":"n"}'),
    # escapes in names and values decode to the same text
    ('{"ki\\u006ed":"emit","ev\\u0065nt":"s\\u00e9"}', '{"kind":"emit","event":"s\u00e9"}'),
    ('{"kind":"e\\u006dit","event":"s"}', '{"kind":"emit","event":"s"}'),
    # whitespace anywhere
    (' { "kind" : "call" , "method" : "GET" , "url" : { "expr" : "field" , "name" : "u" } } ',
     '{"kind":"call","method":"GET","url":{"expr":"field","name":"u"},"body":null,"result":null}'),
    # literal objects are canonical: keys sorted, the last of a repeated key kept
    (EMIT % '{"expr":"lit","value":{"b":1,"a":[{"y":1,"x":2}],"b":3}}',
     EMIT % '{"expr":"lit","value":{"a":[{"x":2,"y":1}],"b":3}}'),
    (EMIT % '{"expr":"obj","fields":{"b":{"expr":"event"},"a":{"expr":"field","name":"f"},"b":{"expr":"lit","value":2}}}',
     EMIT % '{"expr":"obj","fields":{"a":{"expr":"field","name":"f"},"b":{"expr":"lit","value":2}}}'),
    (EMIT % '{"expr":"concat","parts":[]}', EMIT % '{"expr":"concat","parts":[]}'),
    ('{"kind":"seq","actions":[]}', '{"kind":"seq","actions":[]}'),
    ('{"kind":"call","method":"GET","url":"/u","body":null,"result":"r"}',
     '{"kind":"call","method":"GET","url":"/u","result":"r"}'),
])
def test_departures_from_the_usual_shape_read_the_same(handler, same_as):
    assert canonical('{"tag":"a","events":{"e":%s}}' % handler) == canonical('{"tag":"a","events":{"e":%s}}' % same_as)


@pytest.mark.parametrize("handler, message", [
    # the one-pass reading gives up; the general reading reports the error where it always has
    ('{"kind":"emit","event":5}', "invalid type: integer `5`, expected a string at line 1 column 51"),
    ('{"kind":"emit"}', "missing field `event` at line 1 column 41"),
    ('{"kind":"emit","event":"a","event":"b"}', "duplicate field `event` at line 1 column 65"),
    ('{"kind":"emit","kind":"emit","event":"a"}', "duplicate field `kind` at line 1 column 46"),
    ('{"kind":"EMIT","event":"a"}', "unknown variant `EMIT`, expected one of `set`, `toggle`, "
     "`set-field`, `toggle-field`, `seq`, `emit`, `patch`, `if`, `call`, `js` at line 1 column 39"),
    ('{"kind":"emit","event":"a","detail":{"expr":"nope"}}',
     "unknown variant `nope`, expected one of `lit`, `event`, `not`, `prop`, `field`, `obj`, `concat` "
     "at line 1 column 78"),
    ('{"kind":"emit","event":"a","detail":{"expr":"lit","value":1e999}}', "number out of range at line 1 column 88"),
    ('{"kind":"emit","event":"a","detail":{"expr":"lit"}}', "missing field `value` at line 1 column 77"),
    ('{"kind":"emit","event":"a" "detail":null}', "expected `,` or `}` at line 1 column 53"),
    ('{"kind":"emit","event":"a\x01"}', "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 51"),
    ('{"kind":"if","cond":{"expr":"event"},"then":null}',
     "invalid type: null, expected internally tagged enum Action at line 1 column 75"),
    ('{"kind":"call","method":"GET","url":5}',
     "data did not match any variant of untagged enum EndpointUrl at line 1 column 64"),
])
def test_errors_are_those_of_the_general_reading(handler, message):
    assert read_error('{"tag":"a","events":{"e":%s}}' % handler) == message
