"""Where the tests find the kit's programs: KINETRON_BIN_DIR (set by CTest), else build/bin."""

import os
from pathlib import Path

import pytest

SOURCE_DIR = Path(__file__).resolve().parents[2]


@pytest.fixture(scope="session")
def bin_dir():
    path = Path(os.environ.get("KINETRON_BIN_DIR", SOURCE_DIR / "build" / "bin"))
    if not path.is_dir():
        pytest.skip(f"no built programs in {path}")
    return path
