// A small library for the dynamic-library tests: two functions to look up.
#include <windows.h>

extern "C" {

__declspec(dllexport) int osseTestAnswer(void)
{
    return 42;
}

__declspec(dllexport) int osseTestSeven(void)
{
    return 7;
}

}  // extern "C"

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}
