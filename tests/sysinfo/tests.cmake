# The rules header and the threads-per-core computation are compiled into the test program, so
# that the once-only computation can run with its preferred source forced to fail.
target_include_directories(${exe} PRIVATE ${PROJECT_SOURCE_DIR}/src)
target_sources(${exe} PRIVATE ${PROJECT_SOURCE_DIR}/src/sysinfo/htlevel.cpp)
