// TvkNative.cs - the C interface of the native library (<TvkCrypto/c.h>)
// as P/Invoke declarations, and the handles it gives out.
//
// The functions live in the same native library as Helper's entry
// points ("TVKCryptoWrapperNative": libTVKCryptoWrapperNative.so,
// TVKCryptoWrapperNative.dll). Sizes are size_t (UIntPtr), offsets
// uint64_t. Paths go as UTF-8 bytes ending in a zero byte, whatever the
// runtime's own string marshalling (ANSI on the .NET Framework), since
// the C interface takes UTF-8 on every system.

using System;
using System.Runtime.InteropServices;
using System.Text;

namespace TvkCrypto
{
    /// <summary>A byte range as the C interface reports it (tvk_range).</summary>
    [StructLayout(LayoutKind.Sequential)]
    internal struct TvkRange
    {
        public ulong Offset;
        public ulong Length;
    }

    internal static unsafe class TvkNative
    {
        private const string Library = "TVKCryptoWrapperNative";

        internal const int Success = 0;
        internal const int InvalidParameters = -20000;
        internal const int PermissionDenied = -20001;
        internal const int OutOfMemory = -20002;
        internal const int InvalidState = -20009;
        internal const int NotSupported = -20013;
        internal const int NoSuchFile = -20200;
        internal const int FileNotWritable = -20205;
        internal const int FileNotDirectory = -20206;
        internal const int FileAlreadyExists = -20207;
        internal const int WrongPassword = -20400;
        internal const int DataDamaged = -20401;
        internal const int NoCheckFile = -20405;

        internal const uint Overwrite = 1;
        internal const uint NoCheckFileFlag = 2;

        // The path as the C interface takes it: UTF-8 and a zero byte;
        // null stays null (a default the C interface picks).
        internal static byte[] Utf8Path(string path, string parameter)
        {
            if (path == null) return null;
            if (path.Length == 0 || path.IndexOf('\0') >= 0) {
                throw new ArgumentException("The path is empty or holds a NUL character.", parameter);
            }
            UTF8Encoding strict = new UTF8Encoding(false, true);
            byte[] bytes = new byte[strict.GetByteCount(path) + 1];
            strict.GetBytes(path, 0, path.Length, bytes, 0);
            return bytes;
        }

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern IntPtr tvk_result_text(int result);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int tvk_key_create(byte* password, UIntPtr passwordSize, out TvkKeyHandle key);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void tvk_key_destroy(IntPtr key);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int tvk_transform(TvkKeyHandle key, byte* data, UIntPtr size, ulong offset);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int tvk_check_parse(byte[] bytes, UIntPtr size, out TvkCheckHandle check);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int tvk_check_verify_password(TvkCheckHandle check, byte* password,
                                                             UIntPtr passwordSize);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int tvk_check_info(TvkCheckHandle check, out ulong dataSize, out uint blockSize);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int tvk_check_verify_data(TvkCheckHandle check, ulong offset, byte[] ciphertext,
                                                         UIntPtr size, out TvkRange damaged);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void tvk_check_destroy(IntPtr check);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int tvk_check_create(byte[] path, byte[] checkPath, byte* password,
                                                    UIntPtr passwordSize, uint flags);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int tvk_check_verify(byte[] path, byte[] checkPath, byte* password,
                                                    UIntPtr passwordSize, out TvkRange damaged);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int tvk_reader_open(byte[] path, byte* password, UIntPtr passwordSize, int verify,
                                                   byte[] checkPath, out TvkReaderHandle reader);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int tvk_reader_size(TvkReaderHandle reader, out ulong size);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int tvk_reader_verified(TvkReaderHandle reader);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int tvk_reader_read(TvkReaderHandle reader, ulong offset, byte* buffer, UIntPtr size,
                                                   out UIntPtr bytesRead, out TvkRange damaged);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void tvk_reader_close(IntPtr reader);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int tvk_writer_open(byte[] path, byte* password, UIntPtr passwordSize, uint flags,
                                                   byte[] checkPath, out TvkWriterHandle writer);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int tvk_writer_write(TvkWriterHandle writer, byte* data, UIntPtr size);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int tvk_writer_commit(TvkWriterHandle writer);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void tvk_writer_destroy(IntPtr writer);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int tvk_encrypt_file(byte[] input, byte[] output, byte* password,
                                                    UIntPtr passwordSize, uint flags, byte[] checkPath);
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int tvk_decrypt_file(byte[] input, byte[] output, byte* password,
                                                    UIntPtr passwordSize, uint flags, int verify,
                                                    byte[] checkPath, out TvkRange damaged);
    }

    // The handles of the C interface: each is released exactly once, by
    // Dispose or, for one a caller forgot, by the finalizer; a call in
    // progress on another thread keeps it alive until it returns.
    internal sealed class TvkKeyHandle : SafeHandle
    {
        public TvkKeyHandle() : base(IntPtr.Zero, true) { }
        public override bool IsInvalid { get { return handle == IntPtr.Zero; } }
        protected override bool ReleaseHandle() { TvkNative.tvk_key_destroy(handle); return true; }
    }

    internal sealed class TvkCheckHandle : SafeHandle
    {
        public TvkCheckHandle() : base(IntPtr.Zero, true) { }
        public override bool IsInvalid { get { return handle == IntPtr.Zero; } }
        protected override bool ReleaseHandle() { TvkNative.tvk_check_destroy(handle); return true; }
    }

    internal sealed class TvkReaderHandle : SafeHandle
    {
        public TvkReaderHandle() : base(IntPtr.Zero, true) { }
        public override bool IsInvalid { get { return handle == IntPtr.Zero; } }
        protected override bool ReleaseHandle() { TvkNative.tvk_reader_close(handle); return true; }
    }

    internal sealed class TvkWriterHandle : SafeHandle
    {
        public TvkWriterHandle() : base(IntPtr.Zero, true) { }
        public override bool IsInvalid { get { return handle == IntPtr.Zero; } }
        protected override bool ReleaseHandle() { TvkNative.tvk_writer_destroy(handle); return true; }
    }
}
