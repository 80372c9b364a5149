"""A first look at velmor: diff two renders of a small component tree."""

import json

import velmor

before = {
    "tag": "todo-list",
    "props": {"title": {"Str": "Groceries"}},
    "slots": {"items": [
        {"tag": "todo-item", "key": "milk", "props": {"label": {"Str": "Milk"}, "done": {"Bool": False}}},
        {"tag": "todo-item", "key": "eggs", "props": {"label": {"Str": "Eggs"}, "done": {"Bool": False}}},
    ]},
}
after = {
    "tag": "todo-list",
    "props": {"title": {"Str": "Groceries (1 left)"}},
    "slots": {"items": [
        {"tag": "todo-item", "key": "eggs", "props": {"label": {"Str": "Eggs"}, "done": {"Bool": False}}},
        {"tag": "todo-item", "key": "milk", "props": {"label": {"Str": "Milk"}, "done": {"Bool": True}}},
    ]},
}

patch = velmor.diff(json.dumps(before), json.dumps(after))
for op in json.loads(patch)["ops"]:
    print(json.dumps(op))
