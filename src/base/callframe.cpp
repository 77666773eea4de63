// Process-wide state of the call frame.
#include "base/callframe.h"
