/*****************************************************************
| CApiHarness.h - a small harness for the tests of the C interface,
| which are C programs: checks that count failures instead of
| stopping, words for results in the messages, and a scratch
| directory with helpers for whole files.
****************************************************************/
#ifndef TVK_CAPI_HARNESS_H
#define TVK_CAPI_HARNESS_H

#include <stddef.h>
#include <stdint.h>

#include <TvkCrypto/c.h>

/* Where size_t holds more than 32 bits, a size of 4 GiB and more whose
   low 32 bits are small: a truncation to 32 bits would show. Only
   defined there. */
#if SIZE_MAX > 0xFFFFFFFFu
#define CAPI_HUGE(low) (((size_t)1 << 32) | (size_t)(low))
#endif

#define CHECK(condition) capi_check(__FILE__, __LINE__, #condition, (condition) != 0)
#define CHECK_RESULT(expected, call) capi_check_result(__FILE__, __LINE__, #call, (expected), (call))

void capi_check(const char* file, int line, const char* what, int ok);
void capi_check_result(const char* file, int line, const char* call, tvk_result expected, tvk_result got);
/* Prints the count of failures; the program's exit status. */
int capi_report(const char* program);

/* A fresh scratch directory, removed with the files named through
   capi_path (and their check files) by capi_end. The path of name in it stays valid until the
   eighth call after. */
void capi_begin(void);
const char* capi_path(const char* name);
void capi_end(void);

void capi_write_file(const char* path, const void* data, size_t size);
/* The file's size (up to capacity bytes read into buffer), -1 if it
   cannot be read. */
long capi_read_file(const char* path, void* buffer, size_t capacity);
int capi_exists(const char* path);

/* A repeatable pattern of size bytes. */
void capi_pattern(unsigned char* data, size_t size, unsigned seed);

#endif /* TVK_CAPI_HARNESS_H */
