#include "base/journal_file.h"

#include <wchar.h>

#include "base/handle_guard.h"
#include "base/run_log.h"

namespace {

struct OpenJournal {
  FileHandle file;
  wchar_t folder[kJournalFilePathCapacity];  // without trailing separators
  size_t folderLength = 0;
  wchar_t path[kJournalFilePathCapacity];
  DWORD failure = 0;  // the first failed append's error
};
OpenJournal g_file;

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

size_t TrimmedLength(const wchar_t* folder) {
  size_t length = wcsnlen(folder, kJournalFilePathCapacity);
  while (length > 0 && IsSeparator(folder[length - 1])) --length;
  return length;
}

// One text for every failure, in few words: both programs carry it.
void LogFailure(DWORD error, const wchar_t* what) {
  LogLine(L"Error %lu: install journal %ls not %ls", error, g_file.path, what);
}

DWORD WriteAll(HANDLE file, const char* bytes, size_t length) {
  DWORD written = 0;
  if (!WriteFile(file, bytes, static_cast<DWORD>(length), &written, nullptr)) return GetLastError();
  return written == length ? 0 : ERROR_WRITE_FAULT;
}

}  // namespace

DWORD OpenJournalFile(const wchar_t* folder, bool folderCreated) {
  CloseJournalFile();
  if (!JournalFilePath(folder, g_file.path)) return ERROR_FILENAME_EXCED_RANGE;
  // Hidden, so that nobody takes it for a file of the product. Shared for
  // reading only: a recovery, which wants it alone, leaves a live run's be.
  HANDLE created = CreateFileW(g_file.path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_HIDDEN, nullptr);
  if (created == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    LogFailure(error, L"created");
    return error;
  }
  g_file.file.reset(created);
  g_file.folderLength = TrimmedLength(folder);
  wmemcpy(g_file.folder, folder, g_file.folderLength);
  g_file.folder[g_file.folderLength] = L'\0';
  g_file.failure = 0;
  static JournalLine header;
  header = JournalLine();
  header.kind = JournalLineKind::kHeader;
  header.folderCreated = folderCreated;
  DWORD error = AppendJournalLine(header, true);
  if (error != 0) {
    CloseJournalFile();
    return error;
  }
  LogLine(L"Install journal: %ls", g_file.path);
  return 0;
}

bool JournalFileIsOpen() { return g_file.file.valid(); }

JournalPlace JournalRelativePath(const wchar_t* path, wchar_t* relative) {
  relative[0] = L'\0';
  if (!g_file.file.valid()) return JournalPlace::kOutside;
  const size_t length = g_file.folderLength;
  if (_wcsnicmp(path, g_file.folder, length) != 0 || !IsSeparator(path[length])) return JournalPlace::kOutside;
  const wchar_t* rest = path + length + 1;
  const size_t restLength = wcslen(rest);
  if (restLength >= kJournalPathCapacity) return JournalPlace::kUnfit;
  // Windows reads '/' as '\'; the journal names paths with backslashes only.
  for (size_t i = 0; i <= restLength; ++i) relative[i] = rest[i] == L'/' ? L'\\' : rest[i];
  return IsJournalRelativePath(relative) ? JournalPlace::kInside : JournalPlace::kUnfit;
}

DWORD AppendJournalLine(const JournalLine& line, bool flush) {
  if (!g_file.file.valid()) return ERROR_INVALID_HANDLE;
  if (g_file.failure != 0) return g_file.failure;
  // One writer (the setup program's main thread): the line's bytes need not
  // live on its stack.
  static char buffer[kJournalLineBytes];
  const size_t length = FormatJournalLine(line, buffer);
  // Not a failure of the file: nothing was written, later lines may follow.
  if (length == 0) return ERROR_INVALID_NAME;
  DWORD error = WriteAll(g_file.file.get(), buffer, length);
  if (error == 0 && flush && !FlushFileBuffers(g_file.file.get())) error = GetLastError();
  if (error != 0) {
    g_file.failure = error;
    LogFailure(error, L"written");
  }
  return error;
}

DWORD FlushJournalFile() {
  if (!g_file.file.valid()) return ERROR_INVALID_HANDLE;
  if (g_file.failure != 0) return g_file.failure;
  if (FlushFileBuffers(g_file.file.get())) return 0;
  g_file.failure = GetLastError();
  LogFailure(g_file.failure, L"written");
  return g_file.failure;
}

bool CloseJournalFile() {
  if (!g_file.file.valid()) return true;
  g_file.file.reset();
  if (DeleteFileW(g_file.path)) return true;
  LogFailure(GetLastError(), L"deleted");
  return false;
}

void LeaveJournalFile() { g_file.file.reset(); }
