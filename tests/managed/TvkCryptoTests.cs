// NUnit tests of the TvkCrypto namespace on Mono: TvkStream over files
// and streams, TvkFile, passwords and exceptions, against the tvkcrypt
// tool (TVK_TOOL) and the shared vectors (TVK_TEST_DATA_DIR).

using System;
using System.Collections;
using System.Collections.Generic;
using System.Diagnostics;
using System.IO;
using System.Linq;
using System.Security.Cryptography;
using System.Text;
using System.Web.Script.Serialization;
using NUnit.Framework;
using TvkCrypto;

namespace TVKCryptoWrapper.Tests
{
    [TestFixture]
    public class TvkCryptoTests
    {
        private const string Password = "stream password";
        private const int BlockSize = 512 * 1024;
        // three check blocks, the last one partial
        private static readonly byte[] Clear = Xorshift(2 * BlockSize + 12345);

        private string dir;
        private string toolFile;  // Clear encrypted by the tool, with its check file

        [TestFixtureSetUp]
        public void MakeFiles()
        {
            dir = Path.Combine(Path.GetTempPath(), "tvk-managed-" + Guid.NewGuid().ToString("N"));
            Directory.CreateDirectory(dir);
            File.WriteAllText(Path.Combine(dir, "password"), Password + "\n");
            File.WriteAllBytes(Path.Combine(dir, "clear"), Clear);
            toolFile = Path.Combine(dir, "tool.tvk");
            Assert.AreEqual(0, Tool("encrypt", "-o", toolFile, Path.Combine(dir, "clear")).Item1);
        }

        [TestFixtureTearDown]
        public void RemoveFiles()
        {
            Directory.Delete(dir, true);
        }

        private string TempPath(string name)
        {
            return Path.Combine(dir, name);
        }

        // The tool with the fixture's password file: exit status and standard output.
        private Tuple<int, byte[]> Tool(params string[] args)
        {
            string tool = Environment.GetEnvironmentVariable("TVK_TOOL");
            if (string.IsNullOrEmpty(tool)) Assert.Ignore("TVK_TOOL is not set");
            var info = new ProcessStartInfo(tool, "--quiet --password-file \"" + TempPath("password") + "\" " +
                                            string.Join(" ", args.Select(a => "\"" + a + "\"")));
            info.UseShellExecute = false;
            info.RedirectStandardOutput = true;
            using (Process process = Process.Start(info)) {
                var output = new MemoryStream();
                process.StandardOutput.BaseStream.CopyTo(output);
                process.WaitForExit();
                return Tuple.Create(process.ExitCode, output.ToArray());
            }
        }

        internal static byte[] Xorshift(int size)
        {
            byte[] data = new byte[size];
            uint x = 0x2545F491;
            for (int i = 0; i < size; i++) {
                x ^= x << 13; x ^= x >> 17; x ^= x << 5;
                data[i] = (byte)(x >> 24);
            }
            return data;
        }

        private static byte[] Slice(byte[] data, long offset, int count)
        {
            int n = (int)Math.Max(0, Math.Min(count, data.Length - offset));
            byte[] slice = new byte[n];
            Array.Copy(data, offset, slice, 0, n);
            return slice;
        }

        // NUnit compares arrays element by element, boxed: too slow for
        // the large reads here
        private static void AssertBytes(byte[] expected, byte[] actual, string message)
        {
            Assert.AreEqual(expected.Length, actual.Length, message);
            for (int i = 0; i < expected.Length; i++) {
                if (expected[i] != actual[i]) Assert.Fail(message + ": first difference at " + i);
            }
        }

        private static byte[] ReadAt(Stream stream, long offset, int count)
        {
            byte[] buffer = new byte[count];
            stream.Seek(offset, SeekOrigin.Begin);
            int done = 0, got;
            while (done < count && (got = stream.Read(buffer, done, count - done)) > 0) done += got;
            return Slice(buffer, 0, done);
        }

        // The tool's file read both ways: by path (the library's reader)
        // and as a FileStream with its check file.
        private TvkStream OpenToolFile(bool viaStream)
        {
            return viaStream
                ? TvkStream.OpenRead(File.OpenRead(toolFile), Password, File.OpenRead(toolFile + ".tvkcheck"))
                : TvkStream.OpenRead(toolFile, Password);
        }

        [Test]
        public void RandomSeeksAgreeWithTheToolsRange([Values(false, true)] bool viaStream)
        {
            var random = new Random(viaStream ? 2 : 1);
            using (TvkStream stream = OpenToolFile(viaStream)) {
                Assert.IsTrue(stream.IsVerified);
                Assert.IsTrue(stream.CanSeek);
                Assert.AreEqual(Clear.Length, stream.Length);
                for (int i = 0; i < 200; i++) {
                    long offset = random.Next(Clear.Length + 100);
                    int count = random.Next(i % 2 == 0 ? 5000 : BlockSize + 10);
                    AssertBytes(Slice(Clear, offset, count), ReadAt(stream, offset, count), "at " + offset);
                }
                foreach (long offset in new long[] { 1, BlockSize - 7, 2 * BlockSize + 12000 }) {
                    var tool = Tool("decrypt", "--no-check-file", "--offset", offset.ToString(),
                                    "--length", "4096", toolFile);
                    Assert.AreEqual(0, tool.Item1);
                    AssertBytes(tool.Item2, ReadAt(stream, offset, 4096), "at " + offset);
                }
                stream.Seek(-10, SeekOrigin.End);
                Assert.AreEqual(Slice(Clear, Clear.Length - 10, 10), ReadAt(stream, stream.Position, 100));
                Assert.AreEqual(0, stream.Read(new byte[1], 0, 1));
            }
        }

        [Test]
        public void FileWrittenThroughTvkStreamDecryptsAndChecksWithTheTool()
        {
            string path = TempPath("written.tvk");
            using (TvkStream stream = TvkStream.Create(path, Password)) {
                for (int at = 0; at < Clear.Length; at += 100000) {
                    stream.Write(Clear, at, Math.Min(100000, Clear.Length - at));
                }
                Assert.IsFalse(File.Exists(path), "nothing in place before the commit");
                stream.Commit();
                Assert.IsFalse(stream.CanWrite);
            }
            Assert.AreEqual(0, Tool("check", path).Item1);
            var decrypted = Tool("decrypt", path);
            Assert.AreEqual(0, decrypted.Item1);
            AssertBytes(Clear, decrypted.Item2, "decrypted by the tool");
        }

        [Test]
        public void FileFormRoundTripsAndKeepsTargetsOnFailure()
        {
            string encrypted = TempPath("file.tvk"), decrypted = TempPath("file.out");
            TvkFile.Encrypt(TempPath("clear"), encrypted, Password, writeCheckFile: false);
            AssertBytes(File.ReadAllBytes(toolFile), File.ReadAllBytes(encrypted), "encrypted");
            TvkFile.CreateCheckFile(encrypted, Password);
            TvkFile.Check(encrypted, Password);
            TvkFile.Decrypt(encrypted, decrypted, Password, verify: TvkVerify.Required);
            AssertBytes(Clear, File.ReadAllBytes(decrypted), "decrypted");

            File.WriteAllText(decrypted, "kept");
            Assert.Throws<IOException>(() => TvkFile.Decrypt(encrypted, decrypted, Password));
            Assert.Throws<WrongPasswordException>(() =>
                TvkFile.Decrypt(encrypted, decrypted, "wrong", overwrite: true));
            Assert.AreEqual("kept", File.ReadAllText(decrypted));
            Assert.Throws<FileNotFoundException>(() => TvkFile.Check(TempPath("clear"), Password));
            Assert.Throws<FileNotFoundException>(() => TvkFile.Encrypt(TempPath("none"), TempPath("x"), Password));
        }

        [Test]
        public void WrongPasswordIsRefusedWhenOpening()
        {
            Assert.Throws<WrongPasswordException>(() => TvkStream.OpenRead(toolFile, "wrong"));
            Assert.Throws<WrongPasswordException>(() =>
                TvkStream.OpenRead(new MemoryStream(new byte[10]), "wrong",
                                   new MemoryStream(File.ReadAllBytes(toolFile + ".tvkcheck"))));
            // without the check file the format cannot tell
            using (TvkStream stream = TvkStream.OpenRead(toolFile, "wrong", TvkVerify.None)) {
                Assert.IsFalse(stream.IsVerified);
                Assert.AreNotEqual(Slice(Clear, 0, 100), ReadAt(stream, 0, 100));
            }
        }

        [Test]
        public void FlippedByteRaisesDamagedDataForItsBlockOnly([Values(false, true)] bool viaStream)
        {
            byte[] data = File.ReadAllBytes(toolFile);
            data[BlockSize + 1000] ^= 1;
            string path = TempPath("flipped-" + viaStream + ".tvk");
            File.WriteAllBytes(path, data);
            File.Copy(toolFile + ".tvkcheck", path + ".tvkcheck", true);
            using (TvkStream stream = viaStream
                       ? TvkStream.OpenRead(new MemoryStream(data), Password,
                                            new MemoryStream(File.ReadAllBytes(path + ".tvkcheck")))
                       : TvkStream.OpenRead(path, Password)) {
                Assert.AreEqual(Slice(Clear, 2 * BlockSize, 5000), ReadAt(stream, 2 * BlockSize, 5000));
                // a read across the damaged block returns the verified bytes before it
                stream.Position = BlockSize - 10;
                Assert.AreEqual(10, stream.Read(new byte[100], 0, 100));
                var e = Assert.Throws<DamagedDataException>(() => stream.Read(new byte[100], 0, 100));
                Assert.AreEqual(BlockSize, e.Offset);
                Assert.AreEqual(BlockSize, e.Length);
            }
            Assert.Throws<DamagedDataException>(() => TvkFile.Check(path, Password));
        }

        [Test]
        public void StreamsRoundTripThroughTheArraySpanAndAsyncOverloads()
        {
            var ciphertext = new MemoryStream();
            using (TvkStream writer = TvkStream.Create(ciphertext, Password, leaveOpen: true)) {
                writer.Write(Clear, 0, 1000);
                writer.Write(new ReadOnlySpan<byte>(Clear, 1000, 70000));
                writer.WriteAsync(Clear, 71000, Clear.Length - 71000).Wait();
                writer.Commit();
                Assert.AreEqual(Clear.Length, writer.Position);
            }
            AssertBytes(File.ReadAllBytes(toolFile), ciphertext.ToArray(), "written");
            using (TvkStream reader = TvkStream.OpenRead(ciphertext, Password)) {
                byte[] span = new byte[3000];
                reader.Position = 1020;
                Assert.AreEqual(3000, reader.Read(new Span<byte>(span)));
                Assert.AreEqual(Slice(Clear, 1020, 3000), span);
                byte[] async = new byte[3000];
                Assert.AreEqual(3000, reader.ReadAsync(async, 0, 3000).Result);
                Assert.AreEqual(Slice(Clear, 4020, 3000), async);
                // one read of more than the 1 MiB slices the ciphertext is read in
                AssertBytes(Clear, ReadAt(reader, 0, Clear.Length), "whole");
            }
            Assert.Throws<ObjectDisposedException>(() => ciphertext.ReadByte(), "leaveOpen: false closes it");
        }

        [Test]
        public void UncommittedFileLeavesTheTargetAsItWas()
        {
            string path = TempPath("uncommitted.tvk");
            File.WriteAllText(path, "old");
            using (TvkStream stream = TvkStream.Create(path, Password, overwrite: true, writeCheckFile: false)) {
                stream.Write(Clear, 0, 1000);
            }
            Assert.AreEqual("old", File.ReadAllText(path));
            Assert.AreEqual(new[] { path }, Directory.GetFiles(dir, "uncommitted*"));
            Assert.Throws<IOException>(() => TvkStream.Create(path, Password, writeCheckFile: false));
        }

        [Test]
        public void BadArgumentsAndDisposedStreamsThrowTheStandardExceptions()
        {
            Assert.Throws<ArgumentNullException>(() => TvkStream.OpenRead((string)null, Password));
            Assert.Throws<ArgumentNullException>(() => TvkStream.OpenRead(toolFile, (TvkPassword)null));
            Assert.Throws<ArgumentException>(() => TvkStream.OpenRead(toolFile + "\0x", Password));
            Assert.Throws<ArgumentException>(() => TvkStream.OpenRead(toolFile, "nul\0inside", TvkVerify.None));
            Assert.Throws<ArgumentException>(() => TvkStream.Create(new MemoryStream(new byte[1], false), Password));
            Assert.Throws<EncoderFallbackException>(() =>
                TvkStream.OpenRead(toolFile, new TvkPassword("€", Encoding.ASCII), TvkVerify.None));

            TvkStream stream = TvkStream.OpenRead(new MemoryStream(new byte[10]), Password);
            Assert.Throws<ArgumentOutOfRangeException>(() => stream.Read(new byte[10], -1, 1));
            Assert.Throws<ArgumentException>(() => stream.Read(new byte[10], 5, 6));
            Assert.Throws<NotSupportedException>(() => stream.Write(new byte[1], 0, 1));
            stream.Dispose();
            Assert.IsFalse(stream.CanRead);
            Assert.Throws<ObjectDisposedException>(() => stream.Read(new byte[1], 0, 1));
            Assert.Throws<ObjectDisposedException>(() => stream.Seek(0, SeekOrigin.Begin));
            Assert.Throws<ObjectDisposedException>(() => { long unused = stream.Length; });
        }

        [TestCase(-20200, typeof(FileNotFoundException))]
        [TestCase(-20405, typeof(FileNotFoundException))]   // no check file
        [TestCase(-20001, typeof(UnauthorizedAccessException))]
        [TestCase(-20205, typeof(UnauthorizedAccessException))]
        [TestCase(-20206, typeof(DirectoryNotFoundException))]
        [TestCase(-20207, typeof(IOException))]
        [TestCase(-20000, typeof(ArgumentException))]
        [TestCase(-20002, typeof(OutOfMemoryException))]
        [TestCase(-20400, typeof(WrongPasswordException))]
        [TestCase(-20401, typeof(DamagedDataException))]
        [TestCase(-20402, typeof(TvkCryptoException))]      // damaged check file
        [TestCase(-22005, typeof(TvkCryptoException))]      // EIO
        public void ResultCodesBecomeTheExceptionsDotNetExpects(int result, Type expected)
        {
            Exception e = TvkErrors.ToException(result, "f", null, new TvkRange { Offset = 1024, Length = 512 });
            Assert.AreEqual(expected, e.GetType());
            StringAssert.StartsWith("'f': ", e.Message);
            if (e is TvkCryptoException) Assert.AreEqual(result, ((TvkCryptoException)e).Result);
            if (e is DamagedDataException) Assert.AreEqual(1024, ((DamagedDataException)e).Offset);
        }

        // The password's bytes: an explicit encoding, Helper's own bytes,
        // and bytes as given key alike.
        [Test]
        public void PasswordsKeyWithTheirEncodingsBytes()
        {
            byte[] cp1252 = { 0x63, 0x61, 0x66, 0xe9 };  // "café"
            byte[] expected = EncryptToArray(cp1252, Clear.Take(3000).ToArray());
            Assert.AreEqual(expected, EncryptToArray(new TvkPassword("café", Encoding.GetEncoding(1252)),
                                                     Clear.Take(3000).ToArray()));
            Assert.AreEqual(ReferenceCipher.Transform("abc", Clear.Take(3000).ToArray()),
                            EncryptToArray("abc", Clear.Take(3000).ToArray()));
            // Helper keys with the system ANSI bytes of its string
            var helper = new MemoryStream();
            Assert.IsTrue(Helper.EncryptDecryptWithPassword("grüße", HelperDirection.ENCRYPT,
                                                            new MemoryStream(Clear, 0, 3000), helper));
            using (TvkStream stream = TvkStream.OpenRead(new MemoryStream(helper.ToArray()),
                                                         TvkPassword.FromHelperString("grüße"))) {
                Assert.AreEqual(Clear.Take(3000).ToArray(), ReadAt(stream, 0, 3000));
            }
        }

        private static byte[] EncryptToArray(TvkPassword password, byte[] clear)
        {
            var output = new MemoryStream();
            using (TvkStream stream = TvkStream.Create(output, password)) stream.Write(clear, 0, clear.Length);
            return output.ToArray();
        }

        // tests/data/password-format.json: every vector of the format's
        // expansion factor, encrypted through TvkStream and read back from
        // its offset.
        private static IEnumerable<TestCaseData> SharedVectors()
        {
            string data = Environment.GetEnvironmentVariable("TVK_TEST_DATA_DIR") ?? "tests/data";
            var json = new JavaScriptSerializer().Deserialize<Dictionary<string, object>>(
                File.ReadAllText(Path.Combine(data, "password-format.json")));
            var passwords = ((ArrayList)json["passwords"]).Cast<Dictionary<string, object>>()
                .ToDictionary(p => (string)p["name"], p => (string)p["password_hex"]);
            foreach (string list in new[] { "vectors", "offset_vectors" }) {
                foreach (Dictionary<string, object> v in (ArrayList)json[list]) {
                    if ((int)v["expansion_factor"] != 6) continue;
                    var clear = (Dictionary<string, object>)v["cleartext"];
                    yield return new TestCaseData(passwords[(string)v["password"]], (string)clear["kind"],
                                                  (int)clear["size"], (int)v["offset"], (int)v["length"],
                                                  (string)v["ciphertext_sha256"]).SetName((string)v["id"]);
                }
            }
        }

        [TestCaseSource("SharedVectors")]
        public void SharedVectorsEncryptAndDecryptAtTheirOffsets(string passwordHex, string kind, int size,
                                                                 int offset, int length, string sha256)
        {
            byte[] password = Enumerable.Range(0, passwordHex.Length / 2)
                .Select(i => Convert.ToByte(passwordHex.Substring(2 * i, 2), 16)).ToArray();
            byte[] clear = kind == "zero" ? new byte[size] : Xorshift(size);
            byte[] ciphertext = EncryptToArray(password, clear);
            using (var sha = SHA256.Create()) {
                string actual = BitConverter.ToString(sha.ComputeHash(ciphertext, offset, length))
                    .Replace("-", "").ToLowerInvariant();
                Assert.AreEqual(sha256, actual);
            }
            using (TvkStream stream = TvkStream.OpenRead(new MemoryStream(ciphertext), password)) {
                Assert.AreEqual(Slice(clear, offset, length), ReadAt(stream, offset, length));
            }
        }
    }
}
