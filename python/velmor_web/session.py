"""Per-connection bookkeeping for a server that drives a browser client over a WebSocket.

One `Session` per open connection, independent of the web framework: it remembers the last tree
the connection was sent and the revision it carried, turns each new render into the frame to
send (a snapshot first, then patches with consecutive revisions), answers a resync with a fresh
snapshot, and reads the messages the client sends back, refusing anything outside their shape.

    session = Session("todo")
    await ws.send_bytes(session.snapshot(render()))        # on connect
    ...
    frame = session.update(render())                       # after every change of state
    if frame is not None:
        await ws.send_bytes(frame)
    ...
    try:
        message = session.read_message(text)               # each text message from the client
    except MessageError as err:
        await ws.send_text(err.notice())                   # the connection's state is unchanged
    else:
        if isinstance(message, Resync):
            await ws.send_bytes(session.resync())

Client messages are one JSON object per WebSocket text message, version 1:

    {"v":1,"type":"emit","event":NAME,"detail":VALUE}
    {"v":1,"type":"patch","model":NAME,"field":DOTTED,"value":VALUE}
    {"v":1,"type":"field","field":DOTTED,"value":VALUE}
    {"v":1,"type":"resync","rev":N}          ("rev", the last revision applied, may be null)

The server's own notices are text messages too: {"v":1,"type":"error","message":TEXT}.
"""

from __future__ import annotations

import json
from dataclasses import dataclass
from typing import Any, Iterable, Union

import velmor

__all__ = [
    "CODECS", "PROTOCOL_VERSION", "Session", "MessageError",
    "Emit", "SendPatch", "FieldChange", "Resync", "Message", "read_message", "error_notice",
]

PROTOCOL_VERSION = 1
CODECS = ("application/msgpack", "application/json")
NO_OPS = '{"ops":[]}'

#: Bounds on what a client may send; a message past any of them is refused whole.
MAX_MESSAGE_BYTES = 64 * 1024
MAX_NAME_BYTES = 256
MAX_DEPTH = 32


@dataclass(frozen=True)
class Emit:
    """An `emit` action ran in the browser: the event's name and its detail (any JSON value)."""
    event: str
    detail: Any


@dataclass(frozen=True)
class SendPatch:
    """A `patch` action ran in the browser: set `field` (dotted) of `model` to `value`."""
    model: str
    field: str
    value: Any


@dataclass(frozen=True)
class FieldChange:
    """A two-way binding wrote the element's value back into `field` (dotted)."""
    field: str
    value: Any


@dataclass(frozen=True)
class Resync:
    """The client lost track (a revision did not follow, a patch did not fit) and asks for a
    snapshot; `rev` is the last revision it applied, or None."""
    rev: int | None


Message = Union[Emit, SendPatch, FieldChange, Resync]


class MessageError(ValueError):
    """A client message that is not one of the shapes above; the text says what is wrong."""

    def notice(self) -> str:
        """The error notice to send back to the client as a text message."""
        return error_notice(str(self))


def error_notice(message: str) -> str:
    """A server notice carrying an error text, as the client reads it."""
    return json.dumps({"v": PROTOCOL_VERSION, "type": "error", "message": message}, ensure_ascii=False)


# members of each message type besides "v" and "type", and whether each must be a name
_SHAPES: dict[str, dict[str, bool]] = {
    "emit": {"event": True, "detail": False},
    "patch": {"model": True, "field": True, "value": False},
    "field": {"field": True, "value": False},
    "resync": {"rev": False},
}


def _depth(value: Any) -> int:
    """Nesting depth of a JSON value, counting each array and object; iterative, so a hostile
    value cannot exhaust the stack."""
    deepest = 0
    stack = [(value, 1)]
    while stack:
        item, level = stack.pop()
        items: Iterable[Any]
        if isinstance(item, dict):
            items = item.values()
        elif isinstance(item, list):
            items = item
        else:
            continue
        deepest = max(deepest, level)
        stack.extend((child, level + 1) for child in items)
    return deepest


def read_message(message: str | bytes, max_bytes: int = MAX_MESSAGE_BYTES) -> Message:
    """Read one client message, checking its size, its JSON, its version and its members.

    Raises `MessageError` naming the first fault; binary messages are refused (frames go only
    from the server to the client).
    """
    if not isinstance(message, str):
        raise MessageError("binary messages are not accepted; send JSON text")
    size = len(message.encode("utf-8", "surrogatepass"))
    if size > max_bytes:
        raise MessageError(f"message too long: {size} bytes, at most {max_bytes}")
    try:
        data = json.loads(message)
    except RecursionError:
        raise MessageError(f"message nests deeper than {MAX_DEPTH} levels") from None
    except ValueError as err:
        raise MessageError(f"message is not JSON: {err}") from None
    if not isinstance(data, dict):
        raise MessageError("message must be a JSON object")
    if _depth(data) > MAX_DEPTH:
        raise MessageError(f"message nests deeper than {MAX_DEPTH} levels")
    version = data.get("v")
    if version != PROTOCOL_VERSION or isinstance(version, bool):
        raise MessageError(f"unsupported message version {json.dumps(version)}; this server speaks {PROTOCOL_VERSION}")
    kind = data.get("type")
    shape = _SHAPES.get(kind) if isinstance(kind, str) else None
    if shape is None:
        raise MessageError(f"unknown message type {json.dumps(kind)}; expected one of {', '.join(_SHAPES)}")
    for member in data:
        if member not in shape and member not in ("v", "type"):
            raise MessageError(f"unknown member {json.dumps(member)} in a {kind} message")
    for member, is_name in shape.items():
        if is_name:
            value = data.get(member)
            if not isinstance(value, str) or not value:
                raise MessageError(f"a {kind} message needs \"{member}\": a non-empty string")
            if len(value.encode("utf-8", "surrogatepass")) > MAX_NAME_BYTES:
                raise MessageError(f"\"{member}\" too long: at most {MAX_NAME_BYTES} bytes")
    if kind == "emit":
        return Emit(data["event"], data.get("detail"))
    if kind == "patch":
        return SendPatch(data["model"], data["field"], data.get("value"))
    if kind == "field":
        return FieldChange(data["field"], data.get("value"))
    rev = data.get("rev")
    if rev is not None and (not isinstance(rev, int) or isinstance(rev, bool) or not 0 <= rev < 2**64):
        raise MessageError("a resync message's \"rev\" must be null or an integer from 0 to 2**64 - 1")
    return Resync(rev)


class Session:
    """What one connection was last sent, and the frames that bring it up to date.

    `model_type` goes into every frame header; `codec` is the frame payload codec. `tree` is the
    last tree sent (canonical JSON text) and `rev` its revision (None before the first frame).
    Revisions increase by one with every frame, snapshots included, so the client can tell a
    missing patch from the next one.
    """

    def __init__(self, model_type: str, codec: str = "application/msgpack",
                 max_message_bytes: int = MAX_MESSAGE_BYTES) -> None:
        if codec not in CODECS:
            raise ValueError(f"unknown codec: {codec}")
        self.model_type = model_type
        self.codec = codec
        self.max_message_bytes = max_message_bytes
        self.tree: str | None = None
        self.rev: int | None = None

    def _next_rev(self) -> int:
        return 0 if self.rev is None else self.rev + 1

    def snapshot(self, tree: str) -> bytes:
        """A snapshot frame of `tree` (JSON text), which becomes the connection's tree.

        Raises ValueError, leaving the session as it was, when `tree` is not a tree.
        """
        canonical = velmor.apply(tree, NO_OPS)
        rev = self._next_rev()
        frame = velmor.encode_frame(canonical, self.model_type, "snapshot", rev, self.codec)
        self.tree, self.rev = canonical, rev
        return frame

    def update(self, tree: str) -> bytes | None:
        """The frame that brings the client from the last tree to `tree`: a patch, or a
        snapshot when nothing was sent yet or when no patch can carry the change (a subtree too
        deep to travel inside one); None when the tree did not change (nothing to send).

        Raises ValueError, leaving the session as it was, when `tree` is not a tree.
        """
        if self.tree is None:
            return self.snapshot(tree)
        try:
            patch = velmor.diff(self.tree, tree)
        except ValueError as err:
            # Both trees read, but the patch would nest past the reading limit (an error of
            # reading `tree` names its place).
            if str(err) != "recursion limit exceeded":
                raise
            return self.snapshot(tree)
        if patch == NO_OPS:
            return None
        rev = self._next_rev()
        frame = velmor.encode_frame(patch, self.model_type, "patch", rev, self.codec)
        self.tree, self.rev = velmor.apply(self.tree, patch), rev
        return frame

    def resync(self) -> bytes:
        """A fresh snapshot of the last tree, for a client that asked to resync."""
        if self.tree is None:
            raise ValueError("nothing to resync: no tree was sent on this connection")
        return self.snapshot(self.tree)

    def read_message(self, message: str | bytes) -> Message:
        """`read_message` bounded by this session's `max_message_bytes`."""
        return read_message(message, self.max_message_bytes)
