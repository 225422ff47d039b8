// The lock a run holds over its runtime folder: a live run's folder is never
// taken for stale, and one that could only partly be removed stays
// recognisable until a later run can finish the removal.
#include <gtest/gtest.h>

#include "base/handle_guard.h"
#include "launcher/runtime_folder.h"
#include "launcher/runtime_lock.h"
#include "tests/support/test_files.h"

using namespace kxtest;

TEST(RuntimeLock, AFolderThatCannotBeRemovedKeepsItsLockForALaterRun) {
  ScratchFolder folder;
  const std::wstring temp = folder / L"temp\\";
  ASSERT_TRUE(CreateDirectoryW(temp.c_str(), nullptr));
  wcscpy(g_runtimePath, temp.c_str());
  g_runtimePathLength = temp.size();
  ASSERT_TRUE(CreateRuntimeFolder());
  ASSERT_TRUE(HoldRuntimeLock());
  const std::wstring own = g_runtimePath;
  ASSERT_TRUE(WriteBytes(own + L"held.txt", "held"));
  FileHandle held(CreateFileW((own + L"held.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held.valid());

  EXPECT_NE(0u, RemoveLockedRuntimeFolder());
  EXPECT_EQ(0, RemoveStaleRuntimeFolders(temp.c_str())) << "the owner still holds the lock";
  ReleaseRuntimeLock();
  EXPECT_EQ(0, RemoveStaleRuntimeFolders(temp.c_str())) << "the held file stops the removal";
  EXPECT_TRUE(FileExists(own + L"kxrun.lock")) << "the lock goes last";

  held.reset();
  EXPECT_EQ(1, RemoveStaleRuntimeFolders(temp.c_str()));
  EXPECT_TRUE(ListFolder(temp).empty());
}
