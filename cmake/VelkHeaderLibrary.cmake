# velk_find_header_library(PACKAGE name TARGET target DIRECTORY dir [VERSION v])
# Finds a header-only library from Debian's packages as find_package does and
# defines TARGET. A Windows cross build finds no such package for its target
# (find_package looks only under the MinGW root), so there the build
# machine's copy is lent: /usr/include/<dir> alone, through a link in a folder
# of the build, never the rest of the machine's /usr/include.
include_guard(GLOBAL)

function(velk_find_header_library)
  cmake_parse_arguments(H "" "PACKAGE;TARGET;DIRECTORY;VERSION" "" ${ARGN})
  if(TARGET ${H_TARGET})
    return()
  endif()
  find_package(${H_PACKAGE} ${H_VERSION} QUIET)
  if(TARGET ${H_TARGET})
    return()
  endif()
  if(CMAKE_CROSSCOMPILING AND EXISTS /usr/include/${H_DIRECTORY})
    set(include ${CMAKE_BINARY_DIR}/host-include/${H_DIRECTORY})
    file(MAKE_DIRECTORY ${include})
    file(CREATE_LINK /usr/include/${H_DIRECTORY} ${include}/${H_DIRECTORY} SYMBOLIC)
    add_library(${H_TARGET} INTERFACE IMPORTED GLOBAL)
    set_target_properties(${H_TARGET} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${include})
    return()
  endif()
  find_package(${H_PACKAGE} ${H_VERSION} REQUIRED)
endfunction()
