"""Where the package finds the shared library, and the versions."""
import os
import re

import pytest

import tvkcrypto
from tvkcrypto import _library
from conftest import ROOT


def test_lookup_order(tmp_path, monkeypatch):
    real = os.path.realpath(tvkcrypto.library_path)
    bundled = tmp_path / _library.LIBRARY_NAMES[0]
    env = {"TVKCRYPTO_LIBRARY": real}
    assert _library.load(str(tmp_path), env)[1] == real
    os.symlink(real, bundled)
    assert _library.load(str(tmp_path), {"TVKCRYPTO_LIBRARY": "/nowhere/lib.so"})[1] == str(bundled)
    os.remove(bundled)
    monkeypatch.setattr(_library.ctypes.util, "find_library", lambda name: None)
    monkeypatch.setattr(_library, "LIBRARY_NAMES", ("libtvkcrypto-absent.so.1",))
    with pytest.raises(ImportError) as raised:
        _library.load(str(tmp_path), {"TVKCRYPTO_LIBRARY": "/nowhere/lib.so"})
    message = str(raised.value)
    assert re.search(r"bundled .*not there.*TVKCRYPTO_LIBRARY /nowhere/lib.so.*system libtvkcrypto-absent",
                     message), message


def test_versions_agree():
    cmake = (ROOT / "CMakeLists.txt").read_text()
    project = re.search(r"project\(TvkCrypto VERSION ([0-9.]+)", cmake).group(1)
    assert tvkcrypto.__version__ == project == tvkcrypto.library_version()
