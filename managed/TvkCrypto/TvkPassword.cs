// TvkPassword.cs - a password as the bytes the format keys with.

using System;
using System.Runtime.InteropServices;
using System.Text;

namespace TvkCrypto
{
    /// <summary>
    /// A password, and how its characters become the bytes that the key
    /// is made from. A <see cref="string"/> converts to one implicitly
    /// (UTF-8, as the tvkcrypt tool keys), and so does a byte array (the
    /// bytes as they are).
    /// </summary>
    /// <remarks>
    /// The bytes are made only for the call that needs them, in memory
    /// outside the managed heap (so that no garbage collection leaves a
    /// copy behind), and are overwritten with zeros before that memory
    /// is freed. A byte array given here is read at each use, neither
    /// copied nor cleared: clear it yourself once you are done. Files
    /// made through <c>TVKCryptoWrapper.Helper</c> were keyed with the
    /// system ANSI code page: use <see cref="FromHelperString"/> or an
    /// explicit <see cref="Encoding"/> such as Windows-1252 for them.
    /// A character that the encoding cannot represent is refused
    /// (<see cref="EncoderFallbackException"/>), never replaced by '?';
    /// a NUL character or zero byte is refused by every operation
    /// (<see cref="ArgumentException"/>): the format's key would ignore
    /// everything after it.
    /// </remarks>
    public sealed class TvkPassword
    {
        private readonly string text;
        private readonly Encoding encoding;
        private readonly byte[] bytes;
        private readonly bool helperBytes;

        /// <summary>A password whose characters are keyed as UTF-8.</summary>
        /// <param name="password">The password.</param>
        /// <exception cref="ArgumentNullException"><paramref name="password"/> is null.</exception>
        public TvkPassword(string password) : this(password, null)
        {
        }

        /// <summary>A password whose characters are keyed in the given encoding.</summary>
        /// <param name="password">The password.</param>
        /// <param name="encoding">The encoding of its bytes; null for UTF-8.</param>
        /// <exception cref="ArgumentNullException"><paramref name="password"/> is null.</exception>
        public TvkPassword(string password, Encoding encoding)
        {
            if (password == null) throw new ArgumentNullException("password");
            text = password;
            Encoding chosen = encoding ?? new UTF8Encoding(false);
            this.encoding = (Encoding)chosen.Clone();
            this.encoding.EncoderFallback = EncoderFallback.ExceptionFallback;
        }

        /// <summary>A password given as the bytes to key with.</summary>
        /// <param name="password">The bytes; read at each use, never copied or cleared.</param>
        /// <exception cref="ArgumentNullException"><paramref name="password"/> is null.</exception>
        public TvkPassword(byte[] password)
        {
            if (password == null) throw new ArgumentNullException("password");
            bytes = password;
        }

        private TvkPassword(string password, bool helper)
        {
            if (password == null) throw new ArgumentNullException("password");
            text = password;
            helperBytes = helper;
        }

        /// <summary>
        /// A password keyed exactly as <c>TVKCryptoWrapper.Helper</c> keys
        /// it: the system ANSI code page of this runtime
        /// (<see cref="Marshal.StringToHGlobalAnsi"/>), up to the first
        /// NUL character.
        /// </summary>
        /// <param name="password">The password given to Helper.</param>
        /// <returns>The password.</returns>
        /// <exception cref="ArgumentNullException"><paramref name="password"/> is null.</exception>
        public static TvkPassword FromHelperString(string password)
        {
            return new TvkPassword(password, true);
        }

        /// <summary>A password keyed as UTF-8.</summary>
        /// <param name="password">The password; null gives null.</param>
        /// <returns>The password, or null.</returns>
        public static implicit operator TvkPassword(string password)
        {
            return password == null ? null : new TvkPassword(password);
        }

        /// <summary>A password given as its bytes.</summary>
        /// <param name="password">The bytes; null gives null.</param>
        /// <returns>The password, or null.</returns>
        public static implicit operator TvkPassword(byte[] password)
        {
            return password == null ? null : new TvkPassword(password);
        }

        internal unsafe delegate int Body(byte* password, UIntPtr size);

        // Runs body over the password's bytes and wipes them afterwards.
        internal unsafe int Use(Body body)
        {
            if (bytes != null) {
                fixed (byte* pinned = bytes) {
                    return body(pinned, (UIntPtr)(uint)bytes.Length);
                }
            }
            if (helperBytes) {
                IntPtr copy = Marshal.StringToHGlobalAnsi(text);
                int size = 0;
                try {
                    byte* p = (byte*)copy;
                    while (p[size] != 0) size++;
                    return body(p, (UIntPtr)(uint)size);
                } finally {
                    Wipe((byte*)copy, size);
                    Marshal.FreeHGlobal(copy);
                }
            }
            return UseEncoded(body);
        }

        private unsafe int UseEncoded(Body body)
        {
            int size;
            fixed (char* chars = text) {
                size = encoding.GetByteCount(chars, text.Length);
            }
            IntPtr memory = Marshal.AllocHGlobal(Math.Max(size, 1));
            try {
                fixed (char* chars = text) {
                    encoding.GetBytes(chars, text.Length, (byte*)memory, size);
                }
                return body((byte*)memory, (UIntPtr)(uint)size);
            } finally {
                Wipe((byte*)memory, size);
                Marshal.FreeHGlobal(memory);
            }
        }

        private static unsafe void Wipe(byte* p, int size)
        {
            // volatile stores: the compiler may not drop writes to memory
            // that is freed right after
            for (int i = 0; i < size; i++) System.Threading.Volatile.Write(ref p[i], (byte)0);
        }
    }
}
