// Shared set-up of the extraction tests: the fake core library, a package
// file holding a test archive behind some bytes, message boxes seen through
// the engine's message hook with scripted answers, and a stand-in progress
// box whose bar records every position it is sent.
#ifndef KX_TESTS_EXTRACT_EXTRACT_FIXTURE_H
#define KX_TESTS_EXTRACT_EXTRACT_FIXTURE_H

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "base/path_services.h"
#include "extract/engine_state.h"
#include "extract/extraction.h"
#include "extract/folder_creation.h"
#include "tests/extract/extract_result_printer.h"
#include "tests/support/fake_core.h"
#include "tests/support/seven_zip_writer.h"
#include "tests/support/test_files.h"

namespace kxtest {

struct ShownMessage {
  HWND owner;
  std::wstring text;
  std::wstring caption;
  UINT style;
};

// Bytes in front of the archive inside the package file.
constexpr uint32_t kArchiveOffset = 1000;

class ExtractTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Writes the archive behind kArchiveOffset filler bytes into the scratch
  // folder and returns the package path.
  std::wstring WritePackage(const std::string& archive);
  std::wstring WritePackage(const std::vector<ArchiveItem>& items) { return WritePackage(BuildSevenZip(items)); }

  // Extracts silently (no box) into destination with the given hook.
  ExtractResult Extract(const std::wstring& package, const std::wstring& destination, ExtractFileHook hook = AcceptAll);
  // Extracts with the stand-in progress box.
  ExtractResult ExtractWithBox(const std::wstring& package, const std::wstring& destination,
                               ExtractFileHook hook = AcceptAll);

  static ExtractHookAnswer AcceptAll(wchar_t*, uint64_t, const uint32_t*, const uint32_t*) { return kHookWrite; }

  std::wstring Destination() const { return scratch_ / L"dest"; }
  const ScratchFolder& scratch() const { return scratch_; }

  std::vector<std::wstring> MessageTexts() const;

  ScratchFolder scratch_;
};

// Every message box the engine asked for, in order.
std::vector<ShownMessage>& Messages();
// Answers for the next message boxes; when none is queued a box answers 0
// (as one that could not be shown).
std::deque<int>& MessageAnswers();
// Called when a box is shown, before its answer is taken (may change files).
extern std::function<void(const ShownMessage&)> g_onMessage;

// The stand-in progress box: a real window with the items of "dlgprogress".
struct TestProgressBox {
  HWND box = nullptr;
  std::vector<int> barPositions;  // every PBM_SETPOS the bar received
  std::vector<std::wstring> texts;  // every text set on item 21
  std::function<void()> onPosition;  // called after each PBM_SETPOS
};
TestProgressBox& ProgressBox();
// Creates the window (once per program) and makes the fake's
// ShowProgressBox deliver event 0 for it.
void InstallTestProgressBox();
// Forgets what the box recorded and shows and enables its buttons again.
void ResetTestProgressBox();

FILETIME LastWriteTime(const std::wstring& path);
uint64_t AsNumber(const FILETIME& time);

}  // namespace kxtest

#endif
