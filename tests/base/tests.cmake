# Expected results of the 128-bit integer tests, computed with Python's unbounded integers at
# build time and written into the build tree (the cross compiler has no 128-bit type to check
# against).
find_package(Python3 COMPONENTS Interpreter REQUIRED)
set(int128_vectors_dir ${CMAKE_CURRENT_BINARY_DIR}/${exe}_generated)
add_custom_command(
  OUTPUT ${int128_vectors_dir}/int128_vectors.h
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/int128_vectors.py
          ${int128_vectors_dir}/int128_vectors.h
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/int128_vectors.py
  COMMENT "Generating 128-bit integer test vectors"
  VERBATIM)
target_sources(${exe} PRIVATE ${int128_vectors_dir}/int128_vectors.h)
target_include_directories(${exe} PRIVATE ${int128_vectors_dir})
