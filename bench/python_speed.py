#!/usr/bin/env python3
"""The Python package's rates as one number each, for bench/python_speed.sh,
which compares them with the C++ side measured the same way
(keystream_rate, capi_rate):

  python_speed.py transform SIZE [THREADS]
      transform_into on a SIZE-byte bytearray with the password, in
      THREADS threads at once (1 by default), each on a buffer of its own
  python_speed.py read FILE PASSWORD CHUNK [verify]
      all of FILE in order through tvkcrypto.open, read(CHUNK) at a time
  python_speed.py readinto FILE PASSWORD CHUNK [verify]
      the same with readinto into one buffer
  python_speed.py seek FILE PASSWORD READ [verify]
      seek and read(READ) at pseudo-random offsets (capi_rate's sequence)

"verify" requires the check file; without it reads are not verified.
Prints the bytes per second of the best of 5 rounds of at least 0.2 s.
"""
import sys
import threading
import time

import tvkcrypto


def best_rate(work):
    """Bytes per second of the best of 5 rounds; work() does one pass and
    returns its bytes."""
    work()  # warms the caches
    best = 0.0
    for _ in range(5):
        start = now = time.perf_counter()
        done = 0
        while now - start < 0.2:
            done += work()
            now = time.perf_counter()
        best = max(best, done / (now - start))
    return best


def random_offsets(room, count):
    """capi_rate's offsets: xorshift64 from a fixed seed, modulo room."""
    x, mask, offsets = 0x9E3779B97F4A7C15, (1 << 64) - 1, []
    for _ in range(count):
        x ^= (x << 13) & mask
        x ^= x >> 7
        x ^= (x << 17) & mask
        offsets.append(x % room)
    return offsets


def transform_rate(size, threads):
    buffers = [bytearray(size) for _ in range(threads)]

    def one(buffer):
        tvkcrypto.transform_into(buffer, "benchmark password", 0)

    def work():
        if threads == 1:
            one(buffers[0])
        else:
            running = [threading.Thread(target=one, args=(b,)) for b in buffers]
            for thread in running:
                thread.start()
            for thread in running:
                thread.join()
        return size * threads
    return best_rate(work)


def file_rate(mode, path, password, size, verify):
    f = tvkcrypto.open(path, password=password, verify="required" if verify else False)
    total = f.size
    if mode == "seek":
        offsets = random_offsets(total - size + 1, 4096)
        where = [0]

        def work():
            done, read, seek = 0, f.read, f.seek
            start = where[0]
            for offset in offsets[start:start + 1024]:
                seek(offset)
                done += len(read(size))
            where[0] = (start + 1024) % len(offsets)
            return done
    elif mode == "read":
        def work():
            f.seek(0)
            done, read = 0, f.read
            while True:
                got = len(read(size))
                if not got:
                    return done
                done += got
    else:
        buffer = bytearray(size)

        def work():
            f.seek(0)
            done, readinto = 0, f.readinto
            while True:
                got = readinto(buffer)
                if not got:
                    return done
                done += got
    with f:
        return best_rate(work)


def main(argv):
    try:
        if argv[0] == "transform" and len(argv) in (2, 3):
            rate = transform_rate(int(argv[1]), int(argv[2]) if len(argv) == 3 else 1)
        elif argv[0] in ("read", "readinto", "seek") and len(argv) in (4, 5) and argv[4:] in ([], ["verify"]):
            rate = file_rate(argv[0], argv[1], argv[2], int(argv[3]), len(argv) == 5)
        else:
            raise IndexError
    except (IndexError, ValueError):
        print(__doc__, file=sys.stderr)
        return 2
    print("%.0f" % rate)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
