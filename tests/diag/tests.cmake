# The call-frame tests use the library's internal frame header.
target_include_directories(${exe} PRIVATE ${PROJECT_SOURCE_DIR}/src)
# The log-record cutter of ossetool is plain code over bytes: its tests build it in, and the
# tests of the tool itself run the built ossetool.exe.
target_sources(${exe} PRIVATE ${PROJECT_SOURCE_DIR}/tools/ossetool/logscan.cpp)
target_include_directories(${exe} PRIVATE ${PROJECT_SOURCE_DIR}/tools/ossetool)
add_dependencies(${exe} ossetool)
target_compile_definitions(${exe} PRIVATE "OSSETOOL_EXE=\"$<TARGET_FILE:ossetool>\"")
