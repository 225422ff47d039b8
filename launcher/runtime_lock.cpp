#include "launcher/runtime_lock.h"

#include <wchar.h>

#include "base/handle_guard.h"
#include "launcher/runtime_folder.h"

namespace {

constexpr DWORD kNotPlainFile = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;

FileHandle g_runtimeLock;

bool IsRuntimeFolderName(const wchar_t* name) {
  if (wcslen(name) != kRuntimeFolderNameLength || name[0] != L'k' || name[1] != L'x') return false;
  for (size_t i = 2; i < kRuntimeFolderNameLength; ++i)
    if (!((name[i] >= L'0' && name[i] <= L'9') || (name[i] >= L'A' && name[i] <= L'F'))) return false;
  return true;
}

// Appends the lock's name to folder (ending in a backslash); false when it
// does not fit.
bool LockPath(const wchar_t* folder, wchar_t* path, size_t capacity) {
  size_t length = wcslen(folder);
  size_t nameLength = wcslen(kRuntimeLockName);
  if (length + nameLength + 1 > capacity) return false;
  wmemcpy(path, folder, length);
  wmemcpy(path + length, kRuntimeLockName, nameLength + 1);
  return true;
}

// Deletes the held lock as its handle closes, so that no other run can ever
// open it between the close and the deletion.
bool DeleteOnClose(FileHandle* lock) {
  FILE_DISPOSITION_INFO disposition = {TRUE};
  bool marked = SetFileInformationByHandle(lock->get(), FileDispositionInfo, &disposition, sizeof disposition);
  lock->reset();
  return marked;
}

// Contents first (the lock stays held), then the lock, then the folder.
DWORD RemoveHeldFolder(wchar_t* folder, size_t capacity, FileHandle* lock) {
  DWORD result = RemoveFolderContents(folder, capacity, kRuntimeLockName);
  if (result != 0) return result;
  if (!DeleteOnClose(lock)) return GetLastError();
  return RemoveDirectoryW(folder) ? 0 : GetLastError();
}

// Opens a stale runtime folder's lock for its removal; an invalid handle
// when the lock is held, missing or not a plain file.
FileHandle OpenAbandonedLock(const wchar_t* folder) {
  wchar_t path[kRuntimePathCapacity];
  if (!LockPath(folder, path, kRuntimePathCapacity)) return FileHandle();
  FileHandle lock(CreateFileW(path, GENERIC_READ | DELETE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
                              nullptr));
  BY_HANDLE_FILE_INFORMATION information;
  if (lock && (!GetFileInformationByHandle(lock.get(), &information) ||
               (information.dwFileAttributes & kNotPlainFile)))
    lock.reset();
  return lock;
}

}  // namespace

bool HoldRuntimeLock() {
  wchar_t path[kRuntimePathCapacity];
  if (!LockPath(g_runtimePath, path, kRuntimePathCapacity)) return false;
  // Not inheritable: a process the run starts must not keep it alive.
  g_runtimeLock.reset(CreateFileW(path, GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  return g_runtimeLock.valid();
}

DWORD RemoveLockedRuntimeFolder() {
  if (!g_runtimeLock) return RemoveFolderTree(g_runtimePath, kRuntimePathCapacity);
  return RemoveHeldFolder(g_runtimePath, kRuntimePathCapacity, &g_runtimeLock);
}

void ReleaseRuntimeLock() { g_runtimeLock.reset(); }

int RemoveStaleRuntimeFolders(const wchar_t* tempFolder) {
  wchar_t path[kRuntimePathCapacity];
  size_t length = wcslen(tempFolder);
  if (length + kRuntimeFolderNameLength + 2 > kRuntimePathCapacity) return 0;
  wmemcpy(path, tempFolder, length);
  wcscpy(path + length, L"kx*");
  WIN32_FIND_DATAW found;
  FindHandle search(FindFirstFileW(path, &found));
  if (!search) return 0;
  int removed = 0;
  do {
    if (!IsRuntimeFolderName(found.cFileName) ||
        (found.dwFileAttributes & kNotPlainFile) != FILE_ATTRIBUTE_DIRECTORY)
      continue;
    wmemcpy(path + length, found.cFileName, kRuntimeFolderNameLength);
    path[length + kRuntimeFolderNameLength] = L'\\';
    path[length + kRuntimeFolderNameLength + 1] = L'\0';
    FileHandle lock = OpenAbandonedLock(path);
    if (lock && RemoveHeldFolder(path, kRuntimePathCapacity, &lock) == 0) ++removed;
  } while (FindNextFileW(search.get(), &found));
  return removed;
}
