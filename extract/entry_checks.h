// What the payload extraction checks of each archive entry before anything is
// written under its name, apart from the name's own safety
// (base/entry_names.h). Portable (UTF-16 units as char16_t, no Windows
// header), so that the fuzz targets run the code the programs run.
#ifndef KX_EXTRACT_ENTRY_CHECKS_H
#define KX_EXTRACT_ENTRY_CHECKS_H

#include <stddef.h>
#include <stdint.h>

// Capacity of the extraction's destination path buffer, terminating zero
// included: Windows' limit for a path (base/long_path.h). Buffers this size
// are static or on the heap, never on a thread's stack.
constexpr size_t kExtractPathCapacity = 32768;

// One level of an entry's name: a file system takes at most 255 units.
constexpr size_t kMaxEntryLevelUnits = 255;

// Starts the destination path of an entry whose name takes nameUnits units,
// terminating zero included: copies destination (zero-terminated, read up to
// capacity units) into path (capacity units) and adds a backslash unless it
// ends in one; *nameStart is then where the name goes. False, with path not
// usable, when the name is empty or when the destination, the backslash and
// the name do not fit in capacity.
bool StartEntryPath(char16_t* path, size_t capacity, const char16_t* destination, size_t nameUnits,
                    size_t* nameStart);

// The attributes to give a file for the 32-bit value stored in the archive.
// Archives made on Unix mark a Unix mode in the high 16 bits with
// FILE_ATTRIBUTE_UNIX_EXTENSION (0x8000); only the Windows bits apply then.
uint32_t WindowsAttributes(uint32_t stored);

// True when no level of name (zero-terminated, levels split by '/' or '\')
// is longer than kMaxEntryLevelUnits: a longer one no file system can create.
bool EntryLevelsFit(const char16_t* name);

#endif
