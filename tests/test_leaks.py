"""Repeated calls leak nothing: the process's resident memory stays flat over hundreds of
thousands of calls of every function, successful and failing, and the arguments' reference
counts do not change."""

import gc
import os
import sys

import pytest
import velmor

pytestmark = pytest.mark.skipif(
    "libasan" in os.environ.get("LD_PRELOAD", ""),
    reason="the address sanitizer's quarantine makes resident memory grow by design")

TREE = '{"tag":"ul","key":"k","props":{"a":{"List":[{"Str":"é"}]}},"slots":{"s":[{"tag":"li","key":"x"}]},' \
       '"events":{"click":{"kind":"emit","event":"e","detail":{"expr":"lit","value":{"b":1}}}},' \
       '"bindings":{"v":{"field":"f","compute":[1,2.5],"mode":"two-way"}}}'
TREE2 = '{"tag":"ul","slots":{"s":[{"tag":"li","key":"y"},{"tag":"li","key":"x"}]}}'
PATCH = velmor.diff(TREE, TREE2)
MANIFEST = '{"modules":[{"declarations":[{"customElement":true,"tagName":"x-a","attributes":' \
           '[{"name":"size","type":{"text":"\'s\' | \'m\' | undefined"},"default":"\'m\'"}]}]}]}'
FRAME_JSON = velmor.encode_frame(PATCH, "m", "patch", 3, "application/json")
FRAME_MSGPACK = velmor.encode_frame(TREE, "m", "snapshot", 2**64 - 1, "application/msgpack")


class Index:
    def __index__(self):
        return 5


class BadIndex:
    def __index__(self):
        raise RuntimeError("no")


# (function, args, kwargs, expected exception or None)
CALLS = [
    (velmor.diff, (TREE, TREE2), {}, None),
    (velmor.diff, (TREE, "{"), {}, ValueError),
    (velmor.diff, (TREE,), {}, TypeError),
    (velmor.diff, (TREE, TREE2, TREE), {}, TypeError),
    (velmor.diff, (TREE,), {"old": TREE}, TypeError),
    (velmor.diff, (), {"old": TREE, "x": 1}, TypeError),
    (velmor.diff, (1, TREE), {}, TypeError),
    (velmor.diff, ("\ud800", TREE), {}, UnicodeEncodeError),
    (velmor.apply, (TREE, PATCH), {}, None),
    (velmor.apply, (TREE, '{"ops":[{"RemoveChild":{"path":[],"slot":"s","index":9}}]}'), {}, ValueError),
    (velmor.apply, (), {"root": TREE}, TypeError),
    (velmor.apply, (TREE, None), {}, TypeError),
    (velmor.parse_cem, (MANIFEST,), {}, None),
    (velmor.parse_cem, ('{"modules":null}',), {}, ValueError),
    (velmor.parse_cem, (b"{}",), {}, TypeError),
    (velmor.encode_frame, (TREE, "m", "patch", 3, "application/msgpack"), {}, None),
    (velmor.encode_frame, (TREE, "m", "patch", Index(), "application/json"), {}, None),
    (velmor.encode_frame, ("x", "m", "patch", 3, "application/msgpack"), {}, ValueError),
    (velmor.encode_frame, (TREE, "m", "Patch", 3, "application/json"), {}, ValueError),
    (velmor.encode_frame, (TREE, "m", "patch", -1, "application/json"), {}, OverflowError),
    (velmor.encode_frame, (TREE, "m", "patch", 2**64, "application/json"), {}, OverflowError),
    (velmor.encode_frame, (TREE, "m", "patch", 1.5, "application/json"), {}, TypeError),
    (velmor.encode_frame, (TREE, "m", "patch", BadIndex(), "application/json"), {}, RuntimeError),
    (velmor.decode_frame, (FRAME_JSON,), {}, None),
    (velmor.decode_frame, (FRAME_MSGPACK,), {}, None),
    (velmor.decode_frame, (FRAME_JSON[:-1],), {}, ValueError),
    (velmor.decode_frame, (bytearray(FRAME_JSON),), {}, TypeError),
    (velmor.decode_frame, (), {"frame": FRAME_JSON, "other": 1}, TypeError),
    (velmor.Example, ("abc",), {}, None),
    (velmor.Example, (b"abc",), {}, TypeError),
]


def rss() -> int:
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def run(fn, args, kwargs, error, times):
    for _ in range(times):
        try:
            fn(*args, **kwargs)
        except Exception as e:  # noqa: BLE001
            if error is None or not isinstance(e, error):
                raise
        else:
            assert error is None


@pytest.mark.skipif(not os.path.exists("/proc/self/statm"), reason="needs /proc to read resident memory")
@pytest.mark.parametrize("fn", sorted({c[0] for c in CALLS}, key=lambda f: f.__name__), ids=lambda f: f.__name__)
def test_resident_memory_stays_flat(fn):
    calls = [c for c in CALLS if c[0] is fn]
    per_case = 200_000 // len(calls)
    for c in calls:  # warm up: caches, interned names, allocator pools
        run(*c, times=2_000)
    gc.collect()
    before = rss()
    for c in calls:
        run(*c, times=per_case)
    gc.collect()
    growth = rss() - before
    assert growth < 4 << 20, f"{fn.__name__}: resident memory grew by {growth} bytes over {per_case * len(calls)} calls"


def fresh(o):
    """A copy of `o` that nothing else in the process holds (interned and constant strings are
    shared, so another thread using the same text would move their counts)."""
    if type(o) is str and len(o) > 1:
        return "".join(list(o))
    if type(o) is bytes and len(o) > 1:
        return bytes(bytearray(o))
    return o


def counted(o):
    # None, ints and one-character texts are the interpreter's own shared singletons.
    return o is not None and type(o) is not int and not (type(o) in (str, bytes) and len(o) <= 1)


def test_argument_reference_counts_are_unchanged():
    # A garbage collection of other tests' leftovers in the middle of the calls could release
    # references too, so there is none while counting; the arguments are private copies.
    gc.collect()
    gc.disable()
    try:
        for fn, args, kwargs, error in CALLS:
            args = tuple(fresh(a) for a in args)
            kwargs = {k: fresh(v) for k, v in kwargs.items()}
            objects = [o for o in list(args) + list(kwargs.values()) if counted(o)]
            before = [sys.getrefcount(o) for o in objects]
            run(fn, args, kwargs, error, times=100)
            after = [sys.getrefcount(o) for o in objects]
            assert after == before, (fn.__name__, args, kwargs)
    finally:
        gc.enable()
