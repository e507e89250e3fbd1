/*****************************************************************
| TestRepeatedMapping.h - texts and buffers of several GiB that cost a
| few MiB: one small shared chunk mapped again and again.
|
| Tests of sizes past 4 GiB use it. Every copy of the chunk shows the
| same bytes, so a write through one is seen through all. Linux only
| (memfd_create). Ok() tells whether the mapping could be made.
| Unmapped on destruction; one thread.
****************************************************************/
#ifndef TVK_TEST_REPEATED_MAPPING_H
#define TVK_TEST_REPEATED_MAPPING_H

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

// ThreadSanitizer keeps shadow memory for every byte a test touches; for
// regions of several GiB it runs out of room, so these tests skip there.
// Used at the top of a GoogleTest test body.
#if defined(__SANITIZE_THREAD__)
#define TVK_SKIP_UNDER_THREAD_SANITIZER() \
    GTEST_SKIP() << "regions of several GiB are too large for ThreadSanitizer's shadow memory"
#else
#define TVK_SKIP_UNDER_THREAD_SANITIZER() \
    do {                                  \
    } while (false)
#endif

namespace tvk_test {

// A region of 'size' bytes, filled with fill, optionally followed by one
// private page of its own.
class RepeatedMapping
{
public:
    static constexpr std::size_t kChunk = 16u << 20;

    // size is rounded up to whole chunks; the tail page follows them
    RepeatedMapping(std::uint64_t size, char fill, bool writable, bool tail_page)
        : m_Size(Chunks(size) + (tail_page ? kPage : 0))
    {
        size = Chunks(size);
        void* region = mmap(nullptr, m_Size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (region == MAP_FAILED) return;
        m_Region = static_cast<char*>(region);
        int fd = memfd_create("tvk-repeated", 0);
        if (fd < 0 || ftruncate(fd, kChunk) != 0) { Fail(fd); return; }
        const int protection = PROT_READ | (writable ? PROT_WRITE : 0);
        void* first = mmap(m_Region, kChunk, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd, 0);
        if (first == MAP_FAILED) { Fail(fd); return; }
        std::memset(first, fill, kChunk);
        for (std::uint64_t at = 0; at < size; at += kChunk) {
            if (mmap(m_Region + at, kChunk, protection, MAP_SHARED | MAP_FIXED, fd, 0) == MAP_FAILED) {
                Fail(fd);
                return;
            }
        }
        close(fd);
        if (tail_page &&
            mmap(m_Region + size, kPage, PROT_READ | PROT_WRITE,
                 MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) == MAP_FAILED) {
            Fail(-1);
            return;
        }
        m_Ok = true;
    }
    ~RepeatedMapping() { if (m_Region) munmap(m_Region, m_Size); }
    RepeatedMapping(const RepeatedMapping&) = delete;
    RepeatedMapping& operator=(const RepeatedMapping&) = delete;

    bool  Ok() const { return m_Ok; }
    char* Data() { return m_Region; }

private:
    static constexpr std::size_t kPage = 4096;
    static std::uint64_t Chunks(std::uint64_t size) { return (size + kChunk - 1) / kChunk * kChunk; }
    void Fail(int fd) { if (fd >= 0) close(fd); }

    std::uint64_t m_Size;
    char*         m_Region = nullptr;
    bool          m_Ok = false;
};

} // namespace tvk_test

#endif // TVK_TEST_REPEATED_MAPPING_H
