// TvkStream.cs - encrypted data as a System.IO.Stream: cleartext read at
// any position of an encrypted file or stream, or written in order into
// a new encrypted file or any writable stream.

using System;
using System.IO;
using System.Threading;
using System.Threading.Tasks;
#if TVK_SPAN
using System.Runtime.InteropServices;
#endif

namespace TvkCrypto
{
    /// <summary>
    /// A stream of cleartext over data in the tvkcrypto format (AES-128
    /// in counter mode, keyed by the password, exactly as long as the
    /// cleartext). Opened for reading (<see cref="OpenRead(string, TvkPassword, TvkVerify, string)"/>)
    /// it seeks at the cost of one AES block and decrypts only what is
    /// read; opened for writing (<see cref="Create(string, TvkPassword, bool, bool, string)"/>)
    /// it encrypts what is written, in order.
    /// </summary>
    /// <remarks>
    /// The format itself cannot tell a wrong password: without a check
    /// file a wrong password reads as wrong bytes. With one (the file's
    /// name plus ".tvkcheck", written by <see cref="Create(string, TvkPassword, bool, bool, string)"/>
    /// and the tvkcrypt tool) a wrong password throws
    /// <see cref="WrongPasswordException"/> when the stream is opened,
    /// and a read that reaches a damaged block throws
    /// <see cref="DamagedDataException"/> (the verified bytes before the
    /// block are returned first). Like other streams, one instance is for
    /// one thread at a time.
    /// </remarks>
    public sealed class TvkStream : Stream
    {
        private TvkStreamCore core;
        private long position;

        private TvkStream(TvkStreamCore core)
        {
            this.core = core;
        }

        /// <summary>Opens the encrypted file at <paramref name="path"/> for reading.</summary>
        /// <param name="path">The encrypted file (a regular file).</param>
        /// <param name="password">The password it was encrypted with.</param>
        /// <param name="verify">Whether to verify against its check file.</param>
        /// <param name="checkPath">The check file; null for <paramref name="path"/> + ".tvkcheck".</param>
        /// <returns>A readable, seekable stream of the cleartext.</returns>
        /// <exception cref="ArgumentNullException">A null path or password.</exception>
        /// <exception cref="FileNotFoundException">No such file, or no check file with <see cref="TvkVerify.Required"/>.</exception>
        /// <exception cref="UnauthorizedAccessException">The file may not be read.</exception>
        /// <exception cref="WrongPasswordException">The password does not match the check file.</exception>
        /// <exception cref="TvkCryptoException">The check file is damaged, of a later version, or not one.</exception>
        public static TvkStream OpenRead(string path, TvkPassword password, TvkVerify verify = TvkVerify.IfPresent,
                                         string checkPath = null)
        {
            CheckNotNull(path, "path");
            CheckNotNull(password, "password");
            return new TvkStream(TvkFileSource.Open(path, password, verify, checkPath));
        }

        /// <summary>Opens encrypted data in a stream for reading.</summary>
        /// <param name="ciphertext">The encrypted data: a readable, seekable stream, read at the offsets asked for.</param>
        /// <param name="password">The password it was encrypted with.</param>
        /// <param name="checkFile">Its check file, read to its end here and left open; null for none.</param>
        /// <param name="leaveOpen">Whether <paramref name="ciphertext"/> stays open when this stream is disposed.</param>
        /// <returns>A readable, seekable stream of the cleartext, as long as <paramref name="ciphertext"/>.</returns>
        /// <exception cref="ArgumentNullException">A null stream or password.</exception>
        /// <exception cref="ArgumentException"><paramref name="ciphertext"/> cannot read or seek.</exception>
        /// <exception cref="WrongPasswordException">The password does not match the check file.</exception>
        /// <exception cref="TvkCryptoException">The check file is damaged, of a later version, or not one.</exception>
        public static TvkStream OpenRead(Stream ciphertext, TvkPassword password, Stream checkFile = null,
                                         bool leaveOpen = false)
        {
            CheckNotNull(ciphertext, "ciphertext");
            CheckNotNull(password, "password");
            return new TvkStream(TvkStreamSource.Open(ciphertext, password, checkFile, leaveOpen));
        }

        /// <summary>
        /// Starts a new encrypted file at <paramref name="path"/>, with its
        /// check file. What is written goes to a temporary file beside it;
        /// only <see cref="Commit"/> puts the file (and check file) in
        /// place. Disposed without a commit, after a failure for instance,
        /// the stream removes the temporaries and leaves the target as it was.
        /// </summary>
        /// <param name="path">The encrypted file to write.</param>
        /// <param name="password">The password to encrypt with.</param>
        /// <param name="overwrite">Whether an existing file (and check file) may be replaced.</param>
        /// <param name="writeCheckFile">Whether to write the check file.</param>
        /// <param name="checkPath">The check file; null for <paramref name="path"/> + ".tvkcheck".</param>
        /// <returns>A writable stream, sequential only.</returns>
        /// <exception cref="ArgumentNullException">A null path or password.</exception>
        /// <exception cref="IOException">The file exists and <paramref name="overwrite"/> is false.</exception>
        /// <exception cref="UnauthorizedAccessException">The directory may not be written.</exception>
        /// <exception cref="DirectoryNotFoundException">A part of the path is not a directory.</exception>
        public static TvkStream Create(string path, TvkPassword password, bool overwrite = false,
                                       bool writeCheckFile = true, string checkPath = null)
        {
            CheckNotNull(path, "path");
            CheckNotNull(password, "password");
            return new TvkStream(TvkFileSink.Open(path, password, overwrite, writeCheckFile, checkPath));
        }

        /// <summary>
        /// Encrypts what is written into <paramref name="output"/>, from its
        /// current position on; no check file is made (make one later with
        /// <see cref="TvkFile.CreateCheckFile"/> once the data is a file).
        /// </summary>
        /// <param name="output">A writable stream.</param>
        /// <param name="password">The password to encrypt with.</param>
        /// <param name="leaveOpen">Whether <paramref name="output"/> stays open when this stream is disposed.</param>
        /// <returns>A writable stream, sequential only.</returns>
        /// <exception cref="ArgumentNullException">A null stream or password.</exception>
        /// <exception cref="ArgumentException"><paramref name="output"/> cannot write.</exception>
        public static TvkStream Create(Stream output, TvkPassword password, bool leaveOpen = false)
        {
            CheckNotNull(output, "output");
            CheckNotNull(password, "password");
            return new TvkStream(TvkStreamSink.Open(output, password, leaveOpen));
        }

        /// <summary>Whether reads are verified against a check file.</summary>
        public bool IsVerified { get { return Core.IsVerified; } }

        /// <summary>Whether the stream reads (true until it is disposed, for a stream opened for reading).</summary>
        public override bool CanRead { get { return core != null && core.CanRead; } }

        /// <summary>Whether the stream seeks: as it reads.</summary>
        public override bool CanSeek { get { return CanRead; } }

        /// <summary>Whether the stream writes (a stream created for writing, until it is committed or disposed).</summary>
        public override bool CanWrite { get { return core != null && core.CanWrite; } }

        /// <summary>The length of the cleartext, which is that of the encrypted data.</summary>
        /// <exception cref="NotSupportedException">The stream writes.</exception>
        /// <exception cref="ObjectDisposedException">The stream was disposed.</exception>
        public override long Length { get { return Core.Length; } }

        /// <summary>The position in the cleartext: where the next read starts, or how much was written.</summary>
        /// <exception cref="NotSupportedException">Set on a stream that writes.</exception>
        /// <exception cref="ArgumentOutOfRangeException">Set to a negative value.</exception>
        public override long Position
        {
            get { ThrowIfDisposed(); return position; }
            set { Seek(value, SeekOrigin.Begin); }
        }

        /// <summary>Moves the position of a stream that reads; reading past the end gives 0 bytes.</summary>
        /// <param name="offset">The offset from <paramref name="origin"/>.</param>
        /// <param name="origin">Where the offset counts from.</param>
        /// <returns>The new position.</returns>
        /// <exception cref="NotSupportedException">The stream writes.</exception>
        /// <exception cref="IOException">The position would be negative.</exception>
        public override long Seek(long offset, SeekOrigin origin)
        {
            if (!Core.CanRead) throw new NotSupportedException("A stream that writes cannot seek.");
            if (origin != SeekOrigin.Begin && origin != SeekOrigin.Current && origin != SeekOrigin.End) {
                throw new ArgumentException("Unknown origin.", "origin");
            }
            long from = origin == SeekOrigin.Begin ? 0 : origin == SeekOrigin.Current ? position : core.Length;
            long target = from + offset;
            if (target < 0) {
                if (origin == SeekOrigin.Begin) throw new ArgumentOutOfRangeException("offset");
                throw new IOException("Seek to a position before the start of the stream.");
            }
            position = target;
            return position;
        }

        /// <summary>Reads cleartext at the position and moves it on.</summary>
        /// <param name="buffer">Where the bytes go.</param>
        /// <param name="offset">Where in <paramref name="buffer"/> they start.</param>
        /// <param name="count">How many to read at most.</param>
        /// <returns>The bytes read: fewer than <paramref name="count"/> only at the end, or before a damaged block; 0 at the end.</returns>
        /// <exception cref="DamagedDataException">The read starts in a block that does not match the check file.</exception>
        /// <exception cref="NotSupportedException">The stream writes.</exception>
        /// <exception cref="ObjectDisposedException">The stream was disposed.</exception>
        public override int Read(byte[] buffer, int offset, int count)
        {
            CheckArray(buffer, offset, count);
            if (!Core.CanRead) throw new NotSupportedException("The stream writes.");
            unsafe {
                fixed (byte* p = buffer) {
                    return ReadAt(p + offset, count);
                }
            }
        }

        /// <summary>Encrypts and writes bytes at the position and moves it on.</summary>
        /// <param name="buffer">The cleartext; left as it is.</param>
        /// <param name="offset">Where in <paramref name="buffer"/> it starts.</param>
        /// <param name="count">How many bytes.</param>
        /// <exception cref="NotSupportedException">The stream reads, or its file was committed.</exception>
        /// <exception cref="InvalidOperationException">An earlier write failed.</exception>
        /// <exception cref="ObjectDisposedException">The stream was disposed.</exception>
        public override void Write(byte[] buffer, int offset, int count)
        {
            CheckArray(buffer, offset, count);
            if (!Core.CanWrite) throw new NotSupportedException("The stream reads, or was committed.");
            unsafe {
                fixed (byte* p = buffer) {
                    WriteAt(p + offset, count);
                }
            }
        }

        /// <summary>Encrypts and writes bytes, asynchronously where the output stream writes so.</summary>
        /// <param name="buffer">The cleartext; left as it is.</param>
        /// <param name="offset">Where in <paramref name="buffer"/> it starts.</param>
        /// <param name="count">How many bytes.</param>
        /// <param name="cancellationToken">Cancels the write (what was written stays written).</param>
        /// <returns>The write.</returns>
        public override Task WriteAsync(byte[] buffer, int offset, int count, CancellationToken cancellationToken)
        {
            CheckArray(buffer, offset, count);
            if (!Core.CanWrite) throw new NotSupportedException("The stream reads, or was committed.");
            Task write = core.WriteAsync(buffer, offset, count, cancellationToken);
            position += count;
            return write;
        }

#if TVK_SPAN
        /// <summary>Reads cleartext at the position into a span and moves the position on.</summary>
        /// <param name="buffer">Where the bytes go.</param>
        /// <returns>The bytes read, as <see cref="Read(byte[], int, int)"/> counts them.</returns>
        public override int Read(Span<byte> buffer)
        {
            if (!Core.CanRead) throw new NotSupportedException("The stream writes.");
            unsafe {
                fixed (byte* p = &MemoryMarshal.GetReference(buffer)) {
                    return ReadAt(p, buffer.Length);
                }
            }
        }

        /// <summary>Encrypts and writes the bytes of a span.</summary>
        /// <param name="buffer">The cleartext; left as it is.</param>
        public override void Write(ReadOnlySpan<byte> buffer)
        {
            if (!Core.CanWrite) throw new NotSupportedException("The stream reads, or was committed.");
            unsafe {
                fixed (byte* p = &MemoryMarshal.GetReference(buffer)) {
                    WriteAt(p, buffer.Length);
                }
            }
        }
#endif

        private unsafe int ReadAt(byte* buffer, int count)
        {
            if (count == 0) return 0;
            int got = core.Read(position, buffer, count);
            position += got;
            return got;
        }

        private unsafe void WriteAt(byte* data, int count)
        {
            if (count == 0) return;
            core.Write(data, count);
            position += count;
        }

        /// <summary>
        /// Ends a stream that writes: a file is synced and put in place
        /// with its check file (both or neither); a stream is flushed.
        /// After it nothing more can be written. Does nothing on a stream
        /// that reads.
        /// </summary>
        /// <exception cref="IOException">The file could not be completed; the target is as it was.</exception>
        /// <exception cref="InvalidOperationException">An earlier write failed.</exception>
        public void Commit()
        {
            if (Core.CanWrite) core.Commit();
        }

        /// <summary>Flushes a stream that writes into a stream; a file is completed only by <see cref="Commit"/>.</summary>
        public override void Flush()
        {
            if (core != null) core.Flush();
        }

        /// <summary>Not supported: the length is that of the data.</summary>
        /// <param name="value">Unused.</param>
        /// <exception cref="NotSupportedException">Always.</exception>
        public override void SetLength(long value)
        {
            throw new NotSupportedException("The length of encrypted data is that of what was written.");
        }

        /// <summary>Releases the file or stream and wipes the key; a file written without <see cref="Commit"/> is discarded.</summary>
        /// <param name="disposing">Whether called from Dispose.</param>
        protected override void Dispose(bool disposing)
        {
            try {
                if (disposing && core != null) core.Dispose();
                core = null;
            } finally {
                base.Dispose(disposing);
            }
        }

        private TvkStreamCore Core
        {
            get {
                ThrowIfDisposed();
                return core;
            }
        }

        private static void CheckNotNull(object value, string name)
        {
            if (value == null) throw new ArgumentNullException(name);
        }

        private void CheckArray(byte[] buffer, int offset, int count)
        {
            CheckNotNull(buffer, "buffer");
            if (offset < 0) throw new ArgumentOutOfRangeException("offset");
            if (count < 0) throw new ArgumentOutOfRangeException("count");
            if (buffer.Length - offset < count) throw new ArgumentException("offset and count exceed the buffer.");
            ThrowIfDisposed();
        }

        private void ThrowIfDisposed()
        {
            if (core == null) throw new ObjectDisposedException("TvkStream");
        }
    }
}
