/* Filled in as the subsystem lands. */
#ifndef OSSE_TICK_H
#define OSSE_TICK_H

#include "osse/base.h"

#endif
