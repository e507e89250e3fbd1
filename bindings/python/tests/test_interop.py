"""The package and the tvkcrypt tool read each other's files; the
command line of python3 -m tvkcrypto."""
import os
import re
import subprocess
import sys

import pytest

import tvkcrypto
from conftest import BLOCK, DATA, PASSWORD, ROOT


def run(command, password, **kwargs):
    env = dict(os.environ, TVK_PASSWORD=password)
    return subprocess.run(command, env=env, capture_output=True, timeout=60, **kwargs)


def test_the_tool_reads_what_the_package_wrote(tool, sample):
    path, data = sample
    assert run([tool, "check", str(path)], PASSWORD).returncode == 0
    decrypted = run([tool, "decrypt", "--offset", str(BLOCK - 1), "--length", "1002", str(path)], PASSWORD)
    assert decrypted.returncode == 0 and decrypted.stdout == data[BLOCK - 1:BLOCK + 1001]


def test_the_package_reads_what_the_tool_wrote(tool, tmp_path):
    clear, encrypted = tmp_path / "clear", tmp_path / "made by the tool.tvk"
    clear.write_bytes(os.urandom(BLOCK + 3000))
    made = run([tool, "encrypt", "--quiet", "--password-encoding", "cp1252", str(clear), "-o", str(encrypted)],
               "café")
    assert made.returncode == 0, made.stderr
    tvkcrypto.check(encrypted, "café", encoding="cp1252")
    with pytest.raises(tvkcrypto.WrongPasswordError):
        tvkcrypto.check(encrypted, "café")  # UTF-8: another key
    with tvkcrypto.open(encrypted, password="café", encoding="cp1252") as f:
        assert f.verified and f.read_at(BLOCK - 5, 10) == clear.read_bytes()[BLOCK - 5:BLOCK + 5]


def test_the_stored_example_file():
    path = DATA / "readme-example.tvk"
    with tvkcrypto.open(path, password="example password", verify="required") as f:
        f.seek(4)
        assert f.read(64).startswith(b"README's C example reads these 64 bytes from the middle of files")


def test_command_line(tmp_path):
    module = [sys.executable, "-m", "tvkcrypto"]
    shown = subprocess.run(module + ["--help"], capture_output=True, text=True, timeout=60)
    assert shown.returncode == 0 and "decrypt" in shown.stdout and "TVK_PASSWORD" in shown.stdout
    example = str(DATA / "readme-example.tvk")
    sliced = run(module + ["decrypt", "--offset", "4", "--length", "6", example], "example password")
    assert (sliced.returncode, sliced.stdout) == (0, b"README")
    wrong = run(module + ["check", example], "not it")
    assert wrong.returncode == 1 and b"wrong password" in wrong.stderr
    usage = run(module + ["decrypt", "--offset", "x1", example], "example password")
    assert usage.returncode == 2


def test_readme_example(sample, monkeypatch, capsys):
    readme = (ROOT / "README.md").read_text(encoding="utf-8")
    code = re.search(r"\n## Python\n.*?```python\n(.*?)```", readme, re.S).group(1)
    assert len(code.strip().splitlines()) < 15
    path, data = sample
    monkeypatch.chdir(path.parent)
    os.rename(path, "big.bin.tvk")
    os.rename(str(path) + ".tvkcheck", "big.bin.tvk.tvkcheck")
    exec(code, {})
    assert capsys.readouterr().out == "%d True 4096\n" % len(data)
    with open("big.bin.tvk", "r+b") as f:  # the first block damaged
        first = f.read(1)[0]
        f.seek(0)
        f.write(bytes([first ^ 1]))
    exec(code, {})
    assert capsys.readouterr().out.endswith("damaged: bytes 0 to %d\n" % (BLOCK - 1))
