"""Browser tests: Debian's chromium driven through Playwright against the live todo server.

They skip, saying why, where chromium or Playwright is missing; under CI (CI=true) a missing
browser fails instead, so that CI runs them all. Pages bypass the server's content security
policy: Playwright evaluates its scripts as strings, and what the tests show (text staying
text, say) must hold by the client's own doing.
"""

from __future__ import annotations

import os
import shutil
import sys

import pytest

from live_server import SERVER, running_server

sys.path.insert(0, str(SERVER.parent))


def _missing(reason: str):
    if os.environ.get("CI") == "true":
        pytest.fail(f"{reason} (CI runs the browser tests; none may be skipped)")
    pytest.skip(reason)


# one browser per module: Playwright's synchronous API holds an event loop on this thread while
# it runs, which must be gone before the rest of the suite (asyncio.run in the docs' sessions)
@pytest.fixture(scope="module")
def browser():
    try:
        from playwright.sync_api import sync_playwright
    except ImportError:
        _missing("playwright is not installed (pip install '.[test]')")
    chromium = shutil.which("chromium")
    if chromium is None:
        _missing("chromium is not on the PATH (Debian's package chromium)")
    with sync_playwright() as p:
        b = p.chromium.launch(executable_path=chromium)
        yield b
        b.close()


@pytest.fixture
def app_url():
    import todo_server
    if not (todo_server.client_dir() / "dist" / "velmor.js").is_file():
        _missing(f"the client's WebAssembly build (dist/velmor.js) is not in {todo_server.client_dir()}")
    with running_server() as url:
        yield url


@pytest.fixture
def open_page(browser, app_url):
    """Open the todo page (with the client's debug check on) and wait for its first paint;
    `open_page(before=fn)` calls fn(page) before the page loads (to route its socket)."""
    contexts = []

    def opener(before=None):
        context = browser.new_context(bypass_csp=True)
        contexts.append(context)
        page = context.new_page()
        if before is not None:
            before(page)
        page.goto(app_url + "?debug")
        page.wait_for_function("() => window.velmorClient && window.velmorClient.tree !== null", timeout=15000)
        return page

    yield opener
    for context in contexts:
        context.close()
