// The PATH variable's value as Windows keeps it: entries separated by ';'.
// Setup adds the package's entry at the end and the uninstaller takes
// exactly that entry out again, wherever it stands by then, leaving every
// other entry (empty ones and their order included) as it was.
//
// Entries are compared as Windows compares paths: without regard to case,
// and a trailing backslash does not count ("C:\Tools\" is "C:\Tools").
#ifndef KX_BASE_PATH_LIST_H
#define KX_BASE_PATH_LIST_H

#include <stddef.h>

// True when list holds entry.
bool PathListHolds(const wchar_t* list, const wchar_t* entry);

// Writes list with entry appended (a ';' between them unless list is empty
// or ends with one) into out, of capacity units. False when it does not fit.
bool PathListAppend(const wchar_t* list, const wchar_t* entry, wchar_t* out, size_t capacity);

// Writes list without the first entry equal to entry into out (the same
// size as list suffices). False, with out a copy of list, when list does not
// hold entry.
bool PathListRemove(const wchar_t* list, const wchar_t* entry, wchar_t* out, size_t capacity);

#endif
