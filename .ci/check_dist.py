"""Checks the release files that CI builds; exits non-zero, saying why, on the first fault.

    python .ci/check_dist.py wheel dist/velmor-*.whl     (the wheel after auditwheel repair)
    python .ci/check_dist.py sdist dist/velmor-*.tar.gz

The wheel: its platform tags are manylinux ones no newer than manylinux_2_17, no library was
grafted into it, the module has no debug sections or static symbol table and exports only
PyInit_velmor, and its metadata carries the licence file and valid classifiers.
The sdist: it holds every tracked file except the development-only ones below, and none of
those, nor build trees, virtual environments or caches.
"""

import re
import subprocess
import sys
import tarfile
import tempfile
import zipfile
from email.parser import Parser
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
NEWEST_GLIBC = (2, 17)
LEGACY_MANYLINUX = {"manylinux1": (2, 5), "manylinux2010": (2, 12), "manylinux2014": (2, 17)}
# Tracked files that a build from source does not need (benchmarks, fuzz targets, CI, git).
DEV_ONLY = ("bench/", "fuzz/", ".ci/", ".gitignore", ".gitattributes")
# Never in an sdist: build trees, virtual environments, caches, built modules.
JUNK = re.compile(r"(^|/)(build|\.venv[^/]*|__pycache__|\.pytest_cache|node_modules|\.git)(/|$)"
                  r"|^dist/|\.so$|\.py[co]$")


def fail(message: str) -> None:
    sys.exit(f"check_dist: {message}")


def readelf(*args: str) -> str:
    return subprocess.run(["readelf", "-W", *args], check=True, capture_output=True,
                          text=True).stdout


def check_platform_tags(name: str) -> list[str]:
    m = re.fullmatch(r"velmor-[^-]+-cp311-abi3-([^-]+)\.whl", name)
    if not m:
        fail(f"{name} is not a cp311-abi3 wheel")
    tags = m.group(1).split(".")
    for tag in tags:
        m = re.fullmatch(r"manylinux_(\d+)_(\d+)_\w+", tag)
        if m:
            glibc = (int(m.group(1)), int(m.group(2)))
        else:
            m = re.fullmatch(r"(manylinux\d+)_\w+", tag)
            glibc = LEGACY_MANYLINUX.get(m.group(1)) if m else None
        if glibc is None:
            fail(f"{name}: platform tag {tag} is not a manylinux tag")
        if glibc > NEWEST_GLIBC:
            fail(f"{name}: platform tag {tag} needs glibc {glibc[0]}.{glibc[1]}, newer than "
                 f"{NEWEST_GLIBC[0]}.{NEWEST_GLIBC[1]}")
    return tags


def check_module(path: Path) -> None:
    sections = re.findall(r"^\s*\[\s*\d+\]\s+(\S+)", readelf("-S", str(path)), re.M)
    kept = [s for s in sections if s.startswith(".debug") or s in (".symtab", ".strtab")]
    if kept:
        fail(f"the module is not stripped: it has {', '.join(kept)}")
    exported = set()
    for line in readelf("--dyn-syms", str(path)).splitlines():
        fields = line.split()
        # Num: Value Size Type Bind Vis Ndx Name
        if (len(fields) >= 8 and fields[0][:-1].isdigit() and fields[6] != "UND"
                and fields[4] != "LOCAL"):
            exported.add(fields[7].split("@")[0])
    if exported != {"PyInit_velmor"}:
        fail(f"the module should export PyInit_velmor alone, it exports {sorted(exported)}")
    needed = re.findall(r"\(NEEDED\).*\[(.+)\]", readelf("-d", str(path)))
    print(f"module: {path.stat().st_size} bytes, needs {', '.join(needed)}")


def check_metadata(metadata: str, license_text: bytes | None) -> None:
    msg = Parser().parsestr(metadata)
    if msg["License-Expression"] != "MIT" or msg.get_all("License-File") != ["LICENSE"]:
        fail("the metadata should name the MIT licence and its file LICENSE")
    if license_text != (ROOT / "LICENSE").read_bytes():
        fail("the wheel does not carry the project's LICENSE file")
    classifiers = msg.get_all("Classifier") or []
    for needed in ("Typing :: Typed", "Operating System :: POSIX :: Linux",
                   "Programming Language :: Python :: Implementation :: CPython"):
        if needed not in classifiers:
            fail(f"classifier missing: {needed}")
    oldest = tuple(map(int, re.fullmatch(r">=(\d+)\.(\d+)", msg["Requires-Python"]).groups()))
    for c in classifiers:
        m = re.fullmatch(r"Programming Language :: Python :: (\d+)\.(\d+)", c)
        if m and (int(m.group(1)), int(m.group(2))) < oldest:
            fail(f"classifier {c} is older than Requires-Python {msg['Requires-Python']}")
    try:
        from trove_classifiers import classifiers as known
    except ImportError:
        print("classifiers not checked against the known list (trove-classifiers not installed)")
    else:
        unknown = [c for c in classifiers if c not in known]
        if unknown:
            fail(f"unknown classifiers: {unknown}")


def check_wheel(path: Path) -> None:
    tags = check_platform_tags(path.name)
    with zipfile.ZipFile(path) as z, tempfile.TemporaryDirectory() as tmp:
        names = z.namelist()
        grafted = sorted({n.split("/")[0] for n in names if ".libs/" in n})
        if grafted:
            fail(f"the audit grafted external libraries into the wheel: {grafted}")
        modules = [n for n in names if re.search(r"\.so(\.|$)", n)]
        if modules != ["velmor.abi3.so"]:
            fail(f"the wheel should hold one module, velmor.abi3.so, it holds {modules}")
        check_module(Path(z.extract("velmor.abi3.so", tmp)))
        info = next(n.split("/")[0] for n in names if n.endswith(".dist-info/METADATA"))
        license_name = f"{info}/licenses/LICENSE"
        check_metadata(z.read(f"{info}/METADATA").decode(),
                       z.read(license_name) if license_name in names else None)
    print(f"wheel: {path.name}, {path.stat().st_size} bytes, tags {', '.join(tags)}")


def tracked_files() -> list[str] | None:
    try:
        out = subprocess.run(["git", "ls-files", "-z"], cwd=ROOT, check=True,
                             capture_output=True).stdout
    except (OSError, subprocess.CalledProcessError):
        return None
    return [f for f in out.decode().split("\0") if f and (ROOT / f).is_file()]


def check_sdist(path: Path) -> None:
    with tarfile.open(path) as t:
        members = [m.name for m in t.getmembers() if m.isfile()]
    top = {m.split("/")[0] for m in members}
    if len(top) != 1:
        fail(f"the sdist should hold one top folder, it holds {sorted(top)}")
    prefix = top.pop() + "/"
    files = {m[len(prefix):] for m in members}
    bad = sorted(f for f in files if JUNK.search(f) or f.startswith(DEV_ONLY))
    if bad:
        fail(f"the sdist holds what a build does not need: {bad[:20]}")
    for needed in ("PKG-INFO", "pyproject.toml", "CMakeLists.txt", "README.md", "LICENSE",
                   "src/velmor.hpp", "python/lib.cpp", "python/velmor.pyi"):
        if needed not in files:
            fail(f"the sdist lacks {needed}")
    tracked = tracked_files()
    if tracked is None:
        print("sdist completeness not checked (no git checkout)")
    else:
        built_client = [str(p.relative_to(ROOT)) for p in (ROOT / "client" / "dist").glob("*")
                        if p.is_file()]
        missing = sorted(f for f in set(tracked + built_client) - files
                         if not f.startswith(DEV_ONLY))
        if missing:
            fail(f"the sdist lacks tracked files: {missing[:20]} (add them to "
                 "[tool.scikit-build.sdist] include in pyproject.toml, or to DEV_ONLY here)")
    print(f"sdist: {path.name}, {path.stat().st_size} bytes, {len(files)} files")


if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[1] not in ("wheel", "sdist"):
        sys.exit(__doc__)
    (check_wheel if sys.argv[1] == "wheel" else check_sdist)(Path(sys.argv[2]))
