/* Filled in as the subsystem lands. */
#ifndef OSSE_MEM_H
#define OSSE_MEM_H

#include "osse/base.h"

#endif
