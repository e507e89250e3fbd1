"""The library's result codes as Python exceptions.

Files give OSError subclasses with the errno value (FileNotFoundError,
PermissionError, FileExistsError, ...), bad arguments ValueError, and
the check file's findings the classes below.
"""
from __future__ import annotations

import errno
import io
import os
from typing import Any, Optional, Tuple

from . import _library

NO_SUCH_FILE = -20200
WRONG_PASSWORD = -20400
DATA_DAMAGED = -20401
NO_CHECK_FILE = -20405
BASE_ERRNO = -22000
# the library's file codes and the errno values they stand for
_FILE_ERRNO = {
    -20001: errno.EACCES,     # NPT_ERROR_PERMISSION_DENIED
    NO_SUCH_FILE: errno.ENOENT,
    -20202: errno.EBUSY,      # NPT_ERROR_FILE_BUSY
    -20205: errno.EROFS,      # NPT_ERROR_FILE_NOT_WRITABLE
    -20206: errno.ENOTDIR,    # NPT_ERROR_FILE_NOT_DIRECTORY
    -20207: errno.EEXIST,     # NPT_ERROR_FILE_ALREADY_EXISTS
    -20208: errno.ENOSPC,     # NPT_ERROR_FILE_NOT_ENOUGH_SPACE
    -20209: errno.ENOTEMPTY,  # NPT_ERROR_DIRECTORY_NOT_EMPTY
}
_VALUE_ERRORS = (-20000, -20009, -20017)  # invalid parameters, invalid state, out of range
_CHECK_FILE_ERRORS = (-20402, -20403, -20404)  # damaged, not a check file, unsupported
_OUT_OF_MEMORY = -20002
_NOT_SUPPORTED = -20013


class TvkCryptoError(Exception):
    """An error the format or the check file reports. code is the
    library's result code and code_name its name."""

    code: int = 0

    def __init__(self, message: str, code: int) -> None:
        super().__init__(message)
        self.code = code

    @property
    def code_name(self) -> str:
        return _library.result_name(self.code)


class WrongPasswordError(TvkCryptoError):
    """The password does not match the check file."""


class DamagedError(TvkCryptoError):
    """Encrypted data that does not match its check file: offset and
    length are the byte range of the first block found damaged (a block
    of the check file, 512 KiB by default); path is the encrypted file."""

    def __init__(self, message: str, code: int, offset: int, length: int, path: Optional[str]) -> None:
        super().__init__(message, code)
        self.offset = offset
        self.length = length
        self.path = path

    @property
    def range(self) -> Tuple[int, int]:
        """(offset, offset + length)"""
        return self.offset, self.offset + self.length


class CheckFileError(TvkCryptoError):
    """The check file is damaged, changed, not a check file at all, or of
    a later version or with parameters that are refused."""


class NoCheckFileError(CheckFileError, FileNotFoundError):
    """Verification was required and there is no check file (filename is
    where it was looked for)."""

    def __init__(self, check_path: Optional[str]) -> None:
        FileNotFoundError.__init__(self, errno.ENOENT, "no check file, and verification is required",
                                   check_path)
        self.code = NO_CHECK_FILE


def _display(path: Any) -> Optional[str]:
    if path is None:
        return None
    return os.fsdecode(path) if isinstance(path, bytes) else str(path)


def error_for(code: int, path: Any = None, other: Any = None, damaged: Optional[_library.Range] = None,
              check_path: Any = None) -> BaseException:
    """The exception for a failed call: path and other are the files it
    named (input and output), check_path the check file's, damaged the
    range the library reported."""
    text = _library.result_text(code)
    name, name2 = _display(path), _display(other)
    if code in _FILE_ERRNO or BASE_ERRNO - 4096 < code <= BASE_ERRNO:
        number = _FILE_ERRNO.get(code, BASE_ERRNO - code)
        if code not in _FILE_ERRNO:
            text = os.strerror(number)
        if number == errno.EEXIST and name2:
            name, name2 = name2, None  # only an output can be in the way
        return OSError(number, text, name, None, name2) if name2 else OSError(number, text, name)
    where = " (%s)" % name if name else ""
    if code == WRONG_PASSWORD:
        return WrongPasswordError("wrong password: it does not match the check file%s" % where, code)
    if code == DATA_DAMAGED:
        offset, length = (damaged.offset, damaged.length) if damaged is not None else (0, 0)
        return DamagedError("encrypted data damaged or changed: bytes %d to %d do not match the "
                            "check file%s" % (offset, offset + length - 1, where), code, offset, length, name)
    if code == NO_CHECK_FILE:
        check_name = _display(check_path) or (name + ".tvkcheck" if name else None)
        return NoCheckFileError(check_name)
    if code in _CHECK_FILE_ERRORS:
        return CheckFileError("%s%s" % (text, " (%s)" % _display(check_path) if check_path else where), code)
    if code in _VALUE_ERRORS:
        return ValueError(text)
    if code == _OUT_OF_MEMORY:
        return MemoryError(text)
    if code == _NOT_SUPPORTED:
        return io.UnsupportedOperation("%s%s: not a regular file" % (text, where))
    return TvkCryptoError("%s%s" % (text, where), code)


def check(code: int, path: Any = None, other: Any = None, damaged: Optional[_library.Range] = None,
          check_path: Any = None) -> None:
    """Raises the exception for code unless it is success (0)."""
    if code != 0:
        raise error_for(code, path, other, damaged, check_path)
