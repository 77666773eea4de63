# The campaign runs ossetool as a participant and reads trace dumps with the trace tests'
# helpers; it is one long test with its own bound on every wait.
target_include_directories(${exe} PRIVATE ${PROJECT_SOURCE_DIR}/src)
add_dependencies(${exe} ossetool)
target_compile_definitions(${exe} PRIVATE OSSETOOL_EXE="$<TARGET_FILE:ossetool>")
# The short run takes about two minutes; its own bounds report a hang long before this.
set(sub_timeout 300)
