# The wait-result tests use the library's internal header.
target_include_directories(${exe} PRIVATE ${PROJECT_SOURCE_DIR}/src)
