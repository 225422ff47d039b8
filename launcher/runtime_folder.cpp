#include "launcher/runtime_folder.h"

#include <wchar.h>

#include "base/handle_guard.h"
#include "base/path_services.h"
#include "base/run_log.h"
#include "launcher/archive_reader.h"

wchar_t g_runtimePath[kRuntimePathCapacity];
size_t g_runtimePathLength;

namespace {

constexpr size_t kFolderNameLength = kRuntimeFolderNameLength;
constexpr size_t kMaxEntryNameLength = 260;  // units, terminating zero included

void WriteFolderName(wchar_t* dest, uint32_t seed) {
  static const wchar_t kHex[] = L"0123456789ABCDEF";
  dest[0] = L'k';
  dest[1] = L'x';
  for (int digit = 0; digit < 8; ++digit) dest[2 + digit] = kHex[(seed >> (28 - 4 * digit)) & 0xF];
  dest[kFolderNameLength] = L'\0';
}

// Writes the entry's data; the entry's folders exist.
RuntimeUnpackResult WriteRuntimeFile(const wchar_t* path, const unsigned char* data, size_t size) {
  if (PathExists(path)) return RuntimeUnpackResult::kNotWritten;
  CSzFile out;
  File_Construct(&out);
  if (OutFile_OpenW(&out, path) != 0) return RuntimeUnpackResult::kNotWritten;
  size_t written = size;
  RuntimeUnpackResult result = RuntimeUnpackResult::kUnpacked;
  if (File_Write(&out, data, &written) != 0 || written != size) result = RuntimeUnpackResult::kNotWritten;
  WRes closed = File_Close(&out);
  if (result == RuntimeUnpackResult::kUnpacked && closed != 0) {
    LogLine(L"Error %d: the runtime file %ls could not be closed", static_cast<int>(closed), path);
    result = RuntimeUnpackResult::kNotWritten;
  }
  return result;
}

// Creates every folder above the entry, turning its separators into
// backslashes: the levels are those IsSafeEntryName has judged.
void CreateEntryFolders(wchar_t* path, size_t from) {
  for (wchar_t* p = path + from; *p; ++p) {
    if (!IsEntryNameSeparator(*p)) continue;
    *p = L'\0';
    CreateFolderPath(path);
    *p = L'\\';
  }
}

RuntimeUnpackResult UnpackEntries(ArchiveReader* reader) {
  const size_t base = g_runtimePathLength;
  for (uint32_t i = 0; i < ArchiveEntryCount(reader); ++i) {
    size_t nameLength = ArchiveEntryNameLength(reader, i);
    if (nameLength >= kMaxEntryNameLength || base + nameLength > kRuntimePathCapacity)
      return RuntimeUnpackResult::kNotWritten;
    wchar_t* name = g_runtimePath + base;
    ArchiveEntryName(reader, i, name);
    // The runtime folder is the only place the launcher writes to, and a
    // device name would write to the device instead. Such a name is no
    // trouble of this machine but a damaged or hostile package.
    if (!IsSafeEntryName(name)) return RuntimeUnpackResult::kUnsafeName;

    size_t offset = 0;
    size_t size = 0;
    SRes extracted = ArchiveExtractEntry(reader, i, &offset, &size);
    if (extracted != SZ_OK) {
      LogLine(L"Error %d: the runtime entry %ls could not be decoded", static_cast<int>(extracted), name);
      return extracted == SZ_ERROR_MEM ? RuntimeUnpackResult::kOutOfMemory : RuntimeUnpackResult::kDamaged;
    }

    CreateEntryFolders(g_runtimePath, base);
    if (ArchiveEntryIsDir(reader, i)) {
      CreateFolderPath(g_runtimePath);
      continue;
    }
    RuntimeUnpackResult written = WriteRuntimeFile(g_runtimePath, reader->blockBuffer + offset, size);
    if (written != RuntimeUnpackResult::kUnpacked) return written;
  }
  return RuntimeUnpackResult::kUnpacked;
}

}  // namespace

bool CreateRuntimeFolder() {
  const size_t base = g_runtimePathLength;
  if (base + kFolderNameLength + 2 > kRuntimePathCapacity) return false;
  uint32_t seed = (GetTickCount() << 12) ^ (GetCurrentThreadId() << 14) ^ GetCurrentProcessId();
  for (int attempt = 0; attempt < kRuntimeFolderAttempts; ++attempt) {
    WriteFolderName(g_runtimePath + base, seed);
    if (!PathExists(g_runtimePath)) {
      if (CreateDirectoryW(g_runtimePath, nullptr)) {
        g_runtimePath[base + kFolderNameLength] = L'\\';
        g_runtimePath[base + kFolderNameLength + 1] = L'\0';
        g_runtimePathLength = base + kFolderNameLength + 1;
        return true;
      }
      if (GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    seed += GetTickCount();
  }
  g_runtimePath[base] = L'\0';
  return false;
}

RuntimeUnpackResult UnpackRuntimeArchive(const wchar_t* modulePath, const ContainerInfo& container) {
  ArchiveReader reader;
  ArchiveReaderInit(&reader);
  uint64_t position = 0;
  RuntimeUnpackResult result = RuntimeUnpackResult::kArchiveUnreadable;
  if (ArchiveReaderOpenFile(&reader, modulePath) == 0 &&
      FindRuntimeArchive(ArchiveReaderFile(&reader), container.offset, container.payloadLength,
                         &position) &&
      ArchiveReaderSeek(&reader, position) == 0 && ArchiveReaderOpenDatabase(&reader) == SZ_OK) {
    result = UnpackEntries(&reader);
  }
  ArchiveReaderClose(&reader);
  g_runtimePath[g_runtimePathLength] = L'\0';
  return result;
}

DWORD RemoveFolderContents(wchar_t* path, size_t capacity, const wchar_t* keep) {
  const size_t length = wcslen(path);
  if (length + 2 > capacity) return ERROR_FILENAME_EXCED_RANGE;
  path[length] = L'*';
  path[length + 1] = L'\0';
  WIN32_FIND_DATAW found;
  FindHandle search(FindFirstFileW(path, &found));
  path[length] = L'\0';
  if (!search) return GetLastError();

  DWORD result = 0;
  do {
    if (wcscmp(found.cFileName, L".") == 0 || wcscmp(found.cFileName, L"..") == 0) continue;
    if (keep && _wcsicmp(found.cFileName, keep) == 0) continue;
    size_t nameLength = wcslen(found.cFileName);
    if (length + nameLength + 2 > capacity) {
      result = ERROR_FILENAME_EXCED_RANGE;
      break;
    }
    wmemcpy(path + length, found.cFileName, nameLength + 1);
    const DWORD attributes = found.dwFileAttributes;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      // A link (junction, symbolic link) goes itself; what it points to is
      // never touched, wherever it leads.
      BOOL removed = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryW(path) : DeleteFileW(path);
      if (!removed) result = GetLastError();
    } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
      path[length + nameLength] = L'\\';
      path[length + nameLength + 1] = L'\0';
      result = RemoveFolderTree(path, capacity);
    } else {
      SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
      if (!DeleteFileW(path)) result = GetLastError();
    }
    path[length] = L'\0';
  } while (result == 0 && FindNextFileW(search.get(), &found));

  if (result == 0) {
    DWORD ended = GetLastError();
    if (ended != ERROR_NO_MORE_FILES) result = ended;
  }
  path[length] = L'\0';
  return result;
}

DWORD RemoveFolderTree(wchar_t* path, size_t capacity) {
  DWORD result = RemoveFolderContents(path, capacity, nullptr);
  if (result == 0 && !RemoveDirectoryW(path)) result = GetLastError();
  return result;
}
