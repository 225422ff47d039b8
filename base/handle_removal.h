// Removing a file or an empty folder the installation made, without being
// led elsewhere: the item is opened without following a link at its last
// level, the opened object's own path is compared with the path the item was
// made under, and the item is deleted through that same handle. A link or
// junction swapped in on the way after the item was recorded shows in the
// opened object's path, and then nothing is deleted; a link at the last
// level is removed as a link, never followed. Used by the rollback.
#ifndef KX_BASE_HANDLE_REMOVAL_H
#define KX_BASE_HANDLE_REMOVAL_H

#include <windows.h>

enum class HandleRemoval {
  kRemoved,
  kGone,       // nothing of that name, or not of the kind asked for
  kElsewhere,  // the opened object does not lie where path says: left alone
  kNotEmpty,   // a folder that holds something
  kFailed      // *error says why (in use, no rights)
};

// Removes the file (folder false, read-only ones too) or the empty folder
// path (full, as recorded). *error is the Windows error code for kFailed and
// kNotEmpty, else 0.
HandleRemoval RemoveWhereNamed(const wchar_t* path, bool folder, DWORD* error);

// The path of the object open in handle, without the "\\?\" prefix, into
// path (capacity units): GetFinalPathNameByHandleW's answer, or where that
// fails for a path past MAX_PATH (Wine's stops there) the object's path on
// its volume behind the drive of requested, when both lie on one volume.
// False when neither tells.
bool OpenedObjectPath(HANDLE handle, const wchar_t* requested, wchar_t* path, size_t capacity);

// Called with each path right before it is opened; null outside tests, which
// put a link in place here.
extern void (*g_beforeRemovalOpen)(const wchar_t* path);

#endif
