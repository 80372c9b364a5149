"""Realistic component trees for the benchmarks.

A dashboard: a header with keyed navigation links, a grid of keyed cards, each card holding a
title, a chart with list-valued properties, and a table of keyed rows whose cells carry props of
every kind, event handlers with nested actions, and data bindings. `pair(size)` returns the JSON
texts of such a tree of about `size` bytes and of an edited copy with about 1% of its nodes
changed (property edits, inserted, removed and moved rows). Everything is seeded, so the same
arguments always give the same texts.

    python bench/treegen.py 1MB        # prints the sizes and edit counts of one pair
"""

from __future__ import annotations

import copy
import json
import random
import sys

SIZES = {"10KB": 10_000, "1MB": 1_000_000, "10MB": 10_000_000}


def _action(rnd: random.Random, row: str) -> dict:
    pick = rnd.randrange(4)
    if pick == 0:
        return {"kind": "emit", "event": "select", "detail": {"expr": "obj", "fields": {
            "row": {"expr": "lit", "value": row}, "at": {"expr": "event"}}}}
    if pick == 1:
        return {"kind": "seq", "actions": [
            {"kind": "set-field", "field": f"rows.{row}.busy", "value": {"expr": "lit", "value": True}},
            {"kind": "call", "method": "POST", "url": f"/api/rows/{row}/refresh",
             "body": {"expr": "field", "name": f"rows.{row}"}, "result": f"rows.{row}"}]}
    if pick == 2:
        return {"kind": "if", "cond": {"expr": "not", "of": {"expr": "field", "name": "readonly"}},
                "then": {"kind": "toggle", "target": {"ref": "id", "id": f"row-{row}"}, "prop": "expanded"},
                "else": None}
    return {"kind": "set", "target": {"ref": "this"}, "prop": "label", "value": {"expr": "concat", "parts": [
        {"expr": "lit", "value": "Row "}, {"expr": "prop", "target": {"ref": "this"}, "name": "index"}]}}


def _cell(rnd: random.Random, col: int, row: str) -> dict:
    kind = col % 5
    if kind == 0:
        props = {"text": {"Str": f"Item {row} \u2013 {rnd.choice(['alpha', 'beta', 'gamma', 'delta'])}"}}
    elif kind == 1:
        props = {"value": {"Int": rnd.randrange(-10_000, 10_000)}, "align": {"Str": "right"}}
    elif kind == 2:
        props = {"value": {"Float": round(rnd.uniform(-1e4, 1e4), 3)}, "unit": {"Str": "EUR"}}
    elif kind == 3:
        props = {"checked": {"Bool": rnd.random() < 0.5}, "disabled": "Null"}
    else:
        props = {"tags": {"List": [{"Str": t} for t in rnd.sample(["new", "hot", "sale", "eu", "us"], 2)]},
                 "meta": {"Map": {"owner": {"Submodel": rnd.randrange(1, 1 << 40)}, "rank": {"Int": col}}}}
    cell = {"tag": "td", "props": props}
    if kind == 3:
        cell["bindings"] = {"checked": {"field": f"rows.{row}.done", "mode": "two-way"}}
    return cell


def _row(rnd: random.Random, key: str, columns: int) -> dict:
    row = {"tag": "tr", "key": key,
           "props": {"index": {"Int": int(key[1:])}, "selected": {"Bool": False}},
           "slots": {"cells": [_cell(rnd, c, key) for c in range(columns)]},
           "events": {"click": _action(rnd, key)}}
    if rnd.random() < 0.3:
        row["bindings"] = {"hidden": {"compute": {"op": "eq", "args": [f"rows.{key}.state", "archived"]},
                                      "mode": "one-way"}}
    return row


def _card(rnd: random.Random, index: int, rows: int) -> dict:
    key = f"card-{index}"
    return {"tag": "card", "key": key,
            "props": {"title": {"Str": f"Panel {index}"}, "width": {"Int": rnd.choice([1, 2, 3])},
                      "collapsed": {"Bool": False}},
            "slots": {
                "header": [{"tag": "h2", "props": {"text": {"Str": f"Panel {index}"}}},
                           {"tag": "button", "key": "menu", "props": {"icon": {"Str": "more"}},
                            "events": {"click": {"kind": "emit", "event": "menu", "detail": None}}}],
                "body": [
                    {"tag": "chart", "props": {
                        "series": {"List": [{"Float": round(rnd.uniform(0, 100), 2)} for _ in range(24)]},
                        "labels": {"List": [{"Str": f"{h:02d}:00"} for h in range(0, 24, 3)]},
                        "kind": {"Str": rnd.choice(["line", "bar"])}}},
                    {"tag": "table", "props": {"striped": {"Bool": True}},
                     "slots": {"rows": [_row(rnd, f"r{i}", 5) for i in range(rows)]}},
                ]}}


def tree(size: int, seed: int = 1) -> dict:
    """A dashboard whose compact JSON text is about `size` bytes."""
    rnd = random.Random(seed)
    rows = max(2, min(40, size // 20_000))
    card_bytes = len(json.dumps(_card(random.Random(0), 0, rows), separators=(",", ":")))
    cards = max(1, round((size - 600) / card_bytes))
    return {"tag": "app", "props": {"theme": {"Str": "dark"}, "version": {"Submodel": 3}},
            "slots": {
                "header": [{"tag": "nav", "slots": {"links": [
                    {"tag": "a", "key": f"nav-{i}", "props": {"href": {"Str": f"/section/{i}"}}}
                    for i in range(6)]}}],
                "main": [{"tag": "grid", "props": {"columns": {"Int": 3}},
                          "slots": {"cards": [_card(rnd, i, rows) for i in range(cards)]}}]}}


def _count(node: dict) -> int:
    return 1 + sum(_count(c) for children in node.get("slots", {}).values() for c in children)


def edit(old: dict, rate: float = 0.01, seed: int = 2) -> tuple[dict, dict]:
    """An edited copy of `old`: about `rate` of its nodes see an edit (a changed property, or a
    row inserted, removed or moved within its keyed table), and the counts of each kind."""
    rnd = random.Random(seed)
    new = copy.deepcopy(old)
    tables = [card["slots"]["body"][1]["slots"]["rows"] for card in new["slots"]["main"][0]["slots"]["cards"]]
    counts = {"prop": 0, "insert": 0, "remove": 0, "move": 0}
    next_key = 100_000
    for _ in range(max(1, round(_count(old) * rate))):
        rows = rnd.choice(tables)
        pick = rnd.randrange(10)
        if pick < 6 and rows:
            cell = rnd.choice(rnd.choice(rows)["slots"]["cells"])
            name = rnd.choice(sorted(cell["props"]))
            cell["props"][name] = {"Str": f"changed {rnd.randrange(1000)}"}
            counts["prop"] += 1
        elif pick < 8:
            rows.insert(rnd.randrange(len(rows) + 1), _row(rnd, f"r{next_key}", 5))
            next_key += 1
            counts["insert"] += 1
        elif pick < 9 and len(rows) > 1:
            del rows[rnd.randrange(len(rows))]
            counts["remove"] += 1
        elif len(rows) > 1:
            rows.insert(rnd.randrange(len(rows)), rows.pop(rnd.randrange(len(rows))))
            counts["move"] += 1
    return new, counts


def dumps(t: dict) -> str:
    return json.dumps(t, ensure_ascii=False, separators=(",", ":"))


def pair(size: int | str, seed: int = 1) -> tuple[str, str]:
    """JSON texts of a tree of about `size` bytes (or "10KB", "1MB", "10MB") and its edit."""
    if isinstance(size, str):
        size = SIZES[size]
    old = tree(size, seed)
    new, _ = edit(old, seed=seed + 1)
    return dumps(old), dumps(new)


if __name__ == "__main__":
    for arg in sys.argv[1:] or ["10KB", "1MB"]:
        size = SIZES.get(arg) or int(arg)
        old = tree(size)
        new, counts = edit(old)
        print(arg, len(dumps(old)), len(dumps(new)), counts)
