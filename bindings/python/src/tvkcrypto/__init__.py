"""tvkcrypto: read and write data encrypted with a password in the
tvkcrypto format, through the library's C interface (libtvkcrypto).

The format: the key is the first 16 bytes of SHA-1 of the password, and
the data is XORed with an AES-128 counter-mode key stream in which one
AES block serves each 1024-byte chunk. The ciphertext is exactly as long
as the cleartext and has no header, so any byte range can be decrypted
on its own, and a wrong password is not detected by the format itself:
the optional check file beside an encrypted file (FILE.tvkcheck) tells a
wrong password and damaged blocks, and this package uses it whenever it
is there.

    import tvkcrypto
    with tvkcrypto.open("big.bin.tvk", password="secret") as f:
        f.seek(1 << 30)              # no read up to the offset
        chunk = f.read(4096)         # verified first when big.bin.tvk.tvkcheck is there

    tvkcrypto.encrypt_file("report.pdf", "report.pdf.tvk", "secret")
    tvkcrypto.check("report.pdf.tvk", "secret")       # raises if anything is wrong
    data = bytearray(...)
    tvkcrypto.transform_into(data, "secret", offset=0)  # in place, no copy

Errors: WrongPasswordError, DamagedError (with the damaged byte range),
CheckFileError and NoCheckFileError, all TvkCryptoError; OSError
subclasses for files; ValueError and TypeError for bad arguments.
"""
from __future__ import annotations

from . import _library
from ._buffers import decrypt, encrypt, transform_into
from ._errors import (CheckFileError, DamagedError, NoCheckFileError, TvkCryptoError,
                      WrongPasswordError)
from ._files import check, create_check_file, decrypt_file, encrypt_file, open
from ._keys import ENCODINGS, Key, derive_key
from ._reader import BufferedEncryptedReader, EncryptedReader
from ._writer import EncryptedWriter

__version__ = "1.0.0"

#: the path of the shared library in use
library_path: str = _library.library_path


def library_version() -> str:
    """The version of the shared library in use, "MAJOR.MINOR.PATCH"."""
    return str(_library.lib.tvk_version().decode("ascii"))


__all__ = [
    "BufferedEncryptedReader", "CheckFileError", "DamagedError", "ENCODINGS", "EncryptedReader",
    "EncryptedWriter", "Key", "NoCheckFileError", "TvkCryptoError", "WrongPasswordError", "check",
    "create_check_file", "decrypt", "decrypt_file", "derive_key", "encrypt", "encrypt_file",
    "library_path", "library_version", "open", "transform_into",
]
