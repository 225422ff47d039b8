#include "core/dialog_runner.h"

#include <vector>

#include "base/package_format.h"
#include "core/decimal_text.h"
#include "core/dialog_window.h"
#include "core/module_files.h"
#include "core/srw_guard.h"
#include "core/variables.h"

namespace kxcore {
namespace {

constexpr DWORD kBoxThreadExitWaitMs = 5000;

// Progress box threads not yet joined. Each holds a reference on the library
// so that a release by the launcher cannot unmap code the thread still runs.
struct BoxThread {
  HANDLE thread;
  HWND box;
};

struct BoxThreads {
  SRWLOCK lock = SRWLOCK_INIT;
  std::vector<BoxThread> threads;
};

BoxThreads& Threads() {
  static BoxThreads threads;
  return threads;
}

struct BoxStart {
  const DialogSpec* dialog;
  KxDialogHandler handler;
  HANDLE ready;
  HMODULE heldLibrary;
  HWND box;
  DWORD error;
};

DWORD WINAPI RunBoxThread(void* parameter) {
  auto* start = static_cast<BoxStart*>(parameter);
  const HMODULE heldLibrary = start->heldLibrary;
  DWORD error = 0;
  HWND box = CreateDialogWindow(*start->dialog, start->handler, DialogMode::kProgressBox, &error);
  if (box) ShowDialogWindow(box);
  start->box = box;
  start->error = error;
  SetEvent(start->ready);  // *start belongs to the caller and may be gone from here on

  if (box) {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
      if (IsWindow(box) && RouteDialogMessage(box, &message)) continue;
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  if (heldLibrary) FreeLibraryAndExitThread(heldLibrary, 0);
  return 0;
}

std::wstring ProblemText(const wchar_t* key, const std::wstring& detail) {
  return Evaluate(key) + L"\r\n\r\n" + detail;
}

}  // namespace

bool LoadDialogSpec(const std::wstring& folder, std::wstring_view name, DialogSpec* dialog, std::wstring* problem) {
  std::string bytes;
  if (!ReadWholeFile(folder + kxformat::kDialogsFileW, &bytes)) {
    *problem = ProblemText(L"#ErrorDialogData", L"kxdlg.dat: cannot be read (" + DecimalText(GetLastError()) + L")");
    return false;
  }
  std::vector<DialogSpec> dialogs;
  std::wstring error;
  if (!ParseDialogData(bytes, &dialogs, &error)) {
    *problem = ProblemText(L"#ErrorDialogData", error);
    return false;
  }
  const DialogSpec* found = FindDialog(dialogs, name);
  if (!found) {
    *problem = Evaluate(L"#ErrorNoDialog") + L" \"" + std::wstring(name) + L"\".";
    return false;
  }
  *dialog = *found;
  return true;
}

int RunModalPage(const DialogSpec& dialog, KxDialogHandler handler, DWORD* error) {
  HWND page = CreateDialogWindow(dialog, handler, DialogMode::kPage, error);
  if (!page) return KX_PAGE_ABORT;
  int result = KX_PAGE_ABORT;
  if (!DialogFinished(page, &result)) {
    ShowDialogWindow(page);
    MSG message;
    for (;;) {
      BOOL got = GetMessageW(&message, nullptr, 0, 0);
      if (got == 0) {
        // Someone asked the thread to quit: leave the page and pass it on.
        PostQuitMessage(static_cast<int>(message.wParam));
        result = KX_PAGE_ABORT;
        break;
      }
      if (got == -1) {
        result = KX_PAGE_ABORT;
        break;
      }
      if (!RouteDialogMessage(page, &message)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
      }
      if (!IsWindow(page)) {
        result = KX_PAGE_ABORT;
        break;
      }
      if (DialogFinished(page, &result)) break;
    }
  }
  if (IsWindow(page)) DestroyWindow(page);
  return result;
}

DWORD OpenProgressBox(const DialogSpec& dialog, KxDialogHandler handler, HWND* box) {
  *box = nullptr;
  BoxStart start = {&dialog, handler, CreateEventW(nullptr, TRUE, FALSE, nullptr), nullptr, nullptr, 0};
  if (!start.ready) return GetLastError();
  HMODULE library = LibraryModule();
  if (library != GetModuleHandleW(nullptr) &&
      !GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&RunBoxThread),
                          &start.heldLibrary))
    start.heldLibrary = nullptr;
  HANDLE thread = CreateThread(nullptr, 0, RunBoxThread, &start, 0, nullptr);
  if (!thread) {
    DWORD error = GetLastError();
    if (start.heldLibrary) FreeLibrary(start.heldLibrary);
    CloseHandle(start.ready);
    return error;
  }
  // While the box is being made, messages sent to this thread's windows
  // (by the handler's event 0, say) are served, so neither thread can wait
  // for the other; posted messages stay queued for the caller.
  HANDLE waits[2] = {start.ready, thread};
  while (MsgWaitForMultipleObjects(2, waits, FALSE, INFINITE, QS_SENDMESSAGE) == WAIT_OBJECT_0 + 2) {
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
  CloseHandle(start.ready);
  if (!start.box) {
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return start.error ? start.error : ERROR_CANNOT_MAKE;
  }
  BoxThreads& threads = Threads();
  {
    SrwGuard guard(&threads.lock, SrwGuard::kExclusive);
    threads.threads.push_back({thread, start.box});
  }
  *box = start.box;
  return 0;
}

void JoinClosedProgressBoxes() {
  BoxThreads& threads = Threads();
  SrwGuard guard(&threads.lock, SrwGuard::kExclusive);
  std::vector<BoxThread> open;
  for (const BoxThread& entry : threads.threads) {
    // A closed box's thread is at most a few instructions from its end.
    if (IsWindow(entry.box) && WaitForSingleObject(entry.thread, 0) == WAIT_TIMEOUT) {
      open.push_back(entry);
      continue;
    }
    WaitForSingleObject(entry.thread, kBoxThreadExitWaitMs);
    CloseHandle(entry.thread);
  }
  threads.threads.swap(open);
}

}  // namespace kxcore
