/*****************************************************************
| FilesTest.c - encrypted files through the C interface: the writer
| and its commit, the reader at any offset (verified, and from two
| threads at once), the file form both ways; existing targets, wrong
| passwords and damaged data leave the targets as they were; bad
| handles, null pointers and sizes past 4 GiB give clear results.
****************************************************************/
#include <stdio.h>
#include <string.h>

#ifndef _WIN32
#include <pthread.h>
#endif

#include "CApiHarness.h"

#define BLOCK (512u * 1024u)
#define SIZE (3 * BLOCK + 333)

static unsigned char clear[SIZE], buffer[SIZE];

/* enc and enc.tvkcheck written in uneven pieces through a writer */
static void
writer(void)
{
    tvk_writer* w = (tvk_writer*)1;
    size_t at = 0, piece = 1;
    capi_pattern(clear, SIZE, 7);
    capi_write_file(capi_path("enc"), "old", 3);
    CHECK_RESULT(TVK_ERROR_FILE_ALREADY_EXISTS, tvk_writer_open(capi_path("enc"), "pw", 2, 0, NULL, &w));
    CHECK(w == NULL);
    CHECK_RESULT(TVK_SUCCESS, tvk_writer_open(capi_path("enc"), "pw", 2, TVK_OVERWRITE, NULL, &w));
    while (at < SIZE) {
        piece = piece * 7 % 300007;
        if (piece > SIZE - at) piece = SIZE - at;
        CHECK_RESULT(TVK_SUCCESS, tvk_writer_write(w, clear + at, piece));
        at += piece;
    }
    CHECK(capi_read_file(capi_path("enc"), buffer, sizeof buffer) == 3);  /* not in place yet */
    CHECK_RESULT(TVK_SUCCESS, tvk_writer_commit(w));
    CHECK_RESULT(TVK_ERROR_INVALID_STATE, tvk_writer_write(w, clear, 1));
    CHECK_RESULT(TVK_ERROR_INVALID_STATE, tvk_writer_commit(w));
    tvk_writer_destroy(w);
    CHECK(capi_read_file(capi_path("enc"), buffer, sizeof buffer) == SIZE);
    CHECK(capi_exists(capi_path("enc.tvkcheck")));

    /* never committed: nothing appears */
    CHECK_RESULT(TVK_SUCCESS, tvk_writer_open(capi_path("gone"), "pw", 2, TVK_NO_CHECK_FILE, NULL, &w));
    CHECK_RESULT(TVK_SUCCESS, tvk_writer_write(w, clear, BLOCK + 1));
    tvk_writer_destroy(w);
    CHECK(!capi_exists(capi_path("gone")));

    CHECK_RESULT(TVK_ERROR_INVALID_PARAMETERS, tvk_writer_open(capi_path("x"), "pw", 2, 8, NULL, &w));
    CHECK_RESULT(TVK_ERROR_INVALID_PARAMETERS, tvk_writer_open(capi_path("x"), "pw", 2, 0, capi_path("x"), &w));
    CHECK_RESULT(TVK_ERROR_INVALID_PARAMETERS, tvk_writer_open(NULL, "pw", 2, 0, NULL, &w));
    CHECK_RESULT(TVK_ERROR_INVALID_PARAMETERS, tvk_writer_open(capi_path("x"), "p\0w", 3, 0, NULL, &w));
    CHECK_RESULT(TVK_ERROR_INVALID_PARAMETERS, tvk_writer_write(NULL, clear, 1));
    CHECK_RESULT(TVK_ERROR_INVALID_PARAMETERS, tvk_writer_commit(NULL));
#ifdef CAPI_HUGE
    CHECK_RESULT(TVK_SUCCESS, tvk_writer_open(capi_path("x"), "pw", 2, TVK_NO_CHECK_FILE, NULL, &w));
    CHECK_RESULT(TVK_ERROR_INVALID_PARAMETERS, tvk_writer_write(w, NULL, CAPI_HUGE(0)));
    tvk_writer_destroy(w);
#endif
    tvk_writer_destroy(NULL);
}

/* Reads at offsets around the block edges equal the cleartext. */
static void
reads(const tvk_reader* r)
{
    static const size_t offsets[] = {0, 1, BLOCK - 1, BLOCK, 2 * BLOCK + 5, SIZE - 1};
    size_t i, got = 9;
    uint64_t size = 0;
    CHECK_RESULT(TVK_SUCCESS, tvk_reader_size(r, &size));
    CHECK(size == SIZE);
    for (i = 0; i < sizeof offsets / sizeof offsets[0]; ++i) {
        memset(buffer, 0, sizeof buffer);
        CHECK_RESULT(TVK_SUCCESS, tvk_reader_read(r, offsets[i], buffer, BLOCK + 10, &got, NULL));
        CHECK(got == (SIZE - offsets[i] < BLOCK + 10 ? SIZE - offsets[i] : BLOCK + 10));
        CHECK(memcmp(buffer, clear + offsets[i], got) == 0);
    }
    CHECK_RESULT(TVK_SUCCESS, tvk_reader_read(r, SIZE, buffer, 10, &got, NULL));
    CHECK(got == 0);
#ifdef CAPI_HUGE
    /* a size only 64 bits hold, clipped at the end of the data */
    CHECK_RESULT(TVK_SUCCESS, tvk_reader_read(r, SIZE - 10, buffer, CAPI_HUGE(4), &got, NULL));
    CHECK(got == 10 && memcmp(buffer, clear + SIZE - 10, 10) == 0);
    CHECK_RESULT(TVK_ERROR_INVALID_PARAMETERS, tvk_reader_read(r, 0, NULL, CAPI_HUGE(0), &got, NULL));
#endif
}

#ifndef _WIN32
static void*
read_all(void* reader)
{
    static unsigned char mine[2][SIZE];
    static int next;
    unsigned char* out = mine[__sync_fetch_and_add(&next, 1) % 2];
    size_t got = 0;
    if (tvk_reader_read((const tvk_reader*)reader, 0, out, SIZE, &got, NULL) != TVK_SUCCESS || got != SIZE) {
        return (void*)1;
    }
    return memcmp(out, clear, SIZE) == 0 ? NULL : (void*)1;
}
#endif

static void
reader(void)
{
    tvk_reader* r = (tvk_reader*)1;
    tvk_range damaged = {1, 1};
    unsigned char changed[SIZE];
    size_t got = 9;
    CHECK_RESULT(TVK_ERROR_WRONG_PASSWORD, tvk_reader_open(capi_path("enc"), "pW", 2, TVK_VERIFY_IF_PRESENT, NULL, &r));
    CHECK(r == NULL);
    CHECK_RESULT(TVK_SUCCESS, tvk_reader_open(capi_path("enc"), "pw", 2, TVK_VERIFY_REQUIRED, NULL, &r));
    CHECK(tvk_reader_verified(r) == 1);
    reads(r);
#ifndef _WIN32
    {
        pthread_t other;
        void *mine_failed, *other_failed = (void*)1;
        CHECK(pthread_create(&other, NULL, read_all, r) == 0);
        mine_failed = read_all(r);
        pthread_join(other, &other_failed);
        CHECK(mine_failed == NULL && other_failed == NULL);
    }
#endif
    tvk_reader_close(r);

    /* a flipped byte in the second block: what lies before it reads */
    capi_read_file(capi_path("enc"), changed, SIZE);
    changed[BLOCK + 3] ^= 0x40;
    capi_write_file(capi_path("changed"), changed, SIZE);
    CHECK_RESULT(TVK_SUCCESS, tvk_reader_open(capi_path("changed"), "pw", 2, TVK_VERIFY_REQUIRED,
                                              capi_path("enc.tvkcheck"), &r));
    CHECK_RESULT(TVK_ERROR_DATA_DAMAGED, tvk_reader_read(r, 100, buffer, 2 * BLOCK, &got, &damaged));
    CHECK(got == BLOCK - 100 && memcmp(buffer, clear + 100, got) == 0);
    CHECK(damaged.offset == BLOCK && damaged.length == BLOCK);
    CHECK_RESULT(TVK_SUCCESS, tvk_reader_read(r, 2 * BLOCK, buffer, 10, &got, &damaged));
    tvk_reader_close(r);
    /* unverified, it decrypts whatever is there */
    CHECK_RESULT(TVK_SUCCESS, tvk_reader_open(capi_path("changed"), "pw", 2, TVK_VERIFY_IF_PRESENT, NULL, &r));
    CHECK(tvk_reader_verified(r) == 0);
    CHECK_RESULT(TVK_SUCCESS, tvk_reader_read(r, 0, buffer, SIZE, &got, NULL));
    CHECK(got == SIZE && buffer[BLOCK + 3] == (clear[BLOCK + 3] ^ 0x40));
    tvk_reader_close(r);

    CHECK_RESULT(TVK_ERROR_NO_CHECK_FILE, tvk_reader_open(capi_path("changed"), "pw", 2, TVK_VERIFY_REQUIRED, NULL, &r));
    CHECK_RESULT(TVK_ERROR_INVALID_PARAMETERS, tvk_reader_open(capi_path("enc"), "pw", 2, 7, NULL, &r));
    CHECK_RESULT(TVK_ERROR_NO_SUCH_FILE, tvk_reader_open(capi_path("missing"), "pw", 2, TVK_VERIFY_NONE, NULL, &r));
    CHECK_RESULT(TVK_ERROR_INVALID_PARAMETERS, tvk_reader_open(NULL, "pw", 2, TVK_VERIFY_NONE, NULL, &r));
    CHECK_RESULT(TVK_ERROR_INVALID_PARAMETERS, tvk_reader_read(NULL, 0, buffer, 1, &got, NULL));
    CHECK_RESULT(TVK_ERROR_INVALID_PARAMETERS, tvk_reader_size(NULL, NULL));
    CHECK(tvk_reader_verified(NULL) == 0);
    tvk_reader_close(NULL);
}

/* The file form: a round trip, in place, and refusals that leave the
   target as it was. */
static void
file_form(void)
{
    tvk_range damaged = {1, 1};
    unsigned char changed[SIZE];
    capi_write_file(capi_path("clear"), clear, SIZE);
    CHECK_RESULT(TVK_SUCCESS, tvk_encrypt_file(capi_path("clear"), capi_path("e2"), "pw", 2, 0, NULL));
    CHECK(capi_read_file(capi_path("e2"), changed, SIZE) == SIZE);
    CHECK(capi_read_file(capi_path("enc"), buffer, SIZE) == SIZE && memcmp(changed, buffer, SIZE) == 0);
    CHECK_RESULT(TVK_ERROR_FILE_ALREADY_EXISTS, tvk_encrypt_file(capi_path("clear"), capi_path("e2"), "pw", 2, 0, NULL));
    CHECK_RESULT(TVK_SUCCESS, tvk_decrypt_file(capi_path("e2"), capi_path("d2"), "pw", 2, 0, TVK_VERIFY_REQUIRED,
                                               NULL, &damaged));
    CHECK(capi_read_file(capi_path("d2"), buffer, SIZE) == SIZE && memcmp(buffer, clear, SIZE) == 0);

    capi_write_file(capi_path("d2"), "kept", 4);
    CHECK_RESULT(TVK_ERROR_WRONG_PASSWORD, tvk_decrypt_file(capi_path("e2"), capi_path("d2"), "x", 1, TVK_OVERWRITE,
                                                            TVK_VERIFY_IF_PRESENT, NULL, &damaged));
    changed[3 * BLOCK + 10] ^= 1;
    capi_write_file(capi_path("e2"), changed, SIZE);
    CHECK_RESULT(TVK_ERROR_DATA_DAMAGED, tvk_decrypt_file(capi_path("e2"), capi_path("d2"), "pw", 2, TVK_OVERWRITE,
                                                          TVK_VERIFY_IF_PRESENT, NULL, &damaged));
    CHECK(damaged.offset == 3 * BLOCK && damaged.length == 333);
    CHECK(capi_read_file(capi_path("d2"), buffer, SIZE) == 4);

    /* in place, and without a check file */
    CHECK_RESULT(TVK_SUCCESS, tvk_encrypt_file(capi_path("clear"), capi_path("clear"), "pw", 2,
                                               TVK_OVERWRITE | TVK_NO_CHECK_FILE, NULL));
    CHECK_RESULT(TVK_ERROR_NO_CHECK_FILE, tvk_decrypt_file(capi_path("clear"), capi_path("d3"), "pw", 2, 0,
                                                           TVK_VERIFY_REQUIRED, NULL, NULL));
    CHECK_RESULT(TVK_SUCCESS, tvk_decrypt_file(capi_path("clear"), capi_path("d3"), "pw", 2, 0,
                                               TVK_VERIFY_IF_PRESENT, NULL, NULL));
    CHECK(capi_read_file(capi_path("d3"), buffer, SIZE) == SIZE && memcmp(buffer, clear, SIZE) == 0);

    CHECK_RESULT(TVK_ERROR_INVALID_PARAMETERS, tvk_encrypt_file(NULL, capi_path("x"), "pw", 2, 0, NULL));
    CHECK_RESULT(TVK_ERROR_INVALID_PARAMETERS, tvk_encrypt_file(capi_path("d3"), capi_path("x"), "pw", 2, 16, NULL));
    CHECK_RESULT(TVK_ERROR_INVALID_PARAMETERS, tvk_decrypt_file(capi_path("d3"), capi_path("x"), "pw", 2,
                                                                TVK_NO_CHECK_FILE, TVK_VERIFY_NONE, NULL, NULL));
    CHECK_RESULT(TVK_ERROR_NO_SUCH_FILE, tvk_decrypt_file(capi_path("missing"), capi_path("x"), "pw", 2, 0,
                                                          TVK_VERIFY_NONE, NULL, NULL));
    CHECK(!capi_exists(capi_path("x")));
}

/* A check file that is the input or the data under another name is
   refused, and the check file of a file's old content goes with the
   commit of content that gets none. */
static void
collisions(void)
{
    capi_write_file(capi_path("c1"), clear, 100);
    CHECK_RESULT(TVK_ERROR_INVALID_PARAMETERS, tvk_encrypt_file(capi_path("c1"), capi_path("e3"), "pw", 2,
                                                                TVK_OVERWRITE, capi_path("./c1")));
    CHECK(capi_read_file(capi_path("c1"), buffer, SIZE) == 100 && memcmp(buffer, clear, 100) == 0);
    CHECK(!capi_exists(capi_path("e3")));
    CHECK_RESULT(TVK_ERROR_INVALID_PARAMETERS, tvk_check_create(capi_path("enc"), capi_path("./enc"), "pw", 2,
                                                                TVK_OVERWRITE));
    CHECK(capi_read_file(capi_path("enc"), buffer, SIZE) == SIZE);

    CHECK_RESULT(TVK_SUCCESS, tvk_encrypt_file(capi_path("c1"), capi_path("e3"), "pw", 2, 0, NULL));
    CHECK_RESULT(TVK_SUCCESS, tvk_encrypt_file(capi_path("c1"), capi_path("e3"), "new", 3,
                                               TVK_OVERWRITE | TVK_NO_CHECK_FILE, NULL));
    CHECK(!capi_exists(capi_path("e3.tvkcheck")));
    CHECK_RESULT(TVK_SUCCESS, tvk_encrypt_file(capi_path("c1"), capi_path("e3"), "pw", 2, TVK_OVERWRITE, NULL));
    CHECK_RESULT(TVK_SUCCESS, tvk_decrypt_file(capi_path("e3"), capi_path("e3"), "pw", 2, TVK_OVERWRITE,
                                               TVK_VERIFY_REQUIRED, NULL, NULL));
    CHECK(capi_read_file(capi_path("e3"), buffer, SIZE) == 100 && memcmp(buffer, clear, 100) == 0);
    CHECK(!capi_exists(capi_path("e3.tvkcheck")));
}

int
main(void)
{
    capi_begin();
    writer();
    reader();
    file_form();
    collisions();
    capi_end();
    return capi_report("FilesTest");
}
