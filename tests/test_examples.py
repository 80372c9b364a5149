"""The example app runs end to end: every revision reaches both simulated clients intact and
the app's manifest yields its schemas."""

import json
import subprocess
import sys
from pathlib import Path

APP = Path(__file__).resolve().parent.parent / "examples" / "todo_app.py"


def test_todo_app_runs_end_to_end(tmp_path):
    # run from elsewhere: the app must find its manifest beside itself
    out = subprocess.run([sys.executable, str(APP)], cwd=tmp_path, capture_output=True, text=True, timeout=60)
    assert out.returncode == 0, out.stderr
    lines = out.stdout.splitlines()
    assert lines[0].startswith("rev 0: first render: snapshot")
    assert any(line.strip() == '{"MoveChild":{"path":[],"slot":"items","from":2,"to":0}}' for line in lines)
    assert any(line.startswith("all 8 revisions reached both clients intact") for line in lines)
    schemas = [json.loads(line) for line in lines[lines.index("component schemas from custom-elements.json:") + 1:]]
    assert [s["tag_name"] for s in schemas] == [
        "todo-app", "todo-row", "todo-check", "todo-text", "todo-button", "todo-input", "todo-count", "todo-filter"]
    button = schemas[4]
    assert button["summary"] == "A button in the todo app's style."
    assert button["props"][2] == {"name": "size", "ty": {"Optional": {"Enum": ["s", "m", "l"]}}, "default": "m"}
