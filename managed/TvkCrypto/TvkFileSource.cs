// TvkFileSource.cs - a TvkStream's cleartext read from an encrypted file
// by the library's reader (tvk_reader): positioned reads, each block of
// a check file verified before any byte of it is decrypted.

using System;

namespace TvkCrypto
{
    internal sealed class TvkFileSource : TvkStreamCore
    {
        private readonly TvkReaderHandle reader;
        private readonly string path;
        private readonly long length;
        private readonly bool verified;

        private TvkFileSource(TvkReaderHandle reader, string path)
        {
            this.reader = reader;
            this.path = path;
            ulong size;
            TvkErrors.Check(TvkNative.tvk_reader_size(reader, out size), path);
            length = (long)size;
            verified = TvkNative.tvk_reader_verified(reader) != 0;
        }

        internal static unsafe TvkFileSource Open(string path, TvkPassword password, TvkVerify verify,
                                                  string checkPath)
        {
            byte[] pathBytes = TvkNative.Utf8Path(path, "path");
            byte[] checkBytes = TvkNative.Utf8Path(checkPath, "checkPath");
            TvkReaderHandle reader = null;
            int result = password.Use((p, size) =>
                TvkNative.tvk_reader_open(pathBytes, p, size, (int)verify, checkBytes, out reader));
            if (result != TvkNative.Success) {
                if (reader != null) reader.Dispose();
                TvkErrors.Check(result, path, checkPath);
            }
            try {
                return new TvkFileSource(reader, path);
            } catch {
                reader.Dispose();
                throw;
            }
        }

        internal override bool CanRead { get { return true; } }
        internal override bool IsVerified { get { return verified; } }
        internal override long Length { get { return length; } }

        internal override unsafe int Read(long offset, byte* buffer, int count)
        {
            UIntPtr got;
            TvkRange damaged;
            int result = TvkNative.tvk_reader_read(reader, (ulong)offset, buffer, (UIntPtr)(uint)count,
                                                   out got, out damaged);
            int bytes = (int)(uint)got;
            // the verified bytes before a damaged block go to the caller;
            // the next read starts at that block and throws
            if (result == TvkNative.DataDamaged && bytes > 0) return bytes;
            if (result != TvkNative.Success) throw TvkErrors.ToException(result, path, null, damaged);
            return bytes;
        }

        public override void Dispose()
        {
            reader.Dispose();
        }
    }
}
