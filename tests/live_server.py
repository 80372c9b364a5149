"""The live todo server of examples/todo_server.py, started for a test on 127.0.0.1 and a free
port, and stopped after it."""

from __future__ import annotations

import contextlib
import subprocess
import sys
from pathlib import Path
from typing import Iterator

SERVER = Path(__file__).resolve().parent.parent / "examples" / "todo_server.py"
PREFIX = "velmor todo app: "


@contextlib.contextmanager
def running_server() -> Iterator[str]:
    """Start the server and yield its URL (as it prints it, ending in /)."""
    proc = subprocess.Popen([sys.executable, str(SERVER), "--port", "0"], stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True)
    try:
        assert proc.stdout is not None
        line = proc.stdout.readline()
        if not line.startswith(PREFIX):
            proc.kill()
            raise RuntimeError(f"the server did not start: {line}{proc.communicate(timeout=10)[1]}")
        yield line[len(PREFIX):].strip()
    finally:
        proc.terminate()
        try:
            proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
