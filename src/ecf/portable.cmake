# Sources of this subsystem that need no Windows header (built natively too, see native/). The
# name tables generated from the .def lists (subsystem.cmake) come with them.
set(OSSE_PORTABLE_SOURCES_ecf
  src/ecf/ecf.cpp)
