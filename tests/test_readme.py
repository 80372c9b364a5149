"""The README's examples are true: its interactive sessions run as written."""

import doctest
import re
from pathlib import Path

README = Path(__file__).resolve().parent.parent / "README.md"


def test_readme_sessions():
    text = README.read_text(encoding="utf-8")
    sessions = re.findall(r"```pycon\n(.*?)```", text, flags=re.S)
    assert sessions, "the README shows no sessions"
    parser = doctest.DocTestParser()
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    globs: dict = {}
    for i, session in enumerate(sessions):
        test = parser.get_doctest(session, globs, f"README session {i + 1}", str(README), 0)
        runner.run(test, clear_globs=False)
        globs = test.globs  # later sessions go on with the names of earlier ones
    assert runner.failures == 0, "a README session does not run as written (see the output above)"
