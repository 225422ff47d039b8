#include "services/running_programs.h"

#include <restartmanager.h>
#include <tlhelp32.h>
#include <wchar.h>

#include "base/handle_guard.h"
#include "base/system_libraries.h"

namespace {

using StartSession = DWORD(WINAPI*)(DWORD*, DWORD, WCHAR*);
using EndSession = DWORD(WINAPI*)(DWORD);
using RegisterResources = DWORD(WINAPI*)(DWORD, UINT, LPCWSTR*, UINT, RM_UNIQUE_PROCESS*, UINT, LPCWSTR*);
using GetList = DWORD(WINAPI*)(DWORD, UINT*, UINT*, RM_PROCESS_INFO*, DWORD*);

// Files named to the Restart Manager per call, and the processes it may
// report at once.
constexpr size_t kRegisterBatch = 256;
constexpr UINT kListCapacity = 64;

// A function of the library; through void*, since FARPROC's type says nothing.
template <typename Type>
Type Function(HMODULE library, const char* name) {
  return reinterpret_cast<Type>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

bool SameTime(const FILETIME& a, const FILETIME& b) {
  return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

// Adds a program unless its process is listed already.
void Add(RunningPrograms* found, DWORD processId, const FILETIME& started, const wchar_t* name, const wchar_t* image) {
  for (size_t i = 0; i < found->count; ++i) {
    RunningProgram& known = found->programs[i];
    if (known.processId == processId) {
      if (!known.image[0] && image && image[0]) lstrcpynW(known.image, image, kProgramImageCapacity);
      return;
    }
  }
  if (found->count == kRunningProgramCapacity) {
    ++found->more;
    return;
  }
  RunningProgram& program = found->programs[found->count++];
  program.processId = processId;
  program.started = started;
  lstrcpynW(program.name, name, kProgramNameCapacity);
  lstrcpynW(program.image, image ? image : L"", kProgramImageCapacity);
  program.state = ProgramState::kRunning;
}

// The start time and program file of a process; false when it cannot be
// opened (ended, or beyond our rights).
bool QueryProcess(DWORD processId, FILETIME* started, wchar_t* image) {
  KernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  if (!process) return false;
  FILETIME ended, kernel, user;
  if (!GetProcessTimes(process.get(), started, &ended, &kernel, &user)) return false;
  DWORD size = kProgramImageCapacity;
  if (!QueryFullProcessImageNameW(process.get(), 0, image, &size)) image[0] = L'\0';
  return true;
}

const wchar_t* FileNamePart(const wchar_t* path) {
  const wchar_t* name = path;
  for (const wchar_t* c = path; *c; ++c)
    if (*c == L'\\' || *c == L'/') name = c + 1;
  return name;
}

// The files of folder, recursively, up to the limit, into a block of
// full paths; returns how many.
struct FileList {
  wchar_t* text = nullptr;  // the paths one after another, each terminated
  size_t used = 0, capacity = 0, count = 0;
  ~FileList() {
    if (text) HeapFree(GetProcessHeap(), 0, text);
  }
  bool Add(const wchar_t* path) {
    size_t length = wcslen(path) + 1;
    if (used + length > capacity) {
      size_t grown = capacity ? capacity * 2 : 65536;
      while (used + length > grown) grown *= 2;
      void* block = text ? HeapReAlloc(GetProcessHeap(), 0, text, grown * sizeof(wchar_t))
                         : HeapAlloc(GetProcessHeap(), 0, grown * sizeof(wchar_t));
      if (!block) return false;
      text = static_cast<wchar_t*>(block);
      capacity = grown;
    }
    wmemcpy(text + used, path, length);
    used += length;
    ++count;
    return true;
  }
};

void ListFiles(const wchar_t* folder, int depth, FileList* files) {
  if (depth > 32 || files->count >= kRestartManagerFileLimit) return;
  wchar_t pattern[kProgramImageCapacity];
  if (_snwprintf(pattern, kProgramImageCapacity, L"%ls\\*", folder) < 0) return;
  WIN32_FIND_DATAW data;
  FindHandle find(FindFirstFileW(pattern, &data));
  if (!find) return;
  do {
    if (!wcscmp(data.cFileName, L".") || !wcscmp(data.cFileName, L"..")) continue;
    wchar_t path[kProgramImageCapacity];
    if (_snwprintf(path, kProgramImageCapacity, L"%ls\\%ls", folder, data.cFileName) < 0) continue;
    // A linked folder may lead anywhere, even back here: not followed.
    if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      ListFiles(path, depth + 1, files);
    else if (files->count < kRestartManagerFileLimit && !files->Add(path))
      return;
  } while (FindNextFileW(find.get(), &data));
}

// The Restart Manager's answer for the folder's files; false when it is not
// there or did not answer.
bool AskRestartManager(const wchar_t* folder, RunningPrograms* found) {
  HMODULE library = LoadSystemLibrary(L"rstrtmgr.dll");
  if (!library) return false;
  auto start = Function<StartSession>(library, "RmStartSession");
  auto end = Function<EndSession>(library, "RmEndSession");
  auto registerFiles = Function<RegisterResources>(library, "RmRegisterResources");
  auto getList = Function<GetList>(library, "RmGetList");
  bool answered = false;
  DWORD session = 0;
  WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
  if (start && end && registerFiles && getList && start(&session, 0, key) == ERROR_SUCCESS) {
    FileList files;
    ListFiles(folder, 0, &files);
    static LPCWSTR batch[kRegisterBatch];
    bool registered = true;
    const wchar_t* next = files.text;
    for (size_t done = 0; registered && done < files.count;) {
      UINT n = 0;
      for (; n < kRegisterBatch && done < files.count; ++n, ++done) {
        batch[n] = next;
        next += wcslen(next) + 1;
      }
      registered = registerFiles(session, n, batch, 0, nullptr, 0, nullptr) == ERROR_SUCCESS;
    }
    static RM_PROCESS_INFO list[kListCapacity];
    UINT needed = 0, count = kListCapacity;
    DWORD reasons = 0;
    if (registered && files.count > 0 && getList(session, &needed, &count, list, &reasons) == ERROR_SUCCESS) {
      answered = true;
      for (UINT i = 0; i < count; ++i) {
        const RM_PROCESS_INFO& info = list[i];
        if (info.Process.dwProcessId == GetCurrentProcessId() || info.Process.dwProcessId == 0) continue;
        if (info.ApplicationType == RmCritical || info.ApplicationType == RmExplorer) continue;
        FILETIME started;
        wchar_t image[kProgramImageCapacity] = L"";
        if (!QueryProcess(info.Process.dwProcessId, &started, image)) continue;
        if (!SameTime(started, info.Process.ProcessStartTime)) continue;
        Add(found, info.Process.dwProcessId, started, info.strAppName[0] ? info.strAppName : FileNamePart(image),
            image);
      }
      // Beyond the list's room: counted, so that the caller knows there are more.
      if (needed > count) found->more += needed - count;
    }
    end(session);
  }
  FreeLibrary(library);
  return answered;
}

void AddProgramsRunFrom(const wchar_t* folder, RunningPrograms* found) {
  FileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return;
  PROCESSENTRY32W entry;
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ProcessID == GetCurrentProcessId() || entry.th32ProcessID == 0) continue;
    FILETIME started;
    wchar_t image[kProgramImageCapacity] = L"";
    if (!QueryProcess(entry.th32ProcessID, &started, image) || !image[0]) continue;
    if (ImageLiesInFolder(image, folder)) Add(found, entry.th32ProcessID, started, FileNamePart(image), image);
  }
}

struct WindowSearch {
  DWORD processId;
  HWND windows[64];
  size_t count;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM context) {
  WindowSearch* search = reinterpret_cast<WindowSearch*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == search->processId && search->count < sizeof search->windows / sizeof search->windows[0])
    search->windows[search->count++] = window;
  return TRUE;
}

// Asks the program's windows to close, as Windows asks at log-off. A window
// that does not answer within the time is left to the wait and the force.
void AskToClose(DWORD processId) {
  WindowSearch search = {processId, {}, 0};
  EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
  for (size_t i = 0; i < search.count; ++i) {
    DWORD_PTR agreed = 0;
    SendMessageTimeoutW(search.windows[i], WM_QUERYENDSESSION, 0, ENDSESSION_CLOSEAPP, SMTO_ABORTIFHUNG, 5000,
                        &agreed);
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(search.windows[i], WM_ENDSESSION, agreed ? TRUE : FALSE, ENDSESSION_CLOSEAPP,
                        SMTO_ABORTIFHUNG, 5000, &ignored);
    PostMessageW(search.windows[i], WM_CLOSE, 0, 0);
  }
}

}  // namespace

bool ImageLiesInFolder(const wchar_t* image, const wchar_t* folder) {
  size_t length = wcslen(folder);
  while (length > 0 && (folder[length - 1] == L'\\' || folder[length - 1] == L'/')) --length;
  if (length == 0 || wcslen(image) <= length) return false;
  if (image[length] != L'\\' && image[length] != L'/') return false;
  return CompareStringOrdinal(image, static_cast<int>(length), folder, static_cast<int>(length), TRUE) == CSTR_EQUAL;
}

void FindProgramsInFolder(const wchar_t* folder, RunningPrograms* found) {
  found->count = 0;
  found->more = 0;
  wchar_t trimmed[kProgramImageCapacity];
  lstrcpynW(trimmed, folder, kProgramImageCapacity);
  size_t length = wcslen(trimmed);
  while (length > 3 && (trimmed[length - 1] == L'\\' || trimmed[length - 1] == L'/')) trimmed[--length] = L'\0';
  found->restartManagerAnswered = AskRestartManager(trimmed, found);
  AddProgramsRunFrom(trimmed, found);
}

void ClosePrograms(RunningPrograms* programs) {
  KernelHandle processes[kRunningProgramCapacity];
  for (size_t i = 0; i < programs->count; ++i) {
    RunningProgram& program = programs->programs[i];
    program.state = ProgramState::kStillRunning;
    processes[i].reset(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                   program.processId));
    FILETIME started, ended, kernel, user;
    if (!processes[i]) {
      // No such process any more: it ended by itself. Any other refusal
      // (rights) leaves it running.
      if (GetLastError() == ERROR_INVALID_PARAMETER) program.state = ProgramState::kClosed;
      continue;
    }
    if (!GetProcessTimes(processes[i].get(), &started, &ended, &kernel, &user) ||
        !SameTime(started, program.started)) {
      // Another process under the id of one that ended: never touched.
      program.state = ProgramState::kClosed;
      processes[i].reset();
      continue;
    }
    AskToClose(program.processId);
  }
  // One wait for all of them: each program had the same time to end.
  const DWORD begun = GetTickCount();
  for (size_t i = 0; i < programs->count; ++i) {
    if (!processes[i]) continue;
    DWORD spent = GetTickCount() - begun;
    DWORD left = spent < kPoliteCloseWaitMs ? kPoliteCloseWaitMs - spent : 0;
    if (WaitForSingleObject(processes[i].get(), left) == WAIT_OBJECT_0) {
      programs->programs[i].state = ProgramState::kClosed;
      processes[i].reset();
    }
  }
  for (size_t i = 0; i < programs->count; ++i) {
    if (!processes[i]) continue;
    if (TerminateProcess(processes[i].get(), 1) &&
        WaitForSingleObject(processes[i].get(), kForcedCloseWaitMs) == WAIT_OBJECT_0)
      programs->programs[i].state = ProgramState::kEnded;
  }
}

size_t RestartPrograms(const RunningPrograms& programs) {
  size_t started = 0;
  for (size_t i = 0; i < programs.count; ++i) {
    const RunningProgram& program = programs.programs[i];
    if (program.state != ProgramState::kClosed && program.state != ProgramState::kEnded) continue;
    if (!program.image[0]) continue;
    wchar_t folder[kProgramImageCapacity];
    lstrcpynW(folder, program.image, kProgramImageCapacity);
    wchar_t* name = const_cast<wchar_t*>(FileNamePart(folder));
    if (name > folder) name[-1] = L'\0';
    wchar_t commandLine[kProgramImageCapacity + 2];
    _snwprintf(commandLine, kProgramImageCapacity + 2, L"\"%ls\"", program.image);
    commandLine[kProgramImageCapacity + 1] = L'\0';
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(program.image, commandLine, nullptr, nullptr, FALSE, 0, nullptr, folder, &startup, &info))
      continue;
    KernelHandle thread(info.hThread), process(info.hProcess);
    ++started;
  }
  return started;
}
