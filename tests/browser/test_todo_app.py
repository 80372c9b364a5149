"""The todo app in Chromium: first paint, user actions, identity of untouched and moved elements,
two pages at once, a dropped socket, bad frames and markup in a todo's text."""

from __future__ import annotations

import json
import math
import re
from dataclasses import replace

import pytest

import velmor

from polling import eventually

pytestmark = pytest.mark.browser

todo_app = pytest.importorskip("todo_app")
todo_server = pytest.importorskip("todo_server", reason="the server's packages (the demo extra) are not installed")

NO_OPS = '{"ops":[]}'

# props that the app's elements take as properties they do not reflect to attributes
PROPERTY_ONLY = {("todo-row", "tags"), ("todo-check", "checked"), ("todo-input", "maxLength")}

# the elements' own style and the filters' count (a binding's, not a prop) are left out
DESCRIBE = """() => {
  const d = (el) => ({
    tag: el.localName,
    slot: el.getAttribute('slot'),
    attrs: Object.fromEntries([...el.attributes].filter((a) => !['slot', 'style', 'count'].includes(a.name)).map((a) => [a.name, a.value])),
    kids: [...el.children].map(d),
  });
  return d(document.getElementById('app').firstElementChild);
}"""

ROWS = "() => [...document.querySelectorAll('todo-row')].map((r) => r.querySelector('todo-text').getAttribute('text'))"


def js_text(value) -> str | None:
    """The attribute text the client writes for a prop's value."""
    if value is None or value is False:
        return None
    if value is True:
        return ""
    if isinstance(value, str):
        return value
    if isinstance(value, float):
        return str(int(value)) if value.is_integer() and math.isfinite(value) else repr(value)
    if isinstance(value, (dict, list)):
        return json.dumps(value, separators=(",", ":"), ensure_ascii=False)
    return str(value)


def js_value(pv):
    if pv == "Null":
        return None
    (variant, inner), = pv.items()
    if variant == "List":
        return [js_value(v) for v in inner]
    if variant == "Map":
        return {k: js_value(v) for k, v in inner.items()}
    return inner


def expected_dom(node: dict, slot: str | None = None) -> dict:
    """What the DOM of a tree looks like: elements of its tags, props as attributes (unless
    the element takes them as properties), children grouped by slot in byte order."""
    attrs = {}
    for name, pv in node.get("props", {}).items():
        if (node["tag"], name) in PROPERTY_ONLY:
            continue
        text = js_text(js_value(pv))
        if text is not None:
            attrs[name.lower()] = text
    slots = node.get("slots", {})
    kids = [expected_dom(child, name) for name in sorted(slots, key=lambda s: s.encode()) for child in slots[name]]
    return {"tag": node["tag"], "slot": None if slot in (None, "default") else slot, "attrs": attrs, "kids": kids}


def tree_of(state: todo_app.State) -> dict:
    return json.loads(velmor.apply(todo_app.render(state), NO_OPS))


def dom(page) -> dict:
    return page.evaluate(DESCRIBE)


def errors(page) -> list:
    return page.evaluate("() => window.velmorErrors")


def rows(page) -> list:
    return page.evaluate(ROWS)


def type_draft(page, text: str, submit: bool = True) -> None:
    """Type into the app's input as a user would, key by key; Enter submits."""
    field = page.locator("todo-input input")
    field.click()
    field.press_sequentially(text)
    if submit:
        field.press("Enter")


FIRST = todo_server.first_state()
MILK, TYRES, TAXES = FIRST.items


def test_first_paint_matches_the_snapshot(open_page):
    page = open_page()
    tree = tree_of(FIRST)
    assert page.evaluate("() => window.velmorClient.tree") == json.dumps(tree, separators=(",", ":"), ensure_ascii=False)
    assert dom(page) == expected_dom(tree)
    # the props taken as properties
    assert page.evaluate("() => [...document.querySelectorAll('todo-row')].map((r) => r.tags)") == [["shop"], [], ["home", "due"]]
    assert page.evaluate("() => [...document.querySelectorAll('todo-check')].map((c) => c.checked)") == [False, False, False]
    assert page.evaluate("() => document.querySelector('todo-input').maxLength") == 80
    assert errors(page) == []


def test_clicks_typing_and_submitting_follow_the_servers_trees(open_page):
    page = open_page()
    type_draft(page, "Water the plants")
    plants = todo_app.Item("t1", "Water the plants")
    steps = [
        (None, replace(FIRST, items=(MILK, TYRES, TAXES, plants))),
        (lambda: page.locator("todo-check").nth(0).click(), replace(FIRST, items=(replace(MILK, done=True), TYRES, TAXES, plants))),
        (lambda: page.locator("todo-button").nth(1).click(), replace(FIRST, items=(replace(MILK, done=True), TAXES, plants))),
        (lambda: page.locator("todo-filter", has_text="Done").click(), replace(FIRST, items=(replace(MILK, done=True), TAXES, plants), filter="done")),
        (lambda: page.locator("todo-filter", has_text="All").click(), replace(FIRST, items=(replace(MILK, done=True), TAXES, plants))),
    ]
    for act, state in steps:
        if act is not None:
            act()
        want = expected_dom(tree_of(state))
        assert eventually(lambda: dom(page), want) == want
    assert page.evaluate("() => window.velmorClient.fields.get('draft')") == ""
    # the filter buttons count the list the item endpoints replied with
    assert page.evaluate("() => [...document.querySelectorAll('todo-filter')].map((f) => f.getAttribute('count'))") == ["3", "2", "1"]
    assert errors(page) == []


def test_the_field_being_typed_in_keeps_focus_and_text_while_a_row_changes(open_page):
    typing, other = open_page(), open_page()
    type_draft(typing, "half", submit=False)
    typing.evaluate("() => document.querySelector('todo-input').shadowRoot.querySelector('input').setSelectionRange(2, 2)")
    other.locator("todo-check").nth(1).click()
    assert eventually(lambda: typing.evaluate("() => document.querySelectorAll('todo-row')[1].hasAttribute('done')"), True)
    assert typing.evaluate("""() => {
      const host = document.activeElement, input = host.shadowRoot.activeElement;
      return [host.localName, input.value, input.selectionStart, input.selectionEnd];
    }""") == ["todo-input", "half", 2, 2]
    typing.keyboard.type("X")
    assert typing.evaluate("() => document.querySelector('todo-input').value") == "haXlf"
    assert errors(typing) == [] and errors(other) == []


def test_a_moved_row_is_the_same_element_and_nothing_else_is_touched(open_page):
    page = open_page()
    page.evaluate("""() => {
      window.before = [...document.querySelectorAll('todo-row, todo-check, todo-text, todo-button')];
      window.touched = [];
      new MutationObserver((records) => {
        for (const r of records) for (const n of [...r.addedNodes, ...r.removedNodes]) window.touched.push(n.localName + ':' + n.querySelector('todo-text').getAttribute('text'));
      }).observe(document.querySelector('todo-app'), { childList: true });
    }""")
    assert page.evaluate("() => fetch('/items/taxes/move', {method: 'POST', body: '{\"to\":0}'}).then((r) => r.status)") == 200
    assert eventually(lambda: rows(page), ["File taxes", "Buy milk", "Check the tyres"]) == ["File taxes", "Buy milk", "Check the tyres"]
    assert page.evaluate("""() => {
      const now = [...document.querySelectorAll('todo-row, todo-check, todo-text, todo-button')];
      return now.length === window.before.length && now.every((el) => window.before.includes(el))
        && document.querySelector('todo-row') === window.before[8];
    }""")
    # one move: the row leaves and comes back; no other child of the app is added or removed
    assert set(page.evaluate("() => window.touched")) == {"todo-row:File taxes"}
    assert errors(page) == []


def test_two_pages_see_each_others_edits(open_page):
    a, b = open_page(), open_page()
    type_draft(a, "From A")
    assert eventually(lambda: rows(b), ["Buy milk", "Check the tyres", "File taxes", "From A"])[-1] == "From A"
    b.locator("todo-check").nth(3).click()
    assert eventually(lambda: a.evaluate("() => document.querySelectorAll('todo-row')[3].hasAttribute('done')"), True)
    b.locator("todo-button").nth(0).click()
    assert eventually(lambda: rows(a), ["Check the tyres", "File taxes", "From A"]) == ["Check the tyres", "File taxes", "From A"]
    assert dom(a) == dom(b)
    assert errors(a) == [] and errors(b) == []


def test_a_dropped_socket_resyncs_from_a_snapshot(open_page):
    sockets = []

    def route(ws):
        sockets.append(ws)
        if len(sockets) == 1:
            ws.connect_to_server()

    page = open_page(before=lambda p: p.route_web_socket(re.compile(r"/ws$"), route))
    other = open_page()
    page.evaluate("() => { window.before = [...document.querySelectorAll('todo-row')]; }")
    sockets[0].close()
    assert eventually(lambda: len(sockets), 2, page=page) == 2  # the client dialled again
    other.locator("todo-check").nth(0).click()
    other.locator("todo-button").nth(2).click()
    assert eventually(lambda: rows(other), ["Buy milk", "Check the tyres"]) == ["Buy milk", "Check the tyres"]
    assert rows(page) == ["Buy milk", "Check the tyres", "File taxes"]  # nothing arrives while away
    sockets[1].connect_to_server()
    assert eventually(lambda: dom(page), dom(other)) == dom(other)
    # the snapshot changed what differed; the rows that stayed are the elements they were
    assert page.evaluate("() => [...document.querySelectorAll('todo-row')].every((r, i) => r === window.before[i])")
    assert errors(page) == []


def patch_frame(ops: list, rev: int) -> bytes:
    return velmor.encode_frame(json.dumps({"ops": ops}), "todo", "patch", rev, "application/msgpack")


@pytest.mark.parametrize("make, kind, message", [
    (lambda rev: b"\x00\x00", "frame", "bad frame: truncated frame"),
    (lambda rev: b"\x00\x00\x00\x02{}\x00\x00\x00\x00", "frame", "bad frame: bad frame header: missing field `codec` at line 1 column 2"),
    (lambda rev: velmor.encode_frame('{"ops":[', "todo", "patch", rev + 1, "application/json"), "frame", "bad frame: EOF while parsing a list at line 1 column 8"),
    (lambda rev: velmor.encode_frame('{"key":"x"}', "todo", "snapshot", rev + 1, "application/json"), "frame", "the snapshot is not a tree: missing field `tag` at line 1 column 11"),
    (lambda rev: patch_frame([{"RemoveChild": {"path": [], "slot": "items", "index": 99}}], rev + 1), "patch",
     "the patch does not fit the tree (removal index (is 99) should be < len (is 3)); resyncing"),
    (lambda rev: patch_frame([{"SetProp": {"path": [{"slot": "nowhere", "index": 0}], "name": "x", "value": "Null"}}], rev + 1), "patch",
     "the patch does not fit the tree (path references an existing slot); resyncing"),
    (lambda rev: patch_frame([], rev + 5), "resync", f"patch rev {{rev5}} does not follow rev {{rev}}; resyncing"),
    (lambda rev: "not a notice", "message", "server notice is not JSON: not a notice"),
])
def test_a_bad_frame_is_reported_and_the_page_keeps_its_last_good_state(open_page, make, kind, message):
    sockets = []

    def route(ws):
        ws.connect_to_server()
        sockets.append(ws)

    page = open_page(before=lambda p: p.route_web_socket(re.compile(r"/ws$"), route))
    before = dom(page)
    page.evaluate("() => { window.before = [...document.querySelectorAll('todo-row')]; }")
    rev = int(page.evaluate("() => String(window.velmorClient.rev)"))
    sockets[-1].send(make(rev))
    got = eventually(lambda: errors(page), [{"kind": kind, "message": message.format(rev=rev, rev5=rev + 5)}])
    assert got == [{"kind": kind, "message": message.format(rev=rev, rev5=rev + 5)}]
    assert dom(page) == before
    # the page goes on: the next edit arrives and is applied
    page.locator("todo-check").nth(2).click()
    assert eventually(lambda: page.evaluate("() => document.querySelectorAll('todo-row')[2].hasAttribute('done')"), True)
    assert page.evaluate("() => [...document.querySelectorAll('todo-row')].every((r, i) => r === window.before[i])")
    assert len(errors(page)) == 1


def test_markup_in_a_todo_stays_text(open_page):
    page = open_page()
    text = '<img src=x onerror="window.pwned=1">'
    field = page.locator("todo-input input")
    field.click()
    field.fill(text)
    field.press("Enter")
    assert eventually(lambda: rows(page)[-1:], [text]) == [text]
    shown = page.evaluate("() => document.querySelectorAll('todo-text')[3].shadowRoot.textContent")
    assert shown == text
    assert page.evaluate("""() => {
      const all = (root) => [...root.querySelectorAll('*')].flatMap((el) => [el, ...(el.shadowRoot ? all(el.shadowRoot) : [])]);
      return [all(document).filter((el) => el.localName === 'img').length, window.pwned];
    }""") == [0, None]
    assert errors(page) == []


def test_the_debug_check_reports_a_dom_that_no_longer_agrees_with_the_tree(open_page):
    page, other = open_page(), open_page()
    page.evaluate("() => document.querySelector('todo-text').setAttribute('text', 'changed behind its back')")
    rev = int(page.evaluate("() => String(window.velmorClient.rev)"))
    other.locator("todo-check").nth(2).click()
    want = [{"kind": "verify", "message": f"the DOM differs from the tree at rev {rev + 1}: "
             'root/items[0]/default[1]: attribute text is "changed behind its back", the tree says "Buy milk"'}]
    assert eventually(lambda: errors(page), want) == want
