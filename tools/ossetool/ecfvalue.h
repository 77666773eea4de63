// The value argument of `ossetool ecf`: a return code or function identifier as the user types
// it. Plain C++ (no Windows header), so that it also builds natively for sanitizers and fuzzing.
#ifndef OSSETOOL_ECFVALUE_H
#define OSSETOOL_ECFVALUE_H

#include "osse/base.h"

// Parses "0x..." as hexadecimal and anything else as decimal, a negative decimal as the 32-bit
// pattern of that signed value; the whole text must be used.
bool parseEcfValue(const char* text, Uint32* value);

#endif
