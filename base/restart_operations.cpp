#include "base/restart_operations.h"

#include <string.h>

#include "base/handle_guard.h"
#include "base/long_path.h"

namespace {

// AddRenameEntry's work buffers. They are static (the function is not
// re-entrant) so that the uninstaller's start-up needs no large stack frame.
wchar_t g_destinationName[kRenameNameChars];
wchar_t g_sourceName[kRenameNameChars];
char g_entryLine[kRenameLineBytes];

const char kRenameHeader[] = "[Rename]\r\n";
const size_t kRenameHeaderLength = sizeof kRenameHeader - 1;

// The list is read and written in one piece; anything this large is not a
// rename list and is left alone.
const LONGLONG kLargestRenameList = 0x7FFFFFFF - 4 * kRenameLineBytes;

// Appends text in the ANSI code page to the entry line; false when it would
// not fit or has no exact ANSI form.
bool AppendAnsi(const wchar_t* text, int* length) {
  int written = ToAnsiExactly(text, g_entryLine + *length, kRenameLineBytes - *length);
  if (written < 0) return false;
  *length += written;
  return true;
}

bool AppendBytes(const char* bytes, int* length) {
  int count = lstrlenA(bytes);
  if (*length + count >= kRenameLineBytes) return false;
  memcpy(g_entryLine + *length, bytes, count + 1);
  *length += count;
  return true;
}

// "destination=source\r\n" into g_entryLine; its length, or -1 when the line
// would not fit (nothing is then to be written).
int FormatEntryLine() {
  int length = 0;
  bool fits = AppendAnsi(g_destinationName, &length) && AppendBytes("=", &length) &&
              AppendAnsi(g_sourceName, &length) && AppendBytes("\r\n", &length);
  return fits ? length : -1;
}

bool ShortName(const wchar_t* path, wchar_t* buffer) {
  DWORD length = GetShortPathNameW(path, buffer, kRenameNameChars);
  return length != 0 && length < static_cast<DWORD>(kRenameNameChars);
}

// Ends the text with a line break unless it already ends with one, so that
// what is appended next starts a line of its own. The block has room for it.
void EndWithLineBreak(char* text, size_t* length) {
  if (*length == 0 || text[*length - 1] == '\n') return;
  if (text[*length - 1] != '\r') text[(*length)++] = '\r';
  text[(*length)++] = '\n';
}

// Reads the whole list, inserts the entry line at the end of its "[Rename]"
// section (adding the section at the end when there is none) and writes the
// list back from its start. The list only grows, so it needs no truncation.
BOOL InsertEntryLine(HANDLE list, int lineLength) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(list, &size) || size.QuadPart > kLargestRenameList) return FALSE;
  size_t length = static_cast<size_t>(size.QuadPart);

  // Room for a line break, the header, the entry and a terminating zero; the
  // zero fill keeps the text terminated for the searches.
  GlobalMemory block(GlobalAlloc(GPTR, length + 2 + kRenameHeaderLength + lineLength + 1));
  if (!block) return FALSE;
  char* text = static_cast<char*>(block.get());
  DWORD read = 0;
  if (length != 0 && (!ReadFile(list, text, static_cast<DWORD>(length), &read, nullptr) || read != length)) {
    return FALSE;
  }

  size_t insertAt;
  const char* header = FindTextNoCase(text, kRenameHeader);
  if (header) {
    // Searching from the header's own LF finds a section that follows an
    // empty "[Rename]" section at once.
    const char* nextSection = FindTextNoCase(header + kRenameHeaderLength - 1, "\n[");
    if (nextSection) {
      insertAt = static_cast<size_t>(nextSection - text) + 1;
      memmove(text + insertAt + lineLength, text + insertAt, length - insertAt);
    } else {
      EndWithLineBreak(text, &length);
      insertAt = length;
    }
  } else {
    EndWithLineBreak(text, &length);
    memcpy(text + length, kRenameHeader, kRenameHeaderLength);
    length += kRenameHeaderLength;
    insertAt = length;
  }
  memcpy(text + insertAt, g_entryLine, lineLength);
  length += lineLength;

  DWORD written = 0;
  if (SetFilePointer(list, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) return FALSE;
  return WriteFile(list, text, static_cast<DWORD>(length), &written, nullptr) && written == length;
}

}  // namespace

BOOL MoveFileOnRestart(const wchar_t* existing, const wchar_t* newName, const wchar_t* renameListPath) {
  typedef BOOL(WINAPI * MoveFileExFunction)(const wchar_t*, const wchar_t*, DWORD);
  HMODULE kernel = GetModuleHandleW(L"Kernel32");
  HMODULE loaded = nullptr;
  if (!kernel) kernel = loaded = LoadLibraryW(L"Kernel32");
  BOOL moved = FALSE;
  if (kernel) {
    auto moveFileEx = reinterpret_cast<MoveFileExFunction>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "MoveFileExW")));
    // A long path goes with its prefix; the session manager keeps it as "\??\...".
    if (moveFileEx)
      moved = moveFileEx(Win32Path(existing).get(), newName ? Win32Path(newName).get() : nullptr,
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT);
  }
  if (loaded) FreeLibrary(loaded);
  return moved ? moved : AddRenameEntry(existing, newName, renameListPath);
}

BOOL AddRenameEntry(const wchar_t* existing, const wchar_t* newName, const wchar_t* renameListPath) {
  if (!existing || !renameListPath) return FALSE;
  lstrcpyW(g_destinationName, L"NUL");
  if (newName) {
    // A file that does not exist has no short name: leave an empty one.
    FileHandle placeholder(OpenFileKeepAttrs(newName, 0, CREATE_NEW));
    placeholder.reset();
    if (!ShortName(newName, g_destinationName)) return FALSE;
  }
  if (!ShortName(existing, g_sourceName)) return FALSE;
  int lineLength = FormatEntryLine();
  if (lineLength < 0) return FALSE;

  if (renameListPath[0] == L'\0') return FALSE;
  FileHandle list(OpenFileKeepAttrs(renameListPath, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS));
  if (!list) return FALSE;
  return InsertEntryLine(list.get(), lineLength);
}

int ToAnsiExactly(const wchar_t* text, char* out, int capacity) {
  BOOL defaulted = FALSE;
  // Without WC_NO_BEST_FIT_CHARS Windows quietly writes a lookalike and
  // reports nothing defaulted. The code page UTF-8 represents everything and
  // rejects both the flag and the flag pointer.
  const bool utf8 = GetACP() == CP_UTF8;
  int written = WideCharToMultiByte(CP_ACP, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, text, -1, out, capacity, nullptr,
                                    utf8 ? nullptr : &defaulted);
  if (written <= 0 || defaulted) return -1;
  return written - 1;
}

HANDLE OpenFileKeepAttrs(const wchar_t* path, DWORD access, DWORD disposition) {
  DWORD attributes = GetFileAttributesW(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) attributes = 0;
  return CreateFileW(path, access, FILE_SHARE_READ, nullptr, disposition, attributes, nullptr);
}

const char* FindTextNoCase(const char* text, const char* pattern) {
  if (!text || !pattern) return nullptr;
  int patternLength = lstrlenA(pattern);
  int remaining = lstrlenA(text);
  // Comparing exactly patternLength bytes is lstrcmpiA on the cut-off rest,
  // without writing into the caller's text.
  for (const char* rest = text; remaining >= patternLength;) {
    if (CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, rest, patternLength, pattern, patternLength) ==
        CSTR_EQUAL) {
      return rest;
    }
    const char* next = CharNextA(rest);
    if (next == rest) break;
    remaining -= static_cast<int>(next - rest);
    rest = next;
  }
  return nullptr;
}

DWORD EnableShutdownPrivilege(HANDLE token) {
  TOKEN_PRIVILEGES privileges = {};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid)) {
    DWORD error = GetLastError();
    return error ? error : ERROR_NO_SUCH_PRIVILEGE;
  }
  // AdjustTokenPrivileges also succeeds when it enabled nothing; only the
  // last error tells, so it must not hold an older value.
  SetLastError(ERROR_SUCCESS);
  if (!AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr)) {
    DWORD error = GetLastError();
    return error ? error : ERROR_ACCESS_DENIED;
  }
  return GetLastError();
}

DWORD RestartSystem() {
  HANDLE opened = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &opened)) {
    DWORD error = GetLastError();
    return error ? error : ERROR_ACCESS_DENIED;
  }
  KernelHandle token(opened);
  DWORD error = EnableShutdownPrivilege(token.get());
  token.reset();
  if (error != ERROR_SUCCESS) return error;
  const DWORD kPlannedUpgrade =
      SHTDN_REASON_FLAG_PLANNED | SHTDN_REASON_MAJOR_OPERATINGSYSTEM | SHTDN_REASON_MINOR_UPGRADE;
  if (ExitWindowsEx(EWX_REBOOT | EWX_FORCE, kPlannedUpgrade)) return ERROR_SUCCESS;
  error = GetLastError();
  return error ? error : ERROR_GEN_FAILURE;
}
