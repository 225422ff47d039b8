#include "tests/mutation/guarded_input.h"

#include <windows.h>
#include <stdio.h>
#include <string.h>

namespace kxmutation {

namespace {

constexpr size_t kPage = 4096;

struct Current {
  const char* target = nullptr;
  unsigned long long run = 0;
  const std::string* input = nullptr;
  wchar_t folder[MAX_PATH] = {};
};
Current g_current;

bool IsFault(DWORD code) {
  switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_STACK_OVERFLOW:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
    case EXCEPTION_IN_PAGE_ERROR:
    case EXCEPTION_PRIV_INSTRUCTION:
    case 0xC0000409:  // a fast-fail (stack cookie, __builtin_trap through abort)
      return true;
    default:
      return false;
  }
}

LONG CALLBACK KeepFaultingInput(EXCEPTION_POINTERS* info) {
  if (!g_current.input || !IsFault(info->ExceptionRecord->ExceptionCode)) return EXCEPTION_CONTINUE_SEARCH;
  wchar_t path[MAX_PATH + 64];
  _snwprintf(path, sizeof path / sizeof path[0], L"%ls\\crash-%hs-%llu.bin", g_current.folder, g_current.target,
             g_current.run);
  path[sizeof path / sizeof path[0] - 1] = L'\0';
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(file, g_current.input->data(), static_cast<DWORD>(g_current.input->size()), &written, nullptr);
    CloseHandle(file);
  }
  fprintf(stderr, "\nFAULT 0x%08lx in %s, run %llu; its input is %ls\n",
          static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode), g_current.target, g_current.run, path);
  fflush(stderr);
  TerminateProcess(GetCurrentProcess(), 3);
  return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

GuardedInput::GuardedInput(size_t capacity) {
  usable_ = (capacity + kPage - 1) / kPage * kPage;
  base_ = static_cast<char*>(VirtualAlloc(nullptr, usable_ + kPage, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  DWORD old = 0;
  if (base_ && !VirtualProtect(base_ + usable_, kPage, PAGE_NOACCESS, &old)) {
    VirtualFree(base_, 0, MEM_RELEASE);
    base_ = nullptr;
  }
}

GuardedInput::~GuardedInput() {
  if (base_) VirtualFree(base_, 0, MEM_RELEASE);
}

const char* GuardedInput::Place(const std::string& bytes) {
  const size_t size = bytes.size() < usable_ ? bytes.size() : usable_;
  char* start = base_ + usable_ - size;
  memcpy(start, bytes.data(), size);
  return start;
}

void BeginRun(const char* target, unsigned long long run, const std::string& input) {
  g_current.target = target;
  g_current.run = run;
  g_current.input = &input;
}

void EndRun() { g_current.input = nullptr; }

void InstallFaultKeeper(const std::wstring& folder) {
  wcsncpy(g_current.folder, folder.c_str(), MAX_PATH - 1);
  static bool installed = false;
  if (!installed) AddVectoredExceptionHandler(1, KeepFaultingInput);
  installed = true;
}

}  // namespace kxmutation
