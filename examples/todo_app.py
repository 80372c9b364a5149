"""A small server-driven todo app, end to end.

The server renders its state as a component tree, diffs each render against the one before,
frames the patch in both payload codecs and sends it; a simulated client decodes each frame,
applies the patch to its own copy of the tree and must end up with exactly the server's tree.
Finally the app's component manifest (custom-elements.json beside this file) is turned into
component schemas.

    python examples/todo_app.py

Exits with status 1 if the client's copy ever differs from the server's tree.
"""

from __future__ import annotations

import json
import sys
from dataclasses import dataclass, replace
from pathlib import Path

import velmor

HERE = Path(__file__).resolve().parent
CODECS = ("application/json", "application/msgpack")
MODEL = "todo"
NO_OPS = '{"ops":[]}'


# ---- the application's state and its rendering ---------------------------------------------------

@dataclass(frozen=True)
class Item:
    id: str
    text: str
    done: bool = False
    priority: float = 0.5
    tags: tuple[str, ...] = ()


@dataclass(frozen=True)
class State:
    title: str
    items: tuple[Item, ...] = ()
    filter: str = "all"
    draft: str = ""
    owner: int = 1  # the id of the sub-model holding the owner's profile


def lit(value) -> dict:
    return {"expr": "lit", "value": value}


def render_item(item: Item) -> dict:
    """One keyed row: a checkbox, the text, a priority meter, tags and a delete button."""
    return {
        "tag": "todo-row",
        "key": item.id,
        "props": {
            "done": {"Bool": item.done},
            "priority": {"Float": item.priority},
            "tags": {"List": [{"Str": t} for t in item.tags]},
        },
        "slots": {"default": [
            {"tag": "todo-check", "props": {"checked": {"Bool": item.done}},
             "events": {"change": {"kind": "seq", "actions": [
                 {"kind": "toggle", "target": {"ref": "this"}, "prop": "checked"},
                 {"kind": "patch", "model": MODEL, "field": f"items.{item.id}.done",
                  "value": {"expr": "prop", "target": {"ref": "this"}, "name": "checked"}},
             ]}}},
            {"tag": "todo-text", "props": {"text": {"Str": item.text}, "struck": {"Bool": item.done}}},
            {"tag": "todo-button", "props": {"label": {"Str": "Delete"}, "variant": {"Str": "danger"}},
             "events": {"press": {"kind": "call", "method": "DELETE",
                                  "url": {"expr": "concat", "parts": [lit("/items/"), lit(item.id)]},
                                  "body": None, "result": "items"}}},
        ]},
    }


def visible(state: State) -> list[Item]:
    if state.filter == "active":
        return [i for i in state.items if not i.done]
    if state.filter == "done":
        return [i for i in state.items if i.done]
    return list(state.items)


def render(state: State) -> str:
    left = sum(not i.done for i in state.items)
    tree = {
        "tag": "todo-app",
        "props": {
            "title": {"Str": state.title},
            "owner": {"Submodel": state.owner},
            "theme": {"Map": {"accent": {"Str": "teal"}, "dense": {"Bool": False}}},
            "subtitle": "Null" if not state.items else {"Str": f"{len(state.items)} items"},
        },
        "bindings": {"title": {"field": "title", "mode": "one-way"}},
        "slots": {
            "header": [
                {"tag": "todo-input", "key": "draft",
                 "props": {"placeholder": {"Str": "What needs doing?"}, "maxLength": {"Int": 80}},
                 "bindings": {"value": {"field": "draft", "mode": "two-way"}},
                 "events": {"submit": {
                     "kind": "if", "cond": {"expr": "not", "of": {"expr": "field", "name": "busy"}},
                     "then": {"kind": "call", "method": "POST", "url": "/items",
                              "body": {"expr": "obj", "fields": {"text": {"expr": "event"}}},
                              "result": "items"},
                     "else": {"kind": "emit", "event": "busy", "detail": None}}}},
            ],
            "items": [render_item(i) for i in visible(state)],
            "footer": [
                {"tag": "todo-count", "props": {"left": {"Int": left}}},
                *({"tag": "todo-filter", "key": name,
                   "props": {"label": {"Str": name.title()}, "selected": {"Bool": state.filter == name}},
                   "events": {"press": {"kind": "seq", "actions": [
                       {"kind": "set-field", "field": "filter", "value": lit(name)},
                       {"kind": "patch", "model": MODEL, "field": "filter", "value": lit(name)},
                   ]}},
                   "bindings": {"count": {"compute": {"filter": name, "of": "items"}, "mode": "one-way"}}}
                  for name in ("all", "active", "done")),
            ],
        },
    }
    return json.dumps(tree, ensure_ascii=False)


def states() -> list[tuple[str, State]]:
    """The sequence of states the app goes through, each with what the user did."""
    milk = Item("milk", "Buy milk", tags=("shop",))
    tyres = Item("tyres", "Check the tyres", priority=0.25)
    taxes = Item("taxes", "File taxes", priority=1.0, tags=("home", "due"))
    plants = Item("plants", "Water the plants", tags=("home",))
    s0 = State("My day")
    s1 = replace(s0, items=(milk, tyres, taxes))
    s2 = replace(s1, items=(replace(milk, done=True), tyres, taxes), draft="Wat")
    s3 = replace(s2, items=(taxes, replace(milk, done=True), tyres), draft="Water the plants")
    s4 = replace(s3, items=(taxes, replace(milk, done=True), tyres, plants), draft="")
    s5 = replace(s4, title="My Saturday", items=(taxes, tyres, plants))
    s6 = replace(s5, items=(replace(taxes, done=True, text="File taxes (sent)"), tyres, plants), filter="active")
    s7 = replace(s6, filter="all", owner=2)
    return [
        ("first render", s0),
        ("three items added", s1),
        ("milk ticked off, typing a new item", s2),
        ("taxes dragged to the top", s3),
        ("new item submitted", s4),
        ("milk deleted, title renamed", s5),
        ("taxes done and renamed, showing active items", s6),
        ("showing all, owner switched", s7),
    ]


# ---- the wire and the simulated client -----------------------------------------------------------

class Client:
    """Holds its own copy of the tree and changes it only through the frames it receives."""

    def __init__(self) -> None:
        self.tree: str | None = None
        self.rev = -1

    def receive(self, frame: bytes) -> None:
        decoded = json.loads(velmor.decode_frame(frame))
        if decoded["rev"] != self.rev + 1:
            raise RuntimeError(f"frame out of order: rev {decoded['rev']} after {self.rev}")
        payload = json.dumps(decoded["payload"], ensure_ascii=False)
        if decoded["kind"] == "snapshot":
            self.tree = velmor.apply(payload, NO_OPS)
        else:
            assert self.tree is not None, "a patch before the first snapshot"
            self.tree = velmor.apply(self.tree, payload)
        self.rev = decoded["rev"]


def main() -> int:
    clients = {codec: Client() for codec in CODECS}
    steps = states()
    previous = None
    totals = {codec: 0 for codec in CODECS}
    for rev, (what, state) in enumerate(steps):
        tree = render(state)
        if previous is None:
            kind, payload = "snapshot", tree
        else:
            kind, payload = "patch", velmor.diff(previous, tree)
        sizes = []
        for codec in CODECS:
            frame = velmor.encode_frame(payload, MODEL, kind, rev, codec)
            clients[codec].receive(frame)
            totals[codec] += len(frame)
            sizes.append(f"{codec.split('/')[1]} {len(frame)} B")
        print(f"rev {rev}: {what}: {kind}, {len(payload.encode())} B of JSON; frames: {', '.join(sizes)}")
        if kind == "patch":
            for op in json.loads(payload)["ops"]:
                print("    " + json.dumps(op, ensure_ascii=False, separators=(",", ":")))
        expected = velmor.apply(tree, NO_OPS)  # the server's tree in canonical form
        for codec, client in clients.items():
            if client.tree != expected:
                print(f"MISMATCH at rev {rev} ({codec}): the client's tree differs from the server's", file=sys.stderr)
                return 1
        previous = tree
    print(f"all {len(steps)} revisions reached both clients intact; bytes sent: "
          + ", ".join(f"{c.split('/')[1]} {n} B" for c, n in totals.items()))

    print()
    print("component schemas from custom-elements.json:")
    manifest = (HERE / "custom-elements.json").read_text(encoding="utf-8")
    for schema in json.loads(velmor.parse_cem(manifest)):
        print("  " + json.dumps(schema, ensure_ascii=False))
    return 0


if __name__ == "__main__":
    sys.exit(main())
