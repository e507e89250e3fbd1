/*****************************************************************
| TvkManagedNative.h - the C interface that the managed assembly
| TVKCryptoWrapper.dll reaches by P/Invoke.
|
| One call of the managed Helper is one run object: tvk_managed_run
| wraps the caller's pinned bytes without copying them, runs the
| password encryption or decryption into a string output stream and
| hands back the run; the caller copies the result out through
| tvk_managed_result_text or tvk_managed_result_bytes and then gives
| the run to tvk_managed_release, which frees everything the run made.
| The caller's bytes must stay pinned until tvk_managed_release
| returns, because the run reads them in place.
|
| No C++ exception leaves these functions: a failed allocation becomes
| NPT_ERROR_OUT_OF_MEMORY. A run object belongs to the thread that
| uses it; distinct runs may proceed on different threads at once.
****************************************************************/
#ifndef TVK_MANAGED_NATIVE_H
#define TVK_MANAGED_NATIVE_H

#include "NptTypes.h"
#include "NptResults.h"

#if defined(_WIN32)
#define TVK_MANAGED_EXPORT __declspec(dllexport)
#else
#define TVK_MANAGED_EXPORT __attribute__((visibility("default")))
#endif

struct TVK_ManagedRun;

extern "C" {

// Encrypts (direction 0) or decrypts (any other direction) size bytes
// at data with the zero-terminated password. data may be null when
// size is 0. Stores a new run in *run and returns the run's result
// code; the run holds what was produced, also when that code is a
// failure. Returns NPT_ERROR_INVALID_PARAMETERS with *run null when
// password or run is null, or data is null with size above 0, and
// NPT_ERROR_OUT_OF_MEMORY with *run null when memory runs out before
// the run exists.
TVK_MANAGED_EXPORT NPT_Result tvk_managed_run(const char*     password,
                                              NPT_Int32       direction,
                                              const NPT_Byte* data,
                                              NPT_UInt32      size,
                                              TVK_ManagedRun** run);

// Takes a copy of the produced bytes, kept in the run, and returns its
// zero-terminated characters (the empty string for no output or a null
// run; null only when the copy cannot be allocated). Valid until
// tvk_managed_release.
TVK_MANAGED_EXPORT const char* tvk_managed_result_text(TVK_ManagedRun* run);

// Returns the produced bytes in place and stores their count in
// *length (when given). Never null; valid until tvk_managed_release.
TVK_MANAGED_EXPORT const NPT_Byte* tvk_managed_result_bytes(TVK_ManagedRun* run,
                                                            NPT_UInt32*     length);

// Releases the text copy, the output stream with its string, the input
// stream and the borrowed buffer, in that order, then the run. A null
// run is ignored.
TVK_MANAGED_EXPORT void tvk_managed_release(TVK_ManagedRun* run);

}

#endif // TVK_MANAGED_NATIVE_H
