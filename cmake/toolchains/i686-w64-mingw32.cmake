# Cross-builds for 32-bit Windows (see mingw-w64-common.cmake).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(TVK_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

# Wine runs the test programs in a 32-bit prefix.
set(TVK_WINE_ARCH win32)
