"""The tree diff: the operations it emits, their order, and its determinism."""

import json
import random

import pytest
import velmor

import trees


def kids(*children: str, slot: str = "s") -> str:
    """A root `ul` whose slot holds children given as "key" (keyed li) or "=tag" (unkeyed)."""
    nodes = []
    for child in children:
        if child.startswith("="):
            nodes.append({"tag": child[1:]})
        else:
            nodes.append({"tag": "li", "key": child})
    return json.dumps({"tag": "ul", "slots": {slot: nodes}})


def ops(old: str, new: str) -> list:
    return json.loads(velmor.diff(old, new))["ops"]


def op(variant: str, **fields) -> dict:
    return {variant: {"path": fields.pop("path", []), **fields}}


LI = {"tag": "li"}


@pytest.mark.parametrize("old, new, expected", [
    # keyed: one move carries c to the front, then the children are compared in place
    (kids("a", "b", "c"), kids("c", "a", "b"), [op("MoveChild", slot="s", **{"from": 2, "to": 0})]),
    (kids("a", "b", "c"), kids("b", "c", "a"),
     [op("MoveChild", slot="s", **{"from": 1, "to": 0}), op("MoveChild", slot="s", **{"from": 2, "to": 1})]),
    # removals from the end first, then placement; inserting past the end of the working list
    (kids("a", "b", "c"), kids("c", "d"),
     [op("RemoveChild", slot="s", index=1), op("RemoveChild", slot="s", index=0),
      op("InsertChild", slot="s", index=1, node={"tag": "li", "key": "d"})]),
    (kids("a"), kids("a", "b", "c"),
     [op("InsertChild", slot="s", index=1, node={"tag": "li", "key": "b"}),
      op("InsertChild", slot="s", index=2, node={"tag": "li", "key": "c"})]),
    (kids("a", "b"), kids("x", "a", "y", "b", "z"),
     [op("InsertChild", slot="s", index=0, node={"tag": "li", "key": "x"}),
      op("InsertChild", slot="s", index=2, node={"tag": "li", "key": "y"}),
      op("InsertChild", slot="s", index=4, node={"tag": "li", "key": "z"})]),
    # a key repeated in the new list is inserted as a new child each later time
    (kids("a"), kids("a", "a"), [op("InsertChild", slot="s", index=1, node={"tag": "li", "key": "a"})]),
    # a key repeated in the old list: the surplus children are removed after placement
    (kids("a", "a", "b"), kids("a", "b"),
     [op("MoveChild", slot="s", **{"from": 2, "to": 1}), op("RemoveChild", slot="s", index=2)]),
    (kids("a", "a", "a"), kids("a"), [op("RemoveChild", slot="s", index=2), op("RemoveChild", slot="s", index=1)]),
    # one unkeyed child switches the whole slot to positions
    (kids("a", "b", "=p"), kids("b", "a", "=p"),
     [op("SetKey", path=[{"slot": "s", "index": 0}], key="b"), op("SetKey", path=[{"slot": "s", "index": 1}], key="a")]),
    # positional: descents, then removals from the end, or insertions
    (kids("=p", "=q", "=r"), json.dumps({"tag": "ul", "slots": {"s": [{"tag": "p", "props": {"x": "Null"}}, {"tag": "s"}]}}),
     [op("SetProp", path=[{"slot": "s", "index": 0}], name="x", value="Null"),
      op("Replace", path=[{"slot": "s", "index": 1}], node={"tag": "s"}),
      op("RemoveChild", slot="s", index=2)]),
    (kids("=p"), kids("=p", "=q", "=r"),
     [op("InsertChild", slot="s", index=1, node={"tag": "q"}), op("InsertChild", slot="s", index=2, node={"tag": "r"})]),
    # slots present on one side only; empty and absent slots are the same
    ('{"tag":"ul"}', kids("a", "=b"),
     [op("InsertChild", slot="s", index=0, node={"tag": "li", "key": "a"}), op("InsertChild", slot="s", index=1, node={"tag": "b"})]),
    (kids("a", "=b"), '{"tag":"ul"}', [op("RemoveChild", slot="s", index=1), op("RemoveChild", slot="s", index=0)]),
    ('{"tag":"ul","slots":{"s":[]}}', '{"tag":"ul"}', []),
    ('{"tag":"ul"}', '{"tag":"ul","slots":{"s":[]}}', []),
])
def test_children(old, new, expected):
    assert ops(old, new) == expected


def test_descent_follows_final_positions():
    old = json.dumps({"tag": "ul", "slots": {"s": [
        {"tag": "li", "key": "a", "props": {"v": {"Int": 1}}},
        {"tag": "li", "key": "b", "props": {"v": {"Int": 2}}},
        {"tag": "li", "key": "c", "props": {"v": {"Int": 3}}}]}})
    new = json.dumps({"tag": "ul", "slots": {"s": [
        {"tag": "li", "key": "c", "props": {"v": {"Int": 30}}},
        {"tag": "li", "key": "a", "props": {"v": {"Int": 10}}},
        {"tag": "li", "key": "b", "props": {"v": {"Int": 2}}}]}})
    at = lambda i: [{"slot": "s", "index": i}]  # noqa: E731
    assert ops(old, new) == [
        op("MoveChild", slot="s", **{"from": 2, "to": 0}),
        op("SetProp", path=at(0), name="v", value={"Int": 30}),
        op("SetProp", path=at(1), name="v", value={"Int": 10}),
    ]


def test_node_operations_come_in_a_fixed_order():
    old = {"tag": "div", "key": "a", "props": {"x": {"Int": 1}, "y": {"Int": 2}},
           "events": {"click": {"kind": "js", "handler": "a"}, "gone": {"kind": "js", "handler": "g"}},
           "bindings": {"v": {"mode": "one-way"}, "w": {"mode": "one-way"}},
           "slots": {"b": [{"tag": "x"}], "a": [{"tag": "x"}]}}
    new = {"tag": "div", "props": {"x": {"Float": 1.0}, "z": "Null"},
           "events": {"click": {"kind": "js", "handler": "b"}},
           "bindings": {"v": {"mode": "two-way"}},
           "slots": {"b": [{"tag": "y"}], "a": [{"tag": "y"}]}}
    assert ops(json.dumps(old), json.dumps(new)) == [
        op("SetKey", key=None),
        op("SetProp", name="x", value={"Float": 1.0}),
        op("SetProp", name="z", value="Null"),
        op("RemoveProp", name="y"),
        op("SetEvent", name="click", action={"kind": "js", "handler": "b"}),
        op("RemoveEvent", name="gone"),
        op("SetBinding", name="v", binding={"mode": "two-way"}),
        op("RemoveBinding", name="w"),
        op("Replace", path=[{"slot": "a", "index": 0}], node={"tag": "y"}),
        op("Replace", path=[{"slot": "b", "index": 0}], node={"tag": "y"}),
    ]


@pytest.mark.parametrize("old, new, expected", [
    ('{"tag":"a"}', '{"tag":"a"}', '{"ops":[]}'),
    ('{"tag":"a","props":{"x":"Null","y":{"Int":1}}}', ' { "props" : { "y" : {"Int":1}, "x":"Null" } , "tag" : "a" } ', '{"ops":[]}'),
    ('{"tag":"a","slots":{"s":[{"tag":"b"}]}}', '{"tag":"b","key":"k","slots":{"s":[{"tag":"c"}]}}',
     '{"ops":[{"Replace":{"path":[],"node":{"tag":"b","key":"k","slots":{"s":[{"tag":"c"}]}}}}]}'),
    ('{"tag":"a","key":"a"}', '{"tag":"a","key":"b"}', '{"ops":[{"SetKey":{"path":[],"key":"b"}}]}'),
    ('{"tag":"a","key":"a"}', '{"tag":"a"}', '{"ops":[{"SetKey":{"path":[],"key":null}}]}'),
    ('{"tag":"a"}', '{"tag":"a","key":""}', '{"ops":[{"SetKey":{"path":[],"key":""}}]}'),
    ('{"tag":"a","props":{"x":{"Float":0.0}}}', '{"tag":"a","props":{"x":{"Float":-0.0}}}', '{"ops":[]}'),
    ('{"tag":"a","props":{"x":{"Int":1}}}', '{"tag":"a","props":{"x":{"Float":1.0}}}',
     '{"ops":[{"SetProp":{"path":[],"name":"x","value":{"Float":1.0}}}]}'),
    ('{"tag":"a","props":{"x":{"List":[{"Int":1}]}}}', '{"tag":"a","props":{"x":{"List":[{"Int":1},"Null"]}}}',
     '{"ops":[{"SetProp":{"path":[],"name":"x","value":{"List":[{"Int":1},"Null"]}}}]}'),
    ('{"tag":"a","props":{"x":{"Map":{"k":{"Str":"v"}}}}}', '{"tag":"a","props":{"x":{"Map":{"k":{"Str":"w"}}}}}',
     '{"ops":[{"SetProp":{"path":[],"name":"x","value":{"Map":{"k":{"Str":"w"}}}}}]}'),
    ('{"tag":"a","bindings":{"v":{"mode":"one-way","compute":1}}}', '{"tag":"a","bindings":{"v":{"mode":"one-way","compute":1.0}}}',
     '{"ops":[{"SetBinding":{"path":[],"name":"v","binding":{"compute":1.0,"mode":"one-way"}}}]}'),
    ('{"tag":"a","bindings":{"v":{"mode":"one-way","compute":{"a":1,"b":2}}}}', '{"tag":"a","bindings":{"v":{"compute":{"b":2,"a":1},"mode":"one-way"}}}',
     '{"ops":[]}'),
    ('{"tag":"a","events":{"e":{"kind":"set-field","field":"f","value":{"expr":"lit","value":1}}}}',
     '{"tag":"a","events":{"e":{"kind":"set-field","field":"f","value":{"expr":"lit","value":1.0}}}}',
     '{"ops":[{"SetEvent":{"path":[],"name":"e","action":{"kind":"set-field","field":"f","value":{"expr":"lit","value":1.0}}}}]}'),
    ('{"tag":"a","events":{"e":{"kind":"emit","event":"x"}}}', '{"tag":"a","events":{"e":["emit","x",null]}}', '{"ops":[]}'),
    ('{"tag":"a","events":{"e":{"kind":"call","method":"GET","url":"/u"}}}',
     '{"tag":"a","events":{"e":{"kind":"call","method":"GET","url":{"expr":"lit","value":"/u"}}}}',
     '{"ops":[{"SetEvent":{"path":[],"name":"e","action":{"kind":"call","method":"GET","url":{"expr":"lit","value":"/u"},"body":null,"result":null}}}]}'),
])
def test_patch_texts(old, new, expected):
    assert velmor.diff(old, new) == expected


_PAIR = '{"tag":"ul","slots":{"s":[{"tag":"li","key":"a","props":{"x":{"Int":1}}},{"tag":"li","key":"b","props":{"x":{"Str":"v"}}}]}}'


# Subtrees read from equal texts are passed over whole: a difference in a child's last byte still
# shows, and so does one after the child's own text; texts that differ in form only give nothing.
@pytest.mark.parametrize("new, expected", [
    (_PAIR.replace('"v"', '"w"'), '{"ops":[{"SetProp":{"path":[{"slot":"s","index":1}],"name":"x","value":{"Str":"w"}}}]}'),
    (_PAIR.replace('{"Int":1}', '{"Int":10}'), '{"ops":[{"SetProp":{"path":[{"slot":"s","index":0}],"name":"x","value":{"Int":10}}}]}'),
    (_PAIR.replace('{"Int":1}}}', '{"Int":1}} }'), '{"ops":[]}'),
    (_PAIR.replace('{"tag":"li","key":"a","props":{"x":{"Int":1}}}', '["li","a",{"x":{"Int":1}}]'), '{"ops":[]}'),
    ('{"tag":"ul","slots":{"s":[{"tag":"li","key":"b","props":{"x":{"Str":"v"}}},{"tag":"li","key":"a","props":{"x":{"Int":1}}}]}}',
     '{"ops":[{"MoveChild":{"path":[],"slot":"s","from":1,"to":0}}]}'),
    (_PAIR.replace('{"Str":"v"}}}', '{"Str":"v"}},"slots":{"t":[{"tag":"i"}]}}'),
     '{"ops":[{"InsertChild":{"path":[{"slot":"s","index":1}],"slot":"t","index":0,"node":{"tag":"i"}}}]}'),
])
def test_unchanged_subtrees(new, expected):
    assert velmor.diff(_PAIR, new) == expected
    assert velmor.apply(_PAIR, expected) == velmor.apply(new, '{"ops":[]}')


def _compute(value):
    return '{"tag":"a","bindings":{"v":{"compute":%s,"mode":"one-way"}}}' % value


# compute values are equal by value: same kind, floats by IEEE equality, objects whatever the
# order and repetition of their members on input
@pytest.mark.parametrize("old, new, equal", [
    ('[0.0,{"z":[-0.0]}]', '[-0.0,{"z":[0.0]}]', True),
    ('[0.0,1]', '[-0.0,2]', False),
    ('"-0.0"', '"0.0"', False),
    ('{"a":1,"a":2}', '{"a":2}', True),
    ('{"a":1,"a":2}', '{"a":1}', False),
    ('{"b":{"d":1,"c":[]},"\\u0061":"\\n"}', '{"a":"\\u000a","b":{"c":[],"d":1}}', True),
    ('1e2', '100.0', True),
    ('100', '100.0', False),
    ('-1', '18446744073709551615', False),
    ('{"x":-0.0}', '{"x":-0.0,"y":0}', False),
    ('[-0.0]', '[-0.0]', True),
])
def test_compute_equality(old, new, equal):
    ops = velmor.diff(_compute(old), _compute(new))
    if equal:
        assert ops == '{"ops":[]}'
    else:
        written = velmor.apply(_compute(new), '{"ops":[]}')
        binding = written[len('{"tag":"a","bindings":{"v":'):-2]
        assert ops == '{"ops":[{"SetBinding":{"path":[],"name":"v","binding":%s}}]}' % binding


def test_nested_paths_carry_every_step():
    old = '{"tag":"a","slots":{"x":[{"tag":"b"},{"tag":"b","slots":{"y":[{"tag":"c"}]}}]}}'
    new = '{"tag":"a","slots":{"x":[{"tag":"b"},{"tag":"b","slots":{"y":[{"tag":"c","key":"k"}]}}]}}'
    assert velmor.diff(old, new) == (
        '{"ops":[{"SetKey":{"path":[{"slot":"x","index":1},{"slot":"y","index":0}],"key":"k"}}]}')


def test_errors_come_from_old_before_new():
    with pytest.raises(ValueError, match=r"^expected value at line 1 column 1$"):
        velmor.diff("x", "y y")
    with pytest.raises(ValueError, match=r"^trailing characters at line 1 column 13$"):
        velmor.diff('{"tag":"a"}', '{"tag":"b"} y')


def test_random_pairs_give_deterministic_patches():
    rnd = random.Random(20261209)
    for _ in range(400):
        old = trees.random_tree(rnd)
        new = trees.mutate(rnd, old, repeat_keys=rnd.random() < 0.2, empty_slots=rnd.random() < 0.3)
        patch = velmor.diff(trees.dumps(old), trees.dumps(new))
        # the same trees written differently give the same bytes
        assert velmor.diff(trees.dumps(old, rnd), trees.dumps(new, rnd)) == patch
        assert velmor.diff(trees.dumps(new), trees.dumps(new, rnd)) == '{"ops":[]}'
        assert velmor.diff(trees.dumps(old, rnd), trees.dumps(old)) == '{"ops":[]}'


def test_large_keyed_reversal_stays_fast():
    # a reversal is the worst case of the linear placement search: n moves, each found at the end
    n = 3000
    old = kids(*[f"k{i}" for i in range(n)])
    new = kids(*[f"k{i}" for i in reversed(range(n))])
    patch = ops(old, new)
    assert len(patch) == n - 1
    assert patch[0] == op("MoveChild", slot="s", **{"from": n - 1, "to": 0})


def _prefix_keys() -> list[str]:
    """Keys sharing prefixes of every length up to past two words, then differing in the next
    byte (below and above it, and above 0x7f) or ending there; in byte order."""
    base = "abcdefghijklmnopqrs"
    keys = set()
    for n in range(1, len(base) + 1):
        keys.add(base[:n])
        for c in ("0", "z", "\x7f", "\u00e9"):
            keys.add(base[:n - 1] + c)
            keys.add(base[:n] + c + base[n:])
    return sorted(keys, key=lambda k: k.encode())


def test_keys_with_long_common_prefixes_keep_byte_order():
    keys = _prefix_keys()
    rnd = random.Random(7)
    for _ in range(20):
        old_keys = rnd.sample(keys, len(keys) // 2)
        new_keys = rnd.sample(keys, len(keys) // 2)
        old = {"tag": "a", "props": {k: {"Int": 0} for k in old_keys}}
        new = {"tag": "a", "props": {k: {"Int": 0 if rnd.random() < 0.5 else 1} for k in new_keys}}
        # reading puts the members in byte order
        read = json.loads(velmor.apply(json.dumps(new), '{"ops":[]}'))
        assert list(read["props"]) == sorted(new_keys, key=lambda k: k.encode())
        # sets in byte order for new or changed entries, then removals in byte order
        expected = [op("SetProp", name=k, value=new["props"][k]) for k in keys
                    if k in new["props"] and old["props"].get(k) != new["props"][k]]
        expected += [op("RemoveProp", name=k) for k in keys if k in old["props"] and k not in new["props"]]
        assert ops(json.dumps(old), json.dumps(new)) == expected
        # keyed children with these keys: the patch turns the old list into the new one
        old_list, new_list = kids(*old_keys), kids(*new_keys)
        patched = velmor.apply(old_list, velmor.diff(old_list, new_list))
        assert patched == velmor.apply(new_list, '{"ops":[]}')
        # inserting only the children whose key the old list lacks
        inserted = {o["InsertChild"]["node"]["key"] for o in ops(old_list, new_list) if "InsertChild" in o}
        assert inserted == set(new_keys) - set(old_keys)
