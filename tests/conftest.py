"""Shared test configuration: the public conformance data folder beside the project."""

from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
TESTDATA = ROOT.parent / "shared" / "testdata"


@pytest.fixture(scope="session")
def testdata() -> Path:
    """The conformance data folder; tests that need it skip when it is absent."""
    if not TESTDATA.is_dir():
        pytest.skip(f"conformance data not found at {TESTDATA}")
    return TESTDATA
