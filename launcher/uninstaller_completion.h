// The uninstaller a setup's runtime carries (kxremove.dat) may come without
// the bytes of its core library: kxpack leaves them zero, because the runtime
// carries the same library beside it and the archive's x86 filter keeps the
// compressor from finding the second copy (docs/performance.md). Setup puts
// them back before it judges and writes the uninstaller, so that the file it
// installs is the one kxpack built, byte for byte (its signature holds).
#ifndef KX_LAUNCHER_UNINSTALLER_COMPLETION_H
#define KX_LAUNCHER_UNINSTALLER_COMPLETION_H

// Completes the uninstaller at path from the core library at library when
// the library's place in the uninstaller's stored runtime archive is all
// zero; an uninstaller that carries its library already is left as it is.
// Returns true when the uninstaller's core library then unpacks with its
// CRC; false for anything else (no such entry, a place neither whole nor
// zero, a library of another size or content, a write that failed). Call it
// only after CheckPackagedProgram found the uninstaller usable.
bool CompletePackagedUninstaller(const wchar_t* path, const wchar_t* library);

#endif
