"""Random component trees for property tests.

`random_tree` builds a tree as Python data (dicts in the JSON form of a node); `mutate` derives a
related tree with the kinds of change a UI goes through: property, event and binding edits, key
changes, tag changes at any depth, keyed reorders, inserts, removals and moves, slots appearing
and disappearing. Options add the cases that need care: `empty_slots` (slots holding `[]`),
`negative_zero` (float zeros of both signs, and `mutate` turning their signs over) and
`repeat_keys` (a key repeated within a keyed list); `max_depth` bounds the levels below the root
(4 by default). Everything is driven by a `random.Random`, so a seed reproduces a case.
"""

from __future__ import annotations

import copy
import json
import random

TAGS = ["div", "span", "row", "cell", "button", "list", "item", "card"]
NAMES = ["a", "b", "title", "value", "size", "é", "z-index", "on", ""]
SLOTS = ["default", "items", "header", "footer", "icon"]


def json_value(rnd: random.Random, depth: int = 0, negative_zero: bool = False):
    kind = rnd.randrange(8 if depth < 3 else 6)
    if kind == 0:
        return None
    if kind == 1:
        return rnd.random() < 0.5
    if kind == 2:
        return rnd.choice([0, 1, -1, 2**63 - 1, -(2**63), 2**64 - 1, rnd.randrange(-1000, 1000)])
    if kind == 3:
        return rnd.choice([0.5, 1.0, -2.25, 1e16, 1e-7, 123.456, 0.1] + ([0.0, -0.0] if negative_zero else []))
    if kind in (4, 5):
        return rnd.choice(["", "x", "hé", 'q"uote', "line\nbreak", "tab\t", "\u0001", "/"])
    if kind == 6:
        return [json_value(rnd, depth + 1, negative_zero) for _ in range(rnd.randrange(3))]
    return {rnd.choice(NAMES): json_value(rnd, depth + 1, negative_zero) for _ in range(rnd.randrange(3))}


def prop_value(rnd: random.Random, depth: int = 0, negative_zero: bool = False):
    kind = rnd.randrange(8 if depth < 2 else 6)
    if kind == 0:
        return "Null"
    if kind == 1:
        return {"Bool": rnd.random() < 0.5}
    if kind == 2:
        return {"Int": rnd.choice([0, 1, -5, 2**63 - 1, -(2**63), rnd.randrange(100)])}
    if kind == 3:
        choices = [0.0, 1.5, -2.0, 1e16, 1e-6, 0.00001, 3.0, 1e300]
        if negative_zero:
            choices.append(-0.0)
        return {"Float": rnd.choice(choices)}
    if kind == 4:
        return {"Str": rnd.choice(["", "a", "b", "héllo", 'say "hi"', "\\", "\u2028"])}
    if kind == 5:
        return {"Submodel": rnd.choice([0, 7, 2**64 - 1])}
    if kind == 6:
        return {"List": [prop_value(rnd, depth + 1, negative_zero) for _ in range(rnd.randrange(3))]}
    return {"Map": {rnd.choice(NAMES): prop_value(rnd, depth + 1, negative_zero) for _ in range(rnd.randrange(3))}}


def ref(rnd: random.Random):
    return {"ref": "this"} if rnd.random() < 0.5 else {"ref": "id", "id": rnd.choice(["title", "x"])}


def expr(rnd: random.Random, depth: int = 0, negative_zero: bool = False):
    kind = rnd.randrange(7 if depth < 2 else 5)
    if kind == 0:
        return {"expr": "lit", "value": json_value(rnd, 1, negative_zero)}
    if kind == 1:
        return {"expr": "event"}
    if kind == 2:
        return {"expr": "field", "name": rnd.choice(NAMES)}
    if kind == 3:
        return {"expr": "prop", "target": ref(rnd), "name": rnd.choice(NAMES)}
    if kind == 4:
        return {"expr": "not", "of": {"expr": "field", "name": "busy"}}
    if kind == 5:
        return {"expr": "obj", "fields": {rnd.choice(NAMES): expr(rnd, depth + 1, negative_zero) for _ in range(2)}}
    return {"expr": "concat", "parts": [expr(rnd, depth + 1, negative_zero) for _ in range(rnd.randrange(3))]}


def action(rnd: random.Random, depth: int = 0, negative_zero: bool = False):
    def e():
        return expr(rnd, 0, negative_zero)

    kind = rnd.randrange(10 if depth < 2 else 8)
    if kind == 0:
        return {"kind": "set", "target": ref(rnd), "prop": "text", "value": e()}
    if kind == 1:
        return {"kind": "toggle", "target": ref(rnd), "prop": "open"}
    if kind == 2:
        return {"kind": "set-field", "field": "f", "value": e()}
    if kind == 3:
        return {"kind": "toggle-field", "field": rnd.choice(NAMES)}
    if kind == 4:
        return {"kind": "emit", "event": "save", "detail": rnd.choice([None, e()])}
    if kind == 5:
        return {"kind": "patch", "model": "m", "field": "f", "value": e()}
    if kind == 6:
        url = rnd.choice(["/items", {"expr": "field", "name": "url"}])
        return {"kind": "call", "method": "POST", "url": url, "body": None, "result": rnd.choice([None, "r"])}
    if kind == 7:
        return {"kind": "js", "handler": rnd.choice(["go", "stop"])}
    if kind == 8:
        return {"kind": "seq", "actions": [action(rnd, depth + 1, negative_zero) for _ in range(rnd.randrange(3))]}
    return {"kind": "if", "cond": e(), "then": action(rnd, depth + 1, negative_zero), "else": rnd.choice([None, action(rnd, depth + 1, negative_zero)])}


def binding(rnd: random.Random, negative_zero: bool = False):
    b = {"mode": rnd.choice(["one-way", "two-way"])}
    if rnd.random() < 0.6:
        b["field"] = rnd.choice(["user.name", "count", ""])
    if rnd.random() < 0.3:
        b["compute"] = json_value(rnd, 1, negative_zero) or 1
    return b


def random_tree(rnd: random.Random, depth: int = 0, *, keyed: float = 0.6, empty_slots: bool = False,
                negative_zero: bool = False, max_depth: int = 4) -> dict:
    node: dict = {"tag": rnd.choice(TAGS)}
    if rnd.random() < 0.3:
        node["props"] = {rnd.choice(NAMES): prop_value(rnd, 0, negative_zero) for _ in range(rnd.randrange(4))}
    if rnd.random() < 0.2:
        node["events"] = {rnd.choice(["click", "input", "change"]): action(rnd, 0, negative_zero)
                          for _ in range(rnd.randrange(3))}
    if rnd.random() < 0.2:
        node["bindings"] = {rnd.choice(["value", "checked"]): binding(rnd, negative_zero) for _ in range(rnd.randrange(3))}
    if depth < max_depth and rnd.random() < 0.7:
        slots = {}
        for name in rnd.sample(SLOTS, rnd.randrange(1, 3)):
            count = rnd.randrange(0 if empty_slots else 1, 6)
            use_keys = rnd.random() < keyed
            children = []
            for i in range(count):
                child = random_tree(rnd, depth + 1, keyed=keyed, empty_slots=empty_slots, negative_zero=negative_zero,
                                    max_depth=max_depth)
                if use_keys:
                    child["key"] = f"k{i}"
                children.append(child)
            slots[name] = children
        node["slots"] = slots
    return node


def flip_zeros(value):
    """`value` with the sign of every float zero in it turned over (0.0 and -0.0 compare equal)."""
    if isinstance(value, float) and value == 0:
        return -value
    if isinstance(value, list):
        return [flip_zeros(v) for v in value]
    if isinstance(value, dict):
        return {k: flip_zeros(v) for k, v in value.items()}
    return value


def mutate(rnd: random.Random, tree: dict, *, rate: float = 0.3, empty_slots: bool = False,
           negative_zero: bool = False, repeat_keys: bool = False, max_depth: int = 4) -> dict:
    """A changed deep copy of `tree`."""
    tree = copy.deepcopy(tree)
    opts = {"empty_slots": empty_slots, "negative_zero": negative_zero, "max_depth": max_depth}

    def visit(node: dict, depth: int) -> dict:
        if rnd.random() < rate * 0.15:
            return random_tree(rnd, depth, **opts) | ({"key": node["key"]} if "key" in node else {})
        if rnd.random() < rate * 0.2:
            node["tag"] = rnd.choice(TAGS)
        if rnd.random() < rate * 0.2:
            if "key" in node and rnd.random() < 0.3:
                del node["key"]
            else:
                node["key"] = rnd.choice(["k0", "k1", "kx", "ky"])
        for field, make in (("props", lambda: prop_value(rnd, 0, negative_zero)),
                            ("events", lambda: action(rnd, 0, negative_zero)),
                            ("bindings", lambda: binding(rnd, negative_zero))):
            if negative_zero and field in node and rnd.random() < rate:
                node[field] = flip_zeros(node[field])
            if rnd.random() < rate:
                entries = node.setdefault(field, {})
                for _ in range(rnd.randrange(1, 3)):
                    name = rnd.choice(NAMES)
                    if name in entries and rnd.random() < 0.5:
                        del entries[name]
                    else:
                        entries[name] = make()
        slots = node.get("slots", {})
        if rnd.random() < rate * 0.3:
            slots.pop(rnd.choice(SLOTS), None)
        if depth < max_depth and rnd.random() < rate * 0.3:
            slots[rnd.choice(SLOTS)] = [random_tree(rnd, depth + 1, **opts) for _ in range(rnd.randrange(0 if empty_slots else 1, 3))]
        for name in list(slots):
            children = [visit(c, depth + 1) for c in slots[name]]
            if rnd.random() < rate:
                rnd.shuffle(children)
            if children and rnd.random() < rate:
                del children[rnd.randrange(len(children))]
            if rnd.random() < rate:
                new = random_tree(rnd, depth + 1, **opts)
                if children and all("key" in c for c in children):
                    new["key"] = f"n{rnd.randrange(1000)}"
                children.insert(rnd.randrange(len(children) + 1), new)
            if repeat_keys and children and rnd.random() < rate and all("key" in c for c in children):
                dup = copy.deepcopy(rnd.choice(children))
                children.insert(rnd.randrange(len(children) + 1), dup)
            if children or empty_slots:
                slots[name] = children
            else:
                del slots[name]
        if slots:
            node["slots"] = slots
        else:
            node.pop("slots", None)
        return node

    return visit(tree, 0)


def dumps(tree: dict, rnd: random.Random | None = None) -> str:
    """JSON text of a tree; with `rnd`, member order and spacing are scrambled."""
    if rnd is None:
        return json.dumps(tree, ensure_ascii=False, separators=(",", ":"))

    def scramble(v):
        if isinstance(v, dict):
            items = list(v.items())
            rnd.shuffle(items)
            return dict((k, scramble(x)) for k, x in items)
        if isinstance(v, list):
            return [scramble(x) for x in v]
        return v

    return json.dumps(scramble(tree), ensure_ascii=rnd.random() < 0.5, indent=rnd.choice([None, 1]))


def damaged(rnd: random.Random, text: str, count: int, tokens: list[str]):
    """`count` damaged copies of `text`: each has one to three edits, a character deleted, one of
    `tokens` inserted or put in a character's place, or the text cut short."""
    for _ in range(count):
        chars = list(text)
        for _ in range(rnd.randrange(1, 4)):
            pos = rnd.randrange(len(chars) + 1)
            pick = rnd.randrange(4)
            if pick == 0 and chars:
                del chars[min(pos, len(chars) - 1)]
            elif pick == 1:
                chars.insert(pos, rnd.choice(tokens))
            elif pick == 2 and chars:
                chars[min(pos, len(chars) - 1)] = rnd.choice(tokens)
            else:
                chars = chars[:pos]
        yield "".join(chars)
