# The out-of-memory loops also run the built ossetool.exe under the fail-the-nth counter.
add_dependencies(${exe} ossetool)
target_compile_definitions(${exe} PRIVATE OSSETOOL_EXE="$<TARGET_FILE:ossetool>")
