# Sources of this subsystem that need no Windows header (built natively too, see native/): the
# decisions of the queries on their inputs, a header that the tests compile (listed so that the
# native build checks it for Windows headers and reports its coverage).
set(OSSE_PORTABLE_SOURCES_sysinfo
  src/sysinfo/sysinfo_rules.h)
