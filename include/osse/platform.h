/* Filled in as the subsystem lands. */
#ifndef OSSE_PLATFORM_H
#define OSSE_PLATFORM_H

#include "osse/base.h"

#endif
