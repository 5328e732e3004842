"""What the Python suites share: the build folder whose exes they test."""
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[1]


def pytest_addoption(parser):
    parser.addoption("--build", type=Path, default=ROOT / "build" / "windows",
                     help="the build folder of the exes under test (default: the windows preset's)")
    parser.addoption("--without-cet", metavar="REASON", help="the exe checks excuse CET, for this reason")
    parser.addoption("--ceiling", type=int, metavar="KB", help="the most hushpane.exe may weigh")


@pytest.fixture(scope="session")
def build(request):
    return request.config.getoption("--build").resolve()
