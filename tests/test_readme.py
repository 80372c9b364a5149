"""The README's and the docs' examples are true: their interactive sessions run as written."""

import doctest
import re
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
README = ROOT / "README.md"
DOCS = sorted((ROOT / "docs").glob("*.md"))


def run_sessions(path: Path) -> doctest.TestResults:
    """Runs every ```pycon block of one page as a doctest; later blocks go on with the names of
    earlier ones, as a reader's session would."""
    text = path.read_text(encoding="utf-8")
    sessions = re.findall(r"```pycon\n(.*?)```", text, flags=re.S)
    parser = doctest.DocTestParser()
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    globs: dict = {}
    for i, session in enumerate(sessions):
        name = f"{path.relative_to(ROOT)} session {i + 1}"
        test = parser.get_doctest(session, globs, name, str(path), 0)
        runner.run(test, clear_globs=False)
        globs = test.globs
    return runner.summarize(verbose=False)


def test_readme_sessions():
    results = run_sessions(README)
    assert results.attempted, "the README shows no sessions"
    assert results.failed == 0, "a README session does not run as written (see the output above)"


def test_docs_are_found():
    assert ROOT / "docs" / "reference.md" in DOCS


@pytest.mark.parametrize("page", DOCS, ids=lambda p: p.name)
def test_docs_sessions(page: Path):
    results = run_sessions(page)
    assert results.failed == 0, f"a session of {page.name} does not run as written (see the output above)"


def test_readme_links_the_reference():
    assert "(docs/reference.md)" in README.read_text(encoding="utf-8")
