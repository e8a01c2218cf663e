# velk_add_fuzzer(NAME name SOURCES ... [LIBS ...])
# With clang, a libFuzzer executable. With another compiler, the same target
# linked to a small driver that replays the inputs named on its command line
# (files or folders), so the targets still build and replay crashes anywhere.
include_guard(GLOBAL)

if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  # Coverage feedback must reach into the libraries under test, not only the
  # target's own source. Instrumented objects need the sanitizer runtime's
  # coverage hooks, which every sanitizer build links; without a sanitizer the
  # libraries stay plain and the fuzzers are guided by their own code only.
  if(VELK_SANITIZE)
    foreach(lib velk_framing velk_platform velk_platform_fake velk_session velk_utilities velk_ui
              velkctl_core)
      if(TARGET ${lib})
        target_compile_options(${lib} PRIVATE -fsanitize=fuzzer-no-link)
      endif()
    endforeach()
  else()
    message(STATUS "Fuzz targets: no VELK_SANITIZE, so the libraries are not coverage-instrumented")
  endif()
else()
  message(STATUS "Fuzz targets: ${CMAKE_CXX_COMPILER_ID} has no libFuzzer, building replay drivers")
endif()

function(velk_add_fuzzer)
  cmake_parse_arguments(F "" "NAME" "SOURCES;LIBS" ${ARGN})
  set(common ${CMAKE_CURRENT_FUNCTION_LIST_DIR})
  add_executable(${F_NAME} ${F_SOURCES} ${common}/FuzzInput.h)
  target_include_directories(${F_NAME} PRIVATE ${common})
  target_link_libraries(${F_NAME} PRIVATE ${F_LIBS})
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    target_compile_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
    target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
  else()
    target_sources(${F_NAME} PRIVATE ${common}/ReplayMain.cpp)
  endif()
  # Every fuzzer sits in one folder, so scripts/fuzz.sh finds them by name.
  set_target_properties(${F_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz/bin
                        AUTOMOC OFF AUTOUIC OFF AUTORCC OFF)
endfunction()
