#include "engine_state.h"

#include "install_journal.h"

HANDLE OpenDestinationFile(const wchar_t* path) {
  // A read-only file is not replaced behind the user's back: the open fails
  // and the create-file box lets the user decide, as for a file in use.
  DWORD attributes = GetFileAttributesW(path);
  const bool replacing =
      attributes != INVALID_FILE_ATTRIBUTES && !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY));
  if (replacing) {
    DWORD error = KeepFileAside(path);
    if (error != 0) {
      SetLastError(error);
      return INVALID_HANDLE_VALUE;
    }
  }
  HANDLE file =
      CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    // Not replaced after all: the original must not wait for a commit that
    // would delete it.
    if (replacing) PutBackKeptFile(path);
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  // A replaced file is undone by its kept-aside record; a new one needs its own.
  if (!replacing && !RecordCreatedFile(path)) {
    CloseHandle(file);
    DeleteFileW(path);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  return file;
}
