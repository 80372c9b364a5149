"""Pages in Debian's chromium for tests and benchmarks: a local HTTP server over the repo (and,
optionally, a folder of inputs under /inputs/), and a headless chromium driven by Playwright
with `chromium` from the PATH (nothing is downloaded)."""

from __future__ import annotations

import contextlib
import http.server
import shutil
import threading
from collections.abc import Iterator
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent


def unavailable() -> str | None:
    """Why no page can be opened here, or None."""
    try:
        import playwright.sync_api  # noqa: F401
    except ImportError:
        return "playwright is not installed"
    if shutil.which("chromium") is None:
        return "no chromium on the PATH"
    return None


@contextlib.contextmanager
def page(html: str, inputs: Path | None = None, isolated: bool = False) -> Iterator[object]:
    """A Playwright page showing `html` (served as /), with the repo's files under their paths.
    `isolated`: every response carries the headers that make the page cross-origin isolated,
    where chromium's performance.now() counts in 5 us steps rather than 100 us ones."""
    from playwright.sync_api import sync_playwright

    class Handler(http.server.SimpleHTTPRequestHandler):
        extensions_map = {**http.server.SimpleHTTPRequestHandler.extensions_map, ".js": "text/javascript",
                          ".mjs": "text/javascript", ".wasm": "application/wasm"}

        def end_headers(self) -> None:
            if isolated:
                self.send_header("Cross-Origin-Opener-Policy", "same-origin")
                self.send_header("Cross-Origin-Embedder-Policy", "require-corp")
            super().end_headers()

        def do_GET(self) -> None:
            if self.path.split("?")[0] == "/":
                body = html.encode()
                self.send_response(200)
                self.send_header("Content-Type", "text/html; charset=utf-8")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)
                return
            super().do_GET()

        def translate_path(self, path: str) -> str:
            path = path.split("?")[0]
            if inputs is not None and path.startswith("/inputs/"):
                return str(inputs / path[len("/inputs/"):])
            return str(ROOT / path.lstrip("/"))

        def log_message(self, *args) -> None:
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    try:
        with sync_playwright() as p:
            browser = p.chromium.launch(executable_path=shutil.which("chromium"), headless=True)
            try:
                tab = browser.new_page()
                tab.goto(f"http://127.0.0.1:{server.server_address[1]}/")
                yield tab
            finally:
                browser.close()
    finally:
        server.shutdown()
        server.server_close()
