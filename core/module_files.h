// Files of the runtime folder, which is the folder the library was loaded from.
#ifndef KX_CORE_MODULE_FILES_H
#define KX_CORE_MODULE_FILES_H

#include <windows.h>

#include <string>
#include <string_view>

namespace kxcore {

// The library's own module handle.
HMODULE LibraryModule();

// The folder the library was loaded from, ending in a backslash.
std::wstring LibraryFolder();

// Reads a whole file; false when it cannot be opened or read.
bool ReadWholeFile(const std::wstring& path, std::string* bytes);

// Text in the given code page; with MB_ERR_INVALID_CHARS in flags, bytes
// that are not valid in it give an empty text.
std::wstring DecodeText(std::string_view bytes, UINT codePage, DWORD flags = 0);

// Text in the ANSI code page, as the runtime data files are written.
inline std::wstring DecodeAnsi(std::string_view bytes) { return DecodeText(bytes, CP_ACP); }

// Text in the given code page (CP_ACP, CP_UTF8).
std::string EncodeText(const std::wstring& text, UINT codePage);

// Reads a file of the runtime folder by its name.
bool ReadModuleSiblingFile(const wchar_t* name, std::string* bytes);

}  // namespace kxcore

#endif
