"""The module as Python sees it: its contents, the function objects, argument matching and
conversion, the error mapping, and the Example class."""

import pytest
import velmor

TREE = '{"tag":"a"}'


def test_module_contents():
    assert velmor.__all__ == ["Example", "diff", "apply", "parse_cem", "encode_frame", "decode_frame"]
    assert velmor.__doc__ == ""
    assert velmor.__name__ == "velmor"
    for name in velmor.__all__:
        assert getattr(velmor, name) is not None


def test_diff_function_object():
    f = velmor.diff
    assert f.__name__ == "diff"
    assert f.__module__ == "velmor"
    assert f.__self__ is velmor
    assert f.__text_signature__ == "(old, new)"
    assert f.__doc__ == (
        "Diff two JSON-encoded component trees, returning the JSON-encoded patch.\n\n"
        "Thin wrapper over the shared core (`velmor::diff_json`); the same code runs in the wasm binding.")
    assert type(f).__name__ == "builtin_function_or_method"


def call_error(call):
    with pytest.raises(Exception) as exc:
        call()
    return type(exc.value), str(exc.value), getattr(exc.value, "__notes__", None)


class Text(str):
    pass


@pytest.mark.parametrize("call, expected", [
    (lambda: velmor.diff(TREE), (TypeError, "diff() missing 1 required positional argument: 'new'", None)),
    (lambda: velmor.diff(), (TypeError, "diff() missing 2 required positional arguments: 'old' and 'new'", None)),
    (lambda: velmor.diff(new=TREE), (TypeError, "diff() missing 1 required positional argument: 'old'", None)),
    (lambda: velmor.diff(TREE, TREE, TREE), (TypeError, "diff() takes 2 positional arguments but 3 were given", None)),
    (lambda: velmor.diff(TREE, old=TREE), (TypeError, "diff() got multiple values for argument 'old'", None)),
    (lambda: velmor.diff(TREE, TREE, old=TREE), (TypeError, "diff() got multiple values for argument 'old'", None)),
    (lambda: velmor.diff(TREE, TREE, TREE, old=TREE), (TypeError, "diff() takes 2 positional arguments but 3 were given", None)),
    (lambda: velmor.diff(TREE, x=1, old=TREE), (TypeError, "diff() got an unexpected keyword argument 'x'", None)),
    (lambda: velmor.diff(TREE, old=TREE, x=1), (TypeError, "diff() got multiple values for argument 'old'", None)),
    (lambda: velmor.diff(x=1), (TypeError, "diff() got an unexpected keyword argument 'x'", None)),
    (lambda: velmor.diff(1, TREE), (TypeError, "'int' object is not an instance of 'str'", ["while processing 'old'"])),
    (lambda: velmor.diff(TREE, None), (TypeError, "'None' is not an instance of 'str'", ["while processing 'new'"])),
    (lambda: velmor.diff(b"{}", 1), (TypeError, "'bytes' object is not an instance of 'str'", ["while processing 'old'"])),
    (lambda: velmor.diff(TREE, bytearray(b"{}")), (TypeError, "'bytearray' object is not an instance of 'str'", ["while processing 'new'"])),
    (lambda: velmor.diff(TREE, Text), (TypeError, "'type' object is not an instance of 'str'", ["while processing 'new'"])),
    (lambda: velmor.diff("\ud800", 1),
     (UnicodeEncodeError, "'utf-8' codec can't encode character '\\ud800' in position 0: surrogates not allowed", ["while processing 'old'"])),
    (lambda: velmor.diff("x", 1), (TypeError, "'int' object is not an instance of 'str'", ["while processing 'new'"])),
    (lambda: velmor.diff("x", TREE), (ValueError, "expected value at line 1 column 1", None)),
    (lambda: velmor.diff(TREE, "[1]"), (ValueError, "invalid type: integer `1`, expected a string at line 1 column 2", None)),
])
def test_diff_argument_errors(call, expected):
    assert call_error(call) == expected


def test_nested_class_names_are_qualified():
    class Outer:
        class Inner:
            pass
    assert call_error(lambda: velmor.diff(Outer.Inner(), TREE))[1] == (
        "'test_nested_class_names_are_qualified.<locals>.Outer.Inner' object is not an instance of 'str'")


def test_arguments_by_keyword_and_str_subclasses():
    old, new = '{"tag":"a"}', '{"tag":"b"}'
    assert velmor.diff(new=new, old=old) == velmor.diff(old, new)
    assert velmor.diff(Text(old), new=Text(new)) == velmor.diff(old, new)


def test_arguments_are_left_untouched():
    old, new = Text('{"tag":"a", "key":"é"}'), '{"tag":"b"}'
    before = (old, new, type(old))
    velmor.diff(old, new)
    assert (old, new, type(old)) == before


def test_example_class():
    e = velmor.Example("abc")
    assert (str(e), repr(e)) == ("abc", "Example<abc>")
    assert (str(velmor.Example("")), repr(velmor.Example(""))) == ("", "Example<>")
    assert str(velmor.Example(value="x")) == "x"
    assert repr(velmor.Example('a"\n\u00e9\0')) == 'Example<a"\n\u00e9\0>'
    assert velmor.Example.__module__ == "builtins"
    assert velmor.Example.__qualname__ == "Example"
    assert velmor.Example.__text_signature__ == "(value)"
    assert velmor.Example("a") != velmor.Example("a")
    assert e == e and hash(e) == hash(e)


@pytest.mark.parametrize("call, expected", [
    (lambda: velmor.Example(b"x"), (TypeError, "'bytes' object is not an instance of 'str'", ["while processing 'value'"])),
    (lambda: velmor.Example("a", value="b"), (TypeError, "Example.__new__() got multiple values for argument 'value'", None)),
    (lambda: velmor.Example(), (TypeError, "Example.__new__() missing 1 required positional argument: 'value'", None)),
    (lambda: velmor.Example("a", "b"), (TypeError, "Example.__new__() takes 1 positional arguments but 2 were given", None)),
    (lambda: velmor.Example(val="a"), (TypeError, "Example.__new__() got an unexpected keyword argument 'val'", None)),
])
def test_example_argument_errors(call, expected):
    assert call_error(call) == expected


def test_example_cannot_be_subclassed_or_extended():
    with pytest.raises(TypeError):
        class Sub(velmor.Example):  # noqa: F841
            pass
    e = velmor.Example("a")
    with pytest.raises(AttributeError):
        e.x = 1
    with pytest.raises(AttributeError):
        e.__dict__
