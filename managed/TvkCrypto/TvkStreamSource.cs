// TvkStreamSource.cs - a TvkStream's cleartext read from encrypted data
// in any readable, seekable managed stream: the ciphertext at an offset
// is read from the stream and decrypted with tvk_transform. With a check
// file, each block a read touches is read whole and verified
// (tvk_check_verify_data) before any byte of it is decrypted, and the
// last blocks verified are kept for the reads that follow.

using System;
using System.IO;
using System.Runtime.InteropServices;

namespace TvkCrypto
{
    internal sealed class TvkStreamSource : TvkStreamCore
    {
        // the largest check block verified from a stream, and the largest
        // check file read from one (the format's own limit is near 64 MiB)
        private const uint MaxBlockSize = 64u << 20;
        private const int MaxCheckFileSize = 80 << 20;
        // ciphertext read per slice when nothing is verified
        private const int SliceSize = 1 << 20;

        private readonly Stream input;
        private readonly bool leaveOpen;
        private readonly TvkKeyHandle key;
        private readonly TvkCheckHandle check;
        private readonly long blockSize;
        private readonly byte[][] blocks = new byte[2][];
        private readonly long[] blockIndex = { -1, -1 };
        private int nextSlot;
        private byte[] slice;

        private TvkStreamSource(Stream input, bool leaveOpen, TvkKeyHandle key, TvkCheckHandle check,
                                long blockSize)
        {
            this.input = input;
            this.leaveOpen = leaveOpen;
            this.key = key;
            this.check = check;
            this.blockSize = blockSize;
        }

        internal static TvkStreamSource Open(Stream input, TvkPassword password, Stream checkFile, bool leaveOpen)
        {
            if (!input.CanRead || !input.CanSeek) {
                throw new ArgumentException("The stream must be readable and seekable.", "ciphertext");
            }
            TvkCheckHandle check = null;
            TvkKeyHandle key = null;
            try {
                long blockSize = 0;
                if (checkFile != null) {
                    check = LoadCheck(checkFile, password, out blockSize);
                }
                key = CreateKey(password);
                return new TvkStreamSource(input, leaveOpen, key, check, blockSize);
            } catch {
                if (check != null) check.Dispose();
                if (key != null) key.Dispose();
                throw;
            }
        }

        // The check file parsed and its password verified (about 0.2 s).
        private static unsafe TvkCheckHandle LoadCheck(Stream checkFile, TvkPassword password, out long blockSize)
        {
            byte[] bytes = ReadCheckFile(checkFile);
            TvkCheckHandle check;
            int result = TvkNative.tvk_check_parse(bytes, (UIntPtr)(uint)bytes.Length, out check);
            try {
                TvkErrors.Check(result, null);
                TvkErrors.Check(password.Use((p, size) => TvkNative.tvk_check_verify_password(check, p, size)),
                                null);
                ulong dataSize;
                uint block;
                TvkErrors.Check(TvkNative.tvk_check_info(check, out dataSize, out block), null);
                if (block > MaxBlockSize) {
                    throw new TvkCryptoException("The check file's blocks of " + block + " bytes are too " +
                                                 "large to verify from a stream; open the file by its path.",
                                                 TvkNative.NotSupported);
                }
                blockSize = block;
                return check;
            } catch {
                check.Dispose();
                throw;
            }
        }

        private static byte[] ReadCheckFile(Stream checkFile)
        {
            MemoryStream bytes = new MemoryStream();
            byte[] buffer = new byte[65536];
            int got;
            while ((got = checkFile.Read(buffer, 0, buffer.Length)) > 0) {
                bytes.Write(buffer, 0, got);
                if (bytes.Length > MaxCheckFileSize) {
                    throw new TvkCryptoException("Not a check file: larger than any check file.",
                                                 TvkNative.NotSupported);
                }
            }
            return bytes.ToArray();
        }

        internal override bool CanRead { get { return true; } }
        internal override bool IsVerified { get { return check != null; } }
        internal override long Length { get { return input.Length; } }

        internal override unsafe int Read(long offset, byte* buffer, int count)
        {
            long length = input.Length;
            if (offset >= length) return 0;
            if (count > length - offset) count = (int)(length - offset);
            return check == null ? ReadPlain(offset, buffer, count) : ReadVerified(offset, buffer, count);
        }

        private unsafe int ReadPlain(long offset, byte* buffer, int count)
        {
            if (slice == null) slice = new byte[SliceSize];
            int done = 0;
            while (done < count) {
                int got = ReadAt(offset + done, slice, Math.Min(count - done, slice.Length));
                if (got == 0) break;
                Marshal.Copy(slice, 0, (IntPtr)(buffer + done), got);
                Transform(key, buffer + done, got, offset + done);
                done += got;
            }
            return done;
        }

        private unsafe int ReadVerified(long offset, byte* buffer, int count)
        {
            int done = 0;
            while (done < count) {
                long at = offset + done;
                long index = at / blockSize;
                byte[] block;
                try {
                    block = VerifiedBlock(index);
                } catch (DamagedDataException) {
                    if (done > 0) return done;  // the verified bytes first
                    throw;
                }
                int from = (int)(at - index * blockSize);
                int n = Math.Min(count - done, block.Length - from);
                if (n <= 0) break;
                Marshal.Copy(block, from, (IntPtr)(buffer + done), n);
                Transform(key, buffer + done, n, at);
                done += n;
            }
            return done;
        }

        // The ciphertext of block index, read whole (up to the stream's
        // end) and verified; damaged blocks throw DamagedDataException.
        private byte[] VerifiedBlock(long index)
        {
            for (int slot = 0; slot < blocks.Length; slot++) {
                if (blockIndex[slot] == index) return blocks[slot];
            }
            long start = index * blockSize;
            int size = (int)Math.Min(blockSize, Math.Max(0, input.Length - start));
            byte[] block = new byte[size];
            int got = ReadAt(start, block, size);
            if (got < size) Array.Resize(ref block, got);
            TvkRange damaged;
            int result = TvkNative.tvk_check_verify_data(check, (ulong)start, block, (UIntPtr)(uint)block.Length,
                                                         out damaged);
            if (result != TvkNative.Success) throw TvkErrors.ToException(result, null, null, damaged);
            blocks[nextSlot] = block;
            blockIndex[nextSlot] = index;
            nextSlot = (nextSlot + 1) % blocks.Length;
            return block;
        }

        // Reads up to count bytes at offset, fewer only at the stream's end.
        private int ReadAt(long offset, byte[] buffer, int count)
        {
            if (input.Position != offset) input.Position = offset;
            int done = 0;
            while (done < count) {
                int got = input.Read(buffer, done, count - done);
                if (got <= 0) break;
                done += got;
            }
            return done;
        }

        public override void Dispose()
        {
            key.Dispose();
            if (check != null) check.Dispose();
            if (!leaveOpen) input.Dispose();
        }
    }
}
