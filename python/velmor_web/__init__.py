"""The browser side of velmor, shipped with the module: the client's ES modules and the same core
built for WebAssembly (`dist/velmor.js` and `dist/velmor.wasm`), for a server to hand out."""

from pathlib import Path

__all__ = ["client_dir"]


def client_dir() -> Path:
    """The installed folder of the browser client: its ES modules, with `dist/velmor.js` (the
    module to import, exporting `load` and `VelmorError`) and `dist/velmor.wasm` beside it."""
    return Path(__file__).resolve().parent / "client"
