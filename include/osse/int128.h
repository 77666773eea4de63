/* Filled in as the subsystem lands. */
#ifndef OSSE_INT128_H
#define OSSE_INT128_H

#include "osse/base.h"

#endif
