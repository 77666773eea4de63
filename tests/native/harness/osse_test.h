// Native stand-in for the Windows test harness header: the unit tests built natively use
// GoogleTest alone (no child processes, no scratch folders on a Windows drive).
#ifndef OSSE_TEST_H
#define OSSE_TEST_H

#include <gtest/gtest.h>

#endif
