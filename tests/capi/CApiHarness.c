/*****************************************************************
| CApiHarness.c - the harness of the C interface's tests.
****************************************************************/
#include "CApiHarness.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifdef _WIN32
#include <direct.h>
#include <io.h>
#define capi_rmdir _rmdir
#else
#include <unistd.h>
#define capi_rmdir rmdir
#endif

static int  failures;
static char directory[512];
static char names[64][64];
static int  name_count;
static char paths[8][600];
static int  next_path;

void
capi_check(const char* file, int line, const char* what, int ok)
{
    if (ok) return;
    fprintf(stderr, "%s:%d: failed: %s\n", file, line, what);
    ++failures;
}

void
capi_check_result(const char* file, int line, const char* call, tvk_result expected, tvk_result got)
{
    if (expected == got) return;
    fprintf(stderr, "%s:%d: %s gave %s (%s), expected %s\n", file, line, call, tvk_result_name(got),
            tvk_result_text(got), tvk_result_name(expected));
    ++failures;
}

int
capi_report(const char* program)
{
    printf("%s: %d failure(s)\n", program, failures);
    return failures == 0 ? 0 : 1;
}

void
capi_begin(void)
{
#ifdef _WIN32
    const char* base = getenv("TEMP");
    unsigned attempt;
    for (attempt = 0; attempt < 100; ++attempt) {
        snprintf(directory, sizeof directory, "%s\\tvk-capi-%u-%d", base ? base : ".", (unsigned)rand(),
                 (int)attempt);
        if (_mkdir(directory) == 0) return;
    }
#else
    const char* base = getenv("TMPDIR");
    snprintf(directory, sizeof directory, "%s/tvk-capi-XXXXXX", base ? base : "/tmp");
    if (mkdtemp(directory) != NULL) return;
#endif
    fprintf(stderr, "cannot create a scratch directory\n");
    exit(2);
}

const char*
capi_path(const char* name)
{
    int i, known = 0;
    char* path = paths[next_path];
    next_path = (next_path + 1) % 8;
    for (i = 0; i < name_count; ++i) known |= strcmp(names[i], name) == 0;
    if (!known && name_count < 64) snprintf(names[name_count++], sizeof names[0], "%s", name);
    snprintf(path, sizeof paths[0], "%s/%s", directory, name);
    return path;
}

void
capi_end(void)
{
    int i;
    char check[640];
    for (i = 0; i < name_count; ++i) {
        const char* path = capi_path(names[i]);
        /* and the check file that the library may have made beside it */
        snprintf(check, sizeof check, "%s.tvkcheck", path);
        remove(check);
        if (remove(path) != 0) capi_rmdir(path);
    }
    capi_rmdir(directory);
}

void
capi_write_file(const char* path, const void* data, size_t size)
{
    FILE* file = fopen(path, "wb");
    if (file == NULL || fwrite(data, 1, size, file) != size) capi_check(__FILE__, __LINE__, path, 0);
    if (file != NULL) fclose(file);
}

long
capi_read_file(const char* path, void* buffer, size_t capacity)
{
    long size = 0;
    FILE* file = fopen(path, "rb");
    if (file == NULL) return -1;
    size = (long)fread(buffer, 1, capacity, file);
    while (fgetc(file) != EOF) ++size;
    fclose(file);
    return size;
}

int
capi_exists(const char* path)
{
    FILE* file = fopen(path, "rb");
    if (file != NULL) fclose(file);
    return file != NULL;
}

void
capi_pattern(unsigned char* data, size_t size, unsigned seed)
{
    size_t i;
    unsigned state = seed * 2654435761u + 1;
    for (i = 0; i < size; ++i) {
        state = state * 1103515245u + 12345u;
        data[i] = (unsigned char)(state >> 16);
    }
}
