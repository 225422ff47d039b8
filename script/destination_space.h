// The destination page's two lines on space: what the product needs and
// what the drive of the folder in the field has free, followed as the folder
// is typed or picked.
#ifndef KX_SCRIPT_DESTINATION_SPACE_H
#define KX_SCRIPT_DESTINATION_SPACE_H

#include <windows.h>

#include <stddef.h>
#include <stdint.h>

// Control ids of the two lines on "dlgwizseldir".
enum DestinationSpaceControl { kControlSpaceNeeded = 14, kControlSpaceFree = 15 };

// Sets KXSPACENEEDED to the space the installation takes, as the page shows
// it: the payload unpacked and the uninstaller. Once per run, before the page.
void PrepareDestinationSpace();

// The folder the free space of folder is asked for: folder itself or the
// nearest folder above it that exists (a destination is usually created by
// the installation). False when folder is not a full path or no level of it
// exists (a drive that is not there). existing holds capacity units.
bool NearestExistingFolder(const wchar_t* folder, wchar_t* existing, size_t capacity);

// Reads the page's folder field, sets KXSPACEFREE to the free space of its
// drive (empty when it cannot be told) and shows both lines.
void ShowDestinationSpace(HWND page);

#endif
