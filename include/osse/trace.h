/* Filled in as the subsystem lands. */
#ifndef OSSE_TRACE_H
#define OSSE_TRACE_H

#include "osse/base.h"

#endif
