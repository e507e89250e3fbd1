/*****************************************************************
| NptExport.h - marks the library's public classes, functions and
| data for export from a shared library.
|
| NPT_EXPORT stands before the name of every class, free function and
| global of the installed headers. When the library is built as a
| shared library (TVK_SHARED defined), everything else is compiled with
| hidden visibility, so only what carries NPT_EXPORT is visible to
| programs that link it: on GCC and clang it makes the symbol visible,
| on Windows it exports it from the DLL being built
| (TVK_BUILDING_LIBRARY) and imports it into the programs that use it.
| In a static build it expands to nothing, so a program that links the
| static library into a shared object of its own does not re-export it.
| Defines a macro only: no objects, no threads, no failures.
****************************************************************/
#ifndef NPT_EXPORT_H
#define NPT_EXPORT_H

#if defined(TVK_SHARED)
#  if defined(_WIN32) || defined(__CYGWIN__)
#    if defined(TVK_BUILDING_LIBRARY)
#      define NPT_EXPORT __declspec(dllexport)
#    else
#      define NPT_EXPORT __declspec(dllimport)
#    endif
#  elif defined(__GNUC__)
#    define NPT_EXPORT __attribute__((visibility("default")))
#  endif
#endif

#ifndef NPT_EXPORT
#  define NPT_EXPORT
#endif

#endif // NPT_EXPORT_H
