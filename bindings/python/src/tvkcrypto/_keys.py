"""Passwords, their encodings, and keys.

The format's key is made from the password's bytes, so the same text in
two encodings gives two keys. A str password is encoded with encoding
(UTF-8 unless told otherwise, as tvkcrypt reads passwords); bytes and
other bytes-like passwords are used as given. Files made through the
.NET entry point were keyed with the Windows ANSI code page: "café" is
63 61 66 e9 there (cp1252), 63 61 66 c3 a9 in UTF-8. The encodings are
tvkcrypt's --password-encoding ones, with the same names and aliases.

Python cannot wipe a str or bytes object: the library wipes every copy
it makes, and this package makes none of a bytes-like password. A
caller who must keep the password's lifetime short passes a bytearray
and clears it once done (`password[:] = bytes(len(password))`).
"""
from __future__ import annotations

import ctypes
import sys
from typing import Any, Optional, Union

from . import _errors, _library

# tvkcrypt's names (lower case) and Python's codecs for them; "ansi" is
# the system's ANSI code page, which only Windows has
_CODECS = {
    "utf8": "utf-8", "utf-8": "utf-8", "ansi": "mbcs",
    "latin1": "latin-1", "iso-8859-1": "latin-1",
    "iso-8859-2": "iso8859-2", "latin2": "iso8859-2",
    "iso-8859-15": "iso8859-15", "latin9": "iso8859-15",
    "cp437": "cp437", "cp850": "cp850", "cp866": "cp866", "koi8-r": "koi8-r",
}
for _page in range(1250, 1258):
    _CODECS["cp%d" % _page] = _CODECS["windows-%d" % _page] = "cp%d" % _page
ENCODINGS = ("utf8, ansi, cp1250, cp1251, cp1252, cp1253, cp1254, cp1255, cp1256, cp1257, latin1, "
             "iso-8859-2, iso-8859-15, cp437, cp850, cp866, koi8-r")

Password = Union[str, bytes, bytearray, memoryview]


def codec_for(encoding: Optional[str]) -> str:
    """Python's codec for one of tvkcrypt's encoding names (None: UTF-8);
    ValueError for another name, and for "ansi" outside Windows."""
    if encoding is None:
        return "utf-8"
    if not isinstance(encoding, str):
        raise TypeError("encoding must be a str, not %s" % type(encoding).__name__)
    codec = _CODECS.get(encoding.lower())
    if codec is None:
        raise ValueError("unknown password encoding %r; use one of %s" % (encoding, ENCODINGS))
    if codec == "mbcs" and sys.platform != "win32":
        raise ValueError("password encoding 'ansi' is the system code page of Windows, which this "
                         "system does not have; name the code page instead, such as cp1252")
    return codec


def password_bytes(password: Any, encoding: Optional[str] = None) -> Any:
    """The bytes the key is made from: bytes or a bytes-like object as
    given (no copy), a str encoded. ValueError for a password with a zero
    byte (the format's key stops at it, so it could never match), or a
    character that the encoding cannot represent (never replaced)."""
    if isinstance(password, str):
        codec = codec_for(encoding)
        try:
            data: Any = password.encode(codec, "strict")
        except UnicodeError:
            # the codec's own message would quote the character
            raise ValueError("the password has a character that %s cannot represent"
                             % (encoding or "utf8")) from None
    elif isinstance(password, (bytes, bytearray, memoryview)):
        if encoding is not None:
            codec_for(encoding)  # a bad name is still refused
            raise ValueError("encoding applies to a str password; bytes are used as given")
        data = password
    else:
        raise TypeError("password must be str, bytes or a Key, not %s" % type(password).__name__)
    if b"\0" in data:
        raise ValueError("the password has a zero byte, which the format's key cannot take")
    return data


def derive_key(password: Password, encoding: Optional[str] = None) -> bytes:
    """The format's 16-byte key of a password: the first 16 bytes of its
    SHA-1 digest."""
    argument, size, hold = _library.readable_address(password_bytes(password, encoding), "password")
    key = ctypes.create_string_buffer(_library.KEY_SIZE)
    _errors.check(_library.lib.tvk_derive_key(argument, size, key))
    raw = key.raw
    ctypes.memset(key, 0, _library.KEY_SIZE)
    return raw


def _destroy_key(pointer: int) -> None:
    _library.lib.tvk_key_destroy(pointer)


class Key:
    """A password's key ready for transforms (its AES key schedule, in
    library memory that is wiped when the key is closed). Make one to
    transform many buffers with one password without deriving the key
    each time; the transforms (transform_into, encrypt, decrypt) take a
    Key wherever they take a password. (Files need the password itself:
    their check files derive keys of their own from it.)
    Several threads may transform with one Key at once; close() waits
    for none of them, and the key is freed once the last has returned."""

    def __init__(self, password: Password, encoding: Optional[str] = None) -> None:
        argument, size, hold = _library.readable_address(password_bytes(password, encoding), "password")
        pointer = ctypes.c_void_p()
        _errors.check(_library.lib.tvk_key_create(argument, size, ctypes.byref(pointer)))
        self._owned: Optional[_library.Owned] = _library.Owned(pointer.value or 0, _destroy_key)

    @classmethod
    def from_raw(cls, raw: Union[bytes, bytearray, memoryview]) -> "Key":
        """A Key from the 16 bytes that derive_key gives."""
        argument, size, hold = _library.readable_address(raw, "raw")
        if size != _library.KEY_SIZE:
            raise ValueError("a raw key is %d bytes, not %d" % (_library.KEY_SIZE, size))
        pointer = ctypes.c_void_p()
        _errors.check(_library.lib.tvk_key_create_raw(argument, ctypes.byref(pointer)))
        key = cls.__new__(cls)
        key._owned = _library.Owned(pointer.value or 0, _destroy_key)
        return key

    def transform_into(self, buffer: Any, offset: int = 0) -> None:
        """Encrypts or decrypts (the same operation) buffer in place, as the
        bytes at offset of an encrypted file; see tvkcrypto.transform_into."""
        address, size, hold = _library.writable_address(buffer)
        check_offset(offset)
        if size == 0:
            return
        owned = self._owned  # held for the call, whatever close() does meanwhile
        if owned is None:
            raise ValueError("the key is closed")
        _errors.check(_library.lib.tvk_transform(owned.pointer, address, size, offset))

    def close(self) -> None:
        """Wipes and frees the key (at once, or when the last transform in
        flight returns). Later uses raise ValueError."""
        self._owned = None

    @property
    def closed(self) -> bool:
        return getattr(self, "_owned", None) is None

    def __enter__(self) -> "Key":
        return self

    def __exit__(self, *exc_info: Any) -> None:
        self.close()

    def __repr__(self) -> str:
        return "<tvkcrypto.Key%s>" % (" closed" if self.closed else "")


def check_offset(offset: Any) -> None:
    """TypeError or ValueError unless offset is an int that the library's
    64-bit offsets hold."""
    if not isinstance(offset, int) or isinstance(offset, bool):
        raise TypeError("offset must be an int, not %s" % type(offset).__name__)
    if not 0 <= offset < 1 << 64:
        raise ValueError("offset %d is out of range (0 to 2**64 - 1)" % offset)


class KeyFor:
    """`with KeyFor(password, encoding) as key`: the Key given, or one made
    for the block and closed after it."""

    def __init__(self, password: Any, encoding: Optional[str]) -> None:
        if isinstance(password, Key):
            if encoding is not None:
                raise ValueError("encoding applies to a str password, not to a Key")
            self._key, self._own = password, False
        else:
            self._key, self._own = Key(password, encoding), True

    def __enter__(self) -> Key:
        return self._key

    def __exit__(self, *exc_info: Any) -> None:
        if self._own:
            self._key.close()
