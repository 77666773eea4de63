# One C source: the latch header as a C caller sees it.
target_sources(${exe} PRIVATE ${CMAKE_CURRENT_LIST_DIR}/latch_from_c.c)
