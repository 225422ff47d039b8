// Runtime folders of runs that were killed: which folders a run takes for
// stale, and the lock a live run holds over its own folder to the end.
#include <gtest/gtest.h>

#include "handle_guard.h"
#include "runtime_folder.h"
#include "runtime_lock.h"
#include "test_files.h"

using namespace kxtest;

namespace {

class RuntimeLock : public ::testing::Test {
 protected:
  void SetUp() override {
    temp = folder / L"temp\\";
    ASSERT_TRUE(CreateDirectoryW(temp.c_str(), nullptr));
  }

  // A folder in temp, with a file and, unless lock is null, a lock file.
  void MakeFolder(const std::wstring& name, const wchar_t* lock = L"kxrun.lock") {
    ASSERT_TRUE(CreateDirectoryW((temp + name).c_str(), nullptr));
    ASSERT_TRUE(WriteBytes(temp + name + L"\\kxcore64.dll", "library"));
    if (lock) {
      ASSERT_TRUE(WriteBytes(temp + name + L"\\" + lock, ""));
    }
  }

  ScratchFolder folder;
  std::wstring temp;
};

}  // namespace

TEST_F(RuntimeLock, OnlyOurFoldersWhoseLockNobodyHoldsAreRemoved) {
  MakeFolder(L"kx0123ABCD");                 // a killed run's: removed
  MakeFolder(L"kx0123ABCE");                 // a live run's
  FileHandle live(CreateFileW((temp + L"kx0123ABCE\\kxrun.lock").c_str(), GENERIC_WRITE | DELETE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(live.valid());
  MakeFolder(L"kx0123ABCF", nullptr);        // no lock: an older program's, or being created
  MakeFolder(L"kx4567abcd");                 // we never write lower-case digits
  MakeFolder(L"kx0123ABCD0");
  MakeFolder(L"kxG123ABCD");
  MakeFolder(L"kx0123ABC1", nullptr);
  ASSERT_TRUE(CreateDirectoryW((temp + L"kx0123ABC1\\kxrun.lock").c_str(), nullptr));
  ASSERT_TRUE(WriteBytes(temp + L"kx0123ABC2", "a file"));

  EXPECT_EQ(1, RemoveStaleRuntimeFolders(temp.c_str()));
  EXPECT_EQ(ListFolder(temp), (std::vector<std::wstring>{L"kx0123ABC1", L"kx0123ABC2", L"kx0123ABCD0",
                                                          L"kx0123ABCE", L"kx0123ABCF", L"kx4567abcd", L"kxG123ABCD"}));
  EXPECT_TRUE(FileExists(temp + L"kx0123ABCE\\kxcore64.dll"));
  live.reset();
  EXPECT_EQ(1, RemoveStaleRuntimeFolders(temp.c_str()));
  EXPECT_FALSE(FolderExists(temp + L"kx0123ABCE"));
}

TEST_F(RuntimeLock, AFolderThatCannotBeRemovedKeepsItsLockForTheNextRun) {
  wcscpy(g_runtimePath, temp.c_str());
  g_runtimePathLength = temp.size();
  ASSERT_TRUE(CreateRuntimeFolder());
  ASSERT_TRUE(HoldRuntimeLock());
  const std::wstring own = g_runtimePath;
  ASSERT_TRUE(WriteBytes(own + L"held.txt", "held"));
  FileHandle held(CreateFileW((own + L"held.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held.valid());

  EXPECT_NE(0u, RemoveLockedRuntimeFolder());
  EXPECT_EQ(0, RemoveStaleRuntimeFolders(temp.c_str())) << "the lock is still held";
  ReleaseRuntimeLock();
  EXPECT_TRUE(FileExists(own + L"kxrun.lock"));
  EXPECT_EQ(0, RemoveStaleRuntimeFolders(temp.c_str())) << "the held file stops the removal";
  EXPECT_TRUE(FileExists(own + L"kxrun.lock")) << "removed last, so the folder stays recognisable";

  held.reset();
  EXPECT_EQ(1, RemoveStaleRuntimeFolders(temp.c_str()));
  EXPECT_TRUE(ListFolder(temp).empty());
}

TEST_F(RuntimeLock, ALiveRunRemovesItsOwnFolderLockIncluded) {
  wcscpy(g_runtimePath, temp.c_str());
  g_runtimePathLength = temp.size();
  ASSERT_TRUE(CreateRuntimeFolder());
  ASSERT_TRUE(HoldRuntimeLock());
  ASSERT_TRUE(WriteBytes(std::wstring(g_runtimePath) + L"kxlng.dat", "x"));
  EXPECT_EQ(0, RemoveStaleRuntimeFolders(temp.c_str()));
  EXPECT_EQ(0u, RemoveLockedRuntimeFolder());
  EXPECT_TRUE(ListFolder(temp).empty());
}
