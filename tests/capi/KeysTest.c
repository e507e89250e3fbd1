/*****************************************************************
| KeysTest.c - the C interface's results, version, keys and in-place
| transform, against known answers of the format, with bad handles,
| null pointers and sizes that only a 64-bit size_t holds.
****************************************************************/
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "CApiHarness.h"

static int
same_hex(const unsigned char* bytes, const char* hex)
{
    char text[33];
    int i;
    for (i = 0; i < 16; ++i) sprintf(text + 2 * i, "%02x", bytes[i]);
    return strcmp(text, hex) == 0;
}

static void
results_and_version(void)
{
    char expected[32];
    const uint32_t number = tvk_version_number();
    snprintf(expected, sizeof expected, "%u.%u.%u", (unsigned)(number >> 16), (unsigned)(number >> 8 & 0xff),
             (unsigned)(number & 0xff));
    CHECK(strcmp(tvk_version(), expected) == 0);
    CHECK(number >= 0x010000);
    CHECK(strcmp(tvk_result_text(TVK_ERROR_WRONG_PASSWORD), "wrong password") == 0);
    CHECK(strcmp(tvk_result_text(TVK_ERROR_NO_SUCH_FILE), "no such file") == 0);
    CHECK(strcmp(tvk_result_text(-12345), "unknown error") == 0);
    CHECK(strcmp(tvk_result_name(TVK_ERROR_DATA_DAMAGED), "TVK_ERROR_DATA_DAMAGED") == 0);
    CHECK(strcmp(tvk_result_name(TVK_ERROR_NO_SUCH_FILE), "NPT_ERROR_NO_SUCH_FILE") == 0);
    CHECK(tvk_result_text(TVK_ERROR_BASE_ERRNO - 5) != NULL && tvk_result_name(INT32_MIN) != NULL);
}

/* Key bytes and key streams of the format's known answers
   (tests/data/password-format.json): the empty password and "abc". */
static void
keys(void)
{
    unsigned char key[TVK_KEY_SIZE], zeros[16];
    tvk_key* handle = NULL;
    CHECK_RESULT(TVK_SUCCESS, tvk_derive_key("abc", 3, key));
    CHECK(same_hex(key, "a9993e364706816aba3e25717850c26c"));
    CHECK_RESULT(TVK_SUCCESS, tvk_derive_key(NULL, 0, key));
    CHECK(same_hex(key, "da39a3ee5e6b4b0d3255bfef95601890"));
    CHECK_RESULT(TVK_ERROR_INVALID_PARAMETERS, tvk_derive_key("ab\0c", 4, key));
    CHECK(same_hex(key, "00000000000000000000000000000000"));
    CHECK_RESULT(TVK_ERROR_INVALID_PARAMETERS, tvk_derive_key(NULL, 3, key));
    CHECK_RESULT(TVK_ERROR_INVALID_PARAMETERS, tvk_derive_key("abc", 3, NULL));
#ifdef CAPI_HUGE
    CHECK_RESULT(TVK_ERROR_INVALID_PARAMETERS, tvk_derive_key("abc", CAPI_HUGE(3), key));
#endif

    /* K(0), K(1) and, past 4 GiB where the stream repeats, K(2) */
    CHECK_RESULT(TVK_SUCCESS, tvk_key_create(NULL, 0, &handle));
    memset(zeros, 0, sizeof zeros);
    CHECK_RESULT(TVK_SUCCESS, tvk_transform(handle, zeros, 16, 0));
    CHECK(same_hex(zeros, "3477c9bf12df5a162eb5c1af92d6e448"));
    memset(zeros, 0, sizeof zeros);
    CHECK_RESULT(TVK_SUCCESS, tvk_transform(handle, zeros, 16, 1024));
    CHECK(same_hex(zeros, "35e93ce8be80bfdaa0f525aca7c8ba25"));
    memset(zeros, 0, sizeof zeros);
    CHECK_RESULT(TVK_SUCCESS, tvk_transform(handle, zeros, 16, ((uint64_t)1 << 32) + 2048));
    CHECK(same_hex(zeros, "9d43304d89a66edc2eeb621e20853cae"));
    tvk_key_destroy(handle);

    CHECK_RESULT(TVK_SUCCESS, tvk_derive_key("", 0, key));
    CHECK_RESULT(TVK_SUCCESS, tvk_key_create_raw(key, &handle));
    memset(zeros, 0, sizeof zeros);
    CHECK_RESULT(TVK_SUCCESS, tvk_transform(handle, zeros, 16, 0));
    CHECK(same_hex(zeros, "3477c9bf12df5a162eb5c1af92d6e448"));
    tvk_key_destroy(handle);

    handle = (tvk_key*)1;
    CHECK_RESULT(TVK_ERROR_INVALID_PARAMETERS, tvk_key_create("a\0", 2, &handle));
    CHECK(handle == NULL);
    CHECK_RESULT(TVK_ERROR_INVALID_PARAMETERS, tvk_key_create_raw(NULL, &handle));
    CHECK_RESULT(TVK_ERROR_INVALID_PARAMETERS, tvk_key_create("a", 1, NULL));
    tvk_key_destroy(NULL);
}

/* Any range transforms on its own as it does within the whole, and
   twice is the identity. */
static void
transform(void)
{
    unsigned char clear[5000], whole[5000], piece[5000];
    tvk_key* key = NULL;
    size_t at;
    capi_pattern(clear, sizeof clear, 1);
    CHECK_RESULT(TVK_SUCCESS, tvk_key_create("pass word", 9, &key));
    memcpy(whole, clear, sizeof whole);
    CHECK_RESULT(TVK_SUCCESS, tvk_transform(key, whole, sizeof whole, 0));
    CHECK(memcmp(whole, clear, sizeof clear) != 0);
    memcpy(piece, clear, sizeof piece);
    for (at = 0; at < sizeof piece; at += 777) {
        size_t size = sizeof piece - at < 777 ? sizeof piece - at : 777;
        CHECK_RESULT(TVK_SUCCESS, tvk_transform(key, piece + at, size, at));
    }
    CHECK(memcmp(piece, whole, sizeof whole) == 0);
    CHECK_RESULT(TVK_SUCCESS, tvk_transform(key, piece, sizeof piece, 0));
    CHECK(memcmp(piece, clear, sizeof clear) == 0);

    CHECK_RESULT(TVK_SUCCESS, tvk_transform(key, NULL, 0, 0));
    CHECK_RESULT(TVK_ERROR_INVALID_PARAMETERS, tvk_transform(key, NULL, (size_t)-1, 0));
    CHECK_RESULT(TVK_ERROR_INVALID_PARAMETERS, tvk_transform(NULL, piece, 16, 0));
    tvk_key_destroy(key);
}

int
main(void)
{
    results_and_version();
    keys();
    transform();
    return capi_report("KeysTest");
}
