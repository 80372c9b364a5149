"""Per-connection bookkeeping of velmor_web.session: frames in order, snapshots on connect and
resync, and client messages read strictly and bounded."""

import json

import pytest

import velmor
from velmor_web.session import (
    Emit, FieldChange, MessageError, Resync, SendPatch, Session, error_notice, read_message)

A = '{"tag":"ul","slots":{"items":[{"tag":"li","key":"a"},{"tag":"li","key":"b"}]}}'
B = '{"tag":"ul","slots":{"items":[{"tag":"li","key":"b"},{"tag":"li","key":"a"}]}}'


def decoded(frame: bytes) -> dict:
    return json.loads(velmor.decode_frame(frame))


@pytest.mark.parametrize("codec", ["application/msgpack", "application/json"])
def test_snapshot_then_patches_with_consecutive_revs(codec):
    s = Session("todo", codec)
    first = decoded(s.update(A))
    assert (first["kind"], first["rev"], first["model_type"]) == ("snapshot", 0, "todo")
    assert s.update(' {"tag" : "ul", "slots":{"items":[{"tag":"li","key":"a"},{"tag":"li","key":"b"}]}}') is None
    second = decoded(s.update(B))
    assert (second["kind"], second["rev"]) == ("patch", 1)
    assert second["payload"] == {"ops": [{"MoveChild": {"path": [], "slot": "items", "from": 1, "to": 0}}]}
    assert s.tree == velmor.apply(B, '{"ops":[]}') and s.rev == 1
    again = decoded(s.resync())
    assert (again["kind"], again["rev"], again["payload"]) == ("snapshot", 2, json.loads(B))
    assert decoded(s.update(A))["rev"] == 3


def test_a_tree_that_fails_leaves_the_session_as_it_was():
    s = Session("todo")
    with pytest.raises(ValueError, match="missing field `tag`"):
        s.snapshot('{"key":"x"}')
    assert (s.tree, s.rev) == (None, None)
    s.update(A)
    with pytest.raises(ValueError, match="^trailing comma at line 1 column 12$"):
        s.update('{"tag":"a",}')
    assert (s.tree, s.rev) == (velmor.apply(A, '{"ops":[]}'), 0)
    with pytest.raises(ValueError, match="^nothing to resync"):
        Session("todo").resync()
    with pytest.raises(ValueError, match="^unknown codec: text/plain$"):
        Session("todo", "text/plain")


def chain(levels: int) -> str:
    tree = '{"tag":"leaf"}'
    for _ in range(levels):
        tree = '{"tag":"n","slots":{"s":[%s]}}' % tree
    return tree


def test_a_change_no_patch_can_carry_goes_as_a_snapshot():
    # chain(41) reads, but the Replace that carries it from another root would nest too deep
    s = Session("todo")
    s.update(A)
    frame = decoded(s.update(chain(41)))
    assert (frame["kind"], frame["rev"]) == ("snapshot", 1)
    assert s.tree == velmor.apply(chain(41), '{"ops":[]}')
    assert decoded(s.update(chain(40)))["kind"] == "patch"


@pytest.mark.parametrize("text, message", [
    ('{"v":1,"type":"emit","event":"save","detail":{"id":3}}', Emit("save", {"id": 3})),
    ('{"v":1,"type":"emit","event":"busy"}', Emit("busy", None)),
    ('{"v":1,"type":"patch","model":"todo","field":"items.milk.done","value":true}', SendPatch("todo", "items.milk.done", True)),
    ('{"type":"field","value":"Wat","field":"draft","v":1}', FieldChange("draft", "Wat")),
    ('{"v":1,"type":"resync","rev":null}', Resync(None)),
    ('{"v":1,"type":"resync","rev":18446744073709551615}', Resync(2**64 - 1)),
])
def test_messages_read(text, message):
    assert read_message(text) == message


@pytest.mark.parametrize("text, error", [
    (b'{"v":1}', "binary messages are not accepted; send JSON text"),
    ("", "message is not JSON: Expecting value: line 1 column 1 (char 0)"),
    ('{"v":1,', "message is not JSON: Expecting property name enclosed in double quotes: line 1 column 8 (char 7)"),
    ("[1]", "message must be a JSON object"),
    ('{"type":"emit","event":"x"}', "unsupported message version null; this server speaks 1"),
    ('{"v":true,"type":"emit","event":"x"}', "unsupported message version true; this server speaks 1"),
    ('{"v":2,"type":"emit","event":"x"}', "unsupported message version 2; this server speaks 1"),
    ('{"v":1,"type":"eval"}', "unknown message type \"eval\"; expected one of emit, patch, field, resync"),
    ('{"v":1,"type":["emit"]}', "unknown message type [\"emit\"]; expected one of emit, patch, field, resync"),
    ('{"v":1,"type":"emit","event":"x","extra":1}', "unknown member \"extra\" in a emit message"),
    ('{"v":1,"type":"emit"}', "a emit message needs \"event\": a non-empty string"),
    ('{"v":1,"type":"patch","model":"todo","field":"","value":1}', "a patch message needs \"field\": a non-empty string"),
    ('{"v":1,"type":"field","field":7,"value":1}', "a field message needs \"field\": a non-empty string"),
    ('{"v":1,"type":"field","field":"' + "x" * 257 + '","value":1}', "\"field\" too long: at most 256 bytes"),
    ('{"v":1,"type":"resync","rev":-1}', "a resync message's \"rev\" must be null or an integer from 0 to 2**64 - 1"),
    ('{"v":1,"type":"resync","rev":1.0}', "a resync message's \"rev\" must be null or an integer from 0 to 2**64 - 1"),
    ('{"v":1,"type":"resync","rev":true}', "a resync message's \"rev\" must be null or an integer from 0 to 2**64 - 1"),
    ('{"v":1,"type":"field","field":"x","value":' + "[" * 32 + "]" * 32 + "}", "message nests deeper than 32 levels"),
])
def test_malformed_messages_are_refused_with_a_clear_text(text, error):
    with pytest.raises(MessageError) as caught:
        read_message(text)
    assert str(caught.value) == error
    assert json.loads(caught.value.notice()) == {"v": 1, "type": "error", "message": error}


def test_size_and_nesting_are_bounded_before_and_while_reading():
    s = Session("todo", max_message_bytes=100)
    at_bound = '{"v":1,"type":"field","field":"draft","value":"x' + "é" * 25 + '"}'
    assert len(at_bound.encode()) == 100
    assert s.read_message(at_bound) == FieldChange("draft", "x" + "é" * 25)
    with pytest.raises(MessageError, match=r"^message too long: 101 bytes, at most 100$"):
        s.read_message(at_bound.replace('"}', 'x"}'))
    # nesting deep enough to exhaust the JSON reader's recursion is a refusal, not a crash
    deep = '{"v":1,"type":"field","field":"x","value":' + "[" * 60000 + "]" * 60000 + "}"
    with pytest.raises(MessageError, match=r"^message nests deeper than 32 levels$"):
        read_message(deep, max_bytes=len(deep))
    assert read_message('{"v":1,"type":"field","field":"x","value":' + "[" * 31 + "]" * 31 + "}") == FieldChange("x", json.loads("[" * 31 + "]" * 31))


def test_error_notice_keeps_any_text():
    assert error_notice('bad "x"\n') == '{"v": 1, "type": "error", "message": "bad \\"x\\"\\n"}'
