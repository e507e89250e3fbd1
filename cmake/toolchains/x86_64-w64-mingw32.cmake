# Cross-builds for 64-bit Windows (see mingw-w64-common.cmake).
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(TVK_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

# Wine runs the test programs in a 64-bit prefix.
set(TVK_WINE_ARCH win64)
