"""Benchmark: parse_cem on a generated component-library manifest, against json.loads.

    python bench/bench_cem.py [SIZE_MB]

The manifest (seeded, about SIZE_MB megabytes, 5 by default, indented by two spaces as generators
of these files write them) holds modules of custom elements with attributes, types, defaults,
descriptions, slots, events, css parts and properties, and the members, superclasses, mixins and
exports that reading skips, plus plain classes, functions and mixins that yield no schema. A
few descriptions hold non-ASCII text.

Every time is the best single call over repeated runs. "parse_cem" calls it again on the same
`str`, whose UTF-8 form the interpreter caches after the first call; "parse_cem, fresh str"
times a call on a new copy of the text each run, so it includes the interpreter's conversion of
the `str` to UTF-8. Target: parse_cem at most 0.5x the time of json.loads alone.
"""

from __future__ import annotations

import json
import random
import sys
import time

import velmor

WORDS = ("value range step track label icon panel row column cell header footer item list menu "
         "option group field input form button toggle switch badge card dialog sheet toast chip "
         "avatar tooltip popover drawer tab stepper slider dial gauge chart legend axis series "
         "ledger entry total amount currency locale date time zone theme tone density size").split()
TYPES = ["string", "number", "boolean", "string | undefined", "number | undefined", "boolean | null",
         "'small' | 'medium' | 'large'", "'start' | 'center' | 'end' | undefined", "Date | null",
         "HTMLElement | null", "(value: number) => string", "Array<string>", "Record<string, number>"]
DEFAULTS = ["'medium'", "0", "1.5", "false", "true", "''", "undefined", "null", "[]", "'start'",
            "-1e3", "\"auto\"", "NaN"]
ACCENTED = ["café", "naïve", "Größe", "señal", "ångström", "déjà vu", "→", "✓"]


def sentence(rnd: random.Random, lo: int, hi: int) -> str:
    words = [rnd.choice(WORDS) for _ in range(rnd.randint(lo, hi))]
    if rnd.random() < 0.05:
        words.insert(rnd.randrange(len(words)), rnd.choice(ACCENTED))
    text = " ".join(words)
    return text[0].upper() + text[1:] + "."


def paragraph(rnd: random.Random, sentences: int) -> str:
    return " ".join(sentence(rnd, 6, 16) for _ in range(sentences))


def name(rnd: random.Random, parts: int) -> str:
    return "-".join(rnd.choice(WORDS) for _ in range(parts))


def camel(dashed: str) -> str:
    return "".join(p[:1].upper() + p[1:] for p in dashed.replace("_", "-").split("-"))


def member(rnd: random.Random) -> dict:
    if rnd.random() < 0.5:
        return {"kind": "field", "name": camel(name(rnd, 2)), "privacy": rnd.choice(["public", "private"]),
                "type": {"text": rnd.choice(TYPES)}, "default": rnd.choice(DEFAULTS),
                "description": sentence(rnd, 5, 14), "attribute": name(rnd, 2), "reflects": rnd.random() < 0.3}
    return {"kind": "method", "name": camel(name(rnd, 2)), "description": sentence(rnd, 5, 14),
            "parameters": [{"name": camel(name(rnd, 1)), "type": {"text": rnd.choice(TYPES)},
                            "description": sentence(rnd, 3, 8)} for _ in range(rnd.randint(0, 3))],
            "return": {"type": {"text": rnd.choice(TYPES + ["void", "Promise<void>"])}}}


def custom_element(rnd: random.Random, tag: str) -> dict:
    d = {"kind": "class", "description": paragraph(rnd, rnd.randint(1, 2)), "name": camel(tag),
         "cssProperties": [{"name": f"--{tag}-{name(rnd, 1)}", "default": f"{rnd.randint(0, 16)}px",
                            "description": sentence(rnd, 4, 10)} for _ in range(rnd.randint(0, 2))],
         "cssParts": [{"name": name(rnd, 1), "description": sentence(rnd, 3, 8)} for _ in range(rnd.randint(0, 3))],
         "slots": [{"name": "" if i == 0 else name(rnd, 1), "description": sentence(rnd, 3, 10)}
                   for i in range(rnd.randint(0, 3))],
         "members": [member(rnd) for _ in range(rnd.randint(1, 4))],
         "events": [{"name": name(rnd, rnd.randint(1, 2)), "type": {"text": "CustomEvent"},
                     "description": sentence(rnd, 3, 10)} for _ in range(rnd.randint(0, 4))],
         "attributes": [],
         "superclass": {"name": "LibElement", "module": "src/base/lib-element.js"},
         "mixins": [{"name": "Focusable", "module": "src/base/focusable.js"}] if rnd.random() < 0.3 else [],
         "tagName": tag, "customElement": True}
    if rnd.random() < 0.6:
        d["summary"] = sentence(rnd, 5, 12)
    for _ in range(rnd.randint(3, 10)):
        a = {"name": name(rnd, rnd.randint(1, 2)), "type": {"text": rnd.choice(TYPES)},
             "fieldName": camel(name(rnd, 1))}
        if rnd.random() < 0.7:
            a["default"] = rnd.choice(DEFAULTS)
        if rnd.random() < 0.8:
            a["description"] = sentence(rnd, 5, 18)
        if rnd.random() < 0.1:
            a["inheritedFrom"] = {"name": "LibElement", "module": "src/base/lib-element.js"}
        d["attributes"].append(a)
    return d


def other_declaration(rnd: random.Random) -> dict:
    kind = rnd.choice(["class", "function", "mixin", "variable"])
    d = {"kind": kind, "name": camel(name(rnd, 2)), "description": sentence(rnd, 5, 15)}
    if kind in ("class", "mixin"):
        d["members"] = [member(rnd) for _ in range(rnd.randint(1, 3))]
    if kind == "function":
        d["parameters"] = [{"name": camel(name(rnd, 1)), "type": {"text": rnd.choice(TYPES)}}]
        d["return"] = {"type": {"text": rnd.choice(TYPES)}}
    return d


def generate(size_mb: float, seed: int = 5) -> tuple[str, int, int]:
    rnd = random.Random(seed)
    modules, declarations, elements, size = [], 0, 0, 0
    while size < size_mb * 1e6:
        tag = f"lib-{name(rnd, rnd.randint(1, 2))}-{len(modules)}"
        path = f"src/{tag}/{tag}.js"
        decls = [custom_element(rnd, tag)] + [other_declaration(rnd) for _ in range(rnd.randint(1, 6))]
        rnd.shuffle(decls)
        module = {"kind": "javascript-module", "path": path, "declarations": decls,
                  "exports": [{"kind": "js", "name": camel(tag), "declaration": {"name": camel(tag), "module": path}},
                              {"kind": "custom-element-definition", "name": tag,
                               "declaration": {"name": camel(tag), "module": path}}]}
        modules.append(module)
        declarations += len(decls)
        elements += 1
        size += len(json.dumps(module, indent=2, ensure_ascii=False).encode())
    text = json.dumps({"schemaVersion": "1.0.0", "readme": "README.md", "modules": modules},
                      indent=2, ensure_ascii=False)
    return text, declarations, elements


def best(fn, runs: int = 15) -> float:
    times = []
    for _ in range(runs):
        t = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t)
    return min(times)


def best_fresh(text: str, runs: int = 15) -> float:
    times = []
    for _ in range(runs):
        copy = text.encode().decode()  # a new str without a cached UTF-8 form
        t = time.perf_counter()
        velmor.parse_cem(copy)
        times.append(time.perf_counter() - t)
    return min(times)


def main() -> None:
    size_mb = float(sys.argv[1]) if len(sys.argv) > 1 else 5.0
    text, declarations, elements = generate(size_mb)
    nbytes = len(text.encode())
    schemas = json.loads(velmor.parse_cem(text))
    assert len(schemas) == elements
    print(f"manifest: {nbytes} bytes, {declarations} declarations, {elements} custom elements, "
          f"{sum(len(s['props']) for s in schemas)} properties; output "
          f"{len(velmor.parse_cem(text).encode())} bytes")

    rows = [("json.loads(text)", best(lambda: json.loads(text))),
            ("velmor.parse_cem(text)", best(lambda: velmor.parse_cem(text))),
            ("velmor.parse_cem(text), fresh str", best_fresh(text))]
    base = rows[0][1]
    print()
    print("| call | time | MB/s | x json.loads |")
    print("|---|---|---|---|")
    for what, t in rows:
        print(f"| {what} | {t * 1e3:.2f} ms | {nbytes / t / 1e6:.0f} | {t / base:.3f}x |")


if __name__ == "__main__":
    main()
