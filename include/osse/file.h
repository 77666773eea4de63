/* Filled in as the subsystem lands. */
#ifndef OSSE_FILE_H
#define OSSE_FILE_H

#include "osse/base.h"

#endif
