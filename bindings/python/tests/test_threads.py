"""Threads: one key and one reader used by several at once, and closed
while in use."""
import threading

import tvkcrypto
from conftest import PASSWORD


def run_threads(count, work):
    threads = [threading.Thread(target=work, args=(i,)) for i in range(count)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()


def test_one_key_in_several_threads():
    data = bytes(range(256)) * 4096
    expected = tvkcrypto.encrypt(data, "pw")
    buffer = bytearray(data)
    parts = 4
    step = len(data) // parts
    with tvkcrypto.Key("pw") as key:
        run_threads(parts, lambda i: key.transform_into(memoryview(buffer)[i * step:(i + 1) * step], i * step))
    assert buffer == expected


def test_one_reader_in_several_threads_and_closed_under_them(sample):
    path, data = sample
    errors, wrong = [], []
    f = tvkcrypto.open(path, password=PASSWORD)
    started = threading.Barrier(5)

    def read(i):
        started.wait()
        for n in range(200):
            offset = (i * 7919 + n * 104729) % len(data)
            try:
                if f.read_at(offset, 1000) != data[offset:offset + 1000]:
                    wrong.append(offset)
            except ValueError as error:  # closed meanwhile: refused, never a crash
                errors.append(error)
                return

    closer = threading.Thread(target=lambda: (started.wait(), f.close()))
    closer.start()
    run_threads(4, read)
    closer.join()
    assert not wrong and all("closed" in str(error) for error in errors)
