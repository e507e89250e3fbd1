/*****************************************************************
| CheckTest.c - check files through the C interface: a check file
| alone (loaded or parsed, its password verified, ciphertext verified
| block by block), the creation of one for an encrypted file and its
| verification; wrong passwords, damaged data with the failing block's
| range, foreign and missing check files, bad handles and null
| pointers.
****************************************************************/
#include <stdio.h>
#include <string.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "CApiHarness.h"

#define BLOCK (512u * 1024u)
#define SIZE (2 * BLOCK + 1000)

static unsigned char clear[SIZE], encrypted[SIZE];
static unsigned char check_bytes[4096];
static long check_size;

/* enc (without a check file) and enc.tvkcheck made for it */
static void
make_files(void)
{
    capi_pattern(clear, SIZE, 3);
    capi_write_file(capi_path("clear"), clear, SIZE);
    CHECK_RESULT(TVK_SUCCESS, tvk_encrypt_file(capi_path("clear"), capi_path("enc"), "pw", 2, TVK_NO_CHECK_FILE, NULL));
    CHECK(!capi_exists(capi_path("enc.tvkcheck")));
    CHECK(capi_read_file(capi_path("enc"), encrypted, SIZE) == SIZE);
    CHECK_RESULT(TVK_SUCCESS, tvk_check_create(capi_path("enc"), NULL, "pw", 2, 0));
    CHECK_RESULT(TVK_ERROR_FILE_ALREADY_EXISTS, tvk_check_create(capi_path("enc"), NULL, "pw", 2, 0));
    CHECK_RESULT(TVK_SUCCESS, tvk_check_create(capi_path("enc"), NULL, "pw", 2, TVK_OVERWRITE));
    check_size = capi_read_file(capi_path("enc.tvkcheck"), check_bytes, sizeof check_bytes);
    CHECK(check_size == 156 + 3 * 16);
}

static void
check_alone(void)
{
    tvk_check* check = NULL;
    uint64_t data_size = 1;
    uint32_t block_size = 1;
    tvk_range damaged = {9, 9};
    unsigned char changed[SIZE];

    CHECK_RESULT(TVK_SUCCESS, tvk_check_load(capi_path("enc.tvkcheck"), &check));
    CHECK_RESULT(TVK_SUCCESS, tvk_check_info(check, &data_size, &block_size));
    CHECK(data_size == SIZE && block_size == BLOCK);
    CHECK_RESULT(TVK_ERROR_INVALID_STATE, tvk_check_verify_data(check, 0, encrypted, SIZE, &damaged));
    CHECK_RESULT(TVK_ERROR_WRONG_PASSWORD, tvk_check_verify_password(check, "pW", 2));
    CHECK_RESULT(TVK_ERROR_INVALID_PARAMETERS, tvk_check_verify_password(check, "p\0w", 3));
    CHECK_RESULT(TVK_SUCCESS, tvk_check_verify_password(check, "pw", 2));
    CHECK_RESULT(TVK_SUCCESS, tvk_check_verify_data(check, 0, encrypted, SIZE, &damaged));
    CHECK_RESULT(TVK_SUCCESS, tvk_check_verify_data(check, BLOCK, encrypted + BLOCK, BLOCK, NULL));
    CHECK_RESULT(TVK_SUCCESS, tvk_check_verify_data(check, 2 * BLOCK, encrypted + 2 * BLOCK, 1000, NULL));
    CHECK_RESULT(TVK_SUCCESS, tvk_check_verify_data(check, 0, NULL, 0, NULL));

    /* a flipped byte: its block, and none before it */
    memcpy(changed, encrypted, SIZE);
    changed[BLOCK + 77] ^= 4;
    CHECK_RESULT(TVK_ERROR_DATA_DAMAGED, tvk_check_verify_data(check, 0, changed, SIZE, &damaged));
    CHECK(damaged.offset == BLOCK && damaged.length == BLOCK);
    CHECK_RESULT(TVK_SUCCESS, tvk_check_verify_data(check, 0, changed, BLOCK, NULL));
    /* cut short, and past the end */
    CHECK_RESULT(TVK_ERROR_DATA_DAMAGED, tvk_check_verify_data(check, 2 * BLOCK, encrypted + 2 * BLOCK, 999, &damaged));
    CHECK(damaged.offset == 2 * BLOCK && damaged.length == 1000);
    CHECK_RESULT(TVK_ERROR_DATA_DAMAGED, tvk_check_verify_data(check, 3 * BLOCK, encrypted, 10, &damaged));
    CHECK(damaged.offset == 3 * BLOCK && damaged.length == 10);
    CHECK_RESULT(TVK_ERROR_INVALID_PARAMETERS, tvk_check_verify_data(check, 100, encrypted, 10, &damaged));
    CHECK(damaged.offset == 0 && damaged.length == 0);
#ifdef CAPI_HUGE
    CHECK_RESULT(TVK_ERROR_INVALID_PARAMETERS, tvk_check_verify_data(check, 0, NULL, CAPI_HUGE(0), NULL));
#endif
    tvk_check_destroy(check);

    /* from memory: the same file, a cut one, a foreign one */
    CHECK_RESULT(TVK_SUCCESS, tvk_check_parse(check_bytes, (size_t)check_size, &check));
    CHECK_RESULT(TVK_SUCCESS, tvk_check_verify_password(check, "pw", 2));
    tvk_check_destroy(check);
    CHECK_RESULT(TVK_ERROR_CHECK_FILE_DAMAGED, tvk_check_parse(check_bytes, (size_t)check_size - 1, &check));
    CHECK(check == NULL);
    CHECK_RESULT(TVK_ERROR_NOT_A_CHECK_FILE, tvk_check_parse("#!/bin/sh\n", 10, &check));
#ifdef CAPI_HUGE
    /* larger than any check file: refused after the first bytes */
    CHECK_RESULT(TVK_ERROR_CHECK_FILE_DAMAGED, tvk_check_parse(check_bytes, CAPI_HUGE(check_size), &check));
#endif
}

static void
bad_handles_and_pointers(void)
{
    tvk_check* check = (tvk_check*)1;
    uint64_t data_size = 1;
    CHECK_RESULT(TVK_ERROR_NO_SUCH_FILE, tvk_check_load(capi_path("missing"), &check));
    CHECK(check == NULL);
    CHECK_RESULT(TVK_ERROR_INVALID_PARAMETERS, tvk_check_load(NULL, &check));
    CHECK_RESULT(TVK_ERROR_INVALID_PARAMETERS, tvk_check_load(capi_path("enc.tvkcheck"), NULL));
    CHECK_RESULT(TVK_ERROR_INVALID_PARAMETERS, tvk_check_parse(NULL, 10, &check));
    CHECK_RESULT(TVK_ERROR_INVALID_PARAMETERS, tvk_check_info(NULL, &data_size, NULL));
    CHECK(data_size == 0);
    CHECK_RESULT(TVK_ERROR_INVALID_PARAMETERS, tvk_check_verify_password(NULL, "pw", 2));
    CHECK_RESULT(TVK_ERROR_INVALID_PARAMETERS, tvk_check_verify_data(NULL, 0, encrypted, 10, NULL));
    CHECK_RESULT(TVK_ERROR_INVALID_PARAMETERS, tvk_check_create(NULL, NULL, "pw", 2, 0));
    CHECK_RESULT(TVK_ERROR_INVALID_PARAMETERS, tvk_check_create(capi_path("enc"), NULL, "pw", 2, 4));
    CHECK_RESULT(TVK_ERROR_INVALID_PARAMETERS,
                 tvk_check_create(capi_path("enc"), capi_path("enc"), "pw", 2, TVK_OVERWRITE));
    CHECK_RESULT(TVK_ERROR_INVALID_PARAMETERS, tvk_check_verify(NULL, NULL, "pw", 2, NULL));
    CHECK_RESULT(TVK_ERROR_INVALID_PARAMETERS, tvk_check_verify(capi_path("enc"), NULL, NULL, 2, NULL));
    tvk_check_destroy(NULL);
}

/* The encrypted file against its check file, as it changes. */
static void
verify_files(void)
{
    tvk_range damaged = {9, 9};
    unsigned char changed[SIZE];
    CHECK_RESULT(TVK_SUCCESS, tvk_check_verify(capi_path("enc"), NULL, "pw", 2, &damaged));
    CHECK(damaged.offset == 0 && damaged.length == 0);
    CHECK_RESULT(TVK_ERROR_WRONG_PASSWORD, tvk_check_verify(capi_path("enc"), NULL, "pw ", 3, &damaged));
    CHECK_RESULT(TVK_ERROR_NO_CHECK_FILE, tvk_check_verify(capi_path("clear"), NULL, "pw", 2, &damaged));
    CHECK_RESULT(TVK_ERROR_NO_SUCH_FILE, tvk_check_verify(capi_path("missing"), capi_path("enc.tvkcheck"), "pw", 2, NULL));

    memcpy(changed, encrypted, SIZE);
    changed[2 * BLOCK + 5] ^= 1;
    capi_write_file(capi_path("copy"), changed, SIZE);
    CHECK_RESULT(TVK_ERROR_DATA_DAMAGED, tvk_check_verify(capi_path("copy"), capi_path("enc.tvkcheck"), "pw", 2, &damaged));
    CHECK(damaged.offset == 2 * BLOCK && damaged.length == 1000);
    /* cut to one block and a half: the second block is where they part */
    capi_write_file(capi_path("copy"), encrypted, BLOCK + BLOCK / 2);
    CHECK_RESULT(TVK_ERROR_DATA_DAMAGED, tvk_check_verify(capi_path("copy"), capi_path("enc.tvkcheck"), "pw", 2, &damaged));
    CHECK(damaged.offset == BLOCK && damaged.length == BLOCK);
    /* foreign and damaged check files */
    capi_write_file(capi_path("foreign"), "not a check file at all", 23);
    CHECK_RESULT(TVK_ERROR_NOT_A_CHECK_FILE, tvk_check_verify(capi_path("enc"), capi_path("foreign"), "pw", 2, NULL));
    capi_write_file(capi_path("foreign"), check_bytes, (size_t)check_size - 5);
    CHECK_RESULT(TVK_ERROR_CHECK_FILE_DAMAGED, tvk_check_verify(capi_path("enc"), capi_path("foreign"), "pw", 2, NULL));
#ifndef _WIN32
    /* a FIFO where the check file should be: refused at once */
    CHECK(mkfifo(capi_path("fifo"), 0600) == 0);
    CHECK_RESULT(TVK_ERROR_NOT_A_CHECK_FILE, tvk_check_verify(capi_path("enc"), capi_path("fifo"), "pw", 2, NULL));
#endif
}

int
main(void)
{
    capi_begin();
    make_files();
    check_alone();
    bad_handles_and_pointers();
    verify_files();
    capi_end();
    return capi_report("CheckTest");
}
