"""Data in memory: the in-place transform and its copying forms.

Encrypting and decrypting are one operation, an XOR with the key stream
at each byte's offset in the encrypted file, so any slice of a file can
be transformed on its own when its offset is given.
"""
from __future__ import annotations

from typing import Any, Optional, Union

from ._keys import Key, KeyFor, Password


def transform_into(buffer: Any, password: Union[Password, Key], offset: int = 0,
                   encoding: Optional[str] = None) -> None:
    """Encrypts or decrypts buffer in place, as the bytes at offset of an
    encrypted file.

    buffer is any writable, C-contiguous object of the buffer protocol
    (bytearray, memoryview, array.array, mmap, a numpy array): its own
    memory is transformed, without a copy, and the GIL is released for
    the transform. Read-only buffers (bytes) are refused with TypeError;
    use encrypt or decrypt for a copy. password is a str (encoded with
    encoding, UTF-8 by default), bytes, or a Key made once for many
    calls."""
    with KeyFor(password, encoding) as key:
        key.transform_into(buffer, offset)


def encrypt(data: Any, password: Union[Password, Key], offset: int = 0,
            encoding: Optional[str] = None) -> bytes:
    """The ciphertext of data (any bytes-like object), as the bytes at
    offset of an encrypted file; exactly as long as data."""
    try:
        output = bytearray(memoryview(data))
    except TypeError:
        raise TypeError("data must be a bytes-like object, not %s" % type(data).__name__) from None
    transform_into(output, password, offset, encoding)
    return bytes(output)


def decrypt(data: Any, password: Union[Password, Key], offset: int = 0,
            encoding: Optional[str] = None) -> bytes:
    """The cleartext of data, the bytes at offset of an encrypted file.
    Without a check file a wrong password gives wrong bytes, silently:
    the format cannot tell."""
    return encrypt(data, password, offset, encoding)
