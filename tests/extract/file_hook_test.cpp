// The per-file hook's answers, CheckFileProp through InstallFileHook and the
// create-file box.
#include <gmock/gmock.h>

#include "core/variables.h"
#include "extract/entry_checks.h"
#include "tests/extract/extract_fixture.h"

using namespace kxtest;
using ::testing::ElementsAre;

namespace {

int g_hookCalls = 0;

ExtractHookAnswer SkipFirst(wchar_t*, uint64_t, const uint32_t*, const uint32_t*) {
  return ++g_hookCalls == 1 ? kHookSkip : kHookWrite;
}
ExtractHookAnswer CancelFirst(wchar_t*, uint64_t, const uint32_t*, const uint32_t*) {
  return ++g_hookCalls == 1 ? kHookCancel : kHookWrite;
}

TEST_F(ExtractTest, HookAnswerOneSkipsAndTwoCancelsWithoutAMessage) {
  std::vector<ArchiveItem> items = {ArchiveItem::File(L"1.txt", "1"), ArchiveItem::File(L"2.txt", "2")};

  g_hookCalls = 0;
  ASSERT_EQ(kExtractDone, Extract(WritePackage(items), Destination(), SkipFirst));
  EXPECT_FALSE(FileExists(Destination() + L"\\1.txt"));
  EXPECT_EQ("2", ReadBytes(Destination() + L"\\2.txt"));
  EXPECT_FALSE(g_extractCancelled);

  g_hookCalls = 0;
  const std::wstring other = scratch_ / L"other";
  EXPECT_EQ(kExtractCancelled, Extract(WritePackage(items), other, CancelFirst));
  EXPECT_TRUE(g_extractCancelled);
  EXPECT_EQ(1, g_hookCalls);
  EXPECT_TRUE(ListFolder(other).empty());
  EXPECT_TRUE(Messages().empty());

  // The next call starts with the flag cleared.
  g_hookCalls = 1;
  EXPECT_EQ(kExtractDone, Extract(WritePackage(items), other, CancelFirst));
  EXPECT_FALSE(g_extractCancelled);
}

TEST_F(ExtractTest, CheckFilePropZeroSkipsTheFileWithoutLogOrCount) {
  g_uninstallLogging = true;
  Fake().checkFileProp = [](wchar_t* path, int) { return wcsstr(path, L"keep") ? 0 : 1; };
  const std::wstring dest = Destination();
  ASSERT_TRUE(CreateDirectoryW(dest.c_str(), nullptr));
  ASSERT_TRUE(WriteBytes(dest + L"\\keep.txt", "mine"));

  ASSERT_EQ(kExtractDone,
            Extract(WritePackage({ArchiveItem::File(L"keep.txt", "theirs"), ArchiveItem::File(L"new.txt", "n")}), dest,
                    InstallFileHook));

  EXPECT_EQ("mine", ReadBytes(dest + L"\\keep.txt"));
  EXPECT_EQ("n", ReadBytes(dest + L"\\new.txt"));
  EXPECT_THAT(Fake().log, ElementsAre(LogRecord{KX_LOG_FILE, dest + L"\\new.txt"}));
  EXPECT_EQ(1, g_extractedFileCount);
}

TEST_F(ExtractTest, CheckFilePropTwoMovesTheFileAndLogsItsNewFolder) {
  const std::wstring moved = scratch_ / L"elsewhere\\deeper\\renamed.txt";
  static std::wstring s_moved;
  s_moved = moved;
  Fake().checkFileProp = [](wchar_t* path, int sizeBytes) {
    // The hook may write a path as long as Windows takes.
    EXPECT_EQ(static_cast<int>(kExtractPathCapacity * sizeof(wchar_t)), sizeBytes);
    wcscpy(path, s_moved.c_str());
    return 2;
  };
  const std::wstring dest = Destination();

  ASSERT_EQ(kExtractDone, Extract(WritePackage({ArchiveItem::File(L"a.txt", "moved")}), dest, InstallFileHook));

  EXPECT_EQ("moved", ReadBytes(moved));
  EXPECT_FALSE(FileExists(dest + L"\\a.txt"));
  // The hook logs the folder it had to create whatever the logging flag.
  EXPECT_THAT(Fake().log, ElementsAre(LogRecord{KX_LOG_FOLDER, scratch_ / L"elsewhere\\deeper"},
                                      LogRecord{KX_LOG_FILE, moved}));
  EXPECT_EQ(1, g_extractedFileCount);
}

TEST_F(ExtractTest, CreateFileBoxTryAgainContinueAndCancel) {
  const std::wstring dest = Destination();
  ASSERT_TRUE(CreateDirectoryW(dest.c_str(), nullptr));
  const std::wstring target = dest + L"\\locked.txt";
  ASSERT_TRUE(WriteBytes(target, "old"));
  // Another program holds the file open without sharing write access.
  HANDLE holder = CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, holder);
  std::vector<ArchiveItem> items = {ArchiveItem::File(L"locked.txt", "new"), ArchiveItem::File(L"after.txt", "a")};
  const std::wstring package = WritePackage(items);

  // Continue: the old file stays, the pass goes on.
  MessageAnswers() = {IDCONTINUE};
  EXPECT_EQ(kExtractDone, Extract(package, dest));
  EXPECT_EQ("old", ReadBytes(target));
  EXPECT_EQ("a", ReadBytes(dest + L"\\after.txt"));
  ASSERT_EQ(1u, Messages().size());
  EXPECT_EQ(L"Cannot open file for writing: " + target, Messages()[0].text);
  EXPECT_EQ(static_cast<UINT>(MB_CANCELTRYCONTINUE | MB_ICONERROR | MB_DEFBUTTON2), Messages()[0].style);
  EXPECT_EQ(nullptr, Messages()[0].owner);
  EXPECT_EQ(L"Extraction Test", Messages()[0].caption);

  // Cancel: the engine failed, nothing written, then the archive error.
  Messages().clear();
  DeleteFileW((dest + L"\\after.txt").c_str());
  MessageAnswers() = {IDCANCEL};
  EXPECT_EQ(kExtractFailed, Extract(package, dest));
  EXPECT_EQ("old", ReadBytes(target));
  EXPECT_FALSE(FileExists(dest + L"\\after.txt"));
  EXPECT_THAT(MessageTexts(),
              ElementsAre(L"Cannot open file for writing: " + target, L"Error while unpacking archive"));

  // A box that cannot be shown counts as Cancel.
  Messages().clear();
  EXPECT_EQ(kExtractFailed, Extract(package, dest));
  EXPECT_EQ(2u, Messages().size());

  // Try Again twice; the second time the obstacle is gone.
  Messages().clear();
  MessageAnswers() = {IDTRYAGAIN, IDTRYAGAIN};
  g_onMessage = [&](const ShownMessage&) {
    if (Messages().size() == 2) CloseHandle(holder);
  };
  EXPECT_EQ(kExtractDone, Extract(package, dest));
  EXPECT_EQ("new", ReadBytes(target));
  EXPECT_EQ(2u, Messages().size());
}

}  // namespace
