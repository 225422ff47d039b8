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


// A run of thousands of changes: its journal goes through the temporary
// file in many chunks, with a registry value larger than a chunk among
// them, and still comes back exactly, last change first; committed, every
// kept-aside copy goes.
TEST_F(InstallRollbackTest, ThousandsOfChangesAcrossTheJournalsChunksComeBackExactly) {
  const std::wstring key = L"Software\\KxTests\\JournalChunks";
  RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
  std::string old(300 * 1024, '\0');
  for (size_t i = 0; i < old.size(); ++i) old[i] = static_cast<char>(i * 13);
  HKEY created = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                           &created, nullptr));
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(created, L"big", 0, REG_BINARY, reinterpret_cast<const BYTE*>(old.data()),
                                          static_cast<DWORD>(old.size())));
  const std::wstring tail(60, L'x');  // long names: more bytes a record
  for (int folder = 0; folder < 4; ++folder) {
    const std::wstring existing = folder_ / (L"old" + std::to_wstring(folder));
    ASSERT_TRUE(CreateDirectoryW(existing.c_str(), nullptr));
    for (int i = 0; i < 50; ++i) ASSERT_TRUE(WriteBytes(existing + L"\\f" + std::to_wstring(i) + tail, "before"));
  }
  before_ = TreeState(folder_.path());

  for (int round = 0; round < 2; ++round) {
    StartInstallJournal();
    for (int folder = 0; folder < 30; ++folder) {
      const std::wstring made = folder_ / (L"new" + std::to_wstring(folder) + tail);
      ASSERT_TRUE(CreateDirectoryW(made.c_str(), nullptr));
      ASSERT_TRUE(RecordCreatedFolder(made.c_str()));
      for (int i = 0; i < 50; ++i) {
        const std::wstring file = made + L"\\f" + std::to_wstring(i) + tail;
        ASSERT_TRUE(WriteBytes(file, "new"));
        ASSERT_TRUE(RecordCreatedFile(file.c_str()));
      }
      if (folder == 15) {
        ASSERT_TRUE(RecordRegistryValue(HKEY_CURRENT_USER, key.c_str(), L"big"));
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(created, L"big", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"new"), 8));
      }
      if (folder < 4) {
        for (int i = 0; i < 50; ++i)
          Replace(folder_ / (L"old" + std::to_wstring(folder)) + L"\\f" + std::to_wstring(i) + tail, "replaced");
      }
    }
    ASSERT_EQ(30u * 51 + 1 + 200, InstallJournalSize());
    if (round == 0) {
      EXPECT_EQ(0, RollBackInstallation());
      EXPECT_EQ(before_, TreeState(folder_.path()));
      DWORD type = 0, size = 0;
      ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(created, L"big", nullptr, &type, nullptr, &size));
      std::string back(size, '\0');
      ASSERT_EQ(ERROR_SUCCESS,
                RegQueryValueExW(created, L"big", nullptr, &type, reinterpret_cast<BYTE*>(&back[0]), &size));
      EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
      EXPECT_TRUE(back == old) << "the value's old data did not come back";
    } else {
      CommitInstallation();
      std::map<std::wstring, EntryState> after = TreeState(folder_.path());
      EXPECT_EQ(before_.size() + 30 * 51, after.size()) << "kept-aside copies are left";
      EXPECT_EQ("replaced", after[L"old3\\f49" + tail].bytes);
    }
  }
  RegCloseKey(created);
  RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
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
