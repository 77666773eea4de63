# The call-frame tests use the library's internal frame header.
target_include_directories(${exe} PRIVATE ${PROJECT_SOURCE_DIR}/src)
