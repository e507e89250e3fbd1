"""Encrypted files: open, whole files in one call, and check files.

Outputs are written as the tvkcrypt tool writes them: into an unnamed
temporary file beside the target, synced, and renamed into place only
once complete, a file and its check file as a pair; a symbolic link at
the target's name is itself replaced, never written through. On any
failure the target is left as it was.
"""
from __future__ import annotations

import ctypes
import os
from typing import Any, Literal, Optional, Union, overload

from . import _errors, _library
from ._keys import Password, password_bytes
from ._reader import BufferedEncryptedReader, EncryptedReader, verify_mode
from ._writer import EncryptedWriter


# The buffer of open(path, "rb"): a page, as Python's own open() takes for
# files on most Linux file systems. A read of at least this much goes
# straight into the caller's buffer, so random reads of 4 KiB decrypt
# 4 KiB, not a buffer's worth more.
READ_BUFFER_SIZE = 4096


@overload
def open(path: Any, mode: Literal["rb", "br"] = "rb", *, password: Password, verify: Any = True,
         check_path: Any = None, encoding: Optional[str] = None, buffering: int = -1,
         overwrite: bool = False, check_file: bool = True) -> Union[BufferedEncryptedReader, EncryptedReader]:
    ...


@overload
def open(path: Any, mode: Literal["wb", "bw"], *, password: Password, verify: Any = True,
         check_path: Any = None, encoding: Optional[str] = None, buffering: int = -1,
         overwrite: bool = False, check_file: bool = True) -> EncryptedWriter:
    ...


def open(path: Any, mode: str = "rb", *, password: Password, verify: Any = True,
         check_path: Any = None, encoding: Optional[str] = None, buffering: int = -1,
         overwrite: bool = False, check_file: bool = True
         ) -> Union[BufferedEncryptedReader, EncryptedReader, EncryptedWriter]:
    """Opens the encrypted file at path as a binary file of its cleartext.

    "rb": a seekable reader (read, readinto, seek, tell, read_at, size,
    verified; a context manager), an io.BufferedReader over an
    EncryptedReader (with a buffer of buffering bytes, 4096 by default),
    or the EncryptedReader itself with buffering=0.
    verify: True verifies against the check file when there is one
    (path + ".tvkcheck", or check_path), "required" raises
    NoCheckFileError without one, False never looks.

    "wb": an EncryptedWriter, which writes the file and its check file
    (none with check_file=False) and commits them together at close();
    an existing file is replaced only with overwrite=True.

    password is a str (encoded with encoding: "utf8" by default, or one
    of tvkcrypt's --password-encoding names such as "cp1252") or bytes."""
    if mode in ("rb", "br"):
        raw = EncryptedReader(path, password, verify, check_path, encoding)
        if buffering == 0:
            return raw
        return BufferedEncryptedReader(raw, buffering if buffering > 1 else READ_BUFFER_SIZE)
    if mode in ("wb", "bw"):
        return EncryptedWriter(path, password, overwrite, check_file, check_path, encoding)
    raise ValueError("mode must be 'rb' or 'wb', not %r (wrap the file in io.TextIOWrapper for text)"
                     % (mode,))


def _password(password: Password, encoding: Optional[str]) -> Any:
    return _library.readable_address(password_bytes(password, encoding), "password")


def _optional_path(path: Any, what: str) -> Optional[bytes]:
    return _library.encode_path(path, what) if path is not None else None


def encrypt_file(source: Any, target: Any, password: Password, *, overwrite: bool = False,
                 check_file: bool = True, check_path: Any = None, encoding: Optional[str] = None) -> None:
    """Encrypts the file source into target, with target's check file
    (target + ".tvkcheck" or check_path; none with check_file=False).
    target is replaced only with overwrite=True; source and target may be
    the same file then. source may also be a FIFO or a device, read to
    its end. Large files are shared between two threads of the library."""
    if check_path is not None and not check_file:
        raise ValueError("check_path is given but check_file is False")
    flags = (_library.OVERWRITE if overwrite else 0) | (0 if check_file else _library.NO_CHECK_FILE)
    argument, size, hold = _password(password, encoding)
    code = _library.lib.tvk_encrypt_file(_library.encode_path(source, "source"),
                                         _library.encode_path(target, "target"), argument, size, flags,
                                         _optional_path(check_path, "check_path"))
    _errors.check(code, source, target)


def decrypt_file(source: Any, target: Any, password: Password, *, overwrite: bool = False,
                 verify: Any = True, check_path: Any = None, encoding: Optional[str] = None) -> None:
    """Decrypts the file source into target, verified against source's
    check file as verify says (see open). A wrong password
    (WrongPasswordError) or damaged data (DamagedError) leaves target as it
    was; target is replaced only with overwrite=True."""
    argument, size, hold = _password(password, encoding)
    damaged = _library.Range()
    code = _library.lib.tvk_decrypt_file(_library.encode_path(source, "source"),
                                         _library.encode_path(target, "target"), argument, size,
                                         _library.OVERWRITE if overwrite else 0, verify_mode(verify),
                                         _optional_path(check_path, "check_path"), ctypes.byref(damaged))
    if code:
        raise _errors.error_for(code, source, target if code != _errors.DATA_DAMAGED else None,
                                damaged, check_path)


def check(path: Any, password: Password, *, check_path: Any = None, encoding: Optional[str] = None) -> None:
    """Verifies the encrypted file at path against its check file
    (path + ".tvkcheck", or check_path) and writes nothing. Returns when
    the password and every block match; raises NoCheckFileError,
    WrongPasswordError, DamagedError (the first damaged range),
    CheckFileError or an OSError otherwise."""
    argument, size, hold = _password(password, encoding)
    damaged = _library.Range()
    code = _library.lib.tvk_check_verify(_library.encode_path(path), _optional_path(check_path, "check_path"),
                                         argument, size, ctypes.byref(damaged))
    if code:
        raise _errors.error_for(code, path, damaged=damaged, check_path=check_path)


def create_check_file(path: Any, password: Password, *, check_path: Any = None, overwrite: bool = False,
                      encoding: Optional[str] = None) -> None:
    """Makes the check file of the encrypted file at path from its
    ciphertext (at path + ".tvkcheck", or check_path), committed through a
    temporary file. It cannot confirm the password: the check file records
    whichever is given. An existing check file is replaced only with
    overwrite=True."""
    argument, size, hold = _password(password, encoding)
    raw_path = _library.encode_path(path)
    raw_check = _optional_path(check_path, "check_path")
    code = _library.lib.tvk_check_create(raw_path, raw_check, argument, size,
                                         _library.OVERWRITE if overwrite else 0)
    check_name = check_path if check_path is not None else os.fsdecode(raw_path + b".tvkcheck")
    _errors.check(code, path, check_name, check_path=check_name)
