/* Filled in as the subsystem lands. */
#ifndef OSSE_LATCH_H
#define OSSE_LATCH_H

#include "osse/base.h"

#endif
