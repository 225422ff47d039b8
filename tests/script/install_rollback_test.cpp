// The install journal and its rollback on real files: what the end-to-end
// runs cannot reach (a file replaced twice, a commit, kept-aside names
// taken by others, an original that cannot go back until the restart).
#include "script/install_rollback.h"

#include <gtest/gtest.h>

#include "base/handle_removal.h"
#include "extract/install_journal.h"
#include "tests/support/file_links.h"
#include "tests/support/fake_core.h"
#include "tests/support/pending_renames.h"
#include "tests/support/test_files.h"

namespace {

using namespace kxtest;

// Replaces a file the way the extraction does: the old one is kept aside.
void Replace(const std::wstring& path, const std::string& bytes) {
  ASSERT_EQ(0u, KeepFileAside(path.c_str()));
  ASSERT_TRUE(WriteBytes(path, bytes));
}

class InstallRollbackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetFake();
    original_ = folder_ / L"app.txt";
    ASSERT_TRUE(WriteBytes(original_, "installed"));
    SetFileAttributesW(original_.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    // Names a kept-aside file could take, already taken by someone else.
    ASSERT_TRUE(WriteBytes(folder_ / L"~kx00001.tmp", "someone else's"));
    ASSERT_TRUE(WriteBytes(folder_ / L"~kx00002.tmp", "someone else's"));
    before_ = TreeState(folder_.path());
    StartInstallJournal();
  }
  void TearDown() override { ClearInstallJournal(); }

  ScratchFolder folder_;
  std::wstring original_;
  std::map<std::wstring, EntryState> before_;
};

TEST_F(InstallRollbackTest, AFileReplacedTwiceComesBackOrIsCommittedWithoutItsCopies) {
  Replace(original_, "first");
  Replace(original_, "second");
  EXPECT_EQ(0, RollBackInstallation());
  EXPECT_EQ(before_, TreeState(folder_.path()));
  EXPECT_FALSE(InstallJournalRecording());

  StartInstallJournal();
  Replace(original_, "first");
  Replace(original_, "second");
  CommitInstallation();
  EXPECT_EQ(0, RollBackInstallation());  // nothing left to undo
  std::map<std::wstring, EntryState> after = TreeState(folder_.path());
  EXPECT_EQ(3u, after.size());
  EXPECT_EQ("second", after[L"app.txt"].bytes);
  EXPECT_EQ(before_[L"~kx00001.tmp"], after[L"~kx00001.tmp"]);
}

TEST_F(InstallRollbackTest, AReplacementThatFailsPutsTheOriginalBackAtOnce) {
  ASSERT_EQ(0u, KeepFileAside(original_.c_str()));
  EXPECT_FALSE(FileExists(original_));
  EXPECT_TRUE(PutBackKeptFile(original_.c_str()));
  EXPECT_EQ(before_, TreeState(folder_.path()));
  EXPECT_EQ(0u, InstallJournalSize());
}

TEST_F(InstallRollbackTest, AnOriginalThatCannotGoBackNowWaitsForTheRestartAndIsNeverLost) {
  PendingRenamesGuard guard;
  ASSERT_EQ(0u, KeepFileAside(original_.c_str()));
  // Something the rollback cannot move a file over stands at the name.
  ASSERT_TRUE(CreateDirectoryW(original_.c_str(), nullptr));
  ASSERT_TRUE(WriteBytes(original_ + L"\\inside.txt", "x"));

  JournalRecord kept;
  ASSERT_TRUE(InstallJournalRecordAt(InstallJournalSize() - 1, &kept));
  const std::wstring aside = kept.aside;
  EXPECT_EQ(1, RollBackInstallation());

  EXPECT_EQ("installed", ReadBytes(aside));
  std::wstring pending;
  ASSERT_TRUE(PendingRenamesGuard::Read(&pending));
  EXPECT_NE(pending.find(L"\\??\\" + aside + std::wstring(L"\0!\\??\\", 6) + original_ + L'\0'), std::wstring::npos);
}



// A folder the run made, swapped for a link to another folder between the
// recording and the rollback: the rollback deletes nothing through it.
std::wstring g_made;
std::wstring g_elsewhere;

TEST_F(InstallRollbackTest, AFolderSwappedForALinkBeforeTheRollbackLeadsNoDeletionOutside) {
  g_made = folder_ / L"made";
  g_elsewhere = folder_ / L"elsewhere";
  ASSERT_TRUE(CreateDirectoryW(g_elsewhere.c_str(), nullptr));
  ASSERT_TRUE(WriteBytes(g_elsewhere + L"\\data.txt", "not the run's"));
  ASSERT_TRUE(CreateDirectoryW(g_made.c_str(), nullptr));
  ASSERT_TRUE(RecordCreatedFolder(g_made.c_str()));
  ASSERT_TRUE(WriteBytes(g_made + L"\\data.txt", "the run's"));
  ASSERT_TRUE(RecordCreatedFile((g_made + L"\\data.txt").c_str()));

  g_beforeRemovalOpen = [](const wchar_t* path) {
    if (g_made + L"\\data.txt" != path) return;
    EXPECT_TRUE(MoveFileW(g_made.c_str(), (g_made + L"-moved").c_str()));
    EXPECT_TRUE(MakeLink(g_made, g_elsewhere));
  };
  RollBackInstallation();
  g_beforeRemovalOpen = nullptr;
  EXPECT_EQ("not the run's", ReadBytes(g_elsewhere + L"\\data.txt"));
  // The run's own file, moved away with its folder, is not followed either.
  EXPECT_EQ("the run's", ReadBytes(g_made + L"-moved\\data.txt"));
}

}  // namespace
