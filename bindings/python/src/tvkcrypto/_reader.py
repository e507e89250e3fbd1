"""An encrypted file read as a seekable binary file of its cleartext.

Reads go to the library's reader (tvk_reader_read), which reads the
ciphertext at the position and decrypts it straight into the caller's
buffer, with the GIL released; with a check file it first verifies the
whole blocks that the read touches.
"""
from __future__ import annotations

import ctypes
import io
import operator
from typing import Any, Optional

from . import _errors, _library
from ._keys import Password, password_bytes

_MAX_POSITION = (1 << 63) - 1
_CLOSED = "I/O operation on closed file"
_read = _library.lib.tvk_reader_read
_size_t = ctypes.c_size_t
_c_char = ctypes.c_char
_addressof = ctypes.addressof
_byref = ctypes.byref


def verify_mode(verify: Any) -> int:
    """The library's verify value for True, False or "required"."""
    if verify is True:
        return _library.VERIFY_IF_PRESENT
    if verify is False:
        return _library.VERIFY_NONE
    if verify == "required":
        return _library.VERIFY_REQUIRED
    raise ValueError("verify must be True (when a check file is there), False or 'required', not %r"
                     % (verify,))


class EncryptedReader(io.RawIOBase):
    """The cleartext of an encrypted file, read at any position: a raw,
    seekable binary file (tvkcrypto.open(path, "rb", password=...,
    buffering=0)).

    With a check file (verify True and one there, or verify="required")
    the password was verified when the file was opened (WrongPasswordError
    then), and each read verifies the blocks it touches: a damaged one
    raises DamagedError with its byte range, the read returns nothing and
    the position stays where it was, so the bytes before the range can
    still be read and reading can go on after it. verified tells whether
    reads are verified. Without a check file a wrong password reads as
    wrong bytes: the format cannot tell.

    size is the encrypted file's size when it was opened, which is the
    cleartext's. Several threads may call read_at and readinto_at at once;
    read, readinto and seek share the one position, as in any file."""

    def __init__(self, path: Any, password: Password, verify: Any = True, check_path: Any = None,
                 encoding: Optional[str] = None) -> None:
        super().__init__()
        self._owned: Optional[_library.Owned] = None
        self.name = path
        mode = verify_mode(verify)
        raw_path = _library.encode_path(path)
        raw_check = _library.encode_path(check_path, "check_path") if check_path is not None else None
        argument, size, hold = _library.readable_address(password_bytes(password, encoding), "password")
        pointer = ctypes.c_void_p()
        _errors.check(_library.lib.tvk_reader_open(raw_path, argument, size, mode, raw_check,
                                                   ctypes.byref(pointer)), path, check_path=check_path)
        self._owned = _library.Owned(pointer.value or 0, _library.lib.tvk_reader_close)
        data_size = ctypes.c_uint64()
        _library.lib.tvk_reader_size(pointer, ctypes.byref(data_size))
        self._size = data_size.value
        self._verified = bool(_library.lib.tvk_reader_verified(pointer))
        self._position = 0

    mode = "rb"

    @property
    def size(self) -> int:
        """The cleartext's size in bytes."""
        return self._size

    @property
    def verified(self) -> bool:
        """Whether reads are verified against a check file."""
        return self._verified

    def readable(self) -> bool:
        self._check_open()
        return True

    def seekable(self) -> bool:
        self._check_open()
        return True

    def readinto(self, buffer: Any) -> int:
        """Reads up to len(buffer) bytes at the position into buffer (any
        writable buffer, without a copy); 0 at the end."""
        count = self.readinto_at(buffer, self._position)
        self._position += count
        return count

    def readinto_at(self, buffer: Any, offset: int) -> int:
        """Reads up to len(buffer) bytes at offset into buffer; the
        position is neither used nor moved."""
        # the hot path of every read: kept to the few steps it needs
        owned = self._owned  # held for the call, whatever close() does meanwhile
        if owned is None:
            raise ValueError(_CLOSED)
        view = memoryview(buffer)
        size = view.nbytes
        if view.readonly or not view.c_contiguous or not size:
            return _library.writable_address(view)[1]  # the error, or 0 for no room
        if type(offset) is not int:
            offset = operator.index(offset)
        if not 0 <= offset <= _MAX_POSITION:
            raise ValueError("offset %d is out of range" % offset)
        got = _size_t()
        damaged = _library.Range()
        code = _read(owned.pointer, offset, _addressof(_c_char.from_buffer(view)), size, _byref(got),
                     _byref(damaged))
        if code:
            raise _errors.error_for(code, self.name, damaged=damaged)
        return got.value

    def read(self, size: Optional[int] = -1) -> bytes:
        if size is None or size < 0:
            return self.readall()
        buffer = bytearray(min(size, max(0, self._size - self._position)))
        count = self.readinto(buffer)
        del buffer[count:]
        return bytes(buffer)

    def readall(self) -> bytes:
        return self.read(max(0, self._size - self._position))

    def read_at(self, offset: int, size: int) -> bytes:
        """Up to size bytes at offset (fewer only at the end); the position
        is neither used nor moved."""
        buffer = bytearray(min(size, max(0, self._size - offset)))
        del buffer[self.readinto_at(buffer, offset):]
        return bytes(buffer)

    def seek(self, offset: int, whence: int = io.SEEK_SET) -> int:
        if whence == io.SEEK_SET and type(offset) is int and 0 <= offset <= _MAX_POSITION:
            self._check_open()  # the common case, first
            self._position = offset
            return offset
        self._check_open()
        offset = operator.index(offset)
        if whence == io.SEEK_SET:
            position = offset
        elif whence == io.SEEK_CUR:
            position = self._position + offset
        elif whence == io.SEEK_END:
            position = self._size + offset
        else:
            raise ValueError("invalid whence (%r, should be 0, 1 or 2)" % (whence,))
        if not 0 <= position <= _MAX_POSITION:
            raise ValueError("seek position %d is out of range" % position)
        self._position = position
        return position

    def tell(self) -> int:
        self._check_open()
        return self._position

    def close(self) -> None:
        """Closes the file and wipes the key (once reads in flight on
        other threads have returned)."""
        self._owned = None
        super().close()

    def _check_open(self) -> None:
        if self._owned is None:
            raise ValueError(_CLOSED)

    def __repr__(self) -> str:
        return "<tvkcrypto.EncryptedReader name=%r%s>" % (self.name, " closed" if self.closed else "")


class BufferedEncryptedReader(io.BufferedReader):
    """What tvkcrypto.open(path, "rb", password=...) returns: an
    io.BufferedReader over an EncryptedReader (raw), with its size,
    verified, read_at and readinto_at."""

    raw: EncryptedReader

    @property
    def size(self) -> int:
        """The cleartext's size in bytes."""
        return self.raw.size

    @property
    def verified(self) -> bool:
        """Whether reads are verified against a check file."""
        return self.raw.verified

    def read_at(self, offset: int, size: int) -> bytes:
        """Up to size bytes at offset; the position is neither used nor moved."""
        return self.raw.read_at(offset, size)

    def readinto_at(self, buffer: Any, offset: int) -> int:
        """Up to len(buffer) bytes at offset into buffer; the position is
        neither used nor moved."""
        return self.raw.readinto_at(buffer, offset)
