# Debian package of what `cmake --install` puts in place, less the
# managed binding: the tool, the library, its headers and CMake and
# pkg-config files, the man page and the shell completions. Made with
# `cpack -G DEB` in a build tree configured with
# -DCMAKE_INSTALL_PREFIX=/usr, so that the library lands in Debian's
# multiarch folder and the zsh completion where Debian's zsh looks.
#
# Dependencies are computed by dpkg-shlibdeps (from dpkg-dev) when it is
# there; without it the package declares none.

set(CPACK_PACKAGE_NAME tvkcrypt)
set(CPACK_PACKAGE_VENDOR "tvkcrypto developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "encrypt and decrypt files with a password (tvkcrypto format)")
set(CPACK_PACKAGE_DESCRIPTION
  "tvkcrypt encrypts and decrypts files and pipes with a password in the
tvkcrypto format: AES-128 in a counter mode with one AES block per
1024-byte chunk, keyed by the SHA-1 digest of the password, with no
header and no checksum. The package also holds the tvkcrypto C++
library, its headers, and its CMake and pkg-config files.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_GENERATOR DEB)
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build/" "/build-bench/")

set(TVK_PACKAGE_MAINTAINER "tvkcrypto developers <developers@tvkcrypto.org>"
  CACHE STRING "Maintainer named in the Debian package")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TVK_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Debian's rules (lintian): stripped binaries (the debug information
# stays in the build tree), the licence as the package's copyright file
# and a changelog beside it, compressed, and the dynamic linker's cache
# refreshed when the shared library comes or goes
set(CPACK_STRIP_FILES ON)
find_program(TVK_GZIP gzip)
if(TVK_GZIP)
  set(tvk_doc_dir ${PROJECT_BINARY_DIR}/package-doc)
  file(MAKE_DIRECTORY ${tvk_doc_dir})
  string(TIMESTAMP tvk_changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
  file(WRITE ${tvk_doc_dir}/changelog
    "tvkcrypt (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
    "  * Release ${PROJECT_VERSION} of tvkcrypto: see README.md.\n\n"
    " -- ${TVK_PACKAGE_MAINTAINER}  ${tvk_changelog_date}\n")
  execute_process(COMMAND ${TVK_GZIP} -9nf ${tvk_doc_dir}/changelog)
  install(FILES ${tvk_doc_dir}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()
# the package's copyright file, in Debian's machine-readable form (the
# licence's full text is on every Debian system)
install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
if(BUILD_SHARED_LIBS)
  install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/lintian-overrides
    DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME tvkcrypt)
  file(WRITE ${PROJECT_BINARY_DIR}/package-control/triggers "activate-noawait ldconfig\n")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/package-control/triggers)
endif()
find_program(TVK_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(TVK_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  if(BUILD_SHARED_LIBS)
    # the package's own library satisfies the tool's dependency on it
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
      ${PROJECT_BINARY_DIR})
  endif()
endif()
if(BUILD_SHARED_LIBS)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
endif()

# the managed binding needs Mono at run time: not part of this package
get_cmake_property(CPACK_COMPONENTS_ALL COMPONENTS)
list(REMOVE_ITEM CPACK_COMPONENTS_ALL managed)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)

include(CPack)
