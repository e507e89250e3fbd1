// TvkFile.cs - whole files encrypted, decrypted and checked by path, as
// the tvkcrypt tool does it.

using System;
using System.IO;

namespace TvkCrypto
{
    /// <summary>
    /// Encrypts, decrypts and verifies whole files by path, with the
    /// safety of the tvkcrypt tool: the output is written to a temporary
    /// file beside it, synced, and put in place (with its check file) only
    /// once complete, so that after any failure the target is exactly as
    /// it was; an existing file is replaced only with <c>overwrite: true</c>;
    /// a symbolic link at the output's name is replaced, never written
    /// through. The methods keep no state and may run on several threads at once.
    /// </summary>
    public static unsafe class TvkFile
    {
        /// <summary>Encrypts the file <paramref name="input"/> into <paramref name="output"/>, with its check file.</summary>
        /// <param name="input">The cleartext file (or a FIFO or device, read to its end).</param>
        /// <param name="output">The encrypted file; may be <paramref name="input"/> itself with <paramref name="overwrite"/>.</param>
        /// <param name="password">The password.</param>
        /// <param name="overwrite">Whether an existing output (and check file) may be replaced.</param>
        /// <param name="writeCheckFile">Whether to write the check file.</param>
        /// <param name="checkPath">The check file; null for <paramref name="output"/> + ".tvkcheck".</param>
        /// <exception cref="ArgumentNullException">A null path or password.</exception>
        /// <exception cref="FileNotFoundException">No input file.</exception>
        /// <exception cref="IOException">The output exists and <paramref name="overwrite"/> is false, or a read or write failed.</exception>
        /// <exception cref="UnauthorizedAccessException">The input may not be read, or the output's directory written.</exception>
        public static void Encrypt(string input, string output, TvkPassword password, bool overwrite = false,
                                   bool writeCheckFile = true, string checkPath = null)
        {
            byte[] inputBytes = PathArgument(input, "input");
            byte[] outputBytes = PathArgument(output, "output");
            byte[] checkBytes = TvkNative.Utf8Path(checkPath, "checkPath");
            uint flags = (overwrite ? TvkNative.Overwrite : 0) | (writeCheckFile ? 0 : TvkNative.NoCheckFileFlag);
            int result = Use(password, (p, size) =>
                TvkNative.tvk_encrypt_file(inputBytes, outputBytes, p, size, flags, checkBytes));
            Throw(result, input, output, null, new TvkRange());
        }

        /// <summary>Decrypts the file <paramref name="input"/> into <paramref name="output"/>, verified against its check file.</summary>
        /// <param name="input">The encrypted file.</param>
        /// <param name="output">The cleartext file.</param>
        /// <param name="password">The password.</param>
        /// <param name="overwrite">Whether an existing output may be replaced.</param>
        /// <param name="verify">Whether to verify against the check file of <paramref name="input"/>.</param>
        /// <param name="checkPath">The check file; null for <paramref name="input"/> + ".tvkcheck".</param>
        /// <exception cref="WrongPasswordException">The password does not match the check file; nothing was written.</exception>
        /// <exception cref="DamagedDataException">The data does not match the check file; nothing was written.</exception>
        /// <exception cref="FileNotFoundException">No input file, or no check file with <see cref="TvkVerify.Required"/>.</exception>
        /// <exception cref="IOException">The output exists and <paramref name="overwrite"/> is false, or a read or write failed.</exception>
        /// <exception cref="UnauthorizedAccessException">The input may not be read, or the output's directory written.</exception>
        public static void Decrypt(string input, string output, TvkPassword password, bool overwrite = false,
                                   TvkVerify verify = TvkVerify.IfPresent, string checkPath = null)
        {
            byte[] inputBytes = PathArgument(input, "input");
            byte[] outputBytes = PathArgument(output, "output");
            byte[] checkBytes = TvkNative.Utf8Path(checkPath, "checkPath");
            uint flags = overwrite ? TvkNative.Overwrite : 0;
            TvkRange damaged = new TvkRange();
            int result = Use(password, (p, size) =>
                TvkNative.tvk_decrypt_file(inputBytes, outputBytes, p, size, flags, (int)verify, checkBytes,
                                           out damaged));
            Throw(result, input, output, checkPath, damaged);
        }

        /// <summary>Verifies the password and every block of the encrypted file at <paramref name="path"/> against its check file; writes nothing.</summary>
        /// <param name="path">The encrypted file.</param>
        /// <param name="password">The password.</param>
        /// <param name="checkPath">The check file; null for <paramref name="path"/> + ".tvkcheck".</param>
        /// <exception cref="WrongPasswordException">The password does not match the check file.</exception>
        /// <exception cref="DamagedDataException">The data does not match the check file.</exception>
        /// <exception cref="FileNotFoundException">No file, or no check file.</exception>
        /// <exception cref="TvkCryptoException">The check file is damaged, of a later version, or not one.</exception>
        public static void Check(string path, TvkPassword password, string checkPath = null)
        {
            byte[] pathBytes = PathArgument(path, "path");
            byte[] checkBytes = TvkNative.Utf8Path(checkPath, "checkPath");
            TvkRange damaged = new TvkRange();
            int result = Use(password, (p, size) =>
                TvkNative.tvk_check_verify(pathBytes, checkBytes, p, size, out damaged));
            Throw(result, path, null, checkPath, damaged);
        }

        /// <summary>
        /// Makes the check file of an existing encrypted file under
        /// <paramref name="password"/>. It cannot confirm the password: the
        /// check file records whichever password is given.
        /// </summary>
        /// <param name="path">The encrypted file.</param>
        /// <param name="password">The password it was encrypted with.</param>
        /// <param name="overwrite">Whether an existing check file may be replaced.</param>
        /// <param name="checkPath">The check file; null for <paramref name="path"/> + ".tvkcheck".</param>
        /// <exception cref="FileNotFoundException">No file.</exception>
        /// <exception cref="IOException">The check file exists and <paramref name="overwrite"/> is false.</exception>
        public static void CreateCheckFile(string path, TvkPassword password, bool overwrite = false,
                                           string checkPath = null)
        {
            byte[] pathBytes = PathArgument(path, "path");
            byte[] checkBytes = TvkNative.Utf8Path(checkPath, "checkPath");
            uint flags = overwrite ? TvkNative.Overwrite : 0;
            int result = Use(password, (p, size) =>
                TvkNative.tvk_check_create(pathBytes, checkBytes, p, size, flags));
            Throw(result, path, checkPath ?? path + ".tvkcheck", null, new TvkRange());
        }

        private static byte[] PathArgument(string path, string name)
        {
            if (path == null) throw new ArgumentNullException(name);
            return TvkNative.Utf8Path(path, name);
        }

        private static int Use(TvkPassword password, TvkPassword.Body body)
        {
            if (password == null) throw new ArgumentNullException("password");
            return password.Use(body);
        }

        // The exception of a failed call, naming the file it is about: a
        // file that exists already or cannot be written is the output; a
        // permission or a directory may be either's; the rest (a missing
        // input, a wrong password, damaged data) is the input's.
        private static void Throw(int result, string input, string output, string checkPath, TvkRange damaged)
        {
            if (result == TvkNative.Success) return;
            string subject = input;
            if (output != null) {
                if (result == TvkNative.FileAlreadyExists || result == TvkNative.FileNotWritable) {
                    subject = output;
                } else if (result == TvkNative.PermissionDenied || result == TvkNative.FileNotDirectory) {
                    subject = input + "' or '" + output;
                }
            }
            throw TvkErrors.ToException(result, subject, checkPath, damaged);
        }
    }
}
