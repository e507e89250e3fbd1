"""Encrypted files: the reader, the writer, whole files and check files."""
import io
import os
import shutil

import pytest

import tvkcrypto
from conftest import BLOCK, PASSWORD


@pytest.mark.parametrize("buffering", [-1, 0, 100])
def test_reader_is_a_seekable_file(sample, buffering):
    path, data = sample
    with tvkcrypto.open(path, password=PASSWORD, buffering=buffering) as f:
        assert isinstance(f, io.BufferedReader if buffering else io.RawIOBase)
        assert (f.size, f.verified, f.readable(), f.seekable(), f.name) == (len(data), True, True, True, path)
        assert f.read(10) == data[:10]
        assert f.seek(BLOCK - 3) == BLOCK - 3 and f.read(6) == data[BLOCK - 3:BLOCK + 3]
        assert f.seek(-5, io.SEEK_CUR) == BLOCK - 2 and f.tell() == BLOCK - 2
        buffer = bytearray(7)
        assert f.readinto(buffer) == 7 and buffer == data[BLOCK - 2:BLOCK + 5]
        assert f.seek(-4, io.SEEK_END) == len(data) - 4 and f.read() == data[-4:] and f.read(1) == b""
        assert f.read_at(3, 5) == data[3:8] and f.tell() == len(data)
        assert f.seek(len(data) + 100) == len(data) + 100 and f.read(10) == b""
        f.seek(0)
        assert f.read() == data
        with pytest.raises(ValueError):
            f.seek(-1)
        with pytest.raises(ValueError):
            f.seek(0, 3)
    with pytest.raises(ValueError, match="closed"):
        f.read(1)


def test_wrong_password_and_damage_are_reported(sample, tmp_path):
    path, data = sample
    with pytest.raises(tvkcrypto.WrongPasswordError):
        tvkcrypto.open(path, password="not it")
    with open(path, "r+b") as f:  # one byte of the second block changed
        f.seek(BLOCK + 100)
        f.write(bytes([data[BLOCK + 100] ^ tvkcrypto.encrypt(b"\0", PASSWORD, BLOCK + 100)[0] ^ 1]))
    with tvkcrypto.open(path, password=PASSWORD, buffering=0) as f:
        assert f.read(BLOCK) == data[:BLOCK]  # the blocks before still read
        f.seek(BLOCK - 10)
        with pytest.raises(tvkcrypto.DamagedError) as raised:
            f.read(20)
        assert (raised.value.offset, raised.value.length, raised.value.path) == (BLOCK, BLOCK, str(path))
        assert f.tell() == BLOCK - 10 and f.read(10) == data[BLOCK - 10:BLOCK]
        assert f.read_at(2 * BLOCK, 10) == data[2 * BLOCK:2 * BLOCK + 10]  # and the ones after
    with pytest.raises(tvkcrypto.DamagedError) as raised:
        tvkcrypto.check(path, PASSWORD)
    assert raised.value.range == (BLOCK, 2 * BLOCK)
    target = tmp_path / "out"
    with pytest.raises(tvkcrypto.DamagedError):
        tvkcrypto.decrypt_file(path, target, PASSWORD)
    assert not target.exists()
    with tvkcrypto.open(path, password=PASSWORD, verify=False) as f:  # unverified: what is there
        assert not f.verified and f.read_at(BLOCK + 100, 1) != data[BLOCK + 100:BLOCK + 101]


def test_writer_commits_only_on_close(tmp_path):
    path = tmp_path / "out.tvk"
    path.write_bytes(b"kept")
    with pytest.raises(FileExistsError):
        tvkcrypto.open(path, "wb", password="pw")
    with pytest.raises(RuntimeError):
        with tvkcrypto.open(path, "wb", password="pw", overwrite=True, check_file=False) as f:
            f.write(b"half")
            raise RuntimeError("interrupted")
    writer = tvkcrypto.open(path, "wb", password="pw", overwrite=True, check_file=False)
    writer.write(b"dropped")
    with pytest.warns(ResourceWarning):
        del writer
    assert sorted(os.listdir(tmp_path)) == ["out.tvk"] and path.read_bytes() == b"kept"
    with tvkcrypto.open(path, "wb", password="pw", overwrite=True) as f:
        assert f.write(memoryview(b"new ")) == 4 and f.write(bytearray(b"data")) == 4
    assert tvkcrypto.decrypt(path.read_bytes(), "pw") == b"new data"
    tvkcrypto.check(path, "pw")
    with pytest.raises(ValueError, match="closed"):
        f.write(b"more")


def test_whole_files_and_check_files(sample, tmp_path):
    path, data = sample
    clear, again = tmp_path / "clear", tmp_path / "again.tvk"
    tvkcrypto.decrypt_file(path, clear, PASSWORD)
    assert clear.read_bytes() == data
    tvkcrypto.encrypt_file(clear, again, PASSWORD, check_file=False)
    assert again.read_bytes() == path.read_bytes()  # no header, no salt: the same bytes
    with pytest.raises(tvkcrypto.NoCheckFileError) as raised:
        tvkcrypto.check(again, PASSWORD)
    assert isinstance(raised.value, FileNotFoundError) and raised.value.filename == str(again) + ".tvkcheck"
    tvkcrypto.create_check_file(again, PASSWORD, check_path=tmp_path / "elsewhere")
    tvkcrypto.check(again, PASSWORD, check_path=tmp_path / "elsewhere")
    with pytest.raises(FileExistsError) as raised:
        tvkcrypto.decrypt_file(path, clear, PASSWORD)
    assert raised.value.filename == str(clear)
    with pytest.raises(FileNotFoundError) as raised:
        tvkcrypto.encrypt_file(tmp_path / "missing", tmp_path / "x", PASSWORD)
    assert raised.value.filename == str(tmp_path / "missing")
    shutil.copyfile(tmp_path / "elsewhere", str(again) + ".tvkcheck")
    (tmp_path / "elsewhere").write_bytes(b"TVKCHECK and then nothing")
    with pytest.raises(tvkcrypto.CheckFileError):
        tvkcrypto.check(again, PASSWORD, check_path=tmp_path / "elsewhere")
    with pytest.raises(io.UnsupportedOperation):
        tvkcrypto.open(tmp_path, password=PASSWORD)


@pytest.mark.parametrize("call, error", [
    (lambda p: tvkcrypto.open(p, "r", password="pw"), ValueError),
    (lambda p: tvkcrypto.open(p, password="pw", verify="maybe"), ValueError),
    (lambda p: tvkcrypto.open(str(p) + "\0x", password="pw"), ValueError),
    (lambda p: tvkcrypto.open(p, password="pw", verify="required", check_path=str(p) + ".none"),
     tvkcrypto.NoCheckFileError),
    (lambda p: tvkcrypto.open(p, "wb", password="pw", check_file=False, check_path="c"), ValueError),
    (lambda p: tvkcrypto.encrypt_file(p, 42, "pw"), TypeError),
])
def test_bad_file_arguments_are_refused(sample, call, error):
    with pytest.raises(error):
        call(sample[0])
