// NUnit tests of TVKCryptoWrapper.Helper on Mono.
//
// Expected ciphertext is computed here with System.Security.Cryptography
// (SHA-1 for the key, AES in ECB mode over the counter blocks), not with
// the library's native code, so that the tests check the data format
// itself. The native buffer form, reached through a test-only library,
// provides ciphertext the way native callers make it.

using System;
using System.IO;
using System.Runtime.InteropServices;
using System.Security.Cryptography;
using System.Text;
using NUnit.Framework;
using TVKCryptoWrapper;

namespace TVKCryptoWrapper.Tests
{
    // Independent model of the encrypted data format: byte i is XORed
    // with byte i mod 16 of AES-128(key, 12 zero bytes + big-endian
    // chunk number i >> 10), the key being SHA-1(password)[0..15].
    internal static class ReferenceCipher
    {
        public static byte[] Transform(string password, byte[] data)
        {
            byte[] digest;
            using (SHA1 sha1 = SHA1.Create()) {
                digest = sha1.ComputeHash(Encoding.ASCII.GetBytes(password));
            }
            byte[] key = new byte[16];
            Array.Copy(digest, key, 16);

            byte[] result = new byte[data.Length];
            using (Aes aes = Aes.Create()) {
                aes.Mode = CipherMode.ECB;
                aes.Padding = PaddingMode.None;
                aes.Key = key;
                using (ICryptoTransform encryptor = aes.CreateEncryptor()) {
                    byte[] counter = new byte[16];
                    byte[] keyBlock = new byte[16];
                    long currentChunk = -1;
                    for (int i = 0; i < data.Length; i++) {
                        uint chunk = (uint)i >> 10;
                        if (chunk != currentChunk) {
                            counter[12] = (byte)(chunk >> 24);
                            counter[13] = (byte)(chunk >> 16);
                            counter[14] = (byte)(chunk >> 8);
                            counter[15] = (byte)chunk;
                            encryptor.TransformBlock(counter, 0, 16, keyBlock, 0);
                            currentChunk = chunk;
                        }
                        result[i] = (byte)(data[i] ^ keyBlock[i % 16]);
                    }
                }
            }
            return result;
        }
    }

    // The native buffer form, built only for these tests.
    internal static class BufferForm
    {
        [DllImport("TVKCryptoWrapperTestNative", CallingConvention = CallingConvention.Cdecl,
                   CharSet = CharSet.Ansi, BestFitMapping = false)]
        private static extern int tvk_managed_test_buffer_form(string password, int direction,
                                                               byte[] input, uint inputSize,
                                                               byte[] output, uint outputCapacity,
                                                               out uint outputSize);

        public static byte[] Run(string password, HelperDirection direction, byte[] input)
        {
            byte[] output = new byte[input.Length];
            uint size;
            int result = tvk_managed_test_buffer_form(password, (int)direction, input,
                                                      (uint)input.Length, output,
                                                      (uint)output.Length, out size);
            Assert.AreEqual(0, result, "buffer form result");
            Assert.AreEqual(input.Length, size, "buffer form size");
            return output;
        }
    }

    // A stream that reports a chosen Length, serves the given bytes at most
    // SliceSize at a time, counts its Read calls, and can be made to throw
    // from Read or Write.
    internal class FakeStream : Stream
    {
        private readonly byte[] data;
        private readonly long length;
        private long position;

        public FakeStream(byte[] data, long length)
        {
            this.data = data;
            this.length = length;
        }

        public int SliceSize = int.MaxValue;
        public Exception ReadFailure { get; set; }
        public Exception WriteFailure { get; set; }
        public int ReadCalls { get; private set; }

        public override bool CanRead { get { return true; } }
        public override bool CanSeek { get { return true; } }
        public override bool CanWrite { get { return true; } }
        public override long Length { get { return length; } }

        public override long Position
        {
            get { return position; }
            set { position = value; }
        }

        public override int Read(byte[] buffer, int offset, int count)
        {
            ReadCalls++;
            if (ReadFailure != null) throw ReadFailure;
            int n = (int)Math.Max(0, Math.Min(Math.Min(count, SliceSize), data.Length - position));
            Array.Copy(data, position, buffer, offset, n);
            position += n;
            return n;
        }

        public override void Write(byte[] buffer, int offset, int count)
        {
            if (WriteFailure != null) throw WriteFailure;
        }

        public override void Flush() { }
        public override long Seek(long offset, SeekOrigin origin) { throw new NotSupportedException(); }
        public override void SetLength(long value) { throw new NotSupportedException(); }
    }

    [TestFixture]
    public class HelperTests
    {
        private const string Password = "correct horse battery staple";

        private static byte[] Ascii(string text)
        {
            return Encoding.ASCII.GetBytes(text);
        }

        private static byte[] RandomBytes(int size, int seed)
        {
            byte[] data = new byte[size];
            new Random(seed).NextBytes(data);
            // make sure zero bytes occur inside binary data
            for (int i = 3; i < size; i += 97) data[i] = 0;
            return data;
        }

        private static string DecryptToString(string password, HelperDirection direction,
                                              Stream input)
        {
            string output = "old value";
            Assert.IsTrue(Helper.EncryptDecryptWithPassword(password, direction, input, ref output));
            return output;
        }

        private static byte[] TransformBytes(string password, HelperDirection direction,
                                             Stream input)
        {
            MemoryStream output = new MemoryStream();
            Assert.IsTrue(Helper.EncryptDecryptWithPassword(password, direction, input, output));
            return output.ToArray();
        }

        [TearDown]
        public void NoPasswordCopyOutlivesACall()
        {
            Assert.AreEqual(0, Helper.OutstandingPasswordCopies);
        }

        [TestCase("Hello, world", "Hello, world")]
        [TestCase("Hello\0world", "Hello")]
        [TestCase("\0leading zero", "")]
        public void BufferFormCiphertextDecryptsToTextUpToFirstZero(string cleartext, string expected)
        {
            byte[] ciphertext = BufferForm.Run(Password, HelperDirection.ENCRYPT, Ascii(cleartext));
            Assert.AreEqual(ReferenceCipher.Transform(Password, Ascii(cleartext)), ciphertext);
            Assert.AreEqual(expected, DecryptToString(Password, HelperDirection.DECRYPT,
                                                      new MemoryStream(ciphertext)));
        }

        [Test]
        public void DirectionValueTwoDecrypts()
        {
            byte[] ciphertext = ReferenceCipher.Transform(Password, Ascii("direction two"));
            Assert.AreEqual("direction two", DecryptToString(Password, (HelperDirection)2,
                                                             new MemoryStream(ciphertext)));
        }

        [Test]
        public void WrongPasswordSucceedsWithOtherText()
        {
            byte[] ciphertext = ReferenceCipher.Transform(Password, Ascii("the cleartext"));
            string output = DecryptToString("wrong password", HelperDirection.DECRYPT,
                                            new MemoryStream(ciphertext));
            Assert.AreNotEqual("the cleartext", output);
        }

        [Test]
        public void EncryptIntoStringEndsAtFirstZeroByteOfCiphertext()
        {
            // cleartext chosen so that the ciphertext is "AAAAA", a zero byte, then more
            byte[] keyStream = ReferenceCipher.Transform(Password, new byte[12]);
            byte[] cleartext = new byte[12];
            for (int i = 0; i < 12; i++) {
                cleartext[i] = (byte)(keyStream[i] ^ (i < 5 ? 'A' : i == 5 ? 0 : 'B'));
            }
            Assert.AreEqual("AAAAA", DecryptToString(Password, HelperDirection.ENCRYPT,
                                                     new MemoryStream(cleartext)));
        }

        [TestCase("", "")]
        [TestCase("ab\0cd", "ab")] // bytes after the password's first zero are ignored
        [TestCase("p", "p")]
        public void PasswordBytesMatchTheReferenceKey(string password, string effective)
        {
            byte[] cleartext = RandomBytes(100, 7);
            Assert.AreEqual(ReferenceCipher.Transform(effective, cleartext),
                            TransformBytes(password, HelperDirection.ENCRYPT, new MemoryStream(cleartext)));
        }

        // The independent check of the data format and the round trip, for
        // sizes around the 16-byte slices and 1024-byte chunks.
        [TestCase(0)]
        [TestCase(1)]
        [TestCase(15)]
        [TestCase(16)]
        [TestCase(17)]
        [TestCase(1023)]
        [TestCase(1024)]
        [TestCase(1025)]
        [TestCase(5000)]
        [TestCase(100000)]
        public void StreamOverloadMatchesReferenceAndRoundTrips(int size)
        {
            byte[] cleartext = RandomBytes(size, size);
            byte[] ciphertext = TransformBytes(Password, HelperDirection.ENCRYPT,
                                               new MemoryStream(cleartext));
            Assert.AreEqual(ReferenceCipher.Transform(Password, cleartext), ciphertext);
            Assert.AreEqual(cleartext, TransformBytes(Password, HelperDirection.DECRYPT,
                                                      new MemoryStream(ciphertext)));
        }

        [Test]
        public void CallsOnSeveralThreadsAtOnceStayApart()
        {
            const int Threads = 4;
            Exception[] failures = new Exception[Threads];
            System.Threading.Thread[] threads = new System.Threading.Thread[Threads];
            for (int t = 0; t < Threads; t++) {
                int index = t;
                threads[t] = new System.Threading.Thread(() => {
                    try {
                        for (int round = 0; round < 20; round++) {
                            string password = "thread " + index;
                            byte[] cleartext = RandomBytes(1500 + round, index * 100 + round);
                            byte[] ciphertext = TransformBytes(password, HelperDirection.ENCRYPT,
                                                               new MemoryStream(cleartext));
                            Assert.AreEqual(ReferenceCipher.Transform(password, cleartext), ciphertext);
                        }
                    } catch (Exception e) {
                        failures[index] = e;
                    }
                });
                threads[t].Start();
            }
            foreach (System.Threading.Thread thread in threads) thread.Join();
            foreach (Exception failure in failures) {
                if (failure != null) throw failure;
            }
        }

        [Test]
        public void EmptyStreamGivesTrueAndEmptyString([Values(HelperDirection.ENCRYPT,
                                                               HelperDirection.DECRYPT)]
                                                       HelperDirection direction)
        {
            Assert.AreEqual("", DecryptToString(Password, direction, new MemoryStream()));
            Assert.AreEqual(new byte[0], TransformBytes(Password, direction, new MemoryStream()));
            // a stream positioned at its end is empty as well
            MemoryStream atEnd = new MemoryStream(Ascii("consumed"));
            atEnd.Position = atEnd.Length;
            Assert.AreEqual("", DecryptToString(Password, direction, atEnd));
        }

        [TestCase(1)]
        [TestCase(7)]
        [TestCase(1000)]
        public void ShortReadsAreRepeatedUntilTheEnd(int sliceSize)
        {
            byte[] cleartext = RandomBytes(2500, 3);
            byte[] ciphertext = ReferenceCipher.Transform(Password, cleartext);
            FakeStream input = new FakeStream(ciphertext, ciphertext.Length) { SliceSize = sliceSize };
            Assert.AreEqual(cleartext, TransformBytes(Password, HelperDirection.DECRYPT, input));
            Assert.AreEqual((2500 + sliceSize - 1) / sliceSize, input.ReadCalls);
        }

        [Test]
        public void OnlyTheBytesFromThePositionOnAreProcessed()
        {
            byte[] tail = Ascii("from here on");
            byte[] data = new byte[10 + tail.Length];
            Array.Copy(ReferenceCipher.Transform(Password, tail), 0, data, 10, tail.Length);
            MemoryStream input = new MemoryStream(data);
            input.Position = 10;
            Assert.AreEqual(tail, TransformBytes(Password, HelperDirection.DECRYPT, input));
            Assert.AreEqual(data.Length, input.Position);
        }

        [Test]
        public void StreamEndingBeforeItsLengthGivesExactlyTheBytesRead()
        {
            byte[] cleartext = RandomBytes(60, 5);
            FakeStream input = new FakeStream(ReferenceCipher.Transform(Password, cleartext), 100);
            Assert.AreEqual(cleartext, TransformBytes(Password, HelperDirection.DECRYPT, input));
        }

        [TestCase(Helper.MaxInputLength + 1)]
        [TestCase(0x100000010L)] // low 32 bits alone would look like 16
        [TestCase(long.MaxValue)]
        public void LengthBeyondOneArrayOverflowsBeforeReading(long length)
        {
            FakeStream input = new FakeStream(new byte[16], length);
            string output = "untouched";
            Assert.Throws<OverflowException>(() =>
                Helper.EncryptDecryptWithPassword(Password, HelperDirection.DECRYPT, input, ref output));
            Assert.Throws<OverflowException>(() =>
                Helper.EncryptDecryptWithPassword(Password, HelperDirection.DECRYPT, input, new MemoryStream()));
            Assert.AreEqual(0, input.ReadCalls);
            Assert.AreEqual("untouched", output);
        }

        [Test]
        public void NullArgumentsAreRefusedBeforeAnythingIsTouched()
        {
            FakeStream input = new FakeStream(new byte[16], 16);
            string output = "untouched";
            ArgumentNullException e = Assert.Throws<ArgumentNullException>(() =>
                Helper.EncryptDecryptWithPassword(null, HelperDirection.DECRYPT, input, ref output));
            Assert.AreEqual("password", e.ParamName);
            e = Assert.Throws<ArgumentNullException>(() =>
                Helper.EncryptDecryptWithPassword(null, HelperDirection.DECRYPT, input, new MemoryStream()));
            Assert.AreEqual("password", e.ParamName);
            e = Assert.Throws<ArgumentNullException>(() =>
                Helper.EncryptDecryptWithPassword(Password, HelperDirection.DECRYPT, null, ref output));
            Assert.AreEqual("input", e.ParamName);
            e = Assert.Throws<ArgumentNullException>(() =>
                Helper.EncryptDecryptWithPassword(Password, HelperDirection.DECRYPT, input, (Stream)null));
            Assert.AreEqual("output", e.ParamName);
            Assert.AreEqual(0, input.ReadCalls);
            Assert.AreEqual(0, input.Position);
            Assert.AreEqual("untouched", output);
        }

        // The password copy exists while the input is read and the result
        // written; the teardown checks that it is gone after these too.
        [Test]
        public void ExceptionsOfTheStreamsPassThroughAndLeaveOutputAlone()
        {
            FakeStream failing = new FakeStream(new byte[16], 16);
            failing.ReadFailure = new IOException("read failed");
            failing.WriteFailure = new IOException("write failed");
            string output = "untouched";
            Assert.AreSame(failing.ReadFailure, Assert.Throws<IOException>(() =>
                Helper.EncryptDecryptWithPassword(Password, HelperDirection.DECRYPT, failing, ref output)));
            Assert.AreSame(failing.WriteFailure, Assert.Throws<IOException>(() =>
                Helper.EncryptDecryptWithPassword(Password, HelperDirection.ENCRYPT,
                                                  new MemoryStream(new byte[10]), failing)));
            MemoryStream disposed = new MemoryStream();
            disposed.Dispose(); // Length throws
            Assert.Throws<ObjectDisposedException>(() =>
                Helper.EncryptDecryptWithPassword(Password, HelperDirection.DECRYPT, disposed, ref output));
            Assert.AreEqual("untouched", output);
        }
    }
}
