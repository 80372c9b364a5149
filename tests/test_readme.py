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


def _handler_examples() -> list[str]:
    """The handlers, expressions and references that the reference shows inline in their written
    form (a string tag), one per code span."""
    text = (ROOT / "docs" / "reference.md").read_text(encoding="utf-8")
    return re.findall(r'`(\{"(?:kind|expr|ref)":"[^`]*\})`', text)


@pytest.mark.parametrize("example", _handler_examples())
def test_inline_handlers_are_written_as_shown(example: str):
    """Each inline handler, expression or reference reads, and is the text velmor writes for it."""
    import velmor

    if example.startswith('{"kind":'):
        holder = '{"tag":"x","events":{"e":%s}}'
    elif example.startswith('{"expr":'):
        holder = '{"tag":"x","events":{"e":{"kind":"set-field","field":"f","value":%s}}}'
    else:
        holder = '{"tag":"x","events":{"e":{"kind":"toggle","target":%s,"prop":"p"}}}'
    tree = holder % example
    assert velmor.apply(tree, '{"ops":[]}') == tree


@pytest.mark.parametrize("page", [README, *DOCS], ids=lambda p: p.name)
def test_json_blocks_are_trees(page: Path):
    """A ```json block shows a tree: it reads as one."""
    import velmor

    for block in re.findall(r"```json\n(.*?)```", page.read_text(encoding="utf-8"), flags=re.S):
        velmor.apply(block, '{"ops":[]}')


def _slug(heading: str) -> str:
    """The anchor a Markdown renderer gives a heading: lower case, punctuation dropped, spaces
    as hyphens."""
    return re.sub(r"[^\w\- ]", "", heading.strip().lower()).replace(" ", "-")


@pytest.mark.parametrize("page", [README, *DOCS], ids=lambda p: p.name)
def test_links_within_the_docs_resolve(page: Path):
    text = page.read_text(encoding="utf-8")
    for target, anchor in re.findall(r"\]\(((?:[\w./-]+\.md)?)(?:#([\w-]+))?\)", text):
        linked = (page.parent / target).resolve() if target else page
        assert linked.is_file(), f"{page.name} links to {target}, which is not there"
        if anchor:
            headings = re.findall(r"^#+ (.*)$", linked.read_text(encoding="utf-8"), flags=re.M)
            assert anchor in {_slug(h) for h in headings}, f"{page.name} links to #{anchor}, no such heading"
