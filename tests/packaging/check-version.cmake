# The version is spelled once, in project() of the top CMakeLists.txt. This
# script (cmake -P, run by the test version_matches_changelog) checks what
# must agree with it: the top entry of debian/changelog, which names the
# packages' version, and the core/version.h the build made from it, which no
# hand-written core/version.h in the source tree may shadow.
#   cmake -DVERSION=... -DSOURCE_DIR=... -DVERSION_HEADER=... -P check-version.cmake
foreach(var VERSION SOURCE_DIR VERSION_HEADER)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "check-version: ${var} not given")
  endif()
endforeach()

# "kestrel (1.3.3.3) unstable; urgency=medium", or with a Debian revision
# "kestrel (1.3.3.3-1) ...": the upstream part must be project()'s version.
file(STRINGS ${SOURCE_DIR}/debian/changelog top LIMIT_COUNT 1)
if(NOT top MATCHES "^kestrel \\(([^)]+)\\) ")
  message(FATAL_ERROR "check-version: debian/changelog's first line is not an entry: '${top}'")
endif()
set(packaged ${CMAKE_MATCH_1})
string(REGEX REPLACE "-[^-]*$" "" upstream ${packaged})
if(NOT upstream STREQUAL VERSION)
  message(FATAL_ERROR "check-version: debian/changelog's top entry is ${packaged}, project() says ${VERSION}; "
                      "add a changelog entry (dch -v ${VERSION}) or correct project(Kestrel VERSION ...)")
endif()

file(READ ${VERSION_HEADER} header)
string(FIND "${header}" "kProductVersion = \"${VERSION}\";" at)
if(at EQUAL -1)
  message(FATAL_ERROR "check-version: ${VERSION_HEADER} does not carry ${VERSION}; re-run cmake")
endif()
if(EXISTS ${SOURCE_DIR}/core/version.h)
  message(FATAL_ERROR "check-version: core/version.h in the source tree shadows the one made from project(); "
                      "remove it (core/version.h.in is the template)")
endif()
message(STATUS "version ${VERSION}: project(), debian/changelog and core/version.h agree")
