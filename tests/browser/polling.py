"""Waiting in a browser test for what the page will show."""

from __future__ import annotations

import time


def eventually(probe, want, timeout=10.0, page=None):
    """Poll `probe()` until it returns `want`; the last value otherwise (for the assertion).
    Give `page` when the probe makes no Playwright call: waiting on the page lets Playwright
    deliver its events (socket routes) meanwhile."""
    deadline = time.monotonic() + timeout
    got = probe()
    while got != want and time.monotonic() < deadline:
        if page is None:
            time.sleep(0.05)
        else:
            page.wait_for_timeout(50)
        got = probe()
    return got
