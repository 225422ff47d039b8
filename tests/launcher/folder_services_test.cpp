// Path and folder services: folder chains with their log records, path
// cutting, entry name checks, and removal of a folder tree.
#include <gtest/gtest.h>

#include "base/handle_guard.h"
#include "base/path_services.h"
#include "extract/folder_creation.h"
#include "launcher/runtime_folder.h"
#include "tests/support/fake_core.h"
#include "tests/support/test_files.h"

using namespace kxtest;

namespace {

class FolderServices : public ::testing::Test {
 protected:
  void SetUp() override { ResetFake(); }
  void TearDown() override { g_uninstallLogging = false; }
  ScratchFolder folder;
};

std::wstring Stripped(std::wstring path) {
  path.push_back(L'\0');
  StripLastPathComponent(&path[0]);
  return path.c_str();
}

}  // namespace

TEST_F(FolderServices, CreatesEveryMissingFolderAndLogsEachOnceOutermostFirst) {
  g_uninstallLogging = true;
  std::wstring existing = folder / L"existing";
  ASSERT_TRUE(CreateDirectoryW(existing.c_str(), nullptr));
  std::wstring target = existing + L"\\a/b\\c";
  EXPECT_EQ(0u, CreateInstallFolderPath(target.c_str()));
  EXPECT_TRUE(FolderExists(existing + L"\\a\\b\\c"));
  std::vector<LogRecord> expected = {{KX_LOG_FOLDER, existing + L"\\a"},
                                     {KX_LOG_FOLDER, existing + L"\\a\\b"},
                                     {KX_LOG_FOLDER, existing + L"\\a\\b\\c"}};
  EXPECT_EQ(expected, Fake().log);

  // Everything exists now: nothing new is logged.
  Fake().log.clear();
  EXPECT_EQ(0u, CreateInstallFolderPath((target + L"/").c_str()));
  EXPECT_TRUE(Fake().log.empty());
}

TEST_F(FolderServices, LogsNothingWhileTheFlagIsClear) {
  EXPECT_EQ(0u, CreateInstallFolderPath((folder / L"x\\y").c_str()));
  EXPECT_TRUE(FolderExists(folder / L"x\\y"));
  EXPECT_TRUE(Fake().log.empty());
}

TEST_F(FolderServices, RefusesAPathItsBufferCannotHoldAndCreatesNothing) {
  g_uninstallLogging = true;
  std::wstring longPath = folder / (L"new\\" + std::wstring(300, L'n'));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE), CreateInstallFolderPath(longPath.c_str()));
  EXPECT_FALSE(FolderExists(folder / L"new"));
  EXPECT_TRUE(Fake().log.empty());
}

TEST_F(FolderServices, ReportsTheErrorOfTheFinalFolderButLogsItFirst) {
  g_uninstallLogging = true;
  std::wstring file = folder / L"plain.txt";
  ASSERT_TRUE(WriteBytes(file, "x"));
  // A folder below a file cannot be created.
  std::wstring below = file + L"\\sub";
  EXPECT_NE(0u, CreateInstallFolderPath(below.c_str()));
  ASSERT_FALSE(Fake().log.empty());
  EXPECT_EQ(below, Fake().log.back().text);
}

TEST(StripLastPathComponent, CutsAtTheLastSeparatorOfTheFirstKindFound) {
  EXPECT_EQ(L"C:\\Program Files", Stripped(L"C:\\Program Files\\setup.exe"));
  EXPECT_EQ(L"a/b", Stripped(L"a/b/c"));
  EXPECT_EQ(L"a\\b/c", Stripped(L"a\\b/c\\d"));  // a backslash wins over a later '/'
  EXPECT_EQ(L"C:", Stripped(L"C:setup.exe"));
  EXPECT_EQ(L"", Stripped(L"setup.exe"));
  EXPECT_EQ(L"C:", Stripped(L"C:\\"));
}

TEST(IsContainedEntryName, AcceptsOnlyNamesThatStayBelowTheFolder) {
  for (const wchar_t* good : {L"a.txt", L"a/b/c.txt", L"a\\b", L"..a/b", L"a../b", L"a b/c", L"dir/"})
    EXPECT_TRUE(IsContainedEntryName(good)) << good;
  for (const wchar_t* bad : {L"", L"/abs", L"\\abs", L"C:\\x", L"C:x", L"a/../b", L"..", L"../x", L"a\\..\\..\\x",
                             L"a/./b", L"a/. ./b", L"a/... /b", L"x/..", L"file:stream"})
    EXPECT_FALSE(IsContainedEntryName(bad)) << bad;
}

TEST_F(FolderServices, PathExistsForFilesAndFoldersOnly) {
  ASSERT_TRUE(WriteBytes(folder / L"f.txt", "x"));
  EXPECT_TRUE(PathExists((folder / L"f.txt").c_str()));
  EXPECT_TRUE(PathExists(folder.path().substr(0, folder.path().size() - 1).c_str()));
  EXPECT_FALSE(PathExists((folder / L"missing").c_str()));
}

TEST_F(FolderServices, RemoveFolderTreeDeletesReadOnlyFilesAndNestedFolders) {
  std::wstring tree = folder / L"tree\\";
  ASSERT_EQ(0u, CreateInstallFolderPath((tree + L"a\\b").c_str()));
  ASSERT_TRUE(WriteBytes(tree + L"a\\b\\deep.txt", "deep"));
  ASSERT_TRUE(WriteBytes(tree + L"ro.txt", "read-only"));
  ASSERT_TRUE(SetFileAttributesW((tree + L"ro.txt").c_str(), FILE_ATTRIBUTE_READONLY));

  wchar_t path[kRuntimePathCapacity];
  wcscpy(path, tree.c_str());
  EXPECT_EQ(0u, RemoveFolderTree(path, kRuntimePathCapacity));
  EXPECT_EQ(tree, std::wstring(path));  // the buffer names the folder again
  EXPECT_FALSE(FolderExists(tree));
}

TEST_F(FolderServices, RemoveFolderTreeStopsAtAFileHeldOpenAndKeepsItsParents) {
  std::wstring tree = folder / L"tree\\";
  ASSERT_EQ(0u, CreateInstallFolderPath((tree + L"sub").c_str()));
  ASSERT_TRUE(WriteBytes(tree + L"sub\\held.txt", "held"));
  FileHandle held(CreateFileW((tree + L"sub\\held.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held.valid());

  wchar_t path[kRuntimePathCapacity];
  wcscpy(path, tree.c_str());
  EXPECT_NE(0u, RemoveFolderTree(path, kRuntimePathCapacity));
  EXPECT_TRUE(FileExists(tree + L"sub\\held.txt"));
  EXPECT_TRUE(FolderExists(tree + L"sub"));
  EXPECT_TRUE(FolderExists(tree));

  held.reset();
  EXPECT_EQ(0u, RemoveFolderTree(path, kRuntimePathCapacity));
  EXPECT_FALSE(FolderExists(tree));
}

TEST_F(FolderServices, RemoveFolderTreeReportsAMissingFolder) {
  wchar_t path[kRuntimePathCapacity];
  wcscpy(path, (folder / L"missing\\").c_str());
  EXPECT_NE(0u, RemoveFolderTree(path, kRuntimePathCapacity));
}
