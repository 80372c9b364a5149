"""The live todo server without a browser: what it accepts on its socket and endpoints, and what
it answers."""

import json
import urllib.error
import urllib.request

import pytest

import velmor

pytest.importorskip("starlette")
websockets_sync = pytest.importorskip("websockets.sync.client")
from websockets.exceptions import InvalidStatus  # noqa: E402

from live_server import running_server  # noqa: E402


@pytest.fixture(scope="module")
def url():
    with running_server() as url:
        yield url


def ws_url(url: str) -> str:
    return url.replace("http://", "ws://") + "ws"


def origin(url: str) -> str:
    return url.rstrip("/")


def frame(sock) -> dict:
    data = sock.recv(timeout=10)
    assert isinstance(data, bytes), data
    return json.loads(velmor.decode_frame(data))


@pytest.mark.parametrize("sent", [None, "http://evil.example", "http://localhost:1"])
def test_sockets_only_from_its_own_origin(url, sent):
    with pytest.raises(InvalidStatus) as caught:
        websockets_sync.connect(ws_url(url), origin=sent, open_timeout=10)
    assert caught.value.response.status_code == 403


def test_snapshot_first_then_errors_that_keep_the_connection(url):
    with websockets_sync.connect(ws_url(url), origin=origin(url), open_timeout=10) as sock:
        first = frame(sock)
        assert (first["kind"], first["rev"], first["model_type"]) == ("snapshot", 0, "todo")
        assert [row["key"] for row in first["payload"]["slots"]["items"]] == ["milk", "tyres", "taxes"]
        for sent, error in [
            ("not json", "message is not JSON: Expecting value: line 1 column 1 (char 0)"),
            (b"\x00\x01", "binary messages are not accepted; send JSON text"),
            ('{"v":1,"type":"patch","model":"todo","field":"items.milk.done","value":"yes"}', "items.ID.done takes true or false"),
            ('{"v":1,"type":"patch","model":"todo","field":"items.bread.done","value":true}', 'no item "bread"'),
            ('{"v":1,"type":"patch","model":"other","field":"x","value":1}', 'unknown model "other"'),
            ('{"v":1,"type":"field","field":"title","value":"x"}', 'unknown field "title" (only "draft", a text, is two-way)'),
            ('{"v":1,"type":"field","field":"draft","value":"' + "x" * 70000 + '"}', "message too long: 70049 bytes, at most 65536"),
        ]:
            sock.send(sent)
            assert json.loads(sock.recv(timeout=10)) == {"v": 1, "type": "error", "message": error}
        # the connection and its state survived: a resync is the next revision's snapshot
        sock.send('{"v":1,"type":"resync","rev":0}')
        again = frame(sock)
        assert (again["kind"], again["rev"], again["payload"]) == ("snapshot", 1, first["payload"])
        sock.send('{"v":1,"type":"patch","model":"todo","field":"filter","value":"done"}')
        patch = frame(sock)
        assert (patch["kind"], patch["rev"]) == ("patch", 2)
        assert {"RemoveChild": {"path": [], "slot": "items", "index": 0}} in patch["payload"]["ops"]


def post(url: str, path: str, body: bytes, sent_origin: str | None, method: str = "POST"):
    req = urllib.request.Request(url.rstrip("/") + path, data=body, method=method)
    if sent_origin is not None:
        req.add_header("Origin", sent_origin)
    try:
        with urllib.request.urlopen(req, timeout=10) as reply:
            return reply.status, json.loads(reply.read())
    except urllib.error.HTTPError as err:
        return err.code, json.loads(err.read())


@pytest.mark.parametrize("path, body, sent_origin, status, reply", [
    ("/items", b'{"text":"x"}', "http://evil.example", 403, {"error": "cross-origin request refused"}),
    ("/items", b'{"text":"x"}', None, 403, {"error": "cross-origin request refused"}),
    ("/items", b"{", "", 400, {"error": "the body is not JSON"}),
    ("/items", b'{"text":"   "}', "", 400, {"error": '"text" must be a text of 1 to 200 characters'}),
    ("/items", b'{"text":7}', "", 400, {"error": '"text" must be a text of 1 to 200 characters'}),
    ("/items/bread/move", b'{"to":0}', "", 404, {"error": "no such item"}),
    ("/items/milk/move", b'{"to":"top"}', "", 400, {"error": '"to" must be an integer'}),
])
def test_item_endpoints_refuse(url, path, body, sent_origin, status, reply):
    assert post(url, path, body, origin(url) if sent_origin == "" else sent_origin) == (status, reply)
