/* Filled in as the subsystem lands. */
#ifndef OSSE_LOG_H
#define OSSE_LOG_H

#include "osse/base.h"

#endif
