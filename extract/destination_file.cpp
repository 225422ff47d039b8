#include "extract/engine_state.h"

#include "base/long_path.h"
#include "extract/install_journal.h"

namespace {

HANDLE Create(const wchar_t* path, DWORD disposition) {
  return CreateFileW(Win32Path(path).get(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

HANDLE Fail(DWORD error) {
  SetLastError(error);
  return INVALID_HANDLE_VALUE;
}

}  // namespace

HANDLE OpenDestinationFile(const wchar_t* path) {
  if (!InstallJournalRecording()) return Create(path, CREATE_ALWAYS);
  // Most files are new: one open, and no look-up first (which costs a
  // directory scan per file under Wine).
  DWORD intent = RecordFileToCreate(path);
  if (intent != 0) return Fail(intent);
  HANDLE file = Create(path, CREATE_NEW);
  if (file != INVALID_HANDLE_VALUE) {
    if (RecordCreatedFile(path)) return file;
    CloseHandle(file);
    DeleteFileW(Win32Path(path).get());
    return Fail(ERROR_NOT_ENOUGH_MEMORY);
  }
  DWORD error = GetLastError();
  if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return Fail(error);
  // A folder is not replaced. A read-only file is, like any other: the
  // per-file decision has already said to replace it (the user's answer, or a
  // silent run), and a reinstall or an upgrade meets the read-only files the
  // package itself installed. Renaming it aside keeps its attribute for a
  // rollback.
  DWORD attributes = GetFileAttributesW(Win32Path(path).get());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
    return Fail(ERROR_ACCESS_DENIED);
  error = KeepFileAside(path);
  if (error != 0) return Fail(error);
  // The kept-aside record undoes the new file too.
  file = Create(path, CREATE_NEW);
  if (file != INVALID_HANDLE_VALUE) return file;
  error = GetLastError();
  // Not replaced after all: the original must not wait for a commit that
  // would delete it.
  PutBackKeptFile(path);
  return Fail(error);
}
