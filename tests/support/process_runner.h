// Starts Windows programs from tests and reads their full 32-bit exit code.
#ifndef KX_TESTS_SUPPORT_PROCESS_RUNNER_H
#define KX_TESTS_SUPPORT_PROCESS_RUNNER_H

#include <windows.h>

#include <map>
#include <string>

namespace kxtest {

struct LaunchOptions {
  std::wstring arguments;                       // appended after the quoted program path
  std::wstring workingFolder;                   // empty: the test's own
  std::map<std::wstring, std::wstring> environment;  // overrides for the child
};

// A started program. The handles are closed when the object goes.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // False when the program could not be started; startError() says why.
  // A program file another process still holds open for writing (Wine
  // closes an ended process's handles a moment after the end is signalled)
  // is tried again for a few seconds first.
  bool Start(const std::wstring& program, const LaunchOptions& options = {});
  DWORD startError() const { return startError_; }
  DWORD id() const { return info_.dwProcessId; }
  HANDLE handle() const { return info_.hProcess; }
  // Waits for the end; returns the exit code, or STILL_ACTIVE after a timeout.
  DWORD Wait(DWORD timeoutMs = 120000);
  void Kill();

 private:
  PROCESS_INFORMATION info_ = {};
  DWORD startError_ = 0;
};

// What RunToExit returns for a program that could not be started: no
// program of ours ends with it, and unlike STILL_ACTIVE it cannot be
// mistaken for a run that did not end in time.
constexpr DWORD kNotStarted = 0xDEADF00Du;

// Starts a program, waits for it and returns its exit code (STILL_ACTIVE
// when it did not end within the timeout; it is then killed; kNotStarted,
// with the reason on stderr, when it could not be started).
DWORD RunToExit(const std::wstring& program, const LaunchOptions& options = {}, DWORD timeoutMs = 120000);

// Whether Wine's desktop process serves messages. When it hangs (it can, in
// its COM server), every program that needs a window waits for it.
bool DesktopAnswers(DWORD timeoutMs = 5000);

}  // namespace kxtest

#endif
