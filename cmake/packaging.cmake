# The release packages cpack makes from a build tree (scripts/package.sh runs it), named with
# the version and the target: a zip for each Windows target; a tar.gz and a Debian package on
# Linux.
set(CPACK_PACKAGE_NAME qor3)
set(CPACK_PACKAGE_VENDOR "qor3 developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "embedded search engine for telephone listings in compressed dictionary files")
# The licence the packages carry: the project's, and libdeflate's notice where the library has
# it linked in.
set(QOR3_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
if(QOR3_LIBDEFLATE)
  if(WIN32)
    set(QOR3_LIBDEFLATE_NOTICE ${QOR3_LIBDEFLATE_SOURCE}/COPYING)
  else()
    find_file(QOR3_LIBDEFLATE_NOTICE copyright PATHS /usr/share/doc/libdeflate-dev NO_DEFAULT_PATH)
  endif()
  if(QOR3_LIBDEFLATE_NOTICE)
    file(READ ${PROJECT_SOURCE_DIR}/LICENSE own)
    file(READ ${QOR3_LIBDEFLATE_NOTICE} notice)
    set(QOR3_LICENSE ${PROJECT_BINARY_DIR}/LICENSE)
    file(WRITE ${QOR3_LICENSE} "${own}\nThe library contains libdeflate, which inflates its blocks:\n\n${notice}")
  endif()
endif()
set(CPACK_RESOURCE_FILE_LICENSE ${QOR3_LICENSE})
set(CPACK_STRIP_FILES ON)
if(WIN32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(CPACK_PACKAGE_FILE_NAME qor3-${PROJECT_VERSION}-win32)
  else()
    set(CPACK_PACKAGE_FILE_NAME qor3-${PROJECT_VERSION}-win64)
  endif()
  set(CPACK_GENERATOR ZIP)
  # cpack installs what package.sh built (the DLL, its import libraries and the tools), without
  # building the rest of the tree (the test exe) first.
  set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
  install(FILES README.md ${QOR3_LICENSE} DESTINATION .)
else()
  set(CPACK_GENERATOR "TGZ;DEB")
  set(CPACK_PACKAGE_FILE_NAME qor3-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR})
  install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES ${QOR3_LICENSE} DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "qor3 maintainers <maintainers@qor3.example.org>")
  set(CPACK_DEBIAN_PACKAGE_SECTION libs)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
  file(WRITE ${PROJECT_BINARY_DIR}/triggers "activate-noawait ldconfig\n")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/triggers)
  # The Python package qor3 is installed with the library.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS python3)
  string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "qor3 answers who has a telephone number and which listings of a region\n"
      "have a name like a pattern, over read-only dictionary files of Japanese\n"
      "listings. The package holds the shared library with its header,\n"
      "pkg-config and CMake package files, the Python package qor3, the qor and\n"
      "qor-mkdict commands with their area code lists, and the qor-serve HTTP\n"
      "server with its systemd unit.")
  # A native package's changelog, compressed as Debian installs it.
  string(TIMESTAMP QOR3_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
  file(WRITE ${PROJECT_BINARY_DIR}/changelog
       "qor3 (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
       "  * Release ${PROJECT_VERSION}.\n\n"
       " -- ${CPACK_DEBIAN_PACKAGE_MAINTAINER}  ${QOR3_CHANGELOG_DATE}\n")
  execute_process(COMMAND gzip -9nf ${PROJECT_BINARY_DIR}/changelog)
  install(FILES ${PROJECT_BINARY_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()
include(CPack)
