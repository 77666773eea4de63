// Pieces shared by the stack-walk, symbol and trap-file sources.
#ifndef OSSE_FAULT_INTERNAL_H
#define OSSE_FAULT_INTERNAL_H

#include <windows.h>

#include "osse/stack.h"

namespace osse_fault {

// This thread's thread block (TEB): its self pointer, read segment-relative as NtCurrentTeb
// reads it (GCC takes NtCurrentTeb's read for one through a null pointer and warns about it).
inline void* currentTeb()
{
    void* teb;
#ifdef _WIN64
    __asm__("movq %%gs:0x30, %0" : "=r"(teb));
#else
    __asm__("movl %%fs:0x18, %0" : "=r"(teb));
#endif
    return teb;
}

// Copies size bytes at address into buffer without ever faulting (ReadProcessMemory on this
// process); false when any byte cannot be read.
bool safeRead(const void* address, void* buffer, SIZE_T size);
// True when every byte of the range lies in committed memory that may be read.
bool readable(const void* address, SIZE_T size);

// The full path of the module loaded at base, read from the process's own loader list with
// checked copies (the loader's lock may be held by the thread that faulted). False when the
// module is not in the list.
bool modulePathFromLoaderList(uintptr_t base, char* out, Uint32 size);

// Fills a module record: path, marker export (read from the module's export directory, never
// through the loader), base, end and link time stamp.
void buildModuleRecord(const char* path, uintptr_t base, Uint32 size, OSSTrapModuleRecord* record);

// The module list collected by ossEnumerateLoadedModules without a callback: its records and
// count, for trap files that could not enumerate the modules themselves.
Uint32 collectedModuleCount();
const OSSTrapModuleRecord* collectedModules();

// The library's process-detach step: closes the table's mutexes unless the process is exiting
// (other threads are gone then and may have left the table's lock held).
void releaseAtDetach(bool processExit);

}  // namespace osse_fault

#endif
