// TvkStreamCore.cs - what a TvkStream reads from or writes to: the
// library's reader or writer of a path, or a managed stream with a key.
// TvkStream keeps the position and checks the arguments; a core moves
// the bytes at the offsets it is given. Cores are not thread-safe (nor
// is a Stream); Dispose may come from any thread once calls are over.

using System;
using System.Threading;
using System.Threading.Tasks;

namespace TvkCrypto
{
    internal abstract class TvkStreamCore : IDisposable
    {
        internal virtual bool CanRead { get { return false; } }
        internal virtual bool CanWrite { get { return false; } }
        internal virtual bool IsVerified { get { return false; } }
        internal virtual long Length { get { throw new NotSupportedException(); } }

        // Up to count bytes of cleartext at offset into buffer; fewer only
        // at the end of the data (0 at or past it), or before a damaged
        // block, whose read then throws.
        internal virtual unsafe int Read(long offset, byte* buffer, int count)
        {
            throw new NotSupportedException();
        }

        // Encrypts and appends count bytes.
        internal virtual unsafe void Write(byte* data, int count)
        {
            throw new NotSupportedException();
        }

        // The same as Write for an array, asynchronously where the core
        // writes to something that has an asynchronous Write.
        internal virtual Task WriteAsync(byte[] data, int index, int count, CancellationToken cancel)
        {
            cancel.ThrowIfCancellationRequested();
            unsafe {
                fixed (byte* p = data) Write(p + index, count);
            }
            return Task.FromResult(true);
        }

        internal virtual void Flush()
        {
        }

        internal virtual void Commit()
        {
            Flush();
        }

        public abstract void Dispose();

        // A key for transforms at any offset.
        protected static unsafe TvkKeyHandle CreateKey(TvkPassword password)
        {
            TvkKeyHandle key = null;
            int result = password.Use((p, size) => TvkNative.tvk_key_create(p, size, out key));
            if (result != TvkNative.Success) {
                if (key != null) key.Dispose();
                TvkErrors.Check(result, null);
            }
            return key;
        }

        protected static unsafe void Transform(TvkKeyHandle key, byte* data, int count, long offset)
        {
            TvkErrors.Check(TvkNative.tvk_transform(key, data, (UIntPtr)(uint)count, (ulong)offset), null);
        }
    }
}
