/* Filled in as the subsystem lands. */
#ifndef OSSE_PRIMFILE_H
#define OSSE_PRIMFILE_H

#include "osse/base.h"

#endif
