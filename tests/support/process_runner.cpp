#include "tests/support/process_runner.h"

#include <stdio.h>

#include <vector>

namespace kxtest {
namespace {

// The current environment with the overrides applied, as CreateProcessW wants it.
std::vector<wchar_t> BuildEnvironment(const std::map<std::wstring, std::wstring>& overrides) {
  std::map<std::wstring, std::wstring> merged;
  wchar_t* block = GetEnvironmentStringsW();
  for (const wchar_t* p = block; *p; p += wcslen(p) + 1) {
    std::wstring entry = p;
    size_t equals = entry.find(L'=', 1);
    if (equals != std::wstring::npos) merged[entry.substr(0, equals)] = entry.substr(equals + 1);
  }
  FreeEnvironmentStringsW(block);
  for (const auto& item : overrides) merged[item.first] = item.second;
  std::vector<wchar_t> result;
  for (const auto& item : merged) {
    std::wstring entry = item.first + L"=" + item.second;
    result.insert(result.end(), entry.begin(), entry.end());
    result.push_back(L'\0');
  }
  result.push_back(L'\0');
  return result;
}

}  // namespace

ChildProcess::~ChildProcess() {
  if (info_.hProcess) CloseHandle(info_.hProcess);
  if (info_.hThread) CloseHandle(info_.hThread);
}

bool ChildProcess::Start(const std::wstring& program, const LaunchOptions& options) {
  std::wstring commandLine = L"\"" + program + L"\"";
  if (!options.arguments.empty()) commandLine += L" " + options.arguments;
  std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
  line.push_back(L'\0');
  std::vector<wchar_t> environment = BuildEnvironment(options.environment);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  constexpr int kAttempts = 50;
  for (int attempt = 1;; ++attempt) {
    if (CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                       environment.data(), options.workingFolder.empty() ? nullptr : options.workingFolder.c_str(),
                       &startup, &info_)) {
      startError_ = 0;
      return true;
    }
    startError_ = GetLastError();
    bool held = startError_ == ERROR_SHARING_VIOLATION || startError_ == ERROR_LOCK_VIOLATION;
    if (!held || attempt == kAttempts) return false;
    Sleep(100);
  }
}

DWORD ChildProcess::Wait(DWORD timeoutMs) {
  if (!info_.hProcess) return STILL_ACTIVE;
  if (WaitForSingleObject(info_.hProcess, timeoutMs) != WAIT_OBJECT_0) return STILL_ACTIVE;
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(info_.hProcess, &code);
  return code;
}

void ChildProcess::Kill() {
  if (info_.hProcess) {
    TerminateProcess(info_.hProcess, 0xDEAD);
    WaitForSingleObject(info_.hProcess, 10000);
  }
}

DWORD RunToExit(const std::wstring& program, const LaunchOptions& options, DWORD timeoutMs) {
  ChildProcess child;
  if (!child.Start(program, options)) {
    fwprintf(stderr, L"could not start %ls: Windows error %lu\n", program.c_str(), child.startError());
    return kNotStarted;
  }
  DWORD code = child.Wait(timeoutMs);
  if (code == STILL_ACTIVE) {
    child.Kill();
    // A program that did not end is most often one waiting on Wine's
    // desktop process (CONTRIBUTING.md, "Wine pitfalls"); say which it was.
    fwprintf(stderr, L"%ls did not end within %lu ms; Wine's desktop %ls\n", program.c_str(), timeoutMs,
             DesktopAnswers() ? L"answers" : L"does not answer");
  }
  return code;
}

bool DesktopAnswers(DWORD timeoutMs) {
  DWORD_PTR result = 0;
  return SendMessageTimeoutW(GetDesktopWindow(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, timeoutMs,
                             &result) != 0;
}

}  // namespace kxtest
