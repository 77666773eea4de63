/* Filled in as the subsystem lands. */
#ifndef OSSE_ECF_H
#define OSSE_ECF_H

#include "osse/base.h"

#endif
