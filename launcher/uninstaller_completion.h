// The uninstaller a setup's runtime carries (kxremove.dat) may come without
// the bytes of its loader, of its core library and of its program library:
// kxpack leaves them zero, because the setup program is the same loader and
// its runtime carries the same libraries beside it, and the archive's x86
// filter keeps the compressor from finding the second copy of a library
// (docs/performance.md). Setup puts them back before it writes the
// uninstaller, so that the file it installs is the one kxpack built, byte
// for byte (its signature holds).
#ifndef KX_LAUNCHER_UNINSTALLER_COMPLETION_H
#define KX_LAUNCHER_UNINSTALLER_COMPLETION_H

// Completes the uninstaller at path. Each of its loader's sections that is
// all zero (base/loader_sections.h) gets the bytes of the same section of
// ownProgram, the running setup program (empty: no program to take them
// from, and the loader's sections are left as they are). Each of its core library and
// program library whose place in its stored runtime archive is all zero
// gets the bytes of the file of the same name in runtimeFolder (ending in a
// backslash). What the uninstaller carries already is left as it is.
// Returns true when both libraries of the uninstaller then unpack with their
// CRC; false for anything else (no such entry, a place neither whole nor
// zero, a library of another size or content, a file that could not be read
// or written). Call it only after CheckPackagedProgram found the uninstaller
// usable.
bool CompletePackagedUninstaller(const wchar_t* path, const wchar_t* ownProgram, const wchar_t* runtimeFolder);

#endif
