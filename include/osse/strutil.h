/* Filled in as the subsystem lands. */
#ifndef OSSE_STRUTIL_H
#define OSSE_STRUTIL_H

#include "osse/base.h"

#endif
