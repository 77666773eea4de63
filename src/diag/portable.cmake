# Sources of this subsystem that need no Windows header (built natively too, see native/): the
# error-number tables, the text of a log record, and the rule headers that the tests compile (listed so that the native
# build checks them for Windows headers and reports their coverage).
set(OSSE_PORTABLE_SOURCES_diag
  src/diag/analysis_rules.h
  src/diag/logformat.cpp
  src/diag/oserrors.cpp
  src/diag/platform_rules.h
  src/diag/security_rules.h)
