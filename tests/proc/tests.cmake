# The process and library tests use two small programs of their own, built from testdll/ (which
# the test program's glob does not reach) and placed beside the test program: a library to load,
# and a child that only ends with a given code.
add_library(osse_testdll SHARED ${CMAKE_CURRENT_LIST_DIR}/testdll/testdll.cpp)
set_target_properties(osse_testdll PROPERTIES PREFIX "" OUTPUT_NAME osse_testdll
                      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
target_link_options(osse_testdll PRIVATE ${OSSE_STATIC_RUNTIME})

add_executable(osse_exitcode ${CMAKE_CURRENT_LIST_DIR}/testdll/exitcode.cpp)
set_target_properties(osse_exitcode PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
target_link_options(osse_exitcode PRIVATE ${OSSE_STATIC_RUNTIME})

add_dependencies(${exe} osse_testdll osse_exitcode)
