# Installs the built project into a scratch prefix, then builds and runs
# two tiny outside programs against it twice: a C++ one and README's C
# example of <TvkCrypto/c.h> (reading a stored encrypted file at an
# offset), as a CMake project that finds the package with
# find_package(TvkCrypto CONFIG REQUIRED), and compiled directly with
# the flags of `pkg-config --cflags --libs tvkcrypto` (--static for the
# C program, which needs the C++ runtime of a static library). When the
# managed binding was built, a C# program also runs against the
# installed assembly and its native library.
#
# Variables: SOURCE_DIR, BUILD_DIR, WORK_DIR, SANITIZE, CXX, CC,
# PKG_CONFIG (optional), MCS and MONO (optional, with MANAGED_DIR: the
# installed folder of the assembly, relative to the prefix).
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
set(consumer_source ${SOURCE_DIR}/tests/install/consumer)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT code EQUAL 0)
    message(FATAL_ERROR "command failed (${code}): ${ARGN}\n${out}\n${err}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()

# The consumer prints the FIPS-197 C.1 ciphertext and a round-trip line.
function(check_consumer_output how output)
  message(STATUS "consumer (${how}) output:\n${output}")
  if(NOT output MATCHES "69c4e0d86a7b0430d8cdb78070b4c55a" OR NOT output MATCHES "round trip ok")
    message(FATAL_ERROR "unexpected consumer output (${how}): ${output}")
  endif()
endfunction()

# README's C example and the stored file it reads
function(check_c_consumer how program)
  run(${program} ${SOURCE_DIR}/tests/data/readme-example.tvk "example password" 4)
  message(STATUS "C consumer (${how}) output:\n${last_output}")
  if(NOT last_output MATCHES "^README's C example reads these 64 bytes from the middle of files")
    message(FATAL_ERROR "unexpected C consumer output (${how}): ${last_output}")
  endif()
endfunction()
include(${SOURCE_DIR}/cmake/TvkReadmeExample.cmake)
tvk_readme_example(${SOURCE_DIR}/README.md ${WORK_DIR}/example.c)

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

set(flags "")
if(SANITIZE)
  set(flags "-fsanitize=address,undefined")
endif()

# 1. CMake package
run(${CMAKE_COMMAND} -S ${consumer_source} -B ${WORK_DIR}/build
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_C_COMPILER=${CC} -DTVK_C_EXAMPLE=${WORK_DIR}/example.c
    "-DCMAKE_CXX_FLAGS=${flags}" "-DCMAKE_C_FLAGS=${flags}" "-DCMAKE_EXE_LINKER_FLAGS=${flags}")
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
run(${WORK_DIR}/build/consumer)
check_consumer_output("find_package" "${last_output}")
check_c_consumer("find_package" ${WORK_DIR}/build/c_consumer)

# 2. pkg-config, found beside the CMake package
file(GLOB_RECURSE pc_files ${prefix}/*/tvkcrypto.pc)
if(NOT pc_files)
  message(FATAL_ERROR "tvkcrypto.pc was not installed under ${prefix}")
endif()
if(PKG_CONFIG)
  list(GET pc_files 0 pc_file)
  get_filename_component(pc_dir ${pc_file} DIRECTORY)
  set(ENV{PKG_CONFIG_PATH} ${pc_dir})
  run(${PKG_CONFIG} --cflags --libs tvkcrypto)
  string(STRIP "${last_output}" pc_flags)
  separate_arguments(pc_flags UNIX_COMMAND "${pc_flags}")
  separate_arguments(extra UNIX_COMMAND "${flags}")
  # a shared library is found at run time through the run path
  run(${PKG_CONFIG} --variable=libdir tvkcrypto)
  string(STRIP "${last_output}" pc_libdir)
  run(${CXX} -std=c++17 ${extra} ${consumer_source}/main.cpp ${pc_flags}
      -Wl,-rpath,${pc_libdir} -o ${WORK_DIR}/consumer_pkgconfig)
  run(${WORK_DIR}/consumer_pkgconfig)
  check_consumer_output("pkg-config" "${last_output}")
  run(${PKG_CONFIG} --cflags --libs --static tvkcrypto)
  string(STRIP "${last_output}" pc_static_flags)
  separate_arguments(pc_static_flags UNIX_COMMAND "${pc_static_flags}")
  run(${CC} -std=c99 ${extra} ${WORK_DIR}/example.c ${pc_static_flags}
      -Wl,-rpath,${pc_libdir} -o ${WORK_DIR}/c_consumer_pkgconfig)
  check_c_consumer("pkg-config" ${WORK_DIR}/c_consumer_pkgconfig)
  run(${PKG_CONFIG} --variable=License tvkcrypto)
else()
  message(STATUS "pkg-config not found: the pkg-config build is skipped")
endif()

# 3. managed binding
if(MCS AND MONO AND MANAGED_DIR)
  set(managed ${prefix}/${MANAGED_DIR})
  foreach(file TVKCryptoWrapper.dll libTVKCryptoWrapperNative.so)
    if(NOT EXISTS ${managed}/${file})
      message(FATAL_ERROR "${file} was not installed in ${managed}")
    endif()
  endforeach()
  run(${MCS} -nologo -r:${managed}/TVKCryptoWrapper.dll
      -out:${WORK_DIR}/ManagedConsumer.exe ${consumer_source}/ManagedConsumer.cs)
  set(ENV{MONO_PATH} ${managed})
  run(${MONO} ${WORK_DIR}/ManagedConsumer.exe)
  message(STATUS "managed consumer output:\n${last_output}")
  if(NOT last_output MATCHES "round trip ok")
    message(FATAL_ERROR "unexpected managed consumer output: ${last_output}")
  endif()
endif()
