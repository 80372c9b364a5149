"""The finished module surface in one place: what each function object reports about itself and
how each function matches and converts its arguments. The diff rows of the argument table live
in test_module.py beside the rest of the calling machinery; this table covers the other four
functions in every situation."""

import pytest
import velmor

TREE = '{"tag":"a"}'
PATCH = '{"ops":[]}'
FRAME = velmor.encode_frame(TREE, "m", "snapshot", 1, "application/json")

FUNCTIONS = [
    ("diff", "(old, new)",
     "Diff two JSON-encoded component trees, returning the JSON-encoded patch.\n\n"
     "Thin wrapper over the shared core (`velmor::diff_json`); the same code runs in the wasm binding."),
    ("apply", "(root, patch)",
     "Apply a JSON-encoded patch to a JSON-encoded tree, returning the JSON-encoded result."),
    ("parse_cem", "(manifest)",
     "Parse a `custom-elements.json` manifest into the JSON-encoded list of component schemas."),
    ("encode_frame", "(payload, model_type, kind, rev, codec)",
     "Frame a JSON-encoded tree/patch into trasken' length-prefixed envelope bytes.\n\n"
     '`kind` is `"snapshot"` or `"patch"`; `codec` is `"application/json"` or `"application/msgpack"`.'),
    ("decode_frame", "(frame)",
     'Decode one frame back to a `{"model_type","kind","rev","payload"}` JSON string.'),
]


def test_module_attributes():
    assert velmor.__all__ == ["Example"] + [name for name, _, _ in FUNCTIONS]
    assert velmor.__doc__ == ""
    assert velmor.__name__ == "velmor"
    assert velmor.Example.__module__ == "builtins"
    assert velmor.Example.__qualname__ == "Example"
    assert velmor.Example.__name__ == "Example"


@pytest.mark.parametrize("name, signature, doc", FUNCTIONS, ids=[f[0] for f in FUNCTIONS])
def test_function_objects(name, signature, doc):
    f = getattr(velmor, name)
    assert type(f).__name__ == "builtin_function_or_method"
    assert f.__name__ == name
    assert f.__qualname__ == name
    assert f.__module__ == "velmor"
    assert f.__self__ is velmor
    assert f.__text_signature__ == signature
    assert f.__doc__ == doc
    assert not f.__doc__.endswith("\n")


class Text(str):
    pass


class Bytes(bytes):
    pass


class Five:
    def __index__(self):
        return 5


class BrokenIndex:
    def __index__(self):
        raise LookupError("no index")


def outcome(call):
    try:
        result = call()
    except Exception as e:  # noqa: BLE001
        return type(e), str(e), getattr(e, "__notes__", None)
    return "ok", type(result)


def note(name):
    return [f"while processing '{name}'"]


ARGUMENT_CASES = [
    # apply
    ("apply/by-keyword", lambda: velmor.apply(patch=PATCH, root=Text(TREE)), ("ok", str)),
    ("apply/missing-both", lambda: velmor.apply(),
     (TypeError, "apply() missing 2 required positional arguments: 'root' and 'patch'", None)),
    ("apply/missing-one", lambda: velmor.apply(patch=PATCH),
     (TypeError, "apply() missing 1 required positional argument: 'root'", None)),
    ("apply/too-many", lambda: velmor.apply(TREE, PATCH, PATCH),
     (TypeError, "apply() takes 2 positional arguments but 3 were given", None)),
    ("apply/twice", lambda: velmor.apply(TREE, PATCH, patch=PATCH),
     (TypeError, "apply() got multiple values for argument 'patch'", None)),
    ("apply/unknown-keyword", lambda: velmor.apply(TREE, PATCH, tree=TREE),
     (TypeError, "apply() got an unexpected keyword argument 'tree'", None)),
    ("apply/wrong-type", lambda: velmor.apply(TREE, b"{}"),
     (TypeError, "'bytes' object is not an instance of 'str'", note("patch"))),
    ("apply/none", lambda: velmor.apply(None, PATCH), (TypeError, "'None' is not an instance of 'str'", note("root"))),
    ("apply/surrogate", lambda: velmor.apply(TREE, "\udfff"),
     (UnicodeEncodeError, "'utf-8' codec can't encode character '\\udfff' in position 0: surrogates not allowed",
      note("patch"))),
    ("apply/root-read-first", lambda: velmor.apply("x", "y"), (ValueError, "expected value at line 1 column 1", None)),
    # parse_cem
    ("parse_cem/by-keyword", lambda: velmor.parse_cem(manifest=Text("{}")), ("ok", str)),
    ("parse_cem/missing", lambda: velmor.parse_cem(),
     (TypeError, "parse_cem() missing 1 required positional argument: 'manifest'", None)),
    ("parse_cem/too-many", lambda: velmor.parse_cem("{}", "{}"),
     (TypeError, "parse_cem() takes 1 positional arguments but 2 were given", None)),
    ("parse_cem/twice", lambda: velmor.parse_cem("{}", manifest="{}"),
     (TypeError, "parse_cem() got multiple values for argument 'manifest'", None)),
    ("parse_cem/unknown-keyword", lambda: velmor.parse_cem(text="{}"),
     (TypeError, "parse_cem() got an unexpected keyword argument 'text'", None)),
    ("parse_cem/wrong-type", lambda: velmor.parse_cem(1), (TypeError, "'int' object is not an instance of 'str'", note("manifest"))),
    ("parse_cem/none", lambda: velmor.parse_cem(None), (TypeError, "'None' is not an instance of 'str'", note("manifest"))),
    ("parse_cem/surrogate", lambda: velmor.parse_cem("{\ud800}"),
     (UnicodeEncodeError, "'utf-8' codec can't encode character '\\ud800' in position 1: surrogates not allowed",
      note("manifest"))),
    # encode_frame
    ("encode_frame/by-keyword",
     lambda: velmor.encode_frame(codec="application/json", rev=Five(), kind="patch", model_type=Text("m"), payload=PATCH),
     ("ok", bytes)),
    ("encode_frame/missing-all", lambda: velmor.encode_frame(),
     (TypeError, "encode_frame() missing 5 required positional arguments: "
                 "'payload', 'model_type', 'kind', 'rev', and 'codec'", None)),
    ("encode_frame/missing-three", lambda: velmor.encode_frame(TREE, rev=1),
     (TypeError, "encode_frame() missing 3 required positional arguments: 'model_type', 'kind', and 'codec'", None)),
    ("encode_frame/too-many", lambda: velmor.encode_frame(TREE, "m", "patch", 1, "application/json", 1),
     (TypeError, "encode_frame() takes 5 positional arguments but 6 were given", None)),
    ("encode_frame/twice", lambda: velmor.encode_frame(TREE, "m", "patch", 1, "application/json", rev=2),
     (TypeError, "encode_frame() got multiple values for argument 'rev'", None)),
    ("encode_frame/unknown-keyword", lambda: velmor.encode_frame(TREE, "m", "patch", 1, "application/json", target=0),
     (TypeError, "encode_frame() got an unexpected keyword argument 'target'", None)),
    ("encode_frame/wrong-type-str", lambda: velmor.encode_frame(TREE, None, "patch", 1, "application/json"),
     (TypeError, "'None' is not an instance of 'str'", note("model_type"))),
    ("encode_frame/rev-negative", lambda: velmor.encode_frame(TREE, "m", "patch", -1, "application/json"),
     (OverflowError, "can't convert negative int to unsigned", note("rev"))),
    ("encode_frame/rev-too-big", lambda: velmor.encode_frame(TREE, "m", "patch", 2**64, "application/json"),
     (OverflowError, "int too big to convert", note("rev"))),
    ("encode_frame/rev-largest", lambda: velmor.encode_frame(TREE, "m", "patch", 2**64 - 1, "application/json"),
     ("ok", bytes)),
    ("encode_frame/rev-bool", lambda: velmor.encode_frame(TREE, "m", "patch", True, "application/json"), ("ok", bytes)),
    ("encode_frame/rev-float", lambda: velmor.encode_frame(TREE, "m", "patch", 1.0, "application/json"),
     (TypeError, "'float' object cannot be interpreted as an integer", note("rev"))),
    ("encode_frame/rev-index-raises", lambda: velmor.encode_frame(TREE, "m", "patch", BrokenIndex(), "application/json"),
     (LookupError, "no index", note("rev"))),
    ("encode_frame/converted-before-content", lambda: velmor.encode_frame("x", "m", "bogus", 1, b"codec"),
     (TypeError, "'bytes' object is not an instance of 'str'", note("codec"))),
    ("encode_frame/surrogate", lambda: velmor.encode_frame(TREE, "m", "\ud800", 1, "application/json"),
     (UnicodeEncodeError, "'utf-8' codec can't encode character '\\ud800' in position 0: surrogates not allowed",
      note("kind"))),
    # decode_frame
    ("decode_frame/by-keyword", lambda: velmor.decode_frame(frame=Bytes(FRAME)), ("ok", str)),
    ("decode_frame/missing", lambda: velmor.decode_frame(),
     (TypeError, "decode_frame() missing 1 required positional argument: 'frame'", None)),
    ("decode_frame/too-many", lambda: velmor.decode_frame(FRAME, FRAME),
     (TypeError, "decode_frame() takes 1 positional arguments but 2 were given", None)),
    ("decode_frame/twice", lambda: velmor.decode_frame(FRAME, frame=FRAME),
     (TypeError, "decode_frame() got multiple values for argument 'frame'", None)),
    ("decode_frame/unknown-keyword", lambda: velmor.decode_frame(data=FRAME),
     (TypeError, "decode_frame() got an unexpected keyword argument 'data'", None)),
    ("decode_frame/bytearray", lambda: velmor.decode_frame(bytearray(FRAME)),
     (TypeError, "'bytearray' object is not an instance of 'bytes'", note("frame"))),
    ("decode_frame/str", lambda: velmor.decode_frame("frame"),
     (TypeError, "'str' object is not an instance of 'bytes'", note("frame"))),
    ("decode_frame/none", lambda: velmor.decode_frame(None), (TypeError, "'None' is not an instance of 'bytes'", note("frame"))),
]


@pytest.mark.parametrize("call, expected", [c[1:] for c in ARGUMENT_CASES], ids=[c[0] for c in ARGUMENT_CASES])
def test_argument_matching_and_conversion(call, expected):
    assert outcome(call) == expected


@pytest.mark.parametrize("name", ["diff", "apply", "encode_frame"])
def test_matching_precedes_conversion(name):
    """A call with both a bad argument type and an extra keyword reports the keyword."""
    f = getattr(velmor, name)
    with pytest.raises(TypeError) as e:
        f(None, bogus=1)
    assert str(e.value) == f"{name}() got an unexpected keyword argument 'bogus'"
    assert getattr(e.value, "__notes__", None) is None
