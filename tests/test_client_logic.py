"""The browser client's pure logic (expressions, field store, message shapes, prop rules) under
Node's own test runner."""

import shutil
import subprocess
from pathlib import Path

import pytest

CLIENT_TESTS = Path(__file__).resolve().parent.parent / "client" / "test"
NODE = shutil.which("node")


@pytest.mark.skipif(NODE is None, reason="node is not on the PATH")
@pytest.mark.parametrize("name", ["expr", "fields", "messages", "props"])
def test_client_module(name):
    out = subprocess.run([NODE, "--test", str(CLIENT_TESTS / f"{name}.test.mjs")],
                         capture_output=True, text=True, timeout=120)
    assert out.returncode == 0, out.stdout + out.stderr
