// TvkStreamSink.cs - a TvkStream's cleartext encrypted into any writable
// managed stream, a slice at a time: the caller's bytes are copied,
// transformed at their offset and written; the caller's buffer is never
// changed. No check file is written (there is no file to name it after).

using System;
using System.IO;
using System.Runtime.InteropServices;
using System.Threading;
using System.Threading.Tasks;

namespace TvkCrypto
{
    internal sealed class TvkStreamSink : TvkStreamCore
    {
        private const int SliceSize = 1 << 16;

        private readonly Stream output;
        private readonly bool leaveOpen;
        private readonly TvkKeyHandle key;
        private readonly byte[] slice = new byte[SliceSize];
        private long offset;
        private bool failed;
        private bool writing;  // an asynchronous write is under way

        private TvkStreamSink(Stream output, bool leaveOpen, TvkKeyHandle key)
        {
            this.output = output;
            this.leaveOpen = leaveOpen;
            this.key = key;
        }

        internal static TvkStreamSink Open(Stream output, TvkPassword password, bool leaveOpen)
        {
            if (!output.CanWrite) throw new ArgumentException("The stream must be writable.", "output");
            return new TvkStreamSink(output, leaveOpen, CreateKey(password));
        }

        internal override bool CanWrite { get { return true; } }

        // After a failed write the output holds an unknown part of the
        // slice, so the offsets of what follows would not match: every
        // later write is refused.
        internal override unsafe void Write(byte* data, int count)
        {
            RefuseOverlap();
            for (int done = 0; done < count;) {
                int n = Encrypt(data + done, count - done);
                failed = true;
                output.Write(slice, 0, n);
                failed = false;
                done += n;
            }
        }

        internal override async Task WriteAsync(byte[] data, int index, int count, CancellationToken cancel)
        {
            RefuseOverlap();
            writing = true;
            try {
                for (int done = 0; done < count;) {
                    int n = EncryptFromArray(data, index + done, count - done);
                    failed = true;
                    await output.WriteAsync(slice, 0, n, cancel).ConfigureAwait(false);
                    failed = false;
                    done += n;
                }
            } finally {
                writing = false;
            }
        }

        // One write at a time: slice and the offset belong to the write
        // under way until it ends.
        private void RefuseOverlap()
        {
            if (writing) throw new InvalidOperationException("An asynchronous write is still under way.");
        }

        private unsafe int EncryptFromArray(byte[] data, int index, int count)
        {
            fixed (byte* p = data) return Encrypt(p + index, count);
        }

        // Up to a slice of data, encrypted into slice; the offset moves on.
        private unsafe int Encrypt(byte* data, int count)
        {
            if (failed) throw new InvalidOperationException("An earlier write failed: the output is incomplete.");
            int n = Math.Min(count, slice.Length);
            Marshal.Copy((IntPtr)data, slice, 0, n);
            fixed (byte* p = slice) Transform(key, p, n, offset);
            offset += n;
            return n;
        }

        internal override void Flush()
        {
            output.Flush();
        }

        public override void Dispose()
        {
            key.Dispose();
            Array.Clear(slice, 0, slice.Length);
            if (!leaveOpen) output.Dispose();
        }
    }
}
