# The frame-walk tests use the walk's own header; the trap-file tests run ossetool on the
# files they write.
target_include_directories(${exe} PRIVATE ${PROJECT_SOURCE_DIR}/src)
add_dependencies(${exe} ossetool)
target_compile_definitions(${exe} PRIVATE OSSETOOL_EXE="$<TARGET_FILE:ossetool>")
# The checked-in trap files that the tool of either build must read.
target_compile_definitions(${exe} PRIVATE OSSE_FAULT_FIXTURES="${dir}")
