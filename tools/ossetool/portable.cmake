# The parts of ossetool that need no Windows header: the log cutter and its arguments, the
# ecf verb and its value argument, and the trap-file reader (built natively too, see native/).
set(OSSE_PORTABLE_SOURCES_ossetool
  tools/ossetool/ecf.cpp
  tools/ossetool/ecfvalue.cpp
  tools/ossetool/logargs.cpp
  tools/ossetool/logscan.cpp
  tools/ossetool/trapread.cpp)
