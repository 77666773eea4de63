/* Filled in as the subsystem lands. */
#ifndef OSSE_ERROR_H
#define OSSE_ERROR_H

#include "osse/base.h"

#endif
