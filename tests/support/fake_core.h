// A test double of the core library for unit tests of one subsystem: the
// real variable engine, and scripted answers for everything that would show
// a window or touch the uninstall log. Link kxtest_fake_core instead of the
// lazy binder.
#ifndef KX_TESTS_SUPPORT_FAKE_CORE_H
#define KX_TESTS_SUPPORT_FAKE_CORE_H

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "core/kxcore.h"

namespace kxtest {

struct LogRecord {
  int kind;
  std::wstring text;
  bool operator==(const LogRecord& other) const { return kind == other.kind && text == other.text; }
};

struct FakeCore {
  std::vector<LogRecord> log;                  // every AddUninstLog call
  std::vector<LogRecord> allowedRecords;       // every AllowUninstallRecord call
  std::vector<int> manageCalls;                // every ManageUninstLog operation
  std::vector<std::wstring> dialogsShown;      // names given to ShowDialogBox
  std::vector<int> uninstallSteps;             // steps given to PerformUninstall
  std::vector<std::wstring> interruptedFolders;  // folders given to FinishInterruptedInstall
  int progressBoxesShown = 0;

  // Answers; the defaults are those of a library that accepts everything.
  std::function<int(wchar_t* path, int sizeBytes)> checkFileProp;
  std::function<int(const wchar_t* name, KxDialogHandler handler)> showDialogBox;
  std::function<int(KxDialogHandler handler)> showProgressBox;
  std::function<int(int operation)> manageUninstLog;
  std::function<int(int step)> performUninstall;
  std::function<HWND(HWND dialog, int id)> dialogItem;
  int initUninstall = 0;
  // ShowLanguageBox: what it returns, and how often it was called.
  int languageBox = KX_PAGE_NEXT;
  int languageBoxesShown = 0;
};

// The process-wide double; Reset() also forgets every script variable and
// installs the language table of the runtime (if KX_TEST_RUNTIME names it).
FakeCore& Fake();
void ResetFake();

}  // namespace kxtest

#endif
