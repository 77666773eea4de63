/* Common definitions of the NRVOSSE public interface: the export macro, fixed-width types,
 * the version words of parameter objects and the codes every operation may return. */
#ifndef OSSE_BASE_H
#define OSSE_BASE_H

#include <stddef.h>
#include <stdint.h>

#if defined(OSSE_BUILDING_DLL)
#define OSSE_API __declspec(dllexport)
#else
/* Imports the exported names from the DLL (a caller's build); the library's own build exports them. */
#define OSSE_API __declspec(dllimport)
#endif

#ifdef __cplusplus
/* C linkage for the exported functions when the header is read by C++. */
#define OSSE_EXTERN_C extern "C"
#else
#define OSSE_EXTERN_C
#endif

/* Exported C function: found by its plain name, C calling convention. */
#define OSSE_C_API OSSE_EXTERN_C OSSE_API

/* Fixed-width integer types used throughout the interface. */
typedef uint8_t  Uint8;
typedef uint16_t Uint16;
typedef uint32_t Uint32;
typedef uint64_t Uint64;
typedef int8_t   Sint8;
typedef int16_t  Sint16;
typedef int32_t  Sint32;
typedef int64_t  Sint64;

/* The layout set of records that hold pointers or pointer-sized values: 4-byte pointers (the
 * i686 library, and the 32-bit native build of the portable code) or 8-byte ones (x86_64).
 * Headers pin both sets side by side; what crosses a process boundary has one layout only. */
#if UINTPTR_MAX == 0xFFFFFFFFu
#define OSSE_PTR32 1
#else
#define OSSE_PTR32 0
#endif

/* Return code of every operation: 0 is success. */
typedef Uint32 OSSErr;
/* The return code of success. */
#define OSS_OK 0u

/* Version word of parameter objects, information and identifier records. */
#define OSS_CURRENT_VERSION 0x0A050004u
#define OSS_MIN_VERSION     0x09050000u

/* Marker by which the product's own modules are told apart from foreign ones. */
OSSE_EXTERN_C OSSE_API int sqlzThisIsANRVLibrary;

#endif
