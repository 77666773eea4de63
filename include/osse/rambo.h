/* Filled in as the subsystem lands. */
#ifndef OSSE_RAMBO_H
#define OSSE_RAMBO_H

#include "osse/base.h"

#endif
