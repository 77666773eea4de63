# The stream test drives ossetool's named trace and drainer.
target_compile_definitions(${exe} PRIVATE OSSETOOL_EXE="$<TARGET_FILE:ossetool>")
add_dependencies(${exe} ossetool)
