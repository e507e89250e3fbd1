/*****************************************************************
| TvkEntryAlign.h - TVK_ALIGN_ENTRY marks a function that callers
| outside this code may enter with the stack aligned to 4 bytes only:
| 32-bit Windows promises no more, and code built by other compilers
| (a managed host, MSVC, the system calling back) keeps no more. There
| the function realigns its own frame; everywhere else the mark is
| empty.
****************************************************************/
#ifndef TVK_ENTRY_ALIGN_H
#define TVK_ENTRY_ALIGN_H

#if defined(_WIN32) && defined(__i386__) && defined(__GNUC__)
#  define TVK_ALIGN_ENTRY __attribute__((force_align_arg_pointer))
#else
#  define TVK_ALIGN_ENTRY
#endif

#endif /* TVK_ENTRY_ALIGN_H */
