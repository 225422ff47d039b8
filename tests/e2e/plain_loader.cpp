// Loads the DLL named on its command line with the standard search order,
// as a program that does nothing against planted DLLs would.
#include <windows.h>

int wmain(int argc, wchar_t** argv) { return argc == 2 && LoadLibraryW(argv[1]) ? 0 : 1; }
