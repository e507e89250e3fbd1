// TvkExceptions.cs - the exceptions of the TvkCrypto namespace, and the
// exception that each result code of the C interface becomes.

using System;
using System.IO;
using System.Runtime.InteropServices;

namespace TvkCrypto
{
    /// <summary>
    /// A failure reported by the tvkcrypto library that no standard
    /// exception describes (a damaged check file, one of a later version,
    /// a failed read or write); the base of the library's own exceptions.
    /// </summary>
    public class TvkCryptoException : IOException
    {
        /// <summary>Creates the exception.</summary>
        /// <param name="message">What failed.</param>
        /// <param name="result">The library's result code.</param>
        public TvkCryptoException(string message, int result) : base(message)
        {
            Result = result;
        }

        /// <summary>The library's result code (a tvk_result of <c>TvkCrypto/c.h</c>).</summary>
        public int Result { get; private set; }
    }

    /// <summary>
    /// The password does not match the check file: nothing was decrypted.
    /// </summary>
    public class WrongPasswordException : TvkCryptoException
    {
        /// <summary>Creates the exception.</summary>
        /// <param name="message">What failed.</param>
        public WrongPasswordException(string message) : base(message, TvkNative.WrongPassword)
        {
        }
    }

    /// <summary>
    /// Encrypted data does not match its check file: the block at
    /// <see cref="Offset"/> was damaged or changed, or the file was cut
    /// short or extended. None of its bytes were returned.
    /// </summary>
    public class DamagedDataException : TvkCryptoException
    {
        /// <summary>Creates the exception.</summary>
        /// <param name="message">What failed.</param>
        /// <param name="offset">The first byte of the damaged block.</param>
        /// <param name="length">The block's length.</param>
        public DamagedDataException(string message, long offset, long length)
            : base(message, TvkNative.DataDamaged)
        {
            Offset = offset;
            Length = length;
        }

        /// <summary>Where the damaged block starts in the encrypted data.</summary>
        public long Offset { get; private set; }

        /// <summary>How long the damaged block is.</summary>
        public long Length { get; private set; }
    }

    // Result codes into exceptions.
    internal static class TvkErrors
    {
        internal static string Text(int result)
        {
            return Marshal.PtrToStringAnsi(TvkNative.tvk_result_text(result));
        }

        // Throws for a failed result; path names the file that the call
        // was about (may be null), checkPath its check file.
        internal static void Check(int result, string path, string checkPath = null)
        {
            if (result != TvkNative.Success) throw ToException(result, path, checkPath, new TvkRange());
        }

        internal static Exception ToException(int result, string path, string checkPath, TvkRange damaged)
        {
            string subject = path == null ? "" : "'" + path + "': ";
            string message = subject + Text(result);
            switch (result) {
            case TvkNative.NoSuchFile:
                return new FileNotFoundException(message, path);
            case TvkNative.NoCheckFile:
                string check = checkPath ?? (path == null ? null : path + ".tvkcheck");
                return new FileNotFoundException(message + " (" + check + ")", check);
            case TvkNative.PermissionDenied:
            case TvkNative.FileNotWritable:
                return new UnauthorizedAccessException(message);
            case TvkNative.FileNotDirectory:
                return new DirectoryNotFoundException(message);
            case TvkNative.FileAlreadyExists:
                return new IOException(message + " (pass overwrite: true to replace it)");
            case TvkNative.InvalidParameters:
                return new ArgumentException(message);
            case TvkNative.OutOfMemory:
                return new OutOfMemoryException(message);
            case TvkNative.WrongPassword:
                return new WrongPasswordException(message);
            case TvkNative.DataDamaged:
                return new DamagedDataException(
                    message + " (bytes " + damaged.Offset + " to " + (damaged.Offset + damaged.Length) + ")",
                    (long)damaged.Offset, (long)damaged.Length);
            default:
                return new TvkCryptoException(message, result);
            }
        }
    }
}
