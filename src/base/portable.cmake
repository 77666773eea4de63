# Sources of this subsystem that need no Windows header (built natively too, see native/).
set(OSSE_PORTABLE_SOURCES_base
  src/base/hexdump.cpp
  src/base/int128.cpp
  src/base/strtext.cpp)
