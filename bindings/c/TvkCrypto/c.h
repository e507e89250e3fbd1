/*****************************************************************
| TvkCrypto/c.h - the C interface of tvkcrypto.
|
| The whole library as seen from C, and from every language that binds
| to C (Python's ctypes, .NET's P/Invoke, Rust, Go): opaque handles,
| plain integers and byte pointers, nothing of C++. The functions and
| their arguments stay as they are for the life of the library's major
| version (SONAME libtvkcrypto.so.1); later minor versions only add.
|
| The format. Data is encrypted with a key made from the password (the
| first 16 bytes of SHA-1 of its bytes) by XORing an AES-128 counter-mode
| key stream onto it at each byte's offset; encrypting and decrypting are
| the same operation, and any byte range can be transformed on its own
| at the cost of one AES block. The encrypted data has no header and is
| exactly as long as the cleartext, so a wrong password is not detected
| by the format itself. The optional check file beside the encrypted
| file (by default its name plus ".tvkcheck") tells a wrong password and
| damaged or changed blocks of ciphertext; the functions below that take
| a check file use it for that.
|
| Results. Every function that can fail returns a tvk_result: 0
| (TVK_SUCCESS) or a negative code. The codes are the library's
| NPT_Result numbers (the NPT_ERROR_* codes of the C++ headers, the same
| numbers) plus the check-file family below; tvk_result_text gives words
| for any of them. Output arguments are cleared before anything else is
| checked and stay cleared on failure, unless a function says otherwise.
|
| Passwords are bytes (pointer and size), used as given: the caller picks
| the encoding (files made through the .NET entry point were keyed with
| the Windows ANSI code page). A password with a zero byte in it is
| refused (TVK_ERROR_INVALID_PARAMETERS): the format's key is made from
| the bytes before the first zero byte, so it could never match; so is
| one of 4 GiB or more.
|
| Sizes are size_t and offsets uint64_t: transfers of more than 4 GiB
| are done in slices, never cut short. Flags that a function does not
| know are refused (TVK_ERROR_INVALID_PARAMETERS).
|
| Paths are UTF-8 (converted to UTF-16 on Windows). Files are written
| as the tvkcrypt tool writes them: into an unnamed temporary file
| beside the target (a hidden named one where the file system cannot
| do that), synced, and renamed into place only once complete, an
| encrypted file and its check file as a pair; a new file gets mode
| 0600, a replaced one keeps its permissions; a symbolic link at the
| target's name is itself replaced, never written through. The library
| installs no signal handler: a process killed meanwhile may leave a
| hidden named temporary behind (never an unnamed one), and the target
| as it was.
|
| Threads. Each function states what it allows. The library keeps no
| global state a caller could disturb; handles are independent of each
| other. Secrets (keys, passwords, key streams) are wiped before the
| memory that held them is freed.
****************************************************************/
#ifndef TVKCRYPTO_C_H
#define TVKCRYPTO_C_H

#include <stddef.h>
#include <stdint.h>

#if defined(TVK_SHARED)
#  if defined(_WIN32) || defined(__CYGWIN__)
#    if defined(TVK_BUILDING_LIBRARY)
#      define TVK_C_API __declspec(dllexport)
#    else
#      define TVK_C_API __declspec(dllimport)
#    endif
#  elif defined(__GNUC__)
#    define TVK_C_API __attribute__((visibility("default")))
#  endif
#endif
#ifndef TVK_C_API
#  define TVK_C_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*----------------------------------------------------------------------
|   results
+---------------------------------------------------------------------*/
typedef int32_t tvk_result;

#define TVK_SUCCESS                       0
#define TVK_FAILURE                       (-1)
#define TVK_ERROR_INVALID_PARAMETERS      (-20000)
#define TVK_ERROR_PERMISSION_DENIED       (-20001)
#define TVK_ERROR_OUT_OF_MEMORY           (-20002)
#define TVK_ERROR_INTERNAL                (-20008)
#define TVK_ERROR_INVALID_STATE           (-20009)
#define TVK_ERROR_NOT_SUPPORTED           (-20013)
#define TVK_ERROR_OUT_OF_RANGE            (-20017)
#define TVK_ERROR_NO_SUCH_FILE            (-20200)
#define TVK_ERROR_FILE_BUSY               (-20202)
#define TVK_ERROR_FILE_NOT_WRITABLE       (-20205)
#define TVK_ERROR_FILE_NOT_DIRECTORY      (-20206)
#define TVK_ERROR_FILE_ALREADY_EXISTS     (-20207)
#define TVK_ERROR_FILE_NOT_ENOUGH_SPACE   (-20208)
/* errno values without a code of their own: TVK_ERROR_BASE_ERRNO - errno */
#define TVK_ERROR_BASE_ERRNO              (-22000)

/* the check-file family (NptResults.h of the C++ headers defines these
   identically: both headers may be included, in either order) */
#define TVK_ERROR_WRONG_PASSWORD          (-20400) /* the password does not match the check file */
#define TVK_ERROR_DATA_DAMAGED            (-20401) /* ciphertext does not match its check file */
#define TVK_ERROR_CHECK_FILE_DAMAGED      (-20402) /* the check file itself is cut or changed */
#define TVK_ERROR_NOT_A_CHECK_FILE        (-20403) /* or not a regular file */
#define TVK_ERROR_CHECK_FILE_UNSUPPORTED  (-20404) /* a later version, or costs refused */
#define TVK_ERROR_NO_CHECK_FILE           (-20405) /* verification required, none there */

/* Words for a result, e.g. "no such file", "wrong password"; unknown
   codes give "unknown error". Static text, never null. Any thread. */
TVK_C_API const char* tvk_result_text(tvk_result result);
/* The code's symbolic name, e.g. "NPT_ERROR_NO_SUCH_FILE",
   "TVK_ERROR_WRONG_PASSWORD". Static text, never null. Any thread. */
TVK_C_API const char* tvk_result_name(tvk_result result);

/* A byte range [offset, offset + length). */
typedef struct tvk_range {
    uint64_t offset;
    uint64_t length;
} tvk_range;

/*----------------------------------------------------------------------
|   version
+---------------------------------------------------------------------*/
/* The library's version, "MAJOR.MINOR.PATCH". Static text. Any thread. */
TVK_C_API const char* tvk_version(void);
/* The same as MAJOR << 16 | MINOR << 8 | PATCH. Any thread. */
TVK_C_API uint32_t tvk_version_number(void);

/*----------------------------------------------------------------------
|   keys and the in-place transform
+---------------------------------------------------------------------*/
#define TVK_KEY_SIZE 16

/* The format's 16-byte key of a password, into key (the first 16
   bytes of its SHA-1).
   TVK_ERROR_INVALID_PARAMETERS: null key, null password with a size,
   a zero byte in the password. Any thread. */
TVK_C_API tvk_result tvk_derive_key(const void* password, size_t password_size,
                                    uint8_t key[TVK_KEY_SIZE]);

/* A key ready for transforms: the AES key schedule, in memory that is
   wiped when the key is destroyed. Created from a password or from the
   16 bytes tvk_derive_key gives (null raw: TVK_ERROR_INVALID_PARAMETERS).
   *key is null on failure. Any thread. */
typedef struct tvk_key tvk_key;
TVK_C_API tvk_result tvk_key_create(const void* password, size_t password_size, tvk_key** key);
TVK_C_API tvk_result tvk_key_create_raw(const uint8_t raw[TVK_KEY_SIZE], tvk_key** key);
/* Wipes and frees key; null is allowed. Not while another thread uses it. */
TVK_C_API void tvk_key_destroy(tvk_key* key);

/* Encrypts or decrypts (the same operation) size bytes at data in
   place, as the bytes at stream offset offset of an encrypted file.
   Any size, including more than 4 GiB; the key stream repeats every
   4 GiB of offset, as the format does.
   TVK_ERROR_INVALID_PARAMETERS: null key, null data with a size.
   Thread-safe: several threads may transform with one key at once. */
TVK_C_API tvk_result tvk_transform(const tvk_key* key, void* data, size_t size, uint64_t offset);

/*----------------------------------------------------------------------
|   check files
|
|   A check file alone: parsed, its password verified, then ciphertext
|   verified against its block tags, for callers that read the
|   encrypted data themselves (from a managed stream, from memory).
+---------------------------------------------------------------------*/
typedef struct tvk_check tvk_check;

/* Reads and parses the check file at path (no password needed yet).
   TVK_ERROR_NO_SUCH_FILE, other file errors, TVK_ERROR_NOT_A_CHECK_FILE,
   TVK_ERROR_CHECK_FILE_DAMAGED, TVK_ERROR_CHECK_FILE_UNSUPPORTED (a
   later version, or an iteration count below the 100,000 that the
   writers use). Anything but a regular file is refused without
   blocking (TVK_ERROR_NOT_A_CHECK_FILE). *check is null on failure.
   Any thread. */
TVK_C_API tvk_result tvk_check_load(const char* path, tvk_check** check);
/* The same, from size bytes in memory (a copy is taken). Any thread. */
TVK_C_API tvk_result tvk_check_parse(const void* bytes, size_t size, tvk_check** check);
/* Derives the check file's keys from the password (about 0.2 s of
   PBKDF2) and verifies it: TVK_ERROR_WRONG_PASSWORD, or
   TVK_ERROR_CHECK_FILE_DAMAGED when the password matches but the
   file's sizes or tags were changed. One thread at a time, before any
   tvk_check_verify_data. */
TVK_C_API tvk_result tvk_check_verify_password(tvk_check* check, const void* password,
                                               size_t password_size);
/* The encrypted data's size and the check file's block size; either
   pointer may be null. Any thread. */
TVK_C_API tvk_result tvk_check_info(const tvk_check* check, uint64_t* data_size,
                                    uint32_t* block_size);
/* Verifies size bytes of ciphertext that start at data offset offset
   (a multiple of the block size, else TVK_ERROR_INVALID_PARAMETERS) and
   hold whole blocks, the last of which may end at the end of the data;
   size 0 verifies nothing. TVK_ERROR_DATA_DAMAGED for the first block
   that does not match (a block cut short or past the end of the data
   does not), with its range in *damaged (may be null).
   TVK_ERROR_INVALID_STATE before the password was verified.
   Thread-safe once the password is verified. */
TVK_C_API tvk_result tvk_check_verify_data(const tvk_check* check, uint64_t offset,
                                           const void* ciphertext, size_t size,
                                           tvk_range* damaged);
/* Frees check (wiping its keys); null is allowed. Not while another
   thread uses it. */
TVK_C_API void tvk_check_destroy(tvk_check* check);

/* The check file of the encrypted file at path, made from its
   ciphertext under the password, and committed at check_path (null:
   path + ".tvkcheck") through a temporary file and a rename: an
   existing check file is replaced only with TVK_OVERWRITE, and is left
   as it was on any failure. It cannot confirm the password: the check
   file records whichever password is given. flags: TVK_OVERWRITE. A
   check_path naming path's file, under any spelling, is refused
   (TVK_ERROR_INVALID_PARAMETERS).
   Any thread. */
TVK_C_API tvk_result tvk_check_create(const char* path, const char* check_path,
                                      const void* password, size_t password_size,
                                      unsigned flags);
/* Verifies the encrypted file at path against its check file
   (check_path null: path + ".tvkcheck"): TVK_ERROR_NO_CHECK_FILE,
   TVK_ERROR_WRONG_PASSWORD, TVK_ERROR_DATA_DAMAGED with the first
   damaged range in *damaged (may be null), the check-file and file
   errors. An encrypted file of another size than its check file says
   is damaged from the block where the two sizes part. Writes nothing.
   Any thread. */
TVK_C_API tvk_result tvk_check_verify(const char* path, const char* check_path,
                                      const void* password, size_t password_size,
                                      tvk_range* damaged);

/*----------------------------------------------------------------------
|   reading an encrypted file at any offset
+---------------------------------------------------------------------*/
/* The verify argument of tvk_reader_open and tvk_decrypt_file: one of
   these (an int there, so that any other value a binding may pass is
   refused with TVK_ERROR_INVALID_PARAMETERS rather than undefined). */
typedef enum tvk_verify {
    TVK_VERIFY_NONE       = 0, /* never look for a check file */
    TVK_VERIFY_IF_PRESENT = 1, /* use the check file when there is one */
    TVK_VERIFY_REQUIRED   = 2  /* TVK_ERROR_NO_CHECK_FILE without one */
} tvk_verify;

typedef struct tvk_reader tvk_reader;

/* Opens the encrypted file at path (a regular file, else
   TVK_ERROR_NOT_SUPPORTED) for reading. With a check file (check_path
   null: path + ".tvkcheck") the password is verified here
   (TVK_ERROR_WRONG_PASSWORD, about 0.2 s), and every read verifies the
   whole blocks it touches before it decrypts them, reading each block's
   ciphertext in slices of at most 1 MiB whatever its size; the last few
   blocks verified are kept, so that small reads in a row do not verify
   one block again and again. Without one (TVK_VERIFY_NONE, or none
   there with TVK_VERIFY_IF_PRESENT) reads decrypt whatever is there.
   *reader is null on failure. Any thread. */
TVK_C_API tvk_result tvk_reader_open(const char* path, const void* password, size_t password_size,
                                     int verify, const char* check_path,
                                     tvk_reader** reader);
/* The size of the data (the encrypted file's size when it was opened,
   which is the cleartext's). Any thread. */
TVK_C_API tvk_result tvk_reader_size(const tvk_reader* reader, uint64_t* size);
/* Whether reads are verified against a check file: 1 or 0 (0 for a
   null reader). Any thread. */
TVK_C_API int tvk_reader_verified(const tvk_reader* reader);
/* Reads up to size bytes of cleartext at offset into buffer; *bytes_read
   is less than size only at the end of the data (0 at or past it).
   TVK_ERROR_DATA_DAMAGED: a block in the range does not match its tag;
   *bytes_read counts the verified bytes before it, and *damaged (may be
   null) holds the failing block's byte range; an encrypted file of
   another size than its check file says fails in the blocks where the
   two sizes part. TVK_ERROR_INVALID_PARAMETERS: null reader or
   bytes_read, null buffer with a size. Thread-safe: several threads
   may read one reader at once (positioned reads). */
TVK_C_API tvk_result tvk_reader_read(const tvk_reader* reader, uint64_t offset, void* buffer,
                                     size_t size, size_t* bytes_read, tvk_range* damaged);
/* Closes the file and wipes the key; null is allowed. Not while
   another thread uses it. */
TVK_C_API void tvk_reader_close(tvk_reader* reader);

/*----------------------------------------------------------------------
|   writing an encrypted file
+---------------------------------------------------------------------*/
/* flags of the writer, the file form and tvk_check_create */
#define TVK_OVERWRITE      1u /* replace an existing file (and check file) */
#define TVK_NO_CHECK_FILE  2u /* write no check file */

typedef struct tvk_writer tvk_writer;

/* Starts an encrypted file at path: cleartext written in order goes
   encrypted into a temporary file beside it, with its check file
   (check_path null: path + ".tvkcheck"; none with TVK_NO_CHECK_FILE),
   and only tvk_writer_commit puts the pair in place. Without
   TVK_OVERWRITE an existing file or check file is refused
   (TVK_ERROR_FILE_ALREADY_EXISTS) here and again at the commit; a
   directory, device or FIFO at either name is refused too, and so is a
   check_path that names path's file under any spelling
   (TVK_ERROR_INVALID_PARAMETERS). Where path gets no check file at
   path + ".tvkcheck" (TVK_NO_CHECK_FILE, or one elsewhere), a check
   file there describes the old content and would refuse the new one:
   the commit removes it (and puts it back if the commit fails). The
   check file's key derivation takes about 0.2 s here. *writer is null on
   failure. Any thread. */
TVK_C_API tvk_result tvk_writer_open(const char* path, const void* password, size_t password_size,
                                     unsigned flags, const char* check_path, tvk_writer** writer);
/* Encrypts and appends size bytes (written out a check block, 512 KiB,
   at a time). With a check file, at most 2 TiB in all
   (TVK_ERROR_OUT_OF_RANGE beyond). After a failure, and after the
   commit, only destroy remains (TVK_ERROR_INVALID_STATE). One thread
   at a time. */
TVK_C_API tvk_result tvk_writer_write(tvk_writer* writer, const void* data, size_t size);
/* Syncs the data and the check file and renames both into place
   together: either both names get the new files or, on a failure, both
   keep what they had. After it (success or not) only destroy remains.
   One thread at a time. */
TVK_C_API tvk_result tvk_writer_commit(tvk_writer* writer);
/* Frees writer, wiping its key; without a successful commit the
   temporaries are removed and the target is left as it was. Null is
   allowed. Not while another thread uses it. */
TVK_C_API void tvk_writer_destroy(tvk_writer* writer);

/*----------------------------------------------------------------------
|   the file form: a whole file into another, committed safely
+---------------------------------------------------------------------*/
/* Encrypts input into output (with output's check file, as the writer
   does; flags TVK_OVERWRITE and TVK_NO_CHECK_FILE). output is replaced
   only with TVK_OVERWRITE and is left as it was on any failure. input
   and output may be the same file (with TVK_OVERWRITE: it exists).
   input may also be a FIFO or a device, read to its end. A check_path
   that names input's file is refused (TVK_ERROR_INVALID_PARAMETERS),
   and output's old check file goes as the writer's does. Two threads
   on two cores share the work of a large file. Any thread. */
TVK_C_API tvk_result tvk_encrypt_file(const char* input, const char* output,
                                      const void* password, size_t password_size,
                                      unsigned flags, const char* check_path);
/* Decrypts input into output, verifying against input's check file as
   verify says (check_path null: input + ".tvkcheck"): a wrong password
   or damaged data leaves output as it was (TVK_ERROR_DATA_DAMAGED with
   the first damaged range in *damaged, which may be null). flags:
   TVK_OVERWRITE. A check file at output + ".tvkcheck" describes
   output's old content and goes with the commit (decrypting a file
   into itself: its own check file). Any thread. */
TVK_C_API tvk_result tvk_decrypt_file(const char* input, const char* output,
                                      const void* password, size_t password_size,
                                      unsigned flags, int verify, const char* check_path,
                                      tvk_range* damaged);

#ifdef __cplusplus
}
#endif

#endif /* TVKCRYPTO_C_H */
