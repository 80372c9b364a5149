"""The installed type stub matches the module, and a type checker sees the API through it."""

import subprocess
import sys
from pathlib import Path

import pytest
import velmor

pytest.importorskip("mypy")

STUB = Path(velmor.__file__).with_name("velmor.pyi")


@pytest.fixture(scope="module")
def stub() -> Path:
    if not STUB.is_file():
        pytest.skip(f"velmor is not installed with its stub ({STUB} is missing)")
    return STUB


def run(*args: str, cwd: Path) -> subprocess.CompletedProcess:
    return subprocess.run([sys.executable, "-m", *args], cwd=cwd, capture_output=True, text=True)


def test_stub_matches_the_module(stub, tmp_path):
    result = run("mypy.stubtest", "velmor", cwd=tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr


def test_type_checker_sees_the_api(stub, tmp_path):
    (tmp_path / "good.py").write_text(
        "import velmor\n"
        "patch: str = velmor.diff('{}', '{}')\n"
        "tree: str = velmor.apply(root='{}', patch=patch)\n"
        "frame: bytes = velmor.encode_frame(patch, 'm', 'patch', 3, 'application/json')\n"
        "text: str = velmor.decode_frame(frame)\n"
        "schemas: str = velmor.parse_cem('{}')\n"
        "e: velmor.Example = velmor.Example(value='x')\n")
    (tmp_path / "bad.py").write_text(
        "import velmor\n"
        "velmor.decode_frame('not bytes')\n"
        "n: int = velmor.diff('{}', '{}')\n"
        "velmor.encode_frame('{}', 'm', 'patch', 1.5, 'application/json')\n")
    good = run("mypy", "--strict", "--no-incremental", "good.py", cwd=tmp_path)
    assert good.returncode == 0, good.stdout + good.stderr
    bad = run("mypy", "--no-incremental", "--no-error-summary", "bad.py", cwd=tmp_path)
    lines = [line.split(": error: ")[0] for line in bad.stdout.splitlines() if ": error: " in line]
    assert lines == ["bad.py:2", "bad.py:3", "bad.py:4"], bad.stdout
