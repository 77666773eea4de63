# The error-code name tables are data: gen_tables.py expands inventory.txt and the .def lists
# into one generated source of const arrays.
find_package(Python3 COMPONENTS Interpreter REQUIRED)
set(ecf_src ${CMAKE_CURRENT_LIST_DIR})
set(ecf_tables_cpp ${CMAKE_CURRENT_BINARY_DIR}/ecf/ecf_tables.cpp)
add_custom_command(
  OUTPUT ${ecf_tables_cpp}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/ecf
  COMMAND ${Python3_EXECUTABLE} ${ecf_src}/gen_tables.py ${ecf_src} ${ecf_tables_cpp}
  DEPENDS ${ecf_src}/gen_tables.py ${ecf_src}/inventory.txt ${ecf_src}/oss_functions.def
          ${ecf_src}/sys_functions.def ${ecf_src}/oss_codes.def
  COMMENT "Generating the error-code name tables"
  VERBATIM)
# Nothing but data: no debug information or optimisation to spend time on.
set_source_files_properties(${ecf_tables_cpp} PROPERTIES GENERATED TRUE COMPILE_OPTIONS "-g0;-O0")
target_sources(NRVOSSE PRIVATE ${ecf_tables_cpp})
