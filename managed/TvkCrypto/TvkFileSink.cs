// TvkFileSink.cs - a TvkStream's cleartext encrypted into a file by the
// library's writer (tvk_writer): a temporary file beside the target,
// with its check file, put in place by Commit only.

using System;

namespace TvkCrypto
{
    internal sealed class TvkFileSink : TvkStreamCore
    {
        private readonly TvkWriterHandle writer;
        private readonly string path;
        private bool committed;

        private TvkFileSink(TvkWriterHandle writer, string path)
        {
            this.writer = writer;
            this.path = path;
        }

        internal static unsafe TvkFileSink Open(string path, TvkPassword password, bool overwrite,
                                                bool writeCheckFile, string checkPath)
        {
            byte[] pathBytes = TvkNative.Utf8Path(path, "path");
            byte[] checkBytes = TvkNative.Utf8Path(checkPath, "checkPath");
            uint flags = (overwrite ? TvkNative.Overwrite : 0) | (writeCheckFile ? 0 : TvkNative.NoCheckFileFlag);
            TvkWriterHandle writer = null;
            int result = password.Use((p, size) =>
                TvkNative.tvk_writer_open(pathBytes, p, size, flags, checkBytes, out writer));
            if (result != TvkNative.Success) {
                if (writer != null) writer.Dispose();
                TvkErrors.Check(result, path, checkPath);
            }
            return new TvkFileSink(writer, path);
        }

        internal override bool CanWrite { get { return !committed; } }

        internal override unsafe void Write(byte* data, int count)
        {
            if (committed) throw new InvalidOperationException("The file was committed: nothing more can be written.");
            int result = TvkNative.tvk_writer_write(writer, data, (UIntPtr)(uint)count);
            if (result == TvkNative.InvalidState) {
                throw new InvalidOperationException("An earlier write failed: the file cannot be completed.");
            }
            TvkErrors.Check(result, path);
        }

        internal override void Commit()
        {
            if (committed) return;
            int result = TvkNative.tvk_writer_commit(writer);
            if (result == TvkNative.InvalidState) {
                throw new InvalidOperationException("An earlier write failed: nothing was committed.");
            }
            TvkErrors.Check(result, path);
            committed = true;
        }

        public override void Dispose()
        {
            // without a commit the temporaries go, and the target stays
            writer.Dispose();
        }
    }
}
