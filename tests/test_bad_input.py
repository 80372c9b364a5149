"""No text crashes the process: mutated, truncated and hostile inputs either read or fail with
ValueError."""

import random

import pytest
import velmor

import trees

TOKENS = ['{', '}', '[', ']', ',', ':', '"', '\\', '"tag"', '"key"', '"slots"', '"props"', '"events"',
          '"kind"', '"expr"', '"ref"', 'null', 'true', '-', '0', '1e999', '01', '\\u', '\\uD800', ' ', '\x00', 'é']


def mutations(rnd: random.Random, text: str, count: int):
    return trees.damaged(rnd, text, count, TOKENS)


def test_mutated_trees_read_or_fail_cleanly():
    rnd = random.Random(7)
    seen_ok = seen_error = 0
    for _ in range(60):
        good = trees.dumps(trees.random_tree(rnd))
        for bad in mutations(rnd, good, 40):
            for old, new in ((bad, good), (good, bad)):
                try:
                    result = velmor.diff(old, new)
                except ValueError as e:
                    assert " at line " in str(e) or str(e)
                    seen_error += 1
                else:
                    assert result.startswith('{"ops":[')
                    seen_ok += 1
    assert seen_ok and seen_error


@pytest.mark.parametrize("text", [
    '{"tag":"a","x":' + "[" * 100_000,
    '{"tag":"a","props":{"p":' + '{"List":[' * 100_000,
    '{"tag":"a","events":{"e":' + '{"kind":"seq","actions":[' * 50_000,
    '{"tag":"a","bindings":{"b":{"mode":"one-way","compute":' + "[" * 200_000 + "]" * 200_000 + "}}}",
    '{"tag":"a","x":' + '{"":' * 100_000 + "1" + "}" * 100_000 + "}",
])
def test_deep_nesting_is_refused_without_recursing(text):
    with pytest.raises(ValueError, match="^recursion limit exceeded at line 1 column "):
        velmor.diff(text, "{}")
