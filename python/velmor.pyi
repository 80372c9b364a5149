"""Type information for the velmor extension module."""

from typing import SupportsIndex, final

__all__ = ["Example", "diff", "apply", "parse_cem", "encode_frame", "decode_frame"]

@final
class Example:
    """A value holding one string; `str()` gives it back, `repr()` gives `Example<value>`."""

    def __new__(cls, value: str) -> Example: ...

def diff(old: str, new: str) -> str:
    """Diff two JSON-encoded component trees, returning the JSON-encoded patch."""

def apply(root: str, patch: str) -> str:
    """Apply a JSON-encoded patch to a JSON-encoded tree, returning the JSON-encoded result."""

def parse_cem(manifest: str) -> str:
    """Parse a `custom-elements.json` manifest into the JSON-encoded list of component schemas."""

def encode_frame(payload: str, model_type: str, kind: str, rev: SupportsIndex, codec: str) -> bytes:
    """Frame a JSON-encoded tree or patch; `kind` is "snapshot" or "patch", `codec` is
    "application/json" or "application/msgpack"."""

def decode_frame(frame: bytes) -> str:
    """Decode one frame back to a JSON object with "kind", "model_type", "payload" and "rev"."""
