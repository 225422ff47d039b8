#include "base/handle_removal.h"

#include <wchar.h>

#include "base/handle_guard.h"
#include "base/long_path.h"
#include "base/run_log.h"

void (*g_beforeRemovalOpen)(const wchar_t* path) = nullptr;

namespace {

// Drops "\\?\" (or turns "\\?\UNC\" back into "\\").
const wchar_t* WithoutPrefix(wchar_t* path) {
  if (wcsncmp(path, L"\\\\?\\UNC\\", 8) == 0) {
    path[6] = L'\\';
    return path + 6;
  }
  return wcsncmp(path, L"\\\\?\\", 4) == 0 ? path + 4 : path;
}

// True when the object open in handle lies at path: its final path and
// path's long form (which keeps the names of any links on the way, where the
// final path has their targets) are the same, letter case aside.
bool OpenedWhereNamed(HANDLE handle, const wchar_t* path) {
  LongPathBuffer opened, named;
  if (!opened.data() || !named.data()) return false;
  if (!OpenedObjectPath(handle, path, opened.data(), kLongPathCapacity)) return false;
  Win32Path win32(path);
  DWORD length = GetLongPathNameW(win32.get(), named.data(), static_cast<DWORD>(kLongPathCapacity));
  if (length == 0 || length >= kLongPathCapacity) return false;
  return _wcsicmp(opened.data(), WithoutPrefix(named.data())) == 0;
}

bool IsDrivePath(const wchar_t* path) {
  return ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) && path[1] == L':' &&
         path[2] == L'\\';
}

bool IsGone(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME;
}

}  // namespace

bool OpenedObjectPath(HANDLE handle, const wchar_t* requested, wchar_t* path, size_t capacity) {
  DWORD length = GetFinalPathNameByHandleW(handle, path, static_cast<DWORD>(capacity),
                                           FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (length > 0 && length < capacity) {
    const wchar_t* plain = WithoutPrefix(path);
    if (plain != path) wmemmove(path, plain, wcslen(plain) + 1);
    return true;
  }
  // The name on the volume ("\\dir\\file"), behind the requested drive when
  // the object lies on that drive's volume.
  const wchar_t* plain = requested;
  if (wcsncmp(plain, L"\\\\?\\", 4) == 0) plain += 4;
  if (!IsDrivePath(plain) || capacity < 4) return false;
  const DWORD infoBytes = static_cast<DWORD>(sizeof(FILE_NAME_INFO) + kLongPathCapacity * sizeof(wchar_t));
  FILE_NAME_INFO* info = static_cast<FILE_NAME_INFO*>(HeapAlloc(GetProcessHeap(), 0, infoBytes));
  if (!info) return false;
  bool found = false;
  DWORD openedSerial = 0, driveSerial = 0;
  const wchar_t root[] = {plain[0], L':', L'\\', L'\0'};
  if (GetFileInformationByHandleEx(handle, FileNameInfo, info, infoBytes) &&
      GetVolumeInformationByHandleW(handle, nullptr, 0, &openedSerial, nullptr, nullptr, nullptr, 0) &&
      GetVolumeInformationW(root, nullptr, 0, &driveSerial, nullptr, nullptr, nullptr, 0) &&
      openedSerial == driveSerial) {
    const size_t units = info->FileNameLength / sizeof(wchar_t);
    if (units + 3 <= capacity && units > 0 && info->FileName[0] == L'\\') {
      path[0] = plain[0];
      path[1] = L':';
      wmemcpy(path + 2, info->FileName, units);
      path[units + 2] = L'\0';
      found = true;
    }
  }
  HeapFree(GetProcessHeap(), 0, info);
  return found;
}

HandleRemoval RemoveWhereNamed(const wchar_t* path, bool folder, DWORD* error) {
  *error = 0;
  if (g_beforeRemovalOpen) g_beforeRemovalOpen(path);
  FileHandle handle(CreateFileW(Win32Path(path).get(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!handle) {
    *error = GetLastError();
    if (IsGone(*error)) {
      *error = 0;
      return HandleRemoval::kGone;
    }
    return HandleRemoval::kFailed;
  }
  FILE_ATTRIBUTE_TAG_INFO tag = {};
  if (!GetFileInformationByHandleEx(handle.get(), FileAttributeTagInfo, &tag, sizeof tag)) {
    *error = GetLastError();
    return HandleRemoval::kFailed;
  }
  const bool link = (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  if (!link && ((tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) != folder) return HandleRemoval::kGone;
  if (!OpenedWhereNamed(handle.get(), path)) {
    LogLine(L"Left alone, a link leads it elsewhere: %ls", path);
    return HandleRemoval::kElsewhere;
  }
  if (!link && (tag.FileAttributes & FILE_ATTRIBUTE_READONLY)) {
    // Zero times leave the times as they are.
    FILE_BASIC_INFO basic = {};
    const DWORD attributes = tag.FileAttributes & ~FILE_ATTRIBUTE_READONLY;
    basic.FileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
    SetFileInformationByHandle(handle.get(), FileBasicInfo, &basic, sizeof basic);
  }
  FILE_DISPOSITION_INFO dispose = {TRUE};
  if (SetFileInformationByHandle(handle.get(), FileDispositionInfo, &dispose, sizeof dispose))
    return HandleRemoval::kRemoved;
  *error = GetLastError();
  return *error == ERROR_DIR_NOT_EMPTY ? HandleRemoval::kNotEmpty : HandleRemoval::kFailed;
}
