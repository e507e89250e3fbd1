"""Shared fixtures of the package's tests, which run against the
installed package (scripts/test-python.sh installs it into a throwaway
virtual environment first)."""
import json
import os
import pathlib
import random
import shutil

import pytest

import tvkcrypto

ROOT = pathlib.Path(__file__).resolve().parents[3]
DATA = pathlib.Path(os.environ.get("TVKCRYPTO_TEST_DATA", str(ROOT / "tests" / "data")))
PASSWORD = "secret"  # as in README's example, which reads the sample
BLOCK = 512 << 10  # the check file's block size for data this small


def pytest_report_header(config):
    return "tvkcrypto %s from %s; library %s at %s" % (
        tvkcrypto.__version__, os.path.dirname(tvkcrypto.__file__), tvkcrypto.library_version(),
        tvkcrypto.library_path)


def xorshift(size):
    """The vectors' cleartext generator (see the JSON file's "generator")."""
    x, out = 0x2545F491, bytearray(size)
    for i in range(size):
        x ^= (x << 13) & 0xFFFFFFFF
        x ^= x >> 17
        x ^= (x << 5) & 0xFFFFFFFF
        out[i] = x >> 24
    return bytes(out)


@pytest.fixture(scope="session")
def vectors():
    with open(DATA / "password-format.json", encoding="utf-8") as source:
        return json.load(source)


@pytest.fixture(scope="session")
def tool():
    """The tvkcrypt tool, from TVKCRYPT or the PATH."""
    path = os.environ.get("TVKCRYPT") or shutil.which("tvkcrypt")
    if not path:
        pytest.skip("tvkcrypt not found: set TVKCRYPT to the tool")
    return path


@pytest.fixture(scope="session")
def sample_master(tmp_path_factory):
    """Three check blocks (the last one short), written once with a check file."""
    data = random.Random(1).randbytes(2 * BLOCK + 5000)
    path = tmp_path_factory.mktemp("master") / "sample.tvk"
    with tvkcrypto.open(path, "wb", password=PASSWORD) as f:
        f.write(data)
    return path, data


@pytest.fixture
def sample(sample_master, tmp_path):
    """A copy of the sample file and its check file, for a test to change."""
    path = tmp_path / "sample.tvk"
    shutil.copyfile(sample_master[0], path)
    shutil.copyfile(str(sample_master[0]) + ".tvkcheck", str(path) + ".tvkcheck")
    return path, sample_master[1]
