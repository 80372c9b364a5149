"""The todo app of todo_app.py served live: browsers connect over a WebSocket and see the list
change as anyone edits it.

    python examples/todo_server.py                  # prints its URL, http://127.0.0.1:8000/
    python examples/todo_server.py --port 0         # any free port

Every change of the shared list is rendered for each connection (each has its own filter),
diffed against what that connection was last sent, framed as MessagePack and sent
(`velmor_web.session.Session` does the bookkeeping). Items are added and deleted through the
HTTP endpoints the tree's `call` handlers name (and moved through POST /items/ID/move, as a
drag would); ticking an item and choosing a filter arrive
as `patch` messages on the socket.

Runs on Starlette under uvicorn (the `demo` extra): Starlette is a small, maintained ASGI
toolkit whose WebSocket, routing and static-file parts are all this needs, and uvicorn is the
maintained ASGI server it is usually run with.
"""

from __future__ import annotations

import argparse
import asyncio
import itertools
import json
import mimetypes
import socket
import sys
from dataclasses import dataclass, field, replace
from pathlib import Path

import uvicorn
from starlette.applications import Starlette
from starlette.requests import Request
from starlette.responses import FileResponse, JSONResponse, Response
from starlette.routing import Mount, Route, WebSocketRoute
from starlette.staticfiles import StaticFiles
from starlette.websockets import WebSocket, WebSocketDisconnect

from velmor_web.session import Emit, FieldChange, MessageError, Resync, SendPatch, Session, error_notice

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
import todo_app  # noqa: E402  (the app beside this file)

MAX_TEXT = 200
FILTERS = ("all", "active", "done")
# the page loads only its own scripts and the core's WebAssembly, and talks only to this server
POLICY = ("default-src 'self'; script-src 'self' 'wasm-unsafe-eval'; style-src 'self' 'unsafe-inline'; "
          "img-src 'self'; connect-src 'self'; object-src 'none'; base-uri 'none'")

mimetypes.add_type("application/wasm", ".wasm")
mimetypes.add_type("text/javascript", ".js")


def client_dir() -> Path:
    """The browser client: the repository's when this runs from a checkout (so that edits show
    without reinstalling), else the copy installed with the package."""
    checkout = HERE.parent / "client"
    if (checkout / "dist" / "velmor.js").is_file():
        return checkout
    from velmor_web import client_dir as installed
    return Path(installed())


PAGE = """<!doctype html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>velmor todo</title>
<script type="module" src="/app/page.js"></script>
</head>
<body>
<main id="app"></main>
<ul id="errors"></ul>
</body>
</html>
"""


@dataclass(eq=False)
class Connection:
    session: Session
    outbox: asyncio.Queue
    filter: str = "all"
    draft: str = ""


@dataclass
class Board:
    """The shared list and everyone looking at it."""
    state: todo_app.State
    connections: set = field(default_factory=set)
    ids: itertools.count = field(default_factory=lambda: itertools.count(1))

    def render(self, conn: Connection) -> str:
        return todo_app.render(replace(self.state, filter=conn.filter, draft=conn.draft))

    def push(self, conn: Connection) -> None:
        frame = conn.session.update(self.render(conn))
        if frame is not None:
            conn.outbox.put_nowait(frame)

    def changed(self) -> None:
        for conn in list(self.connections):
            self.push(conn)

    def items(self) -> list[dict]:
        return [{"id": i.id, "text": i.text, "done": i.done} for i in self.state.items]

    def add(self, text: str) -> None:
        item = todo_app.Item(f"t{next(self.ids)}", text)
        self.state = replace(self.state, items=(*self.state.items, item))
        self.changed()

    def delete(self, item_id: str) -> bool:
        kept = tuple(i for i in self.state.items if i.id != item_id)
        if len(kept) == len(self.state.items):
            return False
        self.state = replace(self.state, items=kept)
        self.changed()
        return True

    def move(self, item_id: str, to: int) -> bool:
        items = list(self.state.items)
        at = next((n for n, i in enumerate(items) if i.id == item_id), None)
        if at is None:
            return False
        items.insert(min(max(to, 0), len(items) - 1), items.pop(at))
        self.state = replace(self.state, items=tuple(items))
        self.changed()
        return True

    def set_done(self, item_id: str, done: bool) -> bool:
        if not any(i.id == item_id for i in self.state.items):
            return False
        self.state = replace(self.state, items=tuple(
            replace(i, done=done) if i.id == item_id else i for i in self.state.items))
        self.changed()
        return True


def first_state() -> todo_app.State:
    return todo_app.State("My day", items=(
        todo_app.Item("milk", "Buy milk", tags=("shop",)),
        todo_app.Item("tyres", "Check the tyres", priority=0.25),
        todo_app.Item("taxes", "File taxes", priority=1.0, tags=("home", "due")),
    ))


def own_origin(headers) -> str | None:
    host = headers.get("host")
    return None if host is None else f"http://{host}"


def same_origin(request) -> bool:
    """Requests from another site's page carry that site's Origin; a browser always sends one
    with a WebSocket handshake, and with every fetch that changes something."""
    origin = request.headers.get("origin")
    return origin is not None and origin == own_origin(request.headers)


def handle(board: Board, conn: Connection, message) -> str | None:
    """Carry out one client message; the error text when it asks for something that is not
    there."""
    if isinstance(message, Resync):
        conn.outbox.put_nowait(conn.session.resync())
        return None
    if isinstance(message, SendPatch):
        if message.model != todo_app.MODEL:
            return f"unknown model {json.dumps(message.model)}"
        if message.field == "filter":
            if message.value not in FILTERS:
                return f"filter must be one of {', '.join(FILTERS)}"
            conn.filter = message.value
            board.push(conn)
            return None
        parts = message.field.split(".")
        if len(parts) == 3 and parts[0] == "items" and parts[2] == "done":
            if not isinstance(message.value, bool):
                return "items.ID.done takes true or false"
            return None if board.set_done(parts[1], message.value) else f"no item {json.dumps(parts[1])}"
        return f"unknown field {json.dumps(message.field)}"
    if isinstance(message, FieldChange):
        if message.field != "draft" or not isinstance(message.value, str):
            return f"unknown field {json.dumps(message.field)} (only \"draft\", a text, is two-way)"
        conn.draft = message.value[:MAX_TEXT]
        return None
    if isinstance(message, Emit):
        return None  # the app reacts to no emitted event; they are accepted and dropped
    return "unhandled message"


def make_app(board: Board | None = None) -> Starlette:
    board = board or Board(first_state())

    async def page(request: Request) -> Response:
        return Response(PAGE, media_type="text/html", headers={"content-security-policy": POLICY})

    async def add_item(request: Request) -> Response:
        if not same_origin(request):
            return JSONResponse({"error": "cross-origin request refused"}, status_code=403)
        try:
            body = json.loads(await request.body())
        except ValueError:
            return JSONResponse({"error": "the body is not JSON"}, status_code=400)
        text = body.get("text") if isinstance(body, dict) else None
        if not isinstance(text, str) or not text.strip() or len(text) > MAX_TEXT:
            return JSONResponse({"error": f"\"text\" must be a text of 1 to {MAX_TEXT} characters"}, status_code=400)
        board.add(text.strip())
        return JSONResponse(board.items())

    async def delete_item(request: Request) -> Response:
        if not same_origin(request):
            return JSONResponse({"error": "cross-origin request refused"}, status_code=403)
        if not board.delete(request.path_params["item"]):
            return JSONResponse({"error": "no such item"}, status_code=404)
        return JSONResponse(board.items())

    async def move_item(request: Request) -> Response:
        # what dragging a row to another place sends
        if not same_origin(request):
            return JSONResponse({"error": "cross-origin request refused"}, status_code=403)
        try:
            to = json.loads(await request.body()).get("to")
        except (ValueError, AttributeError):
            to = None
        if not isinstance(to, int) or isinstance(to, bool):
            return JSONResponse({"error": "\"to\" must be an integer"}, status_code=400)
        if not board.move(request.path_params["item"], to):
            return JSONResponse({"error": "no such item"}, status_code=404)
        return JSONResponse(board.items())

    async def socket_endpoint(ws: WebSocket) -> None:
        if not same_origin(ws):
            await ws.close(code=1008, reason="cross-origin connection refused")
            return
        await ws.accept()
        conn = Connection(Session(todo_app.MODEL), asyncio.Queue())
        board.connections.add(conn)
        board.push(conn)  # the first frame is a snapshot

        async def writer() -> None:
            while True:
                await ws.send_bytes(await conn.outbox.get())

        sending = asyncio.create_task(writer())
        try:
            while True:
                event = await ws.receive()
                if event["type"] == "websocket.disconnect":
                    break
                raw = event.get("text")
                if raw is None:
                    raw = event.get("bytes") or b""
                try:
                    problem = handle(board, conn, conn.session.read_message(raw))
                except MessageError as err:
                    problem = str(err)
                if problem is not None:
                    await ws.send_text(error_notice(problem))
        except WebSocketDisconnect:
            pass
        finally:
            board.connections.discard(conn)
            sending.cancel()

    return Starlette(routes=[
        Route("/", page),
        Route("/items", add_item, methods=["POST"]),
        Route("/items/{item}", delete_item, methods=["DELETE"]),
        Route("/items/{item}/move", move_item, methods=["POST"]),
        Route("/favicon.ico", lambda request: Response(status_code=204)),
        WebSocketRoute("/ws", socket_endpoint),
        Mount("/client", StaticFiles(directory=client_dir())),
        Mount("/app", StaticFiles(directory=HERE / "web")),
    ])


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=8000, help="0 picks a free port")
    args = parser.parse_args(argv)
    sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    sock.bind((args.host, args.port))
    sock.listen(128)  # connections wait in the backlog from the moment the URL is printed
    host, port = sock.getsockname()[:2]
    print(f"velmor todo app: http://{host}:{port}/", flush=True)
    # messages up to four times the session's bound get a clear error notice; larger ones end
    # the connection in the transport (close code 1009) before they are read whole
    config = uvicorn.Config(make_app(), log_level="warning", ws_max_size=4 * Session("todo").max_message_bytes)
    uvicorn.Server(config).run(sockets=[sock])
    return 0


if __name__ == "__main__":
    sys.exit(main())
