// The uninstaller a setup's runtime carries (kxremove.dat) may come without
// the bytes of its core library and its program library: kxpack leaves them
// zero, because the runtime carries the same libraries beside it and the
// archive's x86 filter keeps the compressor from finding the second copy
// (docs/performance.md). Setup puts them back before it writes the
// uninstaller, so that the file it installs is the one kxpack built, byte
// for byte (its signature holds).
#ifndef KX_LAUNCHER_UNINSTALLER_COMPLETION_H
#define KX_LAUNCHER_UNINSTALLER_COMPLETION_H

// Completes the uninstaller at path from the libraries in runtimeFolder
// (ending in a backslash): each of the core library and the program library
// whose place in the uninstaller's stored runtime archive is all zero gets
// the bytes of the file of the same name there; one the uninstaller carries
// already is left as it is. Returns true when both libraries of the
// uninstaller then unpack with their CRC; false for anything else (no such
// entry, a place neither whole nor zero, a library of another size or
// content, a write that failed). Call it only after CheckPackagedProgram
// found the uninstaller usable.
bool CompletePackagedUninstaller(const wchar_t* path, const wchar_t* runtimeFolder);

#endif
