#include "tests/support/fake_core.h"

#include "launcher/core_binding.h"

#include <stdlib.h>
#include <wchar.h>

#include "core/language_table.h"
#include "core/variables.h"
#include "tests/support/test_files.h"

namespace kxtest {

FakeCore& Fake() {
  static FakeCore fake;
  return fake;
}

void ResetFake() {
  Fake() = FakeCore();
  kxcore::ClearVariables();
  kxcore::LanguageTable table;
  std::wstring folder = TestDataPath("KX_TEST_RUNTIME");
  std::string bytes;
  std::wstring error;
  if (!folder.empty() && ReadBytes(folder + L"\\kxlng.dat", &bytes)) kxcore::ParseLanguageTable(bytes, &table, &error);
  kxcore::SetActiveLanguageTable(std::move(table));
}

}  // namespace kxtest

using kxtest::Fake;

extern "C" {

void SetVar(const wchar_t* name, const wchar_t* value) { kxcore::SetVariable(name, value ? value : L""); }

const wchar_t* EvalVar(const wchar_t* text) {
  thread_local std::wstring ring[8];
  thread_local int next = 0;
  std::wstring& slot = ring[next];
  next = (next + 1) % 8;
  slot = kxcore::Evaluate(text ? text : L"");
  return slot.c_str();
}

int EvalVarBuf(const wchar_t* text, wchar_t* buffer, int sizeBytes) {
  if (!buffer || sizeBytes < 2) return 0;
  std::wstring value = kxcore::Evaluate(text ? text : L"");
  size_t capacity = static_cast<size_t>(sizeBytes) / 2;
  size_t copied = value.size() < capacity ? value.size() : capacity - 1;
  wmemcpy(buffer, value.data(), copied);
  buffer[copied] = L'\0';
  return static_cast<int>(value.size());
}

void InitRunLog(const wchar_t*, int) {}

int FinishInterruptedInstall(const wchar_t* folder) {
  Fake().interruptedFolders.push_back(folder ? folder : L"");
  return KX_RECOVERY_DONE;
}

void InitSFX(HINSTANCE) {}

int InitUninstall(void) { return Fake().initUninstall; }

void AllowUninstallRecord(int kind, const wchar_t* text) { Fake().allowedRecords.push_back({kind, text ? text : L""}); }

int PerformUninstall(int step, KxUninstallStepCallback) {
  Fake().uninstallSteps.push_back(step);
  return Fake().performUninstall ? Fake().performUninstall(step) : 0;
}

int ShowDialogBox(const wchar_t* name, KxDialogHandler handler) {
  Fake().dialogsShown.push_back(name ? name : L"");
  return Fake().showDialogBox ? Fake().showDialogBox(name, handler) : KX_PAGE_NEXT;
}

int ShowProgressBox(KxDialogHandler handler) {
  ++Fake().progressBoxesShown;
  return Fake().showProgressBox ? Fake().showProgressBox(handler) : 0;
}

HWND KXDlgGetDlgItem(HWND dialog, int id) {
  if (Fake().dialogItem) return Fake().dialogItem(dialog, id);
  return dialog ? GetDlgItem(dialog, id) : nullptr;
}

int CheckFileProp(int, wchar_t* path, int sizeBytes) {
  return Fake().checkFileProp ? Fake().checkFileProp(path, sizeBytes) : 1;
}

void AddUninstLog(int kind, const wchar_t* text) { Fake().log.push_back({kind, text ? text : L""}); }

int ManageUninstLog(int operation) {
  Fake().manageCalls.push_back(operation);
  return Fake().manageUninstLog ? Fake().manageUninstLog(operation) : 0;
}

int ReplaceVarInFile(const wchar_t*, const wchar_t*, int) { return 0; }

int ShowLanguageBox(void) {
  ++Fake().languageBoxesShown;
  return Fake().languageBox;
}

}  // extern "C"

// The binder's own entries, which the launcher's main routine calls.
void SetCoreLibraryFolder(const wchar_t*) {}
void ReleaseCoreLibrary() {}
