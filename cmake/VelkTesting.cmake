# velk_add_test(NAME name SOURCES ... [LIBS ...] [LABELS unit|gui|integration] [TIMEOUT s])
# One Qt Test executable per unit, registered with CTest. Every test runs
# offscreen and with its own empty XDG_CONFIG_HOME, so no test ever sees or
# writes the user's settings or ports folder.
function(velk_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT T_LABELS)
    set(T_LABELS unit)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE Qt6::Test ${T_LIBS})
  target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
  if(WIN32)
    # Run by CTest through the toolchain's emulator (Wine), which passes the
    # Unix variables WINEQT_* on as QT_*: offscreen, messages on stderr. The
    # registry sandbox stands in for the fresh XDG_CONFIG_HOME below.
    target_sources(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support/RegistrySandbox_win.cpp)
    target_link_libraries(${T_NAME} PRIVATE advapi32)
    qt_import_plugins(${T_NAME} INCLUDE Qt6::QOffscreenIntegrationPlugin)
    add_test(NAME ${T_NAME} COMMAND ${T_NAME})
    set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABELS}" TIMEOUT ${T_TIMEOUT}
      ENVIRONMENT "WINEQT_QPA_PLATFORM=offscreen;WINEQT_FORCE_STDERR_LOGGING=1;QT_QPA_PLATFORM=offscreen;QT_FORCE_STDERR_LOGGING=1")
    return()
  endif()
  set(home ${CMAKE_CURRENT_BINARY_DIR}/${T_NAME}-home)
  add_test(NAME ${T_NAME}
           COMMAND ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY
                   QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME=${home}
                   VELK_BINARY_DIR=${CMAKE_BINARY_DIR}
                   ${CMAKE_COMMAND} -P ${PROJECT_SOURCE_DIR}/cmake/RunInFreshHome.cmake
                   ${home} $<TARGET_FILE:${T_NAME}>)
  set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABELS}" TIMEOUT ${T_TIMEOUT})
endfunction()
