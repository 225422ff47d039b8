// The checks of an archive entry's name before anything is written under it,
// for both archives of the container (the runtime archive and the payload).
// Portable (UTF-16 units as char16_t, no Windows header), so that the fuzz
// targets run the very code the programs run; base/path_services.h gives the
// programs the same checks over wchar_t.
#ifndef KX_BASE_ENTRY_NAMES_H
#define KX_BASE_ENTRY_NAMES_H

namespace kxentry {

// True for a unit that separates the levels of an entry's name: '/' as
// archives store it, and '\', which Windows takes for one all the same. The
// checks below and the unpacking of both archives split names by this one
// rule, so that the folders they create are the levels the checks judged.
inline bool IsEntryNameSeparator(char16_t c) { return c == u'/' || c == u'\\'; }

// True for a zero-terminated relative entry name that stays below the folder
// it is unpacked into: not empty, no leading separator, no drive or stream
// colon, no component of only dots and blanks such as "..".
bool IsContainedEntryName(const char16_t* name);

// IsContainedEntryName, and no DOS device name (CON, NUL, COM1, ...) as a
// component, which Windows would open instead of a file.
bool IsSafeEntryName(const char16_t* name);

}  // namespace kxentry

#endif
