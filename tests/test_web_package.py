"""The browser client ships in the wheel: velmor_web.client_dir() finds the installed copy of
client/ with the WebAssembly core, byte for byte the files committed in the repo."""

from pathlib import Path

import velmor
import velmor_web

ROOT = Path(__file__).resolve().parent.parent


def test_client_dir_holds_the_built_core_as_committed() -> None:
    folder = velmor_web.client_dir()
    assert isinstance(folder, Path) and folder.is_dir()
    wasm = (folder / "dist" / "velmor.wasm").read_bytes()
    assert wasm[:4] == b"\0asm"
    for name in ("velmor.js", "velmor.wasm"):
        assert (folder / "dist" / name).read_bytes() == (ROOT / "client" / "dist" / name).read_bytes(), name
    js = (folder / "dist" / "velmor.js").read_text(encoding="utf-8")
    assert "export async function load(" in js and "export class VelmorError" in js


def test_client_dir_leaves_out_sources_and_tests() -> None:
    folder = velmor_web.client_dir()
    assert not (folder / "test").exists() and not (folder / "src").exists()


def test_the_module_surface_is_unchanged() -> None:
    assert velmor.__all__ == ["Example", "diff", "apply", "parse_cem", "encode_frame", "decode_frame"]
    assert not hasattr(velmor, "client_dir")
