# Build options shared by every target.
# A Windows cross build has Qt only through Qt's own toolchain file (a Qt built
# by scripts/build-qt-windows.sh); with the plain MinGW toolchain it builds the
# Qt-free layers, the tools and the plain tests.
set(velk_qt_default ON)
if(WIN32 AND CMAKE_CROSSCOMPILING)
  find_package(Qt6 QUIET COMPONENTS Core)
  if(NOT Qt6_FOUND)
    set(velk_qt_default OFF)
  endif()
endif()
option(VELK_WITH_QT "Build the Qt layers, the dialog and the Qt tests" ${velk_qt_default})
option(VELK_BUILD_TESTS "Build the tests" ON)
option(VELK_BUILD_BENCH "Build the benchmarks" ON)
option(VELK_BUILD_FUZZ "Build the libFuzzer targets (needs clang)" OFF)
option(VELK_WERROR "Treat warnings as errors" OFF)
set(VELK_SANITIZE "" CACHE STRING "Sanitizers: empty, 'address' (ASan+UBSan) or 'thread' (TSan)")
set_property(CACHE VELK_SANITIZE PROPERTY STRINGS "" address thread)

add_compile_options(-Wall -Wextra -Wpedantic)
# Qt Test's main macros pass an empty variadic argument, which clang's
# -Wpedantic reports; the construct is Qt's, not ours.
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  add_compile_options(-Wno-gnu-zero-variadic-macro-arguments)
endif()
if(VELK_WERROR)
  add_compile_options(-Werror)
endif()

if(VELK_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(VELK_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT VELK_SANITIZE STREQUAL "")
  message(FATAL_ERROR "VELK_SANITIZE must be empty, 'address' or 'thread'")
endif()

# Adds every direct sub-folder of DIR that holds a CMakeLists.txt.
function(velk_add_subdirectories dir)
  file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}/${dir}
       ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*)
  list(SORT children)
  foreach(child ${children})
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/${child}/CMakeLists.txt)
      add_subdirectory(${dir}/${child})
    endif()
  endforeach()
endfunction()
