# The rules header and the threads-per-core computation are compiled into the test program, so
# that the once-only computation can run with its preferred source forced to fail.
target_include_directories(${exe} PRIVATE ${PROJECT_SOURCE_DIR}/src)
target_sources(${exe} PRIVATE ${PROJECT_SOURCE_DIR}/src/sysinfo/htlevel.cpp)

# ossetool sysinfo, run as a user would.
add_test(NAME ossetool.sysinfo.TextAndJson
         COMMAND ${CMAKE_COMMAND} -DEMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR}
                 -DTOOL=$<TARGET_FILE:ossetool>
                 -P ${CMAKE_CURRENT_LIST_DIR}/ossetool_sysinfo_check.cmake)
set_tests_properties(ossetool.sysinfo.TextAndJson PROPERTIES TIMEOUT 60 LABELS sysinfo)
