// Environment, disk space and version queries that store their answer in a
// script variable. Their texts are used as given, not expanded; varName is
// the plain name of a script variable, without percent signs.
#ifndef KX_SERVICES_SYSTEM_QUERIES_H
#define KX_SERVICES_SYSTEM_QUERIES_H

#include <windows.h>

// Copies the process environment variable envName into varName, whole at any
// length. Returns true when the variable was set from a non-empty value. An
// environment variable that is missing leaves varName as it was; one that
// exists without a value empties varName (and gives false).
bool EnvToVar(const wchar_t* envName, const wchar_t* varName);

// Kinds of DiskSpaceToVar.
enum {
  kDiskTotalBytes = 1,      // size of the disk
  kDiskAvailableBytes = 2,  // free bytes the calling user may use (quotas)
                            // any other kind: free bytes of the disk
};

// Sizes of a disk in bytes.
struct DiskSpace {
  ULONGLONG availableToCaller;
  ULONGLONG totalBytes;
  ULONGLONG totalFree;
};

// GetDiskFreeSpaceExW when the system has it, else QueryDiskSpaceByClusters.
bool QueryDiskSpace(const wchar_t* rootPath, DiskSpace* space);

// GetDiskFreeSpaceW's cluster counts in bytes; no quotas, so the bytes
// available to the caller are the disk's free bytes.
bool QueryDiskSpaceByClusters(const wchar_t* rootPath, DiskSpace* space);

// Sets varName to the byte count that kind selects for the disk holding
// rootPath, in decimal; to the empty text when the disk cannot be queried.
void DiskSpaceToVar(const wchar_t* rootPath, const wchar_t* varName, int kind);

// Sets varName to one part of the file version of filePath in decimal:
// part 0 major, 1 minor, 2 build, 3 revision, any other part "0". Returns
// false, leaving varName as it was, when the file has no version resource.
// Formats in a static buffer: call from one thread only.
bool FileVersionToVar(const wchar_t* filePath, int part, const wchar_t* varName);

#endif
