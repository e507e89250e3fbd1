// TvkStream as a driver that prints one rate, the managed side of
// bench/managed_speed.sh (the C++ side is bench/capi_read_rate.cpp, with
// the same reads):
//
//   mono TvkStreamRate.exe seq FILE PASSWORD        bytes per second, FILE read in order in 1 MiB reads
//   mono TvkStreamRate.exe random FILE PASSWORD N   reads per second, N Seek + 4 KiB Read at random offsets
//   mono TvkStreamRate.exe helper SIZE              bytes per second of Helper encrypting SIZE bytes
//
// Only the reads are timed; one untimed pass first lets the JIT compile
// the code on the path.

using System;
using System.Diagnostics;
using System.IO;
using TvkCrypto;
using TVKCryptoWrapper;

static class TvkStreamRate
{
    static int Main(string[] args)
    {
        if (args.Length == 3 && args[0] == "seq") return Print(Sequential(args[1], args[2]));
        if (args.Length == 4 && args[0] == "random") return Print(Random(args[1], args[2], int.Parse(args[3])));
        if (args.Length == 2 && args[0] == "helper") return Print(HelperRate(int.Parse(args[1])));
        Console.Error.WriteLine("usage: TvkStreamRate.exe seq FILE PASSWORD | random FILE PASSWORD N | helper SIZE");
        return 2;
    }

    static int Print(double rate)
    {
        Console.WriteLine(rate.ToString("F0"));
        return 0;
    }

    static double Sequential(string path, string password)
    {
        using (TvkStream stream = TvkStream.OpenRead(path, password, TvkVerify.None)) {
            byte[] buffer = new byte[1 << 20];
            stream.Read(buffer, 0, buffer.Length);
            stream.Position = 0;
            long total = 0;
            int got;
            Stopwatch clock = Stopwatch.StartNew();
            while ((got = stream.Read(buffer, 0, buffer.Length)) > 0) total += got;
            return total / clock.Elapsed.TotalSeconds;
        }
    }

    // the offsets of capi_read_rate: the same xorshift sequence
    static long[] RandomOffsets(long size, int count)
    {
        long[] offsets = new long[count];
        uint x = 0x2545F491;
        for (int i = 0; i < count; i++) {
            x ^= x << 13; x ^= x >> 17; x ^= x << 5;
            offsets[i] = (long)((ulong)x * 4099 % (ulong)(size - 4096));
        }
        return offsets;
    }

    static double Random(string path, string password, int count)
    {
        using (TvkStream stream = TvkStream.OpenRead(path, password, TvkVerify.None)) {
            long[] offsets = RandomOffsets(stream.Length, count);
            byte[] buffer = new byte[4096];
            stream.Seek(offsets[0], SeekOrigin.Begin);
            stream.Read(buffer, 0, buffer.Length);
            Stopwatch clock = Stopwatch.StartNew();
            foreach (long offset in offsets) {
                stream.Seek(offset, SeekOrigin.Begin);
                stream.Read(buffer, 0, buffer.Length);
            }
            return count / clock.Elapsed.TotalSeconds;
        }
    }

    static double HelperRate(int size)
    {
        byte[] data = new byte[size];
        new System.Random(1).NextBytes(data);
        Helper.EncryptDecryptWithPassword("bench", HelperDirection.ENCRYPT, new MemoryStream(data, 0, 4096),
                                          new MemoryStream());
        MemoryStream output = new MemoryStream(size);
        Stopwatch clock = Stopwatch.StartNew();
        Helper.EncryptDecryptWithPassword("bench", HelperDirection.ENCRYPT, new MemoryStream(data), output);
        return size / clock.Elapsed.TotalSeconds;
    }
}
