/* Filled in as the subsystem lands. */
#ifndef OSSE_ASSERT_H
#define OSSE_ASSERT_H

#include "osse/base.h"

#endif
