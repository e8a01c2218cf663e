# cmake -P RunInFreshHome.cmake <home> <executable> [args...]
# Empties the test's configuration folder, then runs the test in it.
set(args)
math(EXPR last "${CMAKE_ARGC} - 1")
set(home "${CMAKE_ARGV3}")
foreach(i RANGE 4 ${last})
  list(APPEND args "${CMAKE_ARGV${i}}")
endforeach()
file(REMOVE_RECURSE "${home}")
file(MAKE_DIRECTORY "${home}")
execute_process(COMMAND ${args} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "test exited with ${rc}")
endif()
