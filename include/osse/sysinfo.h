/* System information: the value types of information records. Every value carries its own
 * status word: 0 when the value is valid, ECF_NOT_SUPPORTED when this platform cannot provide
 * it, ECF_FAILED when the OS call behind it failed. */
#ifndef OSSE_SYSINFO_H
#define OSSE_SYSINFO_H

#include "osse/base.h"

#ifdef __cplusplus

struct OSSSysInfoSint {
    Sint32 value;
    Uint32 status;
    OSSSysInfoSint() : value(0), status(0) {}
};
struct OSSSysInfoUint {
    Uint32 value;
    Uint32 status;
    OSSSysInfoUint() : value(0), status(0) {}
};
struct OSSSysInfoSint64 {
    Sint64 value;
    Uint32 status;
    OSSSysInfoSint64() : value(0), status(0) {}
};
struct OSSSysInfoUint64 {
    Uint64 value;
    Uint32 status;
    OSSSysInfoUint64() : value(0), status(0) {}
};
struct OSSSysInfoDouble {
    double value;
    Uint32 status;
    OSSSysInfoDouble() : value(0), status(0) {}
};
struct OSSSysInfoStr {
    char value[255];
    Uint32 status;
    OSSSysInfoStr() : value(), status(0) {}
};
struct OSSSysInfoMountPoint {
    char value[1024];
    Uint32 status;
    OSSSysInfoMountPoint() : value(), status(0) {}
};

/* Callers keep these in records read by other modules: the layouts are fixed. */
static_assert(sizeof(OSSSysInfoSint) == 8 && sizeof(OSSSysInfoUint) == 8, "32-bit values");
static_assert(sizeof(OSSSysInfoSint64) == 16 && sizeof(OSSSysInfoUint64) == 16 &&
                  sizeof(OSSSysInfoDouble) == 16 && offsetof(OSSSysInfoUint64, status) == 8,
              "64-bit values: 8-byte aligned, status after the value");
static_assert(sizeof(OSSSysInfoStr) == 260 && offsetof(OSSSysInfoStr, status) == 256, "text");
static_assert(sizeof(OSSSysInfoMountPoint) == 1028 && offsetof(OSSSysInfoMountPoint, status) == 1024,
              "mount point");

#endif /* __cplusplus */

#endif
