"""python3 -m tvkcrypto: encrypt, decrypt (any byte range) and check files
from the command line, with the package. Exit status 0 on success, 1 on
failure, 2 on a usage error."""
from __future__ import annotations

import argparse
import getpass
import os
import sys
from typing import List, Optional

import tvkcrypto

_DESCRIPTION = """\
Encrypts and decrypts files in the tvkcrypto format with a password, as
the tvkcrypt tool does, through the Python package. Outputs are committed
safely (a temporary file renamed into place, with the check file); an
existing output is replaced only with --force.

The password comes from --password-file FILE (its first line), else the
environment variable TVK_PASSWORD, else a prompt without echo. It is
never taken from the command line, where other users could read it."""

_EPILOG = """\
examples:
  python3 -m tvkcrypto encrypt report.pdf -o report.pdf.tvk
  python3 -m tvkcrypto decrypt --offset 1G --length 4K big.bin.tvk > slice.bin
  python3 -m tvkcrypto check report.pdf.tvk
  python3 -m tvkcrypto check --create old.bin.tvk"""

_UNITS = {"": 1, "K": 1 << 10, "M": 1 << 20, "G": 1 << 30, "T": 1 << 40}


def _size(text: str) -> int:
    """A byte count such as 4096, 4K, 1G."""
    number, unit = (text[:-1], text[-1:].upper()) if text[-1:].isalpha() else (text, "")
    if not number.isdigit() or unit not in _UNITS:
        raise argparse.ArgumentTypeError("not a size: %r (use a number, with K, M, G or T)" % text)
    return int(number) * _UNITS[unit]


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(prog="python3 -m tvkcrypto", description=_DESCRIPTION, epilog=_EPILOG,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--version", action="version",
                        version="tvkcrypto %s (library %s)" % (tvkcrypto.__version__, tvkcrypto.library_version()))
    common = argparse.ArgumentParser(add_help=False)
    common.add_argument("--password-file", metavar="FILE", help="read the password from the first line of FILE")
    common.add_argument("--password-encoding", metavar="ENC",
                        help="key with the password in this encoding: " + tvkcrypto.ENCODINGS)
    common.add_argument("--check-file", metavar="PATH", help="the check file (default: FILE.tvkcheck)")
    common.add_argument("-f", "--force", action="store_true", help="replace an existing output")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)
    encrypt = commands.add_parser("encrypt", parents=[common], help="encrypt FILE into -o OUTPUT")
    encrypt.add_argument("file", metavar="FILE")
    encrypt.add_argument("-o", "--output", required=True, help="the encrypted file to write")
    encrypt.add_argument("--no-check-file", action="store_true", help="write no check file")
    decrypt = commands.add_parser("decrypt", parents=[common],
                                  help="decrypt FILE (or a byte range of it) to -o OUTPUT or standard output")
    decrypt.add_argument("file", metavar="FILE")
    decrypt.add_argument("-o", "--output", help="the file to write (default: standard output)")
    decrypt.add_argument("--offset", type=_size, default=0, help="first byte of cleartext to write")
    decrypt.add_argument("--length", type=_size, help="number of bytes to write (default: to the end)")
    verify = decrypt.add_mutually_exclusive_group()
    verify.add_argument("--no-verify", dest="verify", action="store_const", const=False, default=True,
                        help="ignore the check file")
    verify.add_argument("--require-check-file", dest="verify", action="store_const", const="required",
                        help="fail without a check file")
    check = commands.add_parser("check", parents=[common], help="verify FILE against its check file")
    check.add_argument("file", metavar="FILE")
    check.add_argument("--create", action="store_true",
                       help="make the check file of FILE instead (the password cannot be confirmed)")
    return parser


def _password(args: argparse.Namespace, twice: bool) -> bytes:
    """The password's bytes, in --password-encoding when one is given."""
    if args.password_file is not None:
        with open(args.password_file, "rb") as source:
            line = source.readline().rstrip(b"\r\n")
        text: Optional[bytes] = line[3:] if line.startswith(b"\xef\xbb\xbf") else line
    elif os.name != "nt":
        text = os.environb.pop(b"TVK_PASSWORD", None)  # out of the environment of what follows
    else:
        value = os.environ.pop("TVK_PASSWORD", None)
        text = value.encode("utf-8") if value is not None else None
    if text is None:
        typed = getpass.getpass("Password: ")
        if twice and getpass.getpass("Password again: ") != typed:
            raise ValueError("the passwords do not match")
        text = typed.encode("utf-8")
    if args.password_encoding is None:
        return text
    return bytes(tvkcrypto._keys.password_bytes(text.decode("utf-8"), args.password_encoding))


def _decrypt(args: argparse.Namespace, password: bytes) -> None:
    if args.output is not None:
        if args.offset or args.length is not None:
            raise ValueError("--offset and --length write to standard output only")
        tvkcrypto.decrypt_file(args.file, args.output, password, overwrite=args.force, verify=args.verify,
                               check_path=args.check_file)
        return
    with tvkcrypto.open(args.file, password=password, verify=args.verify, check_path=args.check_file,
                        buffering=0) as source:
        end = source.size if args.length is None else min(source.size, args.offset + args.length)
        buffer = memoryview(bytearray(1 << 20))
        for offset in range(args.offset, end, len(buffer)):
            count = source.readinto_at(buffer[:min(len(buffer), end - offset)], offset)
            sys.stdout.buffer.write(buffer[:count])
        sys.stdout.buffer.flush()


def run(argv: Optional[List[str]] = None) -> int:
    args = _parser().parse_args(argv)
    try:
        # asked twice where a typing error would go unnoticed: a new file,
        # or a file replaced with what a wrong password decrypts to
        replacing = args.command == "decrypt" and args.force and args.output and os.path.exists(args.output)
        password = _password(args, twice=args.command == "encrypt" or bool(replacing))
        if args.command == "encrypt":
            tvkcrypto.encrypt_file(args.file, args.output, password, overwrite=args.force,
                                   check_file=not args.no_check_file, check_path=args.check_file)
        elif args.command == "decrypt":
            _decrypt(args, password)
        elif args.create:
            tvkcrypto.create_check_file(args.file, password, check_path=args.check_file, overwrite=args.force)
        else:
            tvkcrypto.check(args.file, password, check_path=args.check_file)
            print("%s: password and data match the check file" % args.file, file=sys.stderr)
    except (OSError, ValueError, tvkcrypto.TvkCryptoError) as error:
        print("python3 -m tvkcrypto: %s" % error, file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        return 130
    return 0


if __name__ == "__main__":
    sys.exit(run())
