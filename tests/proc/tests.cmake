# The process and library tests: a small library of our own to load (built from testdll/, which
# the test program's glob does not reach), placed beside the test program.
add_library(osse_testdll SHARED ${CMAKE_CURRENT_LIST_DIR}/testdll/testdll.cpp)
set_target_properties(osse_testdll PROPERTIES PREFIX "" OUTPUT_NAME osse_testdll
                      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
target_link_options(osse_testdll PRIVATE ${OSSE_STATIC_RUNTIME})
add_dependencies(${exe} osse_testdll)
