// TVKCryptoWrapper.cs - the managed entry point of the tvkcrypto library.
//
// Helper.EncryptDecryptWithPassword reads a managed stream from its
// position to its end into one array, pins it, and lets the native
// library (libTVKCryptoWrapperNative, TvkManagedNative.cpp) encrypt or
// decrypt the bytes in place into a string; the result comes back as a
// managed string, or as bytes written to a managed stream.
//
// The native library is loaded by its bare name "TVKCryptoWrapperNative":
// Mono tries libTVKCryptoWrapperNative.so in the assembly's own directory
// first (then the system's search path, LD_LIBRARY_PATH included), and
// the .NET Framework finds TVKCryptoWrapperNative.dll next to the
// assembly. The build puts the assembly and the library in one directory.
//
// The methods keep no state; calls on different streams may run on
// different threads at once.

// Helper's members have no XML documentation comments of their own;
// the comments above each member describe them.
#pragma warning disable 1591

using System;
using System.IO;
using System.Runtime.CompilerServices;
using System.Runtime.InteropServices;
using System.Threading;

[assembly: InternalsVisibleTo("TVKCryptoWrapper.Tests")]

namespace TVKCryptoWrapper
{
    // The values are those of the native cipher direction and are passed
    // on unchecked: ENCRYPT (0) encrypts, every other value decrypts.
    public enum HelperDirection
    {
        DECRYPT = 1,
        ENCRYPT = 0
    }

    public class Helper
    {
        // The largest byte array the runtimes allocate (the .NET limit;
        // Mono's is not lower).
        internal const long MaxInputLength = 0x7FFFFFC7;

        // Bytes handed to the output stream per Write by the stream form.
        private const int OutputSliceSize = 65536;

        private static int outstandingPasswordCopies;

        public Helper()
        {
        }

        // Number of unmanaged password copies not yet freed, over all
        // threads. Every call frees its copy before it returns or throws.
        internal static int OutstandingPasswordCopies
        {
            get { return Thread.VolatileRead(ref outstandingPasswordCopies); }
        }

        // Encrypts (ENCRYPT) or decrypts (any other direction) the bytes of
        // input from its position to its end with password, and sets output
        // to the result's bytes up to its first zero byte, decoded with the
        // system ANSI code page. Ciphertext is arbitrary binary data, so an
        // ENCRYPT result is in general cut short and cannot be turned back
        // into the ciphertext; use the Stream overload for binary data.
        //
        // Returns true when the native run succeeded. On false output holds
        // what the run produced before it failed.
        //
        // Exceptions, with output left as it was:
        //   ArgumentNullException  password or input is null (nothing read);
        //   OverflowException      more bytes remain in input than one byte
        //                          array can hold (nothing read);
        //   whatever input's Length, Position or Read throws.
        // An empty input gives true and the empty string.
        public static bool EncryptDecryptWithPassword(string password,
                                                      HelperDirection direction,
                                                      Stream input,
                                                      ref string output)
        {
            string text = null;
            bool succeeded = Run(password, direction, input, delegate(IntPtr run) {
                text = ResultText(run);
            });
            output = text;
            return succeeded;
        }

        // As the string overload, but writes every byte of the result to
        // output, zero bytes included, so binary data survives both ways.
        // On false output has received what the run produced before it
        // failed. ArgumentNullException also for a null output; whatever
        // output's Write throws passes to the caller.
        public static bool EncryptDecryptWithPassword(string password,
                                                      HelperDirection direction,
                                                      Stream input,
                                                      Stream output)
        {
            if (output == null) {
                throw new ArgumentNullException("output");
            }
            return Run(password, direction, input, delegate(IntPtr run) {
                WriteResult(run, output);
            });
        }

        private delegate void ResultReader(IntPtr run);

        // One call: copy the password, read the input, run the native side
        // over the pinned bytes, hand the run to reader, release it.
        private static unsafe bool Run(string password,
                                       HelperDirection direction,
                                       Stream input,
                                       ResultReader reader)
        {
            if (password == null) {
                throw new ArgumentNullException("password");
            }
            if (input == null) {
                throw new ArgumentNullException("input");
            }

            IntPtr passwordCopy = CopyPassword(password);
            try {
                int count;
                byte[] data = ReadToEnd(input, out count);
                // An empty array pins to a null pointer, which the native
                // side accepts together with a count of 0.
                fixed (byte* bytes = data) {
                    IntPtr run;
                    int result = NativeMethods.tvk_managed_run(passwordCopy,
                                                               (int)direction,
                                                               (IntPtr)bytes,
                                                               (uint)count,
                                                               out run);
                    if (run == IntPtr.Zero) {
                        throw NativeFailure(result);
                    }
                    try {
                        reader(run);
                    } finally {
                        NativeMethods.tvk_managed_release(run);
                    }
                    return result == 0;
                }
            } finally {
                FreePassword(passwordCopy, password);
            }
        }

        // Reads input from its position to its end (as far as Length says,
        // or until Read returns 0) into a new array of exactly that many
        // bytes, and stores in count the number of bytes that arrived.
        private static byte[] ReadToEnd(Stream input, out int count)
        {
            long length = input.Length;
            long position = input.CanSeek ? input.Position : 0;
            long remaining = length > position ? length - position : 0;
            if (remaining > MaxInputLength) {
                throw new OverflowException(
                    "The stream holds " + remaining + " bytes; at most " +
                    MaxInputLength + " can be processed in one call.");
            }

            byte[] data = new byte[remaining];
            count = 0;
            while (count < data.Length) {
                int requested = data.Length - count;
                int got = input.Read(data, count, requested);
                if (got <= 0) {
                    break;
                }
                if (got > requested) {
                    throw new IOException("The stream's Read reported " + got +
                                          " bytes for a request of " + requested + ".");
                }
                count += got;
            }
            return data;
        }

        private static unsafe string ResultText(IntPtr run)
        {
            IntPtr chars = NativeMethods.tvk_managed_result_text(run);
            if (chars == IntPtr.Zero) {
                throw new OutOfMemoryException("No memory for the result text.");
            }
            return new string((sbyte*)chars);
        }

        private static void WriteResult(IntPtr run, Stream output)
        {
            uint length;
            IntPtr bytes = NativeMethods.tvk_managed_result_bytes(run, out length);
            byte[] slice = new byte[Math.Min((long)length, OutputSliceSize)];
            long offset = 0;
            while (offset < length) {
                int n = (int)Math.Min(length - offset, slice.Length);
                Marshal.Copy(new IntPtr(bytes.ToInt64() + offset), slice, 0, n);
                output.Write(slice, 0, n);
                offset += n;
            }
        }

        private static IntPtr CopyPassword(string password)
        {
            IntPtr copy = Marshal.StringToHGlobalAnsi(password);
            Interlocked.Increment(ref outstandingPasswordCopies);
            return copy;
        }

        // Overwrites the unmanaged copy with zeros, then frees it. Each NUL
        // character of the password is one zero byte of the copy, so the
        // copy ends at the zero byte after as many zero bytes as the
        // password has NUL characters. The walk never goes past the
        // longest copy the password can have (four bytes per character
        // and the terminator), whatever a runtime does with NULs.
        private static unsafe void FreePassword(IntPtr copy, string password)
        {
            int zeros = 0;
            foreach (char c in password) {
                if (c == '\0') zeros++;
            }
            byte* p = (byte*)copy;
            byte* limit = p + (long)password.Length * 4 + 1;
            for (; p < limit; p++) {
                if (*p == 0) {
                    if (zeros-- == 0) break;
                } else {
                    *p = 0;
                }
            }
            Thread.MemoryBarrier();
            Marshal.FreeHGlobal(copy);
            Interlocked.Decrement(ref outstandingPasswordCopies);
        }

        private static Exception NativeFailure(int result)
        {
            const int OutOfMemory = -20002;
            if (result == OutOfMemory) {
                return new OutOfMemoryException("The native run ran out of memory.");
            }
            return new InvalidOperationException("The native run could not start (result " +
                                                 result + ").");
        }
    }

    internal static class NativeMethods
    {
        private const string Library = "TVKCryptoWrapperNative";

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int tvk_managed_run(IntPtr password, int direction,
                                                   IntPtr data, uint size,
                                                   out IntPtr run);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern IntPtr tvk_managed_result_text(IntPtr run);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern IntPtr tvk_managed_result_bytes(IntPtr run, out uint length);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern void tvk_managed_release(IntPtr run);
    }
}
