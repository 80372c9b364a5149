"""The client's handlers, expressions, bindings and prop rules in Chromium: a node is built with
the client's own modules, an event fired on it, and what the handler did is read back (the DOM,
the field store, the messages sent, the calls made, the errors reported)."""

from __future__ import annotations

import json

import pytest

pytestmark = pytest.mark.browser

# Builds `node` (a tree, or its JSON text) into a container with a host whose socket, fetch and reports are recorded,
# fires each event of `fire` ([selector or null for the root, type, detail, setup]: a
# CustomEvent with that detail, or a plain Event when it is null),
# and returns what happened. `reads` are [selector, property] pairs read afterwards.
HARNESS = """async ([node, fire, reads, fields]) => {
  const { build } = await import('/client/mount.js');
  const { createFields } = await import('/client/fields.js');
  const container = document.createElement('div');
  document.body.replaceChildren(container);
  const sent = [], reports = [], calls = [], heard = [];
  const host = {
    container, root: container, fields: createFields(fields), depth: 0,
    send: (text) => { sent.push(JSON.parse(text)); return true; },
    report: (err) => reports.push(`${err.kind}: ${err.message}`),
    options: {
      handlers: { mark: ({ element, event }) => { element.setAttribute('marked', event.type); } },
      compute: (compute, ctx) => (compute.double ? 2 * (ctx.field(compute.double) ?? 0) : undefined),
      fetch: async (url, init) => {
        calls.push([url, init.method, init.body ?? null, init.headers['content-type'] ?? null]);
        if (url.includes('fail')) return new Response('no', { status: 500 });
        if (url.includes('text')) return new Response('plain', { status: 200 });
        return new Response(JSON.stringify({ got: init.body ? JSON.parse(init.body) : null }), { status: 200 });
      },
    },
  };
  const root = build(typeof node === 'string' ? JSON.parse(node) : node, host);
  container.append(root);
  host.root = root;
  root.addEventListener('saved', (e) => heard.push(['saved', e.detail]));
  const pick = (sel) => (sel === null ? root : container.querySelector(sel));
  for (const [sel, type, detail, setup] of fire) {
    const el = pick(sel);
    if (setup) for (const [k, v] of Object.entries(setup)) el[k] = v;
    el.dispatchEvent(detail === null ? new Event(type, { bubbles: true }) : new CustomEvent(type, { detail, bubbles: true }));
    await new Promise((r) => setTimeout(r, 20));
  }
  const props = reads.map(([sel, name]) => pick(sel)[name]);
  return { html: container.innerHTML, fields: host.fields.snapshot(), sent, reports, calls, heard, props };
}"""


@pytest.fixture(scope="module")
def page(browser):
    from live_server import running_server
    with running_server() as url:
        context = browser.new_context(bypass_csp=True)
        page = context.new_page()
        page.route(url + "blank", lambda route: route.fulfill(body="<!doctype html><body></body>", content_type="text/html"))
        page.goto(url + "blank")
        yield page
        context.close()


def lit(v):
    return {"expr": "lit", "value": v}


THIS = {"ref": "this"}


def node(events=None, props=None, kids=None, tag="div", bindings=None):
    n = {"tag": tag}
    if props:
        n["props"] = props
    if events:
        n["events"] = events
    if kids:
        n["slots"] = {"default": kids}
    if bindings:
        n["bindings"] = bindings
    return n


CLICK = [[None, "click", None, None]]

CASES = [
    # set: a property when the element has one, else an attribute; `this` or an id
    ("set a property", node({"click": {"kind": "set", "target": THIS, "prop": "title", "value": lit("Hi")}}), CLICK, [],
     {"html": '<div title="Hi"></div>'}),
    ("set an attribute from concat", node({"click": {"kind": "set", "target": THIS, "prop": "data-n", "value": {"expr": "concat", "parts": [lit("n="), lit(2), lit(None), lit([1])]}}}),
     CLICK, [], {"html": '<div data-n="n=2[1]"></div>'}),
    ("set by id", node({"click": {"kind": "set", "target": {"ref": "id", "id": "t"}, "prop": "hidden", "value": lit(True)}},
                       kids=[node(props={"id": {"Str": "t"}}, tag="span")]), CLICK, [], {"html": '<div><span id="t" hidden=""></span></div>'}),
    ("set by a missing id", node({"click": {"kind": "set", "target": {"ref": "id", "id": "nope"}, "prop": "x", "value": lit(1)}}), CLICK, [],
     {"reports": ['handler: handler of "click": no element with id "nope"']}),
    ("set a refused prop", node({"click": {"kind": "set", "target": THIS, "prop": "onclick", "value": lit("alert(1)")}}), CLICK, [],
     {"html": "<div></div>", "reports": ['handler: handler of "click": prop "onclick" refused: handlers come only from events']}),
    # toggle: a property by truthiness, an attribute by presence
    ("toggle a property", node({"click": {"kind": "toggle", "target": THIS, "prop": "open"}}, tag="details"), CLICK * 3, [[None, "open"]],
     {"props": [True]}),
    ("toggle an attribute", node({"click": {"kind": "toggle", "target": THIS, "prop": "data-on"}}), CLICK, [], {"html": '<div data-on=""></div>'}),
    # the field store
    ("set-field and toggle-field", node({"click": {"kind": "seq", "actions": [
        {"kind": "set-field", "field": "a.b", "value": lit(1)},
        {"kind": "set-field", "field": "a.c", "value": {"expr": "field", "name": "a.b"}},
        {"kind": "toggle-field", "field": "flag"}, {"kind": "toggle-field", "field": "list"}]}}), CLICK, [],
     {"fields": {"list": False, "a": {"b": 1, "c": 1}, "flag": True}}),
    # if: empty lists are true, 0 and "" false
    ("if and truthiness", node({"click": {"kind": "seq", "actions": [
        {"kind": "if", "cond": {"expr": "field", "name": "list"}, "then": {"kind": "set-field", "field": "r1", "value": lit("then")}, "else": None},
        {"kind": "if", "cond": lit(0), "then": {"kind": "set-field", "field": "r2", "value": lit("then")}, "else": {"kind": "set-field", "field": "r2", "value": lit("else")}},
        {"kind": "if", "cond": {"expr": "not", "of": lit("")}, "then": {"kind": "set-field", "field": "r3", "value": lit("then")}, "else": None}]}}),
     CLICK, [], {"fields": {"list": [], "r1": "then", "r2": "else", "r3": "then"}}),
    # emit: a CustomEvent on the element (bubbling) and a message
    ("emit", node({"click": {"kind": "emit", "event": "saved", "detail": {"expr": "obj", "fields": {"id": lit(3), "by": {"expr": "prop", "target": THIS, "name": "title"}}}}},
                  props={"title": {"Str": "me"}}), CLICK, [],
     {"heard": [["saved", {"by": "me", "id": 3}]], "sent": [{"v": 1, "type": "emit", "event": "saved", "detail": {"by": "me", "id": 3}}]}),
    ("emit without detail", node({"click": {"kind": "emit", "event": "saved", "detail": None}}), CLICK, [],
     {"heard": [["saved", None]], "sent": [{"v": 1, "type": "emit", "event": "saved", "detail": None}]}),
    ("emit into itself stops", node({"loop": {"kind": "emit", "event": "loop", "detail": None}}), [[None, "loop", None, None]], [],
     {"reports": ['handler: handler of "loop": handlers nested more than 16 deep; stopped']}),
    # patch: a message with model, field and value
    ("patch", node({"change": {"kind": "patch", "model": "todo", "field": "items.a.done", "value": {"expr": "prop", "target": THIS, "name": "checked"}}},
                   props={"type": {"Str": "checkbox"}}, tag="input"), [[None, "change", None, {"checked": True}]], [],
     {"sent": [{"v": 1, "type": "patch", "model": "todo", "field": "items.a.done", "value": True}]}),
    # the event expression: a CustomEvent's detail, a checkbox's checked, an input's value
    ("event values", node({"a": {"kind": "set-field", "field": "a", "value": {"expr": "event"}}, "b": {"kind": "set-field", "field": "b", "value": {"expr": "event"}}},
                          kids=[node(props={"type": {"Str": "checkbox"}}, tag="input"), node(tag="input")]),
     [[None, "a", {"x": 1}, None], ["input[type=checkbox]", "b", None, {"checked": True}], [None, "click", None, None],
      ["input:not([type])", "a", None, {"value": "typed"}]], [], {"fields": {"a": "typed", "b": True}}),
    ("event without a value", node({"click": {"kind": "set-field", "field": "e", "value": {"expr": "event"}}}), CLICK, [], {"fields": {"e": None}}),
    # call: fetch with method, URL and JSON body; the reply stored under result
    ("call", node({"click": {"kind": "seq", "actions": [
        {"kind": "call", "method": "POST", "url": {"expr": "concat", "parts": [lit("/items/"), lit(7)]}, "body": {"expr": "obj", "fields": {"text": lit("x")}}, "result": "reply"},
        {"kind": "set-field", "field": "after", "value": {"expr": "field", "name": "reply.got.text"}}]}}), CLICK, [],
     {"calls": [["/items/7", "POST", '{"text":"x"}', "application/json"]], "fields": {"reply": {"got": {"text": "x"}}, "after": "x"}}),
    ("call without body or result", node({"click": {"kind": "call", "method": "DELETE", "url": "/items/a", "body": None, "result": None}}), CLICK, [],
     {"calls": [["/items/a", "DELETE", None, None]], "fields": {}, "reports": []}),
    ("call that fails", node({"click": {"kind": "seq", "actions": [
        {"kind": "call", "method": "POST", "url": "/fail", "body": None, "result": "r"}, {"kind": "set-field", "field": "after", "value": lit(1)}]}}), CLICK, [],
     {"fields": {}, "reports": ['handler: handler of "click": call POST /fail: HTTP 500']}),
    ("call with a reply that is not JSON", node({"click": {"kind": "call", "method": "GET", "url": "/text", "body": None, "result": "r"}}), CLICK, [],
     {"reports": ["handler: handler of \"click\": call GET /text: the reply is not JSON (Failed to execute 'json' on 'Response': Unexpected token 'p', \"plain\" is not valid JSON)"]}),
    ("call with a URL that is not a text", node({"click": {"kind": "call", "method": "GET", "url": lit(5), "body": None, "result": None}}), CLICK, [],
     {"calls": [], "reports": ['handler: handler of "click": call: the URL is 5, not a text']}),
    # js: a handler registered by name
    ("js", node({"click": {"kind": "js", "handler": "mark"}}), CLICK, [], {"html": '<div marked="click"></div>'}),
    ("js unknown", node({"click": {"kind": "js", "handler": "toString"}}), CLICK, [],
     {"reports": ['handler: handler of "click": no js handler named "toString" in options.handlers']}),
    # bindings
    ("one-way binding", node({"click": {"kind": "set-field", "field": "user.name", "value": lit("Ada")}},
                             bindings={"title": {"field": "user", "mode": "one-way"}}, kids=[node(tag="span", bindings={"title": {"field": "user.name", "mode": "one-way"}})]),
     CLICK, [], {"html": '<div title="{&quot;name&quot;:&quot;Ada&quot;}"><span title="Ada"></span></div>', "sent": []}),
    ("two-way binding", node(tag="input", bindings={"value": {"field": "draft", "mode": "two-way"}}), [[None, "input", None, {"value": "Wat"}]], [],
     {"fields": {"draft": "Wat"}, "sent": [{"v": 1, "type": "field", "field": "draft", "value": "Wat"}]}),
    ("compute through options.compute", node({"click": {"kind": "set-field", "field": "n", "value": lit(21)}},
                                             bindings={"data-twice": {"compute": {"double": "n"}, "mode": "one-way"}}), CLICK, [],
     {"html": '<div data-twice="42"></div>'}),
    ("compute the option leaves alone", node(props={"data-x": {"Str": "server"}}, bindings={"data-x": {"compute": {"other": 1}, "mode": "one-way"}}), [], [],
     {"html": '<div data-x="server"></div>', "reports": []}),
]


@pytest.mark.parametrize("tree, fire, reads, want", [c[1:] for c in CASES], ids=[c[0] for c in CASES])
def test_handlers_and_bindings(page, tree, fire, reads, want):
    got = page.evaluate(HARNESS, [tree, fire, reads, {"list": []} if "list" in json.dumps(tree) else {}])
    assert {k: got[k] for k in want} == want


REFUSED = [
    (node(props={"href": {"Str": "javascript:alert(1)"}, "title": {"Str": "ok"}}, tag="a"), '<a title="ok"></a>',
     ['refused: prop "href" refused: a script URL']),
    (node(props={"href": {"Str": " JaVaScRiPt:alert(1)"}}, tag="a"), "<a></a>", ['refused: prop "href" refused: a script URL']),
    (node(props={"href": {"Str": "/items/javascript:1"}}, tag="a"), '<a href="/items/javascript:1"></a>', []),
    (node(props={"src": {"Str": "java\tscript:alert(1)"}}, tag="iframe"), "<iframe></iframe>", ['refused: prop "src" refused: a script URL']),
    (node(props={"action": {"Str": "javascript:1"}}, tag="form"), "<form></form>", ['refused: prop "action" refused: a script URL']),
    (node(props={"onclick": {"Str": "alert(1)"}, "onerror": {"Str": "alert(1)"}}, tag="img"), "<img>",
     ['refused: prop "onclick" refused: handlers come only from events', 'refused: prop "onerror" refused: handlers come only from events']),
    (node(props={"innerHTML": {"Str": "<img src=x onerror=alert(1)>"}}), "<div></div>", ['refused: prop "innerHTML" refused']),
    (node(props={"srcdoc": {"Str": "<script>alert(1)</script>"}}, tag="iframe"), "<iframe></iframe>", ['refused: prop "srcdoc" refused']),
    (node(props={"text": {"Str": "alert(1)"}}, tag="script", kids=[node(tag="b")]), '<template text="alert(1)"></template>',
     ['refused: tag "script" refused: its content would run']),
    (node(tag="not a tag"), "<template></template>",
     ["refused: tag \"not a tag\" is not an element name: Failed to execute 'createElement' on 'Document': The tag name provided ('not a tag') is not a valid name."]),
    (node(props={"text": {"Str": "<b>bold</b>"}}, tag="span"), '<span text="&lt;b&gt;bold&lt;/b&gt;"></span>', []),
    # as the client reads it from a frame: JSON text, where "__proto__" is a member like any other
    ('{"tag":"span","props":{"__proto__":{"Map":{}},"title":{"Str":"still a span"}}}', '<span title="still a span"></span>',
     ['refused: prop "__proto__" refused']),
]


@pytest.mark.parametrize("tree, html, reports", REFUSED)
def test_content_never_becomes_code(page, tree, html, reports):
    got = page.evaluate(HARNESS, [tree, [], [], {}])
    assert (got["html"], got["reports"]) == (html, reports)


# Builds `tree`, numbers its elements, applies `ops` with the client's DOM operations and
# returns the HTML and, in document order, the number of each element (null for a new one).
APPLY = """async ([tree, ops]) => {
  const { build } = await import('/client/mount.js');
  const { applyOps } = await import('/client/ops.js');
  const { createFields } = await import('/client/fields.js');
  const container = document.createElement('div');
  document.body.replaceChildren(container);
  const reports = [];
  const host = { container, root: container, fields: createFields(), depth: 0, send: () => true,
    report: (err) => reports.push(err.message), options: {} };
  host.root = build(tree, host);
  container.append(host.root);
  container.querySelectorAll('*').forEach((el, i) => { el.number = i; });
  let error = null;
  try {
    applyOps(ops, host);
  } catch (err) {
    error = err.message;
  }
  return { html: container.innerHTML, numbers: [...container.querySelectorAll('*')].map((el) => el.number ?? null), error, reports };
}"""

SLOTTED = {"tag": "div", "slots": {"a": [{"tag": "b"}, {"tag": "i"}, {"tag": "u"}], "c": [{"tag": "s"}], "default": [{"tag": "p"}]}}


def at(*steps):
    return [{"slot": s, "index": i} for s, i in steps]


OPS = [
    ("a new slot goes between the slots around it in name order",
     SLOTTED, [{"InsertChild": {"path": [], "slot": "b", "index": 0, "node": {"tag": "em"}}}],
     '<div><b slot="a"></b><i slot="a"></i><u slot="a"></u><em slot="b"></em><s slot="c"></s><p></p></div>', [0, 1, 2, 3, None, 4, 5]),
    ("a slot emptied and filled again keeps its place",
     SLOTTED, [{"RemoveChild": {"path": [], "slot": "c", "index": 0}}, {"InsertChild": {"path": [], "slot": "c", "index": 0, "node": {"tag": "q"}}}],
     '<div><b slot="a"></b><i slot="a"></i><u slot="a"></u><q slot="c"></q><p></p></div>', [0, 1, 2, 3, None, 5]),
    ("moves within a slot keep the elements",
     SLOTTED, [{"MoveChild": {"path": [], "slot": "a", "from": 0, "to": 2}}, {"MoveChild": {"path": [], "slot": "a", "from": 1, "to": 0}}],
     '<div><u slot="a"></u><i slot="a"></i><b slot="a"></b><s slot="c"></s><p></p></div>', [0, 3, 2, 1, 4, 5]),
    ("indexes count after the operations before",
     SLOTTED, [{"RemoveChild": {"path": [], "slot": "a", "index": 0}}, {"SetProp": {"path": at(("a", 0)), "name": "title", "value": {"Str": "was second"}}}],
     '<div><i slot="a" title="was second"></i><u slot="a"></u><s slot="c"></s><p></p></div>', [0, 2, 3, 4, 5]),
    ("a replaced child is new, its siblings are not",
     SLOTTED, [{"Replace": {"path": at(("a", 1)), "node": {"tag": "em", "slots": {"default": [{"tag": "b"}]}}}}],
     '<div><b slot="a"></b><em slot="a"><b></b></em><u slot="a"></u><s slot="c"></s><p></p></div>', [0, 1, None, None, 3, 4, 5]),
    ("a replaced root is new",
     SLOTTED, [{"Replace": {"path": [], "node": {"tag": "main"}}}, {"SetProp": {"path": [], "name": "hidden", "value": {"Bool": True}}}],
     '<main hidden=""></main>', [None]),
    ("props, keys, handlers and bindings change in place",
     {"tag": "div", "props": {"title": {"Str": "a"}, "data-x": {"Int": 1}}, "slots": {"default": [{"tag": "input"}]}},
     [{"SetProp": {"path": [], "name": "title", "value": "Null"}}, {"RemoveProp": {"path": [], "name": "data-x"}},
      {"SetKey": {"path": [], "key": "k"}}, {"SetEvent": {"path": at(("default", 0)), "name": "click", "action": {"kind": "js", "handler": "h"}}},
      {"RemoveEvent": {"path": at(("default", 0)), "name": "click"}},
      {"SetBinding": {"path": at(("default", 0)), "name": "value", "binding": {"field": "draft", "mode": "two-way"}}},
      {"RemoveBinding": {"path": at(("default", 0)), "name": "value"}}, {"SetProp": {"path": at(("default", 0)), "name": "value", "value": {"Str": "typed"}}}],
     '<div title=""><input></div>', [0, 1]),
    ("an operation that does not fit the DOM stops there",
     SLOTTED, [{"RemoveChild": {"path": [], "slot": "c", "index": 0}}, {"SetProp": {"path": at(("c", 0)), "name": "x", "value": "Null"}}],
     '<div><b slot="a"></b><i slot="a"></i><u slot="a"></u><p></p></div>', [0, 1, 2, 3, 5]),
]


@pytest.mark.parametrize("name, tree, ops, html, numbers", OPS, ids=[c[0] for c in OPS])
def test_patch_operations_on_the_dom(page, name, tree, ops, html, numbers):
    got = page.evaluate(APPLY, [tree, ops])
    error = "path references an existing slot" if name.endswith("stops there") else None
    assert (got["html"], got["numbers"], got["reports"], got["error"]) == (html, numbers, [], error)
