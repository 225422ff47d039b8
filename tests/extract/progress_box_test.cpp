// The progress box handler and the bar and text updates, against a stand-in
// box window (windows need the display of the UI prefix).
#include <gmock/gmock.h>

#include "core/variables.h"
#include "tests/extract/extract_fixture.h"

using namespace kxtest;
using ::testing::ElementsAre;

namespace {

int g_hookCalls = 0;

ExtractHookAnswer SkipFirst(wchar_t*, uint64_t, const uint32_t*, const uint32_t*) {
  return ++g_hookCalls == 1 ? kHookSkip : kHookWrite;
}

TEST_F(ExtractTest, EmptyArchiveIsRefusedWithoutMovingTheBar) {
  std::wstring package = WritePackage(std::vector<ArchiveItem>{});
  EXPECT_EQ(ExtractResultOfSdk(SZ_ERROR_NO_ARCHIVE), ExtractWithBox(package, Destination()));
  EXPECT_NE(nullptr, ProgressBox().box);
  EXPECT_TRUE(ProgressBox().barPositions.empty());
  EXPECT_TRUE(ProgressBox().texts.empty());
  EXPECT_TRUE(ListFolder(Destination()).empty());
}

TEST_F(ExtractTest, ProgressMovesOncePerEntryByUnits) {
  // 0 and 98 bytes: 1 + 99 = 100 units.
  std::wstring package = WritePackage({ArchiveItem::File(L"zero.txt", ""), ArchiveItem::File(L"d/n.txt", std::string(98, 'n'))});
  ASSERT_EQ(kExtractDone, ExtractWithBox(package, Destination()));
  EXPECT_THAT(ProgressBox().barPositions, ElementsAre(1, 100));
  EXPECT_THAT(ProgressBox().texts, ElementsAre(L"Extracting zero.txt...", L"Extracting d/n.txt..."));
  EXPECT_EQ(1, Fake().progressBoxesShown);
}

TEST_F(ExtractTest, SilentExtractionShowsNoBoxAndSetsNoLabel) {
  InstallTestProgressBox();
  ASSERT_EQ(kExtractDone, Extract(WritePackage({ArchiveItem::File(L"a.txt", "a")}), Destination()));
  EXPECT_EQ(0, Fake().progressBoxesShown);
  EXPECT_TRUE(ProgressBox().barPositions.empty());
  EXPECT_TRUE(ProgressBox().texts.empty());
  std::wstring name;
  EXPECT_FALSE(kxcore::GetVariable(L"EXTNAME", &name));
}

TEST_F(ExtractTest, SkippedDirectoryAndFailedEntriesAllAdvanceTheBar) {
  // 1 (folder) + 51 (skipped) + 48 (written) = 100.
  g_hookCalls = 0;
  std::wstring package = WritePackage({ArchiveItem::Folder(L"f"), ArchiveItem::File(L"skip.txt", std::string(50, 's')),
                                       ArchiveItem::File(L"w.txt", std::string(47, 'w'))});
  ASSERT_EQ(kExtractDone, ExtractWithBox(package, Destination(), SkipFirst));
  EXPECT_THAT(ProgressBox().barPositions, ElementsAre(1, 52, 100));
}

TEST_F(ExtractTest, BoxHandlerDisablesNextAndBackAndHidesCancelOnlyForOne) {
  const std::pair<const wchar_t*, bool> kCases[] = {{L"1", false}, {L"0", true}, {L"10", true}, {L"", true}};
  for (const auto& [value, visible] : kCases) {
    ResetTestProgressBox();
    InstallTestProgressBox();
    HWND box = ProgressBox().box;
    SetVar(L"KXEXTHC", value);
    ProgressBoxHandler(KX_EVENT_CREATED, box, 0, 0);
    EXPECT_EQ(visible, IsWindowVisible(GetDlgItem(box, 2)) != FALSE) << Narrow(value);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(box, 1)));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(box, 3)));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(box, 2)));
  }
}

TEST_F(ExtractTest, CancelAsksAndOnlyYesSetsTheFlag) {
  InstallTestProgressBox();
  HWND box = ProgressBox().box;
  ProgressBoxHandler(KX_EVENT_CREATED, box, 0, 0);

  MessageAnswers() = {IDNO};
  EXPECT_EQ(0, ProgressBoxHandler(KX_EVENT_COMMAND, box, 2, 0));
  EXPECT_FALSE(g_extractCancelled);
  ASSERT_EQ(1u, Messages().size());
  EXPECT_EQ(L"Do you really want to abort the extraction process?", Messages()[0].text);
  EXPECT_EQ(box, Messages()[0].owner);
  EXPECT_EQ(static_cast<UINT>(MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2), Messages()[0].style);

  EXPECT_EQ(0, ProgressBoxHandler(KX_EVENT_COMMAND, box, 1, 0));
  EXPECT_EQ(1u, Messages().size());

  MessageAnswers() = {IDYES};
  EXPECT_EQ(0, ProgressBoxHandler(KX_EVENT_COMMAND, box, 2, 0));
  EXPECT_TRUE(g_extractCancelled);
  g_extractCancelled = false;

  // Enter asks the same question while Cancel is offered, and not at all
  // while it is hidden.
  MessageAnswers() = {IDYES};
  ProgressBoxHandler(KX_EVENT_ENTER, box, 0, 0);
  EXPECT_TRUE(g_extractCancelled);
  g_extractCancelled = false;
  ShowWindow(GetDlgItem(box, 2), SW_HIDE);
  Messages().clear();
  ProgressBoxHandler(KX_EVENT_ENTER, box, 0, 0);
  EXPECT_TRUE(Messages().empty());
  EXPECT_FALSE(g_extractCancelled);
}

// Presses Cancel in the box while the first file is being decided, as the
// box's thread would during the pass.
ExtractHookAnswer PressCancelDuringHook(wchar_t*, uint64_t, const uint32_t*, const uint32_t*) {
  ++g_hookCalls;
  MessageAnswers() = {IDYES};
  ProgressBoxHandler(KX_EVENT_COMMAND, ProgressBox().box, 2, 0);
  return kHookWrite;
}

TEST_F(ExtractTest, ConfirmedCancelStopsBeforeTheNextWriteWithoutAMessage) {
  g_hookCalls = 0;
  std::wstring package = WritePackage({ArchiveItem::File(L"1.txt", "1"), ArchiveItem::File(L"2.txt", "2")});
  EXPECT_EQ(kExtractCancelled, ExtractWithBox(package, Destination(), PressCancelDuringHook));
  EXPECT_TRUE(g_extractCancelled);
  EXPECT_EQ(1, g_hookCalls);
  EXPECT_TRUE(ListFolder(Destination()).empty());
  EXPECT_THAT(MessageTexts(), ElementsAre(L"Do you really want to abort the extraction process?"));
}

TEST_F(ExtractTest, ACancelConfirmedAsTheLastFileEndsStillCancels) {
  // The pass has nothing left to stop, but the user's Yes must not be lost:
  // the result says cancelled, so the caller undoes the files.
  std::wstring package = WritePackage({ArchiveItem::File(L"1.txt", "1"), ArchiveItem::File(L"2.txt", "2")});
  ProgressBox().onPosition = [] {
    if (ProgressBox().barPositions.back() < 100) return;
    MessageAnswers() = {IDYES};
    ProgressBoxHandler(KX_EVENT_COMMAND, ProgressBox().box, 2, 0);
  };
  EXPECT_EQ(kExtractCancelled, ExtractWithBox(package, Destination()));
  EXPECT_EQ(2u, ListFolder(Destination()).size());
  EXPECT_THAT(MessageTexts(), ElementsAre(L"Do you really want to abort the extraction process?"));
}

TEST_F(ExtractTest, CancelDuringALargeFileStopsAtOnceAndRemovesWhatItWrote) {
  // One file of 12 MiB: the bar moves while it is written, and a Cancel
  // confirmed then stops the copy instead of waiting for the file's end.
  std::wstring package = WritePackage(ReadBytes(TestDataPath("KX_TEST_PACKAGES") + L"\\archives\\long.7z"));
  ProgressBox().onPosition = [] {
    MessageAnswers() = {IDYES};
    ProgressBoxHandler(KX_EVENT_COMMAND, ProgressBox().box, 2, 0);
  };
  EXPECT_EQ(kExtractCancelled, ExtractWithBox(package, Destination()));
  EXPECT_EQ(1u, ProgressBox().barPositions.size());
  EXPECT_LT(ProgressBox().barPositions[0], 100);
  EXPECT_TRUE(ListFolder(Destination()).empty());
}

}  // namespace
