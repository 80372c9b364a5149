"""Many threads calling every function at once get exactly the results of one thread."""

import random
import threading

import velmor

import trees


def jobs(seed: int) -> list:
    """Calls with their inputs: (function, args)."""
    rnd = random.Random(seed)
    out = []
    for i in range(12):
        old = trees.dumps(trees.random_tree(rnd))
        new = trees.dumps(trees.mutate(rnd, trees.random_tree(rnd) if i % 4 == 0 else __import__("json").loads(old)))
        patch = velmor.diff(old, new)
        out.append((velmor.diff, (old, new)))
        out.append((velmor.apply, (old, patch)))
        out.append((velmor.apply, (new, patch)))  # usually does not fit: an error, the same every time
        out.append((velmor.encode_frame, (patch, f"m{i}", "patch", i, "application/msgpack")))
        out.append((velmor.decode_frame, (velmor.encode_frame(old, "m", "snapshot", i, "application/json"),)))
        out.append((velmor.decode_frame, (velmor.encode_frame(new, "m", "snapshot", i, "application/msgpack"),)))
        manifest = '{"modules":[{"declarations":[{"customElement":true,"tagName":"x-%d","attributes":[{"name":"n","type":{"text":"number|null"},"default":"%d"}]}]}]}' % (i, i)
        out.append((velmor.parse_cem, (manifest,)))
        out.append((velmor.diff, (old, old[:-1])))  # a reading error
    return out


def outcome(fn, args):
    try:
        return "ok", fn(*args)
    except Exception as e:  # noqa: BLE001
        return type(e).__name__, str(e)


def test_concurrent_calls_match_single_threaded_results():
    work = [jobs(seed) for seed in range(8)]
    expected = [[outcome(fn, args) for fn, args in w] for w in work]
    results = [None] * len(work)
    barrier = threading.Barrier(len(work))

    def worker(k):
        barrier.wait()
        got = []
        for _ in range(20):
            got = [outcome(fn, args) for fn, args in work[k]]
            if got != expected[k]:
                break
        results[k] = got

    threads = [threading.Thread(target=worker, args=(k,)) for k in range(len(work))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for k in range(len(work)):
        assert results[k] == expected[k]


def test_example_type_is_shared_across_threads():
    seen = []
    lock = threading.Lock()

    def make(k):
        e = velmor.Example(f"v{k}")
        with lock:
            seen.append((type(e), str(e)))

    threads = [threading.Thread(target=make, args=(k,)) for k in range(16)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert {t for t, _ in seen} == {velmor.Example}
    assert sorted(v for _, v in seen) == sorted(f"v{k}" for k in range(16))
