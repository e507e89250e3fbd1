# Tests of the managed binding's native DLL in the Windows builds,
# included from managed/CMakeLists.txt once the DLL target exists.
#
# managed_native_dll_tables: the cross toolchain's objdump reads the
# DLL's headers: the machine type, exactly the entry points (Helper's
# four and the C interface) under their plain names, and imports from
# system DLLs only.
#
# tests_managed_native: a program beside the DLL loads it by its bare
# name, as the assembly's runtime does, and drives the four entry points
# through the shared password-format vectors.
find_program(TVK_MINGW_OBJDUMP NAMES ${TVK_MINGW_TRIPLET}-objdump ${CMAKE_OBJDUMP})
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(tvk_dll_machine x86-64)
else()
  set(tvk_dll_machine i386)
endif()
if(TVK_MINGW_OBJDUMP)
  add_test(NAME managed_native_dll_tables
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/check_native_dll.sh
      ${TVK_MINGW_OBJDUMP} $<TARGET_FILE:tvk_managed_native> ${tvk_dll_machine})
else()
  add_test(NAME managed_native_dll_tables
    COMMAND ${CMAKE_COMMAND} -E echo "SKIPPED: no objdump for ${TVK_MINGW_TRIPLET}")
  set_tests_properties(managed_native_dll_tables PROPERTIES SKIP_REGULAR_EXPRESSION "SKIPPED:")
endif()

if(CMAKE_CROSSCOMPILING)
  set(tvk_managed_test_data "Z:${PROJECT_SOURCE_DIR}/tests/data")  # Wine's view
else()
  set(tvk_managed_test_data "${PROJECT_SOURCE_DIR}/tests/data")
endif()
add_executable(tests_managed_native ${CMAKE_CURRENT_LIST_DIR}/TvkManagedNativeWin32Test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MisalignedCallWin32.cpp)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  # a caller that keeps only the 4-byte stack alignment 32-bit Windows
  # promises, unlike GCC's own 16 bytes
  set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/MisalignedCallWin32.cpp PROPERTIES
    COMPILE_OPTIONS "-mpreferred-stack-boundary=2;-fno-optimize-sibling-calls")
endif()
# Headers only: the program reaches the library through the DLL alone.
target_link_libraries(tests_managed_native PRIVATE tvk_headers GTest::gtest GTest::gtest_main)
target_include_directories(tests_managed_native PRIVATE
  ${PROJECT_SOURCE_DIR}/tests/support ${PROJECT_SOURCE_DIR}/managed)
target_compile_definitions(tests_managed_native PRIVATE
  TVK_TEST_DATA_DIR="${tvk_managed_test_data}" TVK_TEST_VERSION="${PROJECT_VERSION}")
set_target_properties(tests_managed_native PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${TVK_MANAGED_DIR})
add_dependencies(tests_managed_native tvk_managed_native)
tvk_register_tests(tests_managed_native)
