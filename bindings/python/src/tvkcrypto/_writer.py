"""An encrypted file written as a binary file of its cleartext, committed
safely."""
from __future__ import annotations

import ctypes
import io
import threading
import warnings
from typing import Any, Optional

from . import _errors, _library
from ._keys import Password, password_bytes


class EncryptedWriter(io.RawIOBase):
    """What tvkcrypto.open(path, "wb", password=...) returns: cleartext
    written in order goes encrypted into a temporary file beside path,
    with its check file (path + ".tvkcheck", or check_path; none with
    check_file=False), as the tvkcrypt tool writes them.

    Only close(), or the end of a with block that no exception left, puts
    the two in place together; until then path is untouched. abort(), an
    exception out of the with block, or a writer dropped without close()
    (with a ResourceWarning) discard everything and leave path as it was.
    An existing file (or check file) is replaced only with
    overwrite=True, else FileExistsError. A new file gets mode 0600, a
    replaced one keeps its permissions.

    write() never writes less than it is given; after a failed write the
    file cannot be completed, and close() discards it. The check file's
    key derivation takes about 0.2 s when the writer is opened. Writes
    from several threads are taken one at a time."""

    mode = "wb"

    def __init__(self, path: Any, password: Password, overwrite: bool = False, check_file: bool = True,
                 check_path: Any = None, encoding: Optional[str] = None) -> None:
        super().__init__()
        self._pointer: Optional[int] = None
        self._lock = threading.Lock()
        self._failed = False
        self.name = path
        if check_path is not None and not check_file:
            raise ValueError("check_path is given but check_file is False")
        flags = (_library.OVERWRITE if overwrite else 0) | (0 if check_file else _library.NO_CHECK_FILE)
        raw_path = _library.encode_path(path)
        raw_check = _library.encode_path(check_path, "check_path") if check_path is not None else None
        argument, size, hold = _library.readable_address(password_bytes(password, encoding), "password")
        pointer = ctypes.c_void_p()
        code = _library.lib.tvk_writer_open(raw_path, argument, size, flags, raw_check, ctypes.byref(pointer))
        _errors.check(code, path)
        self._pointer = pointer.value

    def writable(self) -> bool:
        self._check_open()
        return True

    def write(self, data: Any) -> int:
        """Encrypts and appends data (any bytes-like object); returns its size."""
        argument, size, hold = _library.readable_address(data)
        with self._lock:
            self._check_open()
            if self._failed:
                raise ValueError("an earlier write failed: this file cannot be completed")
            code = _library.lib.tvk_writer_write(self._pointer, argument, size)
            self._failed = code != 0
        _errors.check(code, self.name)
        return size

    def close(self) -> None:
        """Commits: syncs the file and its check file and renames both into
        place together (after a failed write, discards them instead)."""
        with self._lock:
            pointer, self._pointer = self._pointer, None
            code = 0
            if pointer is not None:
                if not self._failed:
                    code = _library.lib.tvk_writer_commit(pointer)
                _library.lib.tvk_writer_destroy(pointer)
        super().close()
        _errors.check(code, self.name)

    def abort(self) -> None:
        """Discards what was written: the temporaries are removed and path
        is left as it was."""
        with self._lock:
            pointer, self._pointer = self._pointer, None
            if pointer is not None:
                _library.lib.tvk_writer_destroy(pointer)
        super().close()

    def __exit__(self, exc_type: Any, *exc_info: Any) -> None:
        if exc_type is not None:
            self.abort()
        else:
            self.close()

    def __del__(self) -> None:
        if getattr(self, "_pointer", None) is not None:
            warnings.warn("tvkcrypto: %r was not closed: what was written is discarded" % (self.name,),
                          ResourceWarning, stacklevel=2)
            self.abort()

    def _check_open(self) -> None:
        if self._pointer is None:
            raise ValueError("I/O operation on closed file")

    def __repr__(self) -> str:
        return "<tvkcrypto.EncryptedWriter name=%r%s>" % (self.name, " closed" if self.closed else "")
