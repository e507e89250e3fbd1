"""The format: known answers, the buffers transformed in place, the
password encodings."""
import array
import hashlib
import mmap
import sys

import pytest

import tvkcrypto
from conftest import xorshift


def cases(vectors):
    """(id, password bytes or raw key, cleartext, stream offset, vector)
    of every known answer at the format's expansion factor."""
    passwords = {p["name"]: bytes.fromhex(p["password_hex"]) for p in vectors["passwords"]}
    for v in vectors["vectors"] + vectors["offset_vectors"] + vectors["ctr_vectors"]:
        if v["expansion_factor"] != 6:
            continue
        kind, size = v["cleartext"]["kind"], v["cleartext"]["size"]
        clear = xorshift(size) if kind == "xorshift32" else bytes(size)
        if "key_hex" in v:  # a raw key, the cleartext at a stream offset
            yield v["id"], tvkcrypto.Key.from_raw(bytes.fromhex(v["key_hex"])), clear, v["offset"], v
        else:
            yield v["id"], passwords[v["password"]], clear[v["offset"]:v["offset"] + v["length"]], v["offset"], v


def test_known_answers(vectors):
    count = 0
    for name, password, clear, offset, v in cases(vectors):
        encrypted = tvkcrypto.encrypt(clear, password, offset)
        assert hashlib.sha256(encrypted).hexdigest() == v["ciphertext_sha256"], name
        assert encrypted[:64].hex() == v["ciphertext_head_hex"], name
        in_place = bytearray(encrypted)
        tvkcrypto.transform_into(in_place, password, offset)
        assert in_place == clear, name
        count += 1
    assert count >= 30
    for p in vectors["passwords"]:
        assert tvkcrypto.derive_key(bytes.fromhex(p["password_hex"])).hex() == p["key_hex"]
        if p["password_text"] is not None:
            assert tvkcrypto.derive_key(p["password_text"]).hex() == p["key_hex"]


@pytest.mark.parametrize("make", [
    lambda data: bytearray(data),
    lambda data: memoryview(bytearray(b"x" + data + b"y"))[1:-1],
    lambda data: array.array("I", data),
    lambda data: pytest.importorskip("numpy").frombuffer(bytearray(data), dtype="<u8").reshape(4, -1),
    "mmap",
], ids=["bytearray", "memoryview", "array", "numpy", "mmap"])
def test_transform_into_changes_the_buffer_itself(make, tmp_path):
    data = bytes(range(256)) * 16
    expected = tvkcrypto.encrypt(data, "pw", 5000)
    with tvkcrypto.Key("pw") as key:
        if make == "mmap":
            path = tmp_path / "mapped"
            path.write_bytes(data)
            with open(path, "r+b") as f, mmap.mmap(f.fileno(), 0) as mapped:
                key.transform_into(mapped, 5000)
            assert path.read_bytes() == expected
            return
        buffer = make(data)
        tvkcrypto.transform_into(buffer, key, 5000)
        assert memoryview(buffer).tobytes() == expected


@pytest.mark.parametrize("call, error", [
    (lambda: tvkcrypto.transform_into(b"read-only", "pw"), TypeError),
    (lambda: tvkcrypto.transform_into(memoryview(bytearray(8)).toreadonly(), "pw"), TypeError),
    (lambda: tvkcrypto.transform_into(memoryview(bytearray(8))[::2], "pw"), ValueError),
    (lambda: tvkcrypto.encrypt(5, "pw"), TypeError),
    (lambda: tvkcrypto.encrypt("text", "pw"), TypeError),
    (lambda: tvkcrypto.encrypt(b"x", "pw", -1), ValueError),
    (lambda: tvkcrypto.encrypt(b"x", "pw", 1 << 64), ValueError),
    (lambda: tvkcrypto.encrypt(b"x", "pw", 1.5), TypeError),
    (lambda: tvkcrypto.encrypt(b"x", 12), TypeError),
    (lambda: tvkcrypto.Key.from_raw(bytes(15)), ValueError),
])
def test_bad_arguments_are_refused(call, error):
    with pytest.raises(error):
        call()


@pytest.mark.parametrize("password, encoding, key_of", [
    ("café", "cp1252", "636166e9"),
    ("café", "Windows-1252", "636166e9"),
    ("café", "latin1", "636166e9"),
    ("café", None, "636166c3a9"),
    ("café", "utf-8", "636166c3a9"),
    ("Жук", "koi8-r", "f6d5cb"),
    (b"caf\xe9", None, "636166e9"),
])
def test_encodings(password, encoding, key_of):
    assert tvkcrypto.derive_key(password, encoding) == tvkcrypto.derive_key(bytes.fromhex(key_of))


@pytest.mark.parametrize("password, encoding, words", [
    ("€uro", "latin1", "cannot represent"),
    ("x", "ebcdic", "use one of utf8, ansi"),
    (b"x", "cp1252", "str password"),
    ("a\0b", None, "zero byte"),
] + ([] if sys.platform == "win32" else [("x", "ansi", "such as cp1252")]))
def test_encoding_errors_say_why(password, encoding, words):
    with pytest.raises(ValueError, match=words) as raised:
        tvkcrypto.derive_key(password, encoding)
    assert "€" not in str(raised.value)  # the password is never quoted


def test_a_closed_key_is_refused():
    key = tvkcrypto.Key("pw")
    key.close()
    with pytest.raises(ValueError, match="closed"):
        tvkcrypto.encrypt(b"data", key)
