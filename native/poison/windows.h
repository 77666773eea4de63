// The portable core builds without the system headers of Windows: this folder comes first on
// the native build's include path, so a portable source that includes <windows.h> stops the build.
#error "<windows.h> included by a source of the portable core: keep Win32 calls out of it (split the file)"
