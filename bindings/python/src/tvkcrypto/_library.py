"""The shared library libtvkcrypto and the prototypes of its C interface
(<TvkCrypto/c.h>), through ctypes.

Where the library is looked for, in this order: a copy bundled into the
package folder by the wheel's build, the file that the environment
variable TVKCRYPTO_LIBRARY names, and the system's libraries. Every call
goes through ctypes.CDLL, which releases the GIL for the length of the
foreign call: transforms and reads of several threads run at once.
"""
from __future__ import annotations

import ctypes
import ctypes.util
import os
import sys
from typing import Any, Callable, List, Mapping, Optional, Tuple

# the major version this package speaks to (SONAME libtvkcrypto.so.1)
ABI_MAJOR = 1

if sys.platform == "win32":
    LIBRARY_NAMES = ("libtvkcrypto.dll", "tvkcrypto.dll")
elif sys.platform == "darwin":
    LIBRARY_NAMES = ("libtvkcrypto.%d.dylib" % ABI_MAJOR,)
else:
    LIBRARY_NAMES = ("libtvkcrypto.so.%d" % ABI_MAJOR,)

PACKAGE_DIR = os.path.dirname(os.path.abspath(__file__))


class Range(ctypes.Structure):
    """tvk_range: a byte range [offset, offset + length)."""
    _fields_ = [("offset", ctypes.c_uint64), ("length", ctypes.c_uint64)]


_p = ctypes.c_void_p
_size = ctypes.c_size_t
_u64 = ctypes.c_uint64
_int = ctypes.c_int
_uint = ctypes.c_uint
_str = ctypes.c_char_p
_result = ctypes.c_int32
_out = ctypes.POINTER(ctypes.c_void_p)
_range = ctypes.POINTER(Range)

# name: (result type, argument types)
_PROTOTYPES = {
    "tvk_result_text": (_str, [_result]),
    "tvk_result_name": (_str, [_result]),
    "tvk_version": (_str, []),
    "tvk_version_number": (ctypes.c_uint32, []),
    "tvk_derive_key": (_result, [_p, _size, _p]),
    "tvk_key_create": (_result, [_p, _size, _out]),
    "tvk_key_create_raw": (_result, [_p, _out]),
    "tvk_key_destroy": (None, [_p]),
    "tvk_transform": (_result, [_p, _p, _size, _u64]),
    "tvk_check_create": (_result, [_str, _str, _p, _size, _uint]),
    "tvk_check_verify": (_result, [_str, _str, _p, _size, _range]),
    "tvk_reader_open": (_result, [_str, _p, _size, _int, _str, _out]),
    "tvk_reader_size": (_result, [_p, ctypes.POINTER(ctypes.c_uint64)]),
    "tvk_reader_verified": (_int, [_p]),
    "tvk_reader_read": (_result, [_p, _u64, _p, _size, ctypes.POINTER(ctypes.c_size_t), _range]),
    "tvk_reader_close": (None, [_p]),
    "tvk_writer_open": (_result, [_str, _p, _size, _uint, _str, _out]),
    "tvk_writer_write": (_result, [_p, _p, _size]),
    "tvk_writer_commit": (_result, [_p]),
    "tvk_writer_destroy": (None, [_p]),
    "tvk_encrypt_file": (_result, [_str, _str, _p, _size, _uint, _str]),
    "tvk_decrypt_file": (_result, [_str, _str, _p, _size, _uint, _int, _str, _range]),
}

# flags and verify values of c.h
OVERWRITE = 1
NO_CHECK_FILE = 2
VERIFY_NONE = 0
VERIFY_IF_PRESENT = 1
VERIFY_REQUIRED = 2
KEY_SIZE = 16


def candidates(package_dir: str, environ: Mapping[str, str]) -> List[Tuple[str, str]]:
    """The libraries to try, in order, as (what, path or name) pairs."""
    found = []
    for name in LIBRARY_NAMES:
        found.append(("bundled", os.path.join(package_dir, name)))
    named = environ.get("TVKCRYPTO_LIBRARY")
    if named:
        found.append(("TVKCRYPTO_LIBRARY", named))
    system = ctypes.util.find_library("tvkcrypto")
    for name in ([system] if system else []) + list(LIBRARY_NAMES):
        if ("system", name) not in found:
            found.append(("system", name))
    return found


def load(package_dir: str = PACKAGE_DIR,
         environ: Optional[Mapping[str, str]] = None) -> Tuple[ctypes.CDLL, str]:
    """The first candidate that loads and speaks this package's major
    version, with its path; ImportError saying what was tried otherwise."""
    tried = []
    for what, path in candidates(package_dir, os.environ if environ is None else environ):
        if what == "bundled" and not os.path.exists(path):
            tried.append("%s %s: not there" % (what, path))
            continue
        try:
            library = ctypes.CDLL(path)
            major = _declare(library)
        except (OSError, AttributeError) as error:
            tried.append("%s %s: %s" % (what, path, error))
            continue
        if major != ABI_MAJOR:
            tried.append("%s %s: version %d, this package needs %d" % (what, path, major, ABI_MAJOR))
            continue
        return library, path
    raise ImportError(
        "tvkcrypto cannot load its shared library libtvkcrypto (tried, in order: %s). Build it "
        "with -DBUILD_SHARED_LIBS=ON and install it, or set TVKCRYPTO_LIBRARY to its path, or "
        "install a wheel that bundles it." % "; ".join(tried))


def _declare(library: ctypes.CDLL) -> int:
    """Sets the prototypes on library and returns its major version."""
    for name, (restype, argtypes) in _PROTOTYPES.items():
        function = getattr(library, name)
        function.restype = restype
        function.argtypes = argtypes
    return int(library.tvk_version_number()) >> 16


lib, library_path = load()


def result_text(code: int) -> str:
    """The library's words for a result code."""
    return str(lib.tvk_result_text(code).decode("utf-8", "replace"))


def result_name(code: int) -> str:
    """The symbolic name of a result code, such as TVK_ERROR_WRONG_PASSWORD."""
    return str(lib.tvk_result_name(code).decode("ascii", "replace"))


def writable_address(buffer: object, what: str = "buffer") -> Tuple[int, int, object]:
    """The address and size in bytes of a writable, C-contiguous buffer,
    and an object that holds the buffer exported (a bytearray cannot be
    resized, nor an mmap closed, while it lives): no copy is made."""
    try:
        view = memoryview(buffer)  # type: ignore[arg-type]
    except TypeError:
        raise TypeError("%s must be a bytes-like object, not %s" % (what, type(buffer).__name__)) from None
    if view.readonly:
        raise TypeError("%s is read-only (%s): give a writable buffer such as a bytearray"
                        % (what, type(buffer).__name__))
    if not view.c_contiguous:
        raise ValueError("%s must be C-contiguous" % what)
    size = view.nbytes
    if size == 0:
        return 0, 0, view
    holder = ctypes.c_char.from_buffer(view)
    return ctypes.addressof(holder), size, holder


def readable_address(data: object, what: str = "data") -> Tuple[object, int, object]:
    """data as an argument for a const void* parameter, its size, and an
    object to keep alive for the call: bytes as they are, writable
    buffers by their address, other read-only buffers copied (ctypes
    cannot take the address of those)."""
    if isinstance(data, bytes):
        return data, len(data), data
    try:
        view = memoryview(data)  # type: ignore[arg-type]
    except TypeError:
        raise TypeError("%s must be a bytes-like object, not %s" % (what, type(data).__name__)) from None
    if view.readonly or not view.c_contiguous:
        copy = view.tobytes()
        return copy, len(copy), copy
    return writable_address(view, what)


class Owned:
    """A library handle, freed when the last reference to it goes: its
    object drops its reference at close(), and a call in flight on another
    thread holds one of its own until it returns, so a close never frees
    memory that a call still uses, and costs the calls no lock."""

    __slots__ = ("pointer", "_free")

    def __init__(self, pointer: int, free: Callable[[int], None]) -> None:
        self.pointer = pointer
        self._free = free

    def __del__(self) -> None:
        pointer, self.pointer = self.pointer, 0
        if pointer:
            self._free(pointer)


def encode_path(path: Any, what: str = "path") -> bytes:
    """A path (str, bytes or os.PathLike) as the library takes it: the
    file system's bytes (UTF-8 on Windows); ValueError for a zero byte,
    which would cut the name short."""
    try:
        encoded = os.fsencode(path)
    except TypeError:
        raise TypeError("%s must be str, bytes or os.PathLike, not %s" % (what, type(path).__name__)) from None
    if b"\0" in encoded:
        raise ValueError("%s has a zero byte" % what)
    if not encoded:
        raise ValueError("%s is empty" % what)
    return encoded
