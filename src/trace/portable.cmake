# Trace sources that include no Windows header: the dump decoding over a memory image and the
# ring's reservation and publication (atomics and memory only). Paths from the repository root.
set(OSSE_PORTABLE_SOURCES_trace
  src/trace/dumpcore.cpp
  src/trace/ring_core.cpp
)
