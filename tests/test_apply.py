"""velmor.apply: the effect of each operation, patches that do not fit the tree, reading errors of
patches, the round trip apply(old, diff(old, new)), and robustness against damaged input."""

from __future__ import annotations

import json
import random
import re

import pytest

import trees
import velmor

EMPTY = '{"ops":[]}'


def patch(*ops) -> str:
    return json.dumps({"ops": list(ops)}, ensure_ascii=False, separators=(",", ":"))


def canonical(tree: str) -> str:
    return velmor.apply(tree, EMPTY)


def seg(slot: str, index: int) -> dict:
    return {"slot": slot, "index": index}


LIST = '{"tag":"ul","slots":{"items":[{"tag":"li","key":"a"},{"tag":"li","key":"b"},{"tag":"li","key":"c"}]}}'


def items(*keys: str, extra: str = "") -> str:
    children = ",".join('{"tag":"li","key":"%s"}' % k for k in keys)
    return '{"tag":"ul","slots":{%s"items":[%s]}}' % (extra, children)


# ---- the operations ---------------------------------------------------------------------------

EFFECTS = [
    pytest.param(
        '{ "slots":{"s":[]}, "props":{"z":"Null","a":{"Float":2}}, "x":[1,{"y":2}], "tag":"div","key":null }',
        [],
        '{"tag":"div","props":{"a":{"Float":2.0},"z":"Null"},"slots":{"s":[]}}',
        id="no-ops-rewrites-canonically",
    ),
    pytest.param(
        LIST,
        [{"Replace": {"path": [], "node": {"tag": "p", "props": {"k": {"Str": "v"}}}}}],
        '{"tag":"p","props":{"k":{"Str":"v"}}}',
        id="replace-root",
    ),
    pytest.param(
        LIST,
        [{"Replace": {"path": [seg("items", 1)], "node": {"tag": "hr"}}}],
        '{"tag":"ul","slots":{"items":[{"tag":"li","key":"a"},{"tag":"hr"},{"tag":"li","key":"c"}]}}',
        id="replace-child",
    ),
    pytest.param(
        '{"tag":"d","props":{"a":"Null","c":"Null"}}',
        [{"SetProp": {"path": [], "name": "b", "value": {"Bool": True}}},
         {"SetProp": {"path": [], "name": "", "value": {"Int": -1}}}],
        '{"tag":"d","props":{"":{"Int":-1},"a":"Null","b":{"Bool":true},"c":"Null"}}',
        id="set-prop-adds-in-key-order",
    ),
    pytest.param(
        '{"tag":"d","props":{"x":{"Str":"old"}}}',
        [{"SetProp": {"path": [], "name": "x", "value": {"Int": 1}}},
         {"SetProp": {"path": [], "name": "x", "value": {"List": [{"Int": 2}]}}}],
        '{"tag":"d","props":{"x":{"List":[{"Int":2}]}}}',
        id="set-prop-twice-keeps-the-later",
    ),
    pytest.param(
        '{"tag":"d","props":{"a":"Null","b":"Null"}}',
        [{"RemoveProp": {"path": [], "name": "a"}}, {"RemoveProp": {"path": [], "name": "zz"}}],
        '{"tag":"d","props":{"b":"Null"}}',
        id="remove-prop-present-and-missing",
    ),
    pytest.param(
        '{"tag":"d","props":{"a":"Null"}}',
        [{"RemoveProp": {"path": [], "name": "a"}}],
        '{"tag":"d"}',
        id="remove-last-prop",
    ),
    pytest.param(
        '{"tag":"d","events":{"x":{"kind":"js","handler":"h"}}}',
        [{"SetEvent": {"path": [], "name": "click", "action": {"field": "open", "kind": "toggle-field"}}},
         {"RemoveEvent": {"path": [], "name": "x"}},
         {"RemoveEvent": {"path": [], "name": "nope"}}],
        '{"tag":"d","events":{"click":{"kind":"toggle-field","field":"open"}}}',
        id="events",
    ),
    pytest.param(
        '{"tag":"d","bindings":{"v":{"mode":"one-way"},"w":{"mode":"one-way"}}}',
        [{"SetBinding": {"path": [], "name": "w", "binding": {"mode": "two-way", "field": "f"}}},
         {"SetBinding": {"path": [], "name": "a", "binding": {"compute": {"b": 1, "a": [1.0]}, "mode": "one-way"}}},
         {"RemoveBinding": {"path": [], "name": "v"}},
         {"RemoveBinding": {"path": [], "name": "nope"}}],
        '{"tag":"d","bindings":{"a":{"compute":{"a":[1.0],"b":1},"mode":"one-way"},'
        '"w":{"field":"f","mode":"two-way"}}}',
        id="bindings",
    ),
    pytest.param('{"tag":"d","key":"a"}', [{"SetKey": {"path": [], "key": "b"}}], '{"tag":"d","key":"b"}',
                 id="set-key-replaces"),
    pytest.param('{"tag":"d","key":"a"}', [{"SetKey": {"path": []}}], '{"tag":"d"}', id="set-key-absent-clears"),
    pytest.param('{"tag":"d","key":"a"}', [{"SetKey": {"path": [], "key": None}}], '{"tag":"d"}',
                 id="set-key-null-clears"),
    pytest.param('{"tag":"d"}', [{"SetKey": {"path": []}}], '{"tag":"d"}', id="set-key-absent-on-keyless"),
    pytest.param(
        '{"tag":"d","slots":{"z":[]}}',
        [{"InsertChild": {"path": [], "slot": "a", "index": 0, "node": {"tag": "x"}}}],
        '{"tag":"d","slots":{"a":[{"tag":"x"}],"z":[]}}',
        id="insert-creates-slot",
    ),
    pytest.param(
        LIST,
        [{"InsertChild": {"path": [], "slot": "items", "index": 3, "node": {"tag": "li", "key": "d"}}},
         {"InsertChild": {"path": [], "slot": "items", "index": 1, "node": {"tag": "li", "key": "n"}}},
         {"InsertChild": {"path": [], "slot": "items", "index": 0, "node": {"tag": "li", "key": "f"}}}],
        items("f", "a", "n", "b", "c", "d"),
        id="insert-append-middle-front",
    ),
    pytest.param(
        '{"tag":"d","slots":{"a":[{"tag":"x"}],"b":[]}}',
        [{"RemoveChild": {"path": [], "slot": "a", "index": 0}}],
        '{"tag":"d","slots":{"b":[]}}',
        id="remove-only-child-removes-slot",
    ),
    pytest.param(
        '{"tag":"d","slots":{"a":[{"tag":"x"}]}}',
        [{"RemoveChild": {"path": [], "slot": "a", "index": 0}}],
        '{"tag":"d"}',
        id="remove-last-slot",
    ),
    pytest.param(LIST, [{"RemoveChild": {"path": [], "slot": "items", "index": 1}}], items("a", "c"),
                 id="remove-middle"),
    pytest.param(
        LIST,
        [{"RemoveChild": {"path": [], "slot": "nope", "index": 5}},
         {"MoveChild": {"path": [], "slot": "nope", "from": 5, "to": 9}}],
        LIST,
        id="remove-and-move-on-missing-slot",
    ),
    pytest.param(LIST, [{"MoveChild": {"path": [], "slot": "items", "from": 0, "to": 2}}], items("b", "c", "a"),
                 id="move-first-to-end"),
    pytest.param(LIST, [{"MoveChild": {"path": [], "slot": "items", "from": 2, "to": 0}}], items("c", "a", "b"),
                 id="move-last-to-front"),
    pytest.param(LIST, [{"MoveChild": {"path": [], "slot": "items", "from": 1, "to": 1}}], LIST, id="move-in-place"),
    pytest.param(
        '{"tag":"ul","slots":{"items":[{"tag":"li","key":"a"}]}}',
        [{"MoveChild": {"path": [], "slot": "items", "from": 0, "to": 0}}],
        '{"tag":"ul","slots":{"items":[{"tag":"li","key":"a"}]}}',
        id="move-only-child-keeps-slot",
    ),
    pytest.param(
        '{"tag":"r","slots":{"s":[{"tag":"a","slots":{"t":[{"tag":"b"},{"tag":"c"}]}}]}}',
        [{"SetProp": {"path": [seg("s", 0), seg("t", 1)], "name": "p", "value": "Null"}},
         {"SetKey": {"path": [seg("s", 0)], "key": "k"}}],
        '{"tag":"r","slots":{"s":[{"tag":"a","key":"k","slots":{"t":[{"tag":"b"},{"tag":"c","props":{"p":"Null"}}]}}]}}',
        id="nested-paths",
    ),
    pytest.param(
        LIST,
        [{"InsertChild": {"path": [], "slot": "items", "index": 0, "node": {"tag": "li", "props": {"a": "Null"}}}},
         {"SetProp": {"path": [seg("items", 0)], "name": "b", "value": "Null"}},
         {"RemoveProp": {"path": [seg("items", 0)], "name": "a"}},
         {"InsertChild": {"path": [seg("items", 0)], "slot": "s", "index": 0, "node": {"tag": "x"}}}],
        '{"tag":"ul","slots":{"items":[{"tag":"li","props":{"b":"Null"},"slots":{"s":[{"tag":"x"}]}},'
        '{"tag":"li","key":"a"},{"tag":"li","key":"b"},{"tag":"li","key":"c"}]}}',
        id="edits-of-an-inserted-child",
    ),
    pytest.param(
        LIST,
        [{"MoveChild": {"path": [], "slot": "items", "from": 2, "to": 0}},
         {"SetProp": {"path": [seg("items", 0)], "name": "moved", "value": {"Bool": True}}},
         {"RemoveChild": {"path": [], "slot": "items", "index": 2}},
         {"MoveChild": {"path": [], "slot": "items", "from": 0, "to": 1}}],
        '{"tag":"ul","slots":{"items":[{"tag":"li","key":"a"},{"tag":"li","key":"c","props":{"moved":{"Bool":true}}}]}}',
        id="later-ops-see-moves-and-removals",
    ),
    pytest.param(
        LIST,
        [{"Replace": {"path": [seg("items", 1)], "node": {"tag": "p", "slots": {"q": [{"tag": "x"}]}}}},
         {"InsertChild": {"path": [seg("items", 1)], "slot": "q", "index": 1, "node": {"tag": "y"}}},
         {"Replace": {"path": [seg("items", 1), seg("q", 0)], "node": {"tag": "z"}}}],
        '{"tag":"ul","slots":{"items":[{"tag":"li","key":"a"},{"tag":"p","slots":{"q":[{"tag":"z"},{"tag":"y"}]}},'
        '{"tag":"li","key":"c"}]}}',
        id="later-ops-see-replacements",
    ),
]


@pytest.mark.parametrize("root, ops, expected", EFFECTS)
def test_operations(root, ops, expected):
    assert velmor.apply(root, patch(*ops)) == expected


@pytest.mark.parametrize("text", [
    pytest.param('{"x":{"deep":[1,{"ops":2}]},"ops":[{"RemoveChild":{"path":[],"slot":"items","index":0}}],"y":null}',
                 id="object-with-extra-members"),
    pytest.param('[[{"RemoveChild":{"path":[],"slot":"items","index":0}}]]', id="array-form"),
    pytest.param('{"ops":[{"RemoveChild":[[],"items",0]}]}', id="op-in-array-form"),
    pytest.param('{"ops":[{"RemoveChild":{"index":0,"slot":"items","extra":[{}],"path":[]}}]}',
                 id="op-members-in-any-order"),
    pytest.param(' \t\r\n{"ops" : [ {"RemoveChild" : {"path":[],"slot":"items","index":0}} ] } \n', id="whitespace"),
])
def test_patch_forms(text):
    assert velmor.apply(LIST, text) == items("b", "c")


def test_path_segments_in_array_form():
    text = '{"ops":[{"SetKey":{"path":[["items",2]],"key":"z"}}]}'
    assert velmor.apply(LIST, text) == items("a", "b", "z")


def test_keyword_arguments():
    p = patch({"RemoveChild": {"path": [], "slot": "items", "index": 2}})
    assert velmor.apply(patch=p, root=LIST) == velmor.apply(LIST, p) == items("a", "b")


def test_surface():
    assert velmor.apply.__text_signature__ == "(root, patch)"
    assert velmor.apply.__doc__ == "Apply a JSON-encoded patch to a JSON-encoded tree, returning the JSON-encoded result."


# ---- patches that do not fit the tree -----------------------------------------------------------

FIT = '{"tag":"r","slots":{"s":[{"tag":"a"},{"tag":"b"}],"e":[]}}'

MISFITS = [
    pytest.param([{"SetProp": {"path": [seg("t", 0)], "name": "n", "value": "Null"}}],
                 "path references an existing slot", id="path-slot-missing"),
    pytest.param([{"SetProp": {"path": [seg("s", 0), seg("s", 0)], "name": "n", "value": "Null"}}],
                 "path references an existing slot", id="path-slot-missing-below"),
    pytest.param([{"RemoveChild": {"path": [seg("x", 0)], "slot": "s", "index": 0}}],
                 "path references an existing slot", id="path-of-a-child-op"),
    pytest.param([{"SetKey": {"path": [seg("s", 2)]}}],
                 "index out of bounds: the len is 2 but the index is 2", id="path-index-past-end"),
    pytest.param([{"Replace": {"path": [seg("e", 0)], "node": {"tag": "x"}}}],
                 "index out of bounds: the len is 0 but the index is 0", id="path-into-empty-slot"),
    pytest.param([{"SetKey": {"path": [seg("s", 18446744073709551615)]}}],
                 "index out of bounds: the len is 2 but the index is 18446744073709551615", id="path-index-huge"),
    pytest.param([{"InsertChild": {"path": [], "slot": "s", "index": 3, "node": {"tag": "x"}}}],
                 "insertion index (is 3) should be <= len (is 2)", id="insert-past-end"),
    pytest.param([{"InsertChild": {"path": [], "slot": "new", "index": 1, "node": {"tag": "x"}}}],
                 "insertion index (is 1) should be <= len (is 0)", id="insert-into-missing-slot"),
    pytest.param([{"InsertChild": {"path": [], "slot": "e", "index": 1, "node": {"tag": "x"}}}],
                 "insertion index (is 1) should be <= len (is 0)", id="insert-into-empty-slot"),
    pytest.param([{"RemoveChild": {"path": [], "slot": "s", "index": 2}}],
                 "removal index (is 2) should be < len (is 2)", id="remove-past-end"),
    pytest.param([{"RemoveChild": {"path": [], "slot": "e", "index": 0}}],
                 "removal index (is 0) should be < len (is 0)", id="remove-from-empty-slot"),
    pytest.param([{"MoveChild": {"path": [], "slot": "s", "from": 2, "to": 0}}],
                 "removal index (is 2) should be < len (is 2)", id="move-from-past-end"),
    pytest.param([{"MoveChild": {"path": [], "slot": "s", "from": 5, "to": 9}}],
                 "removal index (is 5) should be < len (is 2)", id="move-both-past-end"),
    pytest.param([{"MoveChild": {"path": [], "slot": "s", "from": 0, "to": 2}}],
                 "insertion index (is 2) should be <= len (is 1)", id="move-to-past-end"),
    pytest.param([{"MoveChild": {"path": [], "slot": "e", "from": 0, "to": 0}}],
                 "removal index (is 0) should be < len (is 0)", id="move-in-empty-slot"),
    pytest.param([{"RemoveChild": {"path": [], "slot": "s", "index": 1}},
                  {"SetKey": {"path": [seg("s", 1)], "key": "k"}}],
                 "index out of bounds: the len is 1 but the index is 1", id="path-after-removal"),
    pytest.param([{"RemoveChild": {"path": [], "slot": "s", "index": 1}},
                  {"RemoveChild": {"path": [], "slot": "s", "index": 0}},
                  {"SetKey": {"path": [seg("s", 0)], "key": "k"}}],
                 "path references an existing slot", id="path-after-slot-emptied"),
    pytest.param([{"SetProp": {"path": [], "name": "ok", "value": "Null"}},
                  {"InsertChild": {"path": [], "slot": "s", "index": 2, "node": {"tag": "c"}}},
                  {"MoveChild": {"path": [], "slot": "s", "from": 0, "to": 3}}],
                 "insertion index (is 3) should be <= len (is 2)", id="fails-after-good-ops"),
]


@pytest.mark.parametrize("ops, message", MISFITS)
def test_misfits(ops, message):
    with pytest.raises(ValueError) as info:
        velmor.apply(FIT, patch(*ops))
    assert str(info.value) == message


# ---- results that would not read back ----------------------------------------------------------
#
# A result may nest its arrays and objects 127 deep, like any text that reads: a chain of 43 nodes
# (each level below the root opens the slots object, the slot's array and the node's object)
# reaches exactly that at its last node.

def chain(levels: int) -> dict:
    node = {"tag": "c"}
    for _ in range(levels - 1):
        node = {"tag": "c", "slots": {"s": [node]}}
    return node


def chain_text(levels: int, last: str = '{"tag":"c"}') -> str:
    return '{"tag":"c","slots":{"s":[' * (levels - 1) + last + "]}}" * (levels - 1)


def down(steps: int) -> list[dict]:
    return [seg("s", 0)] * steps


def deepening(levels: int) -> list[dict]:
    """Operations that grow the one-node tree {"tag":"c"} into a chain of `levels` nodes, each
    hanging a chain (short enough to sit in a patch) below the deepest node so far."""
    ops, depth = [], 1
    while depth < levels:
        step = min(30, levels - depth)
        ops.append({"InsertChild": {"path": down(depth - 1), "slot": "s", "index": 0, "node": chain(step)}})
        depth += step
    return ops


ONE = '{"tag":"c"}'
C42, C43 = chain_text(42), chain_text(43)

NESTING = [
    pytest.param(ONE, deepening(43), C43, id="deepest-chain"),
    pytest.param(ONE, deepening(44), None, id="chain-one-too-deep"),
    pytest.param(C43, [{"SetKey": {"path": down(42), "key": "k"}}], chain_text(43, '{"tag":"c","key":"k"}'),
                 id="key-at-the-bottom"),
    pytest.param(C43, [{"SetProp": {"path": down(42), "name": "p", "value": "Null"}}], None,
                 id="any-prop-at-the-bottom"),
    pytest.param(C42, [{"SetProp": {"path": down(41), "name": "p", "value": {"List": []}}}],
                 chain_text(42, '{"tag":"c","props":{"p":{"List":[]}}}'), id="prop-just-fits"),
    pytest.param(C42, [{"SetProp": {"path": down(41), "name": "p", "value": {"List": ["Null"]}}}],
                 chain_text(42, '{"tag":"c","props":{"p":{"List":["Null"]}}}'), id="null-adds-no-level"),
    pytest.param(C42, [{"SetProp": {"path": down(41), "name": "p", "value": {"List": [{"Int": 1}]}}}], None,
                 id="prop-one-too-deep"),
    pytest.param(C42, [{"SetBinding": {"path": down(41), "name": "b", "binding": {"compute": [1], "mode": "one-way"}}}],
                 chain_text(42, '{"tag":"c","bindings":{"b":{"compute":[1],"mode":"one-way"}}}'),
                 id="binding-just-fits"),
    pytest.param(C42, [{"SetBinding": {"path": down(41), "name": "b", "binding": {"compute": [[1]], "mode": "one-way"}}}],
                 None, id="binding-one-too-deep"),
    pytest.param(C42, [{"SetEvent": {"path": down(41), "name": "e", "action": {
                     "kind": "emit", "event": "x", "detail": {"expr": "lit", "value": [1]}}}}], None,
                 id="action-one-too-deep"),
    pytest.param(C42, [{"Replace": {"path": down(41), "node": chain(2)}}], C43, id="replace-just-fits"),
    pytest.param(C42, [{"Replace": {"path": down(41), "node": chain(3)}}], None, id="replace-one-too-deep"),
    pytest.param(ONE, deepening(200) + [{"RemoveChild": {"path": [], "slot": "s", "index": 0}}], ONE,
                 id="deep-chain-taken-away"),
    pytest.param(C43, [{"SetProp": {"path": down(42), "name": "p", "value": "Null"}},
                       {"RemoveProp": {"path": down(42), "name": "p"}}], C43, id="deep-prop-taken-away"),
]


@pytest.mark.parametrize("root, ops, expected", NESTING)
def test_results_read_back(root, ops, expected):
    if expected is None:
        with pytest.raises(ValueError) as info:
            velmor.apply(root, patch(*ops))
        assert str(info.value) == "recursion limit exceeded"
    else:
        result = velmor.apply(root, patch(*ops))
        assert result == expected
        assert canonical(result) == result


# ---- reading errors -----------------------------------------------------------------------------

OPS_NAMES = ("`SetProp`, `RemoveProp`, `SetEvent`, `RemoveEvent`, `SetBinding`, `RemoveBinding`, `SetKey`, "
             "`InsertChild`, `RemoveChild`, `MoveChild`, `Replace`")

READING = [
    # the root is read first, and alone when it fails
    pytest.param("x", "also not JSON", "expected value at line 1 column 1", id="root-first"),
    pytest.param('{"tag":"a"} x', EMPTY, "trailing characters at line 1 column 13", id="root-trailing"),
    pytest.param('{"key":"a"}', "[", "missing field `tag` at line 1 column 11", id="root-missing-tag"),
    pytest.param("", EMPTY, "EOF while parsing a value at line 1 column 0", id="root-empty"),
    # the patch record
    pytest.param(LIST, "", "EOF while parsing a value at line 1 column 0", id="patch-empty"),
    pytest.param(LIST, "{}", "missing field `ops` at line 1 column 2", id="missing-ops"),
    pytest.param(LIST, '{"ops":[],\n "ops":[]}', "duplicate field `ops` at line 2 column 6", id="duplicate-ops"),
    pytest.param(LIST, "[]", "invalid length 0, expected struct Patch with 1 element at line 1 column 2",
                 id="empty-array"),
    pytest.param(LIST, "[[],1]", "trailing characters at line 1 column 5", id="array-with-second-element"),
    pytest.param(LIST, "[[],]", "trailing comma at line 1 column 5", id="array-trailing-comma"),
    pytest.param(LIST, '{"ops":[]} x', "trailing characters at line 1 column 12", id="trailing-characters"),
    pytest.param(LIST, '"ops"', 'invalid type: string "ops", expected struct Patch at line 1 column 5',
                 id="string"),
    pytest.param(LIST, "null", "invalid type: null, expected struct Patch at line 1 column 4", id="null"),
    pytest.param(LIST, '{"ops":{}}', "invalid type: map, expected a sequence at line 1 column 7", id="ops-object"),
    pytest.param(LIST, '{"ops":[]', "EOF while parsing an object at line 1 column 9", id="unclosed"),
    # operations
    pytest.param(LIST, '{"ops":["Replace"]}', "invalid type: unit variant, expected struct variant at line 1 column 18",
                 id="unit-variant"),
    pytest.param(LIST, '{"ops":[{"Rename":{}}]}', f"unknown variant `Rename`, expected one of {OPS_NAMES} at line 1 column 17",
                 id="unknown-variant"),
    pytest.param(LIST, '{"ops":[{}]}', "expected value at line 1 column 10", id="empty-op"),
    pytest.param(LIST, '{"ops":[1]}', "expected value at line 1 column 9", id="number-op"),
    pytest.param(LIST, '{"ops":[{"SetKey":{"path":[]} ,"x":1}]}', "expected value at line 1 column 30",
                 id="second-member"),
    pytest.param(LIST, '{"ops":[{"RemoveProp":{"path":[]}}]}', "missing field `name` at line 1 column 33",
                 id="missing-field"),
    pytest.param(LIST, '{"ops":[{"RemoveProp":{"name":"a","path":[],"name":"b"}}]}',
                 "duplicate field `name` at line 1 column 50", id="duplicate-field"),
    pytest.param(LIST, '{"ops":[{"SetProp":[[],"a"]}]}',
                 "invalid length 2, expected struct variant Op::SetProp with 3 elements at line 1 column 27",
                 id="short-array-op"),
    pytest.param(LIST, '{"ops":[{"SetKey":[[]]}]}',
                 "invalid length 1, expected struct variant Op::SetKey with 2 elements at line 1 column 22",
                 id="set-key-array-needs-key"),
    pytest.param(LIST, '{"ops":[{"MoveChild":[[],"s",0,1,2]}]}', "trailing characters at line 1 column 34",
                 id="long-array-op"),
    pytest.param(LIST, '{"ops":[{"RemoveChild":{"path":[],"slot":"s","index":-1}}]}',
                 "invalid value: integer `-1`, expected u64 at line 1 column 55", id="negative-index"),
    pytest.param(LIST, '{"ops":[{"RemoveChild":{"path":[],"slot":"s","index":1.5}}]}',
                 "invalid type: floating point `1.5`, expected u64 at line 1 column 56", id="float-index"),
    pytest.param(LIST, '{"ops":[{"RemoveChild":{"path":[],"slot":"s","index":18446744073709551616}}]}',
                 "invalid type: floating point `1.8446744073709552e+19`, expected u64 at line 1 column 73",
                 id="index-beyond-u64"),
    pytest.param(LIST, '{"ops":[{"RemoveChild":{"path":[],"slot":7,"index":0}}]}',
                 "invalid type: integer `7`, expected a string at line 1 column 42", id="slot-not-string"),
    pytest.param(LIST, '{"ops":[{"SetKey":{"path":[],"key":5}}]}',
                 "invalid type: integer `5`, expected a string at line 1 column 36", id="key-not-string"),
    pytest.param(LIST, '{"ops":[{"InsertChild":{"path":[],"slot":"s","index":0,"node":{"key":"k"}}}]}',
                 "missing field `tag` at line 1 column 73", id="node-missing-tag"),
    pytest.param(LIST, '{"ops":[{"SetProp":{"path":[],"name":"a","value":{"Int":1.5}}}]}',
                 "invalid type: floating point `1.5`, expected i64 at line 1 column 59", id="bad-prop-value"),
    pytest.param(LIST, '{"ops":[{"SetEvent":{"path":[],"name":"a","action":{"kind":"SET"}}}]}',
                 "unknown variant `SET`, expected one of `set`, `toggle`, `set-field`, `toggle-field`, `seq`, "
                 "`emit`, `patch`, `if`, `call`, `js` at line 1 column 64", id="bad-action-tag"),
    pytest.param(LIST, '{"ops":[{"SetBinding":{"path":[],"name":"a","binding":{"mode":"both"}}}]}',
                 "unknown variant `both`, expected `one-way` or `two-way` at line 1 column 68", id="bad-binding-mode"),
    # path segments
    pytest.param(LIST, '{"ops":[{"SetKey":{"path":[["s"]]}}]}',
                 "invalid length 1, expected struct PathSeg with 2 elements at line 1 column 32", id="short-segment"),
    pytest.param(LIST, '{"ops":[{"SetKey":{"path":[{"index":0}]}}]}',
                 "missing field `slot` at line 1 column 38", id="segment-missing-slot"),
    pytest.param(LIST, '{"ops":[{"SetKey":{"path":[["s",0,1]]}}]}', "trailing characters at line 1 column 35",
                 id="long-segment"),
    pytest.param(LIST, '{"ops":[{"SetKey":{"path":{}}}]}', "invalid type: map, expected a sequence at line 1 column 26",
                 id="path-not-array"),
]


@pytest.mark.parametrize("root, text, message", READING)
def test_reading_errors(root, text, message):
    with pytest.raises(ValueError) as info:
        velmor.apply(root, text)
    assert str(info.value) == message


# ---- the round trip apply(old, diff(old, new)) --------------------------------------------------

OP_KINDS = {"SetProp", "RemoveProp", "SetEvent", "RemoveEvent", "SetBinding", "RemoveBinding", "SetKey",
            "InsertChild", "RemoveChild", "MoveChild", "Replace"}


def repeats_a_key(node: dict) -> bool:
    for children in node.get("slots", {}).values():
        keys = [c["key"] for c in children if "key" in c]
        if len(keys) != len(set(keys)) or any(repeats_a_key(c) for c in children):
            return True
    return False


def texts(rnd: random.Random, *values: dict) -> list[str]:
    """JSON texts of trees; for one case in four with member order and spacing scrambled."""
    scramble = rnd if rnd.random() < 0.25 else None
    return [trees.dumps(v, scramble) for v in values]


@pytest.mark.parametrize("seed, repeat_keys", [(1, False), (2, True)])
def test_round_trip(seed, repeat_keys):
    rnd = random.Random(seed)
    seen_ops: set[str] = set()
    deep_replaces = repeated = 0
    for case in range(2000):
        depth = rnd.choice([1, 2, 3, 3, 4])
        old = trees.random_tree(rnd, max_depth=depth)
        if repeat_keys:
            old = trees.mutate(rnd, old, repeat_keys=True, max_depth=depth)
            repeated += repeats_a_key(old)
        new = trees.mutate(rnd, old, repeat_keys=repeat_keys, max_depth=depth)
        old_text, new_text = texts(rnd, old, new)
        p = velmor.diff(old_text, new_text)
        assert velmor.apply(old_text, p) == canonical(new_text), (seed, case)
        for op in json.loads(p)["ops"]:
            (kind, body), = op.items()
            seen_ops.add(kind)
            deep_replaces += kind == "Replace" and len(body["path"]) >= 2
    # the generator reaches every kind of operation, replacements below the top, and repeated keys
    assert seen_ops == OP_KINDS
    assert deep_replaces > 50
    assert repeated > 100 or not repeat_keys


def same(a, b) -> bool:
    """Equality of values in their JSON form as the tree model has it: kinds differ (true is not 1,
    1 is not 1.0), floats compare as IEEE numbers (0.0 equals -0.0)."""
    if type(a) is not type(b):
        return False
    if isinstance(a, dict):
        return a.keys() == b.keys() and all(same(a[k], b[k]) for k in a)
    if isinstance(a, list):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    return a == b


def patched(old: dict, new: dict) -> dict:
    """What applying diff(old, new) to old gives, slot by slot and value by value: a value that
    equals the old one keeps the old (and so its zero signs); an emptied slot goes unless it was
    empty in old already, where it stays even when new lacks it."""
    if old["tag"] != new["tag"]:
        return new
    out = {"tag": new["tag"]}
    if "key" in new:
        out["key"] = new["key"]
    for field in ("props", "events", "bindings"):
        was = old.get(field, {})
        merged = {k: was[k] if k in was and same(was[k], v) else v for k, v in new.get(field, {}).items()}
        if merged:
            out[field] = merged
    old_slots, new_slots = old.get("slots", {}), new.get("slots", {})
    slots = {}
    for name in old_slots.keys() | new_slots.keys():
        before, after = old_slots.get(name, []), new_slots.get(name, [])
        if after:
            slots[name] = reconciled(before, after)
        elif name in old_slots and not before:
            slots[name] = []
    if slots:
        out["slots"] = slots
    return out


def reconciled(before: list, after: list) -> list:
    if not all("key" in c for c in before + after):
        return [patched(o, n) for o, n in zip(before, after)] + after[len(before):]
    wanted = {c["key"] for c in after}
    work = [c for c in before if c["key"] in wanted]
    result = []
    for j, n in enumerate(after):
        p = next((p for p in range(j, len(work)) if work[p]["key"] == n["key"]), None)
        if p is None:
            work.insert(j, None)
            result.append(n)
        else:
            work.insert(j, work.pop(p))
            result.append(patched(work[j], n))
    return result


def test_round_trip_keeps_empty_slots_and_zero_signs():
    rnd = random.Random(3)
    differs = 0
    for case in range(2000):
        options = {"empty_slots": True, "negative_zero": True, "max_depth": rnd.choice([1, 2, 3, 3, 4])}
        old = trees.random_tree(rnd, **options)
        new = trees.mutate(rnd, old, repeat_keys=case % 2 == 1, **options)
        old_text, new_text = texts(rnd, old, new)
        expected = canonical(trees.dumps(patched(old, new)))
        assert velmor.apply(old_text, velmor.diff(old_text, new_text)) == expected, case
        differs += expected != canonical(new_text)
    assert differs > 200  # the exceptions are really exercised


ROUND_TRIP_EXCEPTIONS = [
    pytest.param('{"tag":"a","slots":{"s":[{"tag":"x"}]}}', '{"tag":"a","slots":{"s":[]}}', '{"tag":"a"}',
                 id="emptied-slot-goes"),
    pytest.param('{"tag":"a"}', '{"tag":"a","slots":{"s":[]}}', '{"tag":"a"}', id="new-empty-slot-not-created"),
    pytest.param('{"tag":"a","slots":{"s":[]}}', '{"tag":"a","slots":{"s":[]}}', '{"tag":"a","slots":{"s":[]}}',
                 id="empty-slot-on-both-sides-stays"),
    pytest.param('{"tag":"a","slots":{"s":[]}}', '{"tag":"a"}', '{"tag":"a","slots":{"s":[]}}',
                 id="old-empty-slot-stays"),
    pytest.param('{"tag":"a","slots":{"s":[]}}', '{"tag":"b","slots":{"s":[]}}', '{"tag":"b","slots":{"s":[]}}',
                 id="replaced-node-is-new"),
    pytest.param('{"tag":"a","props":{"f":{"Float":0.0},"l":{"List":[{"Float":-0.0},{"Int":1}]}}}',
                 '{"tag":"a","props":{"f":{"Float":-0.0},"l":{"List":[{"Float":0.0},{"Int":1}]}}}',
                 '{"tag":"a","props":{"f":{"Float":0.0},"l":{"List":[{"Float":-0.0},{"Int":1}]}}}',
                 id="prop-zero-keeps-old-sign"),
    pytest.param('{"tag":"a","props":{"l":{"List":[{"Float":-0.0},{"Int":1}]}}}',
                 '{"tag":"a","props":{"l":{"List":[{"Float":0.0},{"Int":2}]}}}',
                 '{"tag":"a","props":{"l":{"List":[{"Float":0.0},{"Int":2}]}}}',
                 id="changed-prop-takes-new-sign"),
    pytest.param('{"tag":"a","bindings":{"b":{"compute":[-0.0],"mode":"one-way"}}}',
                 '{"tag":"a","bindings":{"b":{"compute":[0.0],"mode":"one-way"}}}',
                 '{"tag":"a","bindings":{"b":{"compute":[-0.0],"mode":"one-way"}}}',
                 id="binding-zero-keeps-old-sign"),
    pytest.param('{"tag":"a","events":{"e":{"kind":"set-field","field":"f","value":{"expr":"lit","value":0.0}}}}',
                 '{"tag":"a","events":{"e":{"kind":"set-field","field":"f","value":{"expr":"lit","value":-0.0}}}}',
                 '{"tag":"a","events":{"e":{"kind":"set-field","field":"f","value":{"expr":"lit","value":0.0}}}}',
                 id="action-zero-keeps-old-sign"),
]


@pytest.mark.parametrize("old, new, result", ROUND_TRIP_EXCEPTIONS)
def test_round_trip_exceptions(old, new, result):
    assert velmor.apply(old, velmor.diff(old, new)) == result


def test_round_trip_with_repeated_old_keys():
    old = items("a", "b", "a", "c", "a", extra='"z":[],')
    new = items("c", "a")
    assert velmor.apply(old, velmor.diff(old, new)) == (
        '{"tag":"ul","slots":{"items":[{"tag":"li","key":"c"},{"tag":"li","key":"a"}],"z":[]}}')


# ---- damaged input ------------------------------------------------------------------------------

TOKENS = ["{", "}", "[", "]", '"', ",", ":", "null", "true", "0", "-", "1e", "1e999", '"ops"', '"slot"',
          '"index"', '{"tag":"x"}', "\\", "\\u", "\\ud800", "é", " ", "\n", '"Replace"', '{"Null":null}',
          "[[[[", "}}}}", "\x00", "\x7f", "\U0001f600"]
NUMBERS = ["0", "1", "2", "3", "7", "99", "18446744073709551615", "18446744073709551616", "-1", "1.5", "-0", "1e2"]


def damage(rnd: random.Random, text: str) -> str:
    pick = rnd.randrange(7)
    i = rnd.randrange(len(text) + 1)
    j = min(len(text), i + rnd.randrange(1, 9))
    if pick == 0:
        return text[:i] + text[j:]
    if pick == 1:
        return text[:i] + rnd.choice(TOKENS) + text[i:]
    if pick == 2:
        return text[:i] + rnd.choice(TOKENS) + text[j:]
    if pick == 3:
        return text[:j] + text[i:]
    if pick == 4:
        return text[:i]
    numbers = list(re.finditer(r"-?\d+(\.\d+)?", text))
    if not numbers:
        return text
    m = rnd.choice(numbers)
    return text[:m.start()] + rnd.choice(NUMBERS) + text[m.end():]


def shuffled_ops(rnd: random.Random, text: str) -> str:
    """A patch with well-formed operations in a wrong order, some repeated or dropped: it reads,
    and mostly does not fit."""
    ops = json.loads(text)["ops"]
    rnd.shuffle(ops)
    if ops and rnd.random() < 0.5:
        ops.insert(rnd.randrange(len(ops) + 1), rnd.choice(ops))
    if ops and rnd.random() < 0.5:
        del ops[rnd.randrange(len(ops))]
    return patch(*ops)


def test_damaged_input_returns_a_tree_or_raises_value_error():
    rnd = random.Random(4)
    outcomes = {"tree": 0, "misfit": 0, "reading": 0}
    for case in range(3000):
        depth = rnd.choice([1, 2, 3])
        old = trees.random_tree(rnd, max_depth=depth)
        new = trees.mutate(rnd, old, repeat_keys=True, max_depth=depth)
        root, new_text = trees.dumps(old), trees.dumps(new)
        p = velmor.diff(root, new_text)
        pick = rnd.randrange(4)
        if pick == 0:
            root = damage(rnd, root)
        elif pick == 1:
            p = damage(rnd, p)
        elif pick == 2:
            p = shuffled_ops(rnd, p)
        else:
            for _ in range(rnd.randrange(1, 4)):
                p = damage(rnd, p)
            root = damage(rnd, root)
        try:
            result = velmor.apply(root, p)
        except ValueError as e:
            outcomes["reading" if " at line " in str(e) else "misfit"] += 1
            continue
        assert isinstance(result, str)
        # the result holds nothing that the inputs did not bring
        assert len(result.encode()) <= 2 * (len(root.encode()) + len(p.encode())), case
        outcomes["tree"] += 1
    assert min(outcomes.values()) > 200, outcomes
