// The programs' side of kxcore64.dll: every operation of kxcore.h is bound
// lazily. The first call of any operation loads the library by its full path
// in the runtime folder and each operation is resolved by name at its first
// use. A library that cannot be loaded raises 0xC000007E at the calling
// point, a missing operation 0xC000007F.
#ifndef KX_LAUNCHER_CORE_BINDING_H
#define KX_LAUNCHER_CORE_BINDING_H

#include <windows.h>

// The library's module name: the runtime's kxformat::kCoreLibraryFile, in the
// letter case the programs have always loaded it by (Windows compares module
// and file names without regard to case).
constexpr wchar_t kCoreLibraryName[] = L"kxcore64.dll";

// Names the folder (ending in a backslash) the library is loaded from. The
// library is never looked for anywhere else, so a kxcore64.dll lying beside
// the program cannot be loaded into it.
void SetCoreLibraryFolder(const wchar_t* folder);

// Looks the library up by its module name and releases it once, then waits
// (up to 5 s) until it is really unloaded: a window thread of the library may
// still be ending. The next call of an operation binds it anew.
void ReleaseCoreLibrary();

#endif
