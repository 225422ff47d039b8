// A reinstall killed part-way, on real files: the install journal writes its
// file as the run changes the folder, the test "kills" the run by forgetting
// it in memory while its journal stays on disk, and the recovery must bring
// back the folder as it was, finish a committed run, keep what was changed
// since, leave a live run alone, and follow a damaged journal no further
// than its damage.
#include "core/journal_recovery.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "base/handle_guard.h"
#include "extract/install_journal.h"
#include "base/journal_file.h"
#include "base/run_log.h"
#include "tests/support/test_files.h"

namespace {

using namespace kxtest;

constexpr uint64_t kStoredTime = 0x01D5CB2F12345678ull;  // a payload file's time, in 2020

class KilledRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = root_ / L"Quillmark";
    ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
    // What no journal in the folder may ever reach.
    ASSERT_TRUE(WriteBytes(root_ / L"outside.txt", "not the installation's"));
    ASSERT_TRUE(WriteBytes(In(L"README.txt"), "installed readme"));
    ASSERT_TRUE(SetFileAttributesW(In(L"README.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(CreateDirectoryW(In(L"docs").c_str(), nullptr));
    ASSERT_TRUE(WriteBytes(In(L"docs\\CHANGES.txt"), "installed changes"));
    before_ = TreeState(root_.path());
  }
  void TearDown() override { ClearInstallJournal(); }

  std::wstring In(const std::wstring& relative) const { return folder_ + L"\\" + relative; }

  void Begin(const std::wstring& folder, bool created) {
    StartInstallJournal();
    ASSERT_EQ(OpenInstallJournalFile(folder.c_str(), created), 0u);
  }
  void Begin() { Begin(folder_, false); }

  // Writes a file as the extraction does: created where none stands, else
  // after keeping the old one aside; when complete, with the stored time and
  // the journal's written line.
  void Put(const std::wstring& path, const std::string& bytes, bool complete = true) {
    auto create = [&] {
      return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
    };
    FileHandle file(create());
    if (file.valid()) {
      ASSERT_TRUE(RecordCreatedFile(path.c_str()));
    } else {
      ASSERT_EQ(KeepFileAside(path.c_str()), 0u);
      file.reset(create());
      ASSERT_TRUE(file.valid());
    }
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    if (!complete) return;
    FILETIME time = {static_cast<DWORD>(kStoredTime), static_cast<DWORD>(kStoredTime >> 32)};
    ASSERT_TRUE(SetFileTime(file.get(), nullptr, nullptr, &time));
    RecordFileWritten(path.c_str(), file.get());
  }

  void MakeFolder(const std::wstring& path) {
    ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr));
    ASSERT_TRUE(RecordCreatedFolder(path.c_str()));
  }

  // The run dies: its journal stays on disk as written, and nothing in this
  // process undoes anything. Returns the journal's bytes.
  std::string Kill(const std::wstring& folder) {
    const std::wstring journal = folder + L"\\" + kJournalFileName;
    std::string bytes = ReadBytes(journal);
    EXPECT_FALSE(bytes.empty());
    ClearInstallJournal();  // forgets the records and deletes the file
    EXPECT_TRUE(WriteBytes(journal, bytes));
    return bytes;
  }
  std::string Kill() { return Kill(folder_); }

  // A reinstall killed while it wrote docs\new.txt: a folder and a file
  // created, README.txt replaced twice, docs\CHANGES.txt replaced.
  std::string KillAReinstall() {
    Begin();
    MakeFolder(In(L"bin"));
    Put(In(L"bin\\tool.exe"), "new tool");
    Put(In(L"README.txt"), "new readme");
    Put(In(L"README.txt"), "newer readme");
    Put(In(L"docs\\CHANGES.txt"), "new changes");
    Put(In(L"docs\\new.txt"), "half of it", false);
    return Kill();
  }

  // Files named like kept-aside files anywhere below the folder.
  std::vector<std::wstring> AsideFiles() const {
    std::vector<std::wstring> found;
    for (const auto& [name, entry] : TreeState(folder_)) {
      const size_t slash = name.rfind(L'\\');
      const std::wstring leaf = slash == std::wstring::npos ? name : name.substr(slash + 1);
      if (!entry.folder && leaf.rfind(L"~kx", 0) == 0 && leaf.size() > 4 && leaf.substr(leaf.size() - 4) == L".tmp")
        found.push_back(name);
    }
    return found;
  }

  ScratchFolder root_;
  std::wstring folder_;
  std::map<std::wstring, EntryState> before_;
};

TEST_F(KilledRunTest, AKilledReinstallIsRolledBackExactly) {
  KillAReinstall();
  ASSERT_EQ(AsideFiles().size(), 3u) << "the kill must find files kept aside";

  RecoveryResult result = RecoverInterruptedInstallation(folder_.c_str());
  EXPECT_EQ(result.outcome, RecoveryOutcome::kRolledBack);
  EXPECT_EQ(result.damage, JournalDamage::kNone);
  EXPECT_EQ(result.changes, 6);
  EXPECT_EQ(result.deferred, 0);
  // Contents, times and the read-only attribute; no journal, no copies.
  EXPECT_EQ(TreeState(root_.path()), before_);
  EXPECT_EQ(RecoverInterruptedInstallation((folder_ + L"\\").c_str()).outcome, RecoveryOutcome::kNoJournal);
}

// A run of 4,000 files killed near its end leaves a journal of over 1 MB,
// several of the reader's windows: it is read a window at a time, and the
// run is undone last change first as a small one is.
TEST_F(KilledRunTest, AKilledRunOfManyFilesIsUndoneThroughAJournalOfSeveralWindows) {
  Begin();
  const std::wstring name = L"a file name long enough that some thousands of them make a journal of megabytes " +
                            std::wstring(24, L'x') + L" ";
  for (int f = 0; f < 40; ++f) {
    const std::wstring sub = In(L"bulk " + std::to_wstring(f));
    MakeFolder(sub);
    for (int i = 0; i < 100; ++i) Put(sub + L"\\" + name + std::to_wstring(i) + L".txt", "x");
  }
  Put(In(L"README.txt"), "new readme");
  Put(In(L"docs\\CHANGES.txt"), "new changes");
  const std::string journal = Kill();
  ASSERT_GT(journal.size(), 2 * kJournalWindowBytes);

  RecoveryResult result = RecoverInterruptedInstallation(folder_.c_str());
  EXPECT_EQ(result.outcome, RecoveryOutcome::kRolledBack);
  EXPECT_EQ(result.damage, JournalDamage::kNone);
  EXPECT_EQ(result.changes, 40 + 4000 + 2);
  EXPECT_EQ(TreeState(root_.path()), before_);
}

TEST_F(KilledRunTest, AnOriginalPutBackBeforeTheKillStaysPutBack) {
  // The uninstaller's pair: kept aside and recorded as created in one go,
  // as the setup does before the core library writes them.
  ASSERT_TRUE(WriteBytes(In(L"Uninst.exe"), "earlier uninstaller"));
  before_ = TreeState(root_.path());
  Begin();
  ASSERT_EQ(KeepFileAside(In(L"Uninst.exe").c_str()), 0u);
  ASSERT_TRUE(RecordCreatedFile(In(L"Uninst.exe").c_str()));
  JournalRecord kept;
  ASSERT_TRUE(InstallJournalRecordAt(InstallJournalSize() - 2, &kept));
  const std::wstring aside = kept.aside;
  ASSERT_TRUE(WriteBytes(In(L"Uninst.exe"), "new uninstaller"));
  Kill();
  // A rollback killed after it had undone both: the new file deleted, the
  // earlier one back.
  ASSERT_TRUE(DeleteFileW(In(L"Uninst.exe").c_str()));
  ASSERT_TRUE(MoveFileExW(aside.c_str(), In(L"Uninst.exe").c_str(), 0));

  EXPECT_EQ(RecoverInterruptedInstallation(folder_.c_str()).outcome, RecoveryOutcome::kRolledBack);
  EXPECT_EQ(TreeState(root_.path()), before_);
}

TEST_F(KilledRunTest, ACommittedRunIsFinishedNotRolledBack) {
  Begin();
  Put(In(L"README.txt"), "new readme");
  Put(In(L"docs\\CHANGES.txt"), "new changes");
  Put(In(L"docs\\new.txt"), "new");
  ASSERT_EQ(CommitInstallJournalFile(), 0u);
  // The commit had deleted one copy when the run died.
  std::vector<std::wstring> copies = AsideFiles();
  ASSERT_EQ(copies.size(), 2u);
  ASSERT_TRUE(SetFileAttributesW(In(copies[0]).c_str(), FILE_ATTRIBUTE_NORMAL));
  ASSERT_TRUE(DeleteFileW(In(copies[0]).c_str()));
  Kill();

  EXPECT_EQ(RecoverInterruptedInstallation(folder_.c_str()).outcome, RecoveryOutcome::kCommitted);
  EXPECT_EQ(ReadBytes(In(L"README.txt")), "new readme");
  EXPECT_EQ(ReadBytes(In(L"docs\\CHANGES.txt")), "new changes");
  EXPECT_EQ(ReadBytes(In(L"docs\\new.txt")), "new");
  EXPECT_TRUE(AsideFiles().empty());
  EXPECT_FALSE(FileExists(In(kJournalFileName)));
}

TEST_F(KilledRunTest, FilesChangedAfterTheKillAreKeptAndTheirOriginalsGo) {
  Begin();
  Put(In(L"README.txt"), "new readme");
  Put(In(L"docs\\CHANGES.txt"), "new changes");
  Put(In(L"docs\\new.txt"), "added");
  Kill();
  // Someone works in the half-installed folder before the next run: two of
  // the run's files change (new times, new sizes), one stays as written.
  ASSERT_TRUE(SetFileAttributesW(In(L"README.txt").c_str(), FILE_ATTRIBUTE_NORMAL));
  ASSERT_TRUE(WriteBytes(In(L"README.txt"), "edited after the kill"));
  ASSERT_TRUE(WriteBytes(In(L"docs\\new.txt"), "edited after the kill"));

  EXPECT_EQ(RecoverInterruptedInstallation(folder_.c_str()).outcome, RecoveryOutcome::kRolledBack);
  std::map<std::wstring, EntryState> after = TreeState(root_.path());
  EXPECT_EQ(after[L"Quillmark\\README.txt"].bytes, "edited after the kill");
  EXPECT_EQ(after[L"Quillmark\\docs\\new.txt"].bytes, "edited after the kill");
  EXPECT_EQ(after[L"Quillmark\\docs\\CHANGES.txt"], before_[L"Quillmark\\docs\\CHANGES.txt"]);
  EXPECT_TRUE(AsideFiles().empty());
  EXPECT_EQ(after.size(), before_.size() + 1);  // docs\new.txt
}

TEST_F(KilledRunTest, AFolderTheKilledRunCreatedGoesWithIt) {
  const std::wstring fresh = root_ / L"Fresh";
  ASSERT_TRUE(CreateDirectoryW(fresh.c_str(), nullptr));
  Begin(fresh, true);
  MakeFolder(fresh + L"\\docs");
  Put(fresh + L"\\docs\\a.txt", "a");
  Put(fresh + L"\\b.txt", "half", false);
  Kill(fresh);

  EXPECT_EQ(RecoverInterruptedInstallation(fresh.c_str()).outcome, RecoveryOutcome::kRolledBack);
  EXPECT_EQ(TreeState(root_.path()), before_);
}

// Killed between making a file and recording it: the empty file the run
// made goes with its folder; an empty file that stood there before stays.
TEST_F(KilledRunTest, AFileMadeButNotYetRecordedGoesWithTheKilledRun) {
  ASSERT_TRUE(WriteBytes(In(L"docs\\empty.txt"), ""));
  FILETIME old = {static_cast<DWORD>(kStoredTime), static_cast<DWORD>(kStoredTime >> 32)};
  {
    FileHandle existing(CreateFileW(In(L"docs\\empty.txt").c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(existing.valid());
    ASSERT_TRUE(SetFileTime(existing.get(), &old, nullptr, &old));
  }
  before_ = TreeState(root_.path());
  for (const wchar_t* name : {L"bulk\\f1.txt", L"docs\\empty.txt"}) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(name)));
    Begin();
    if (wcscmp(name, L"bulk\\f1.txt") == 0) MakeFolder(In(L"bulk"));
    ASSERT_EQ(RecordFileToCreate(In(name).c_str()), 0u);
    // The file is made, and the run dies before it is recorded.
    FileHandle made(CreateFileW(In(name).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
    ASSERT_TRUE(made.valid());
    made.reset();
    Kill();
    EXPECT_EQ(RecoverInterruptedInstallation(folder_.c_str()).outcome, RecoveryOutcome::kRolledBack);
    EXPECT_EQ(TreeState(root_.path()), before_);
  }
}

TEST_F(KilledRunTest, ARunningInstallationsJournalIsLeftAlone) {
  Begin();
  Put(In(L"README.txt"), "new readme");
  EXPECT_EQ(RecoverInterruptedInstallation(folder_.c_str()).outcome, RecoveryOutcome::kInUse);
  EXPECT_EQ(ReadBytes(In(L"README.txt")), "new readme");
  EXPECT_EQ(AsideFiles().size(), 1u);
}

TEST_F(KilledRunTest, TakenAsideNamesAreSkippedAndNeverTakenForTheRunsOwn) {
  Begin();
  Put(In(L"README.txt"), "new readme");
  std::vector<std::wstring> first = AsideFiles();
  ASSERT_EQ(first.size(), 1u);
  const uint64_t number = wcstoull(first[0].c_str() + 3, nullptr, 16);
  // Far more than the 64 names a run used to try, each taken by a file that
  // is not this run's, right where the next kept-aside file goes.
  std::vector<std::wstring> foreign;
  for (uint64_t n = number + 1; n <= number + 100; ++n) {
    wchar_t name[kAsideNameCapacity];
    FormatAsideName(n, name);
    foreign.push_back(std::wstring(L"docs\\") + name);
    ASSERT_TRUE(WriteBytes(In(foreign.back()), "someone else's"));
  }
  before_ = TreeState(root_.path());  // with the foreign files, after the first replacement
  Put(In(L"docs\\CHANGES.txt"), "new changes");
  EXPECT_EQ(AsideFiles().size(), 102u);
  Kill();

  // The tries that met a taken name are void: recovery must not move a
  // foreign file over CHANGES.txt.
  EXPECT_EQ(RecoverInterruptedInstallation(folder_.c_str()).outcome, RecoveryOutcome::kRolledBack);
  EXPECT_EQ(ReadBytes(In(L"docs\\CHANGES.txt")), "installed changes");
  EXPECT_EQ(ReadBytes(In(L"README.txt")), "installed readme");
  for (const std::wstring& name : foreign) EXPECT_EQ(ReadBytes(In(name)), "someone else's") << Narrow(name);
  EXPECT_EQ(AsideFiles().size(), 100u);
}

TEST_F(KilledRunTest, DeepChangesComeBackAndThoseNoLineCanNameAreNotMade) {
  // 800 units behind the folder, past MAX_PATH: a journal line names them.
  std::wstring deep = folder_;
  for (int level = 0; level < 8; ++level) {
    deep += L"\\" + std::wstring(99, static_cast<wchar_t>(L'a' + level));
    ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr));
  }
  const std::wstring file = deep + L"\\deep.txt";
  ASSERT_TRUE(WriteBytes(file, "installed deep"));
  before_ = TreeState(root_.path());
  Begin();
  Put(file, "new deep");
  const std::wstring folder = deep + L"\\new";
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  EXPECT_TRUE(RecordCreatedFolder(folder.c_str()));
  Put(folder + L"\\created.txt", "new");
  // Beyond Windows' own limit no line can name a change: it is refused and
  // must not be made.
  const std::wstring beyond = deep + L"\\" + std::wstring(32768, L'z');
  EXPECT_FALSE(RecordCreatedFolder(beyond.c_str()));
  EXPECT_FALSE(RecordCreatedFile(beyond.c_str()));
  EXPECT_NE(RecordFileToCreate(beyond.c_str()), 0u);
  // The journal goes on with what it can name.
  Put(In(L"README.txt"), "new readme");
  Kill();
  EXPECT_EQ(RecoverInterruptedInstallation(folder_.c_str()).outcome, RecoveryOutcome::kRolledBack);
  EXPECT_EQ(ReadBytes(file), "installed deep");
  EXPECT_EQ(TreeState(root_.path()), before_);
}

TEST_F(KilledRunTest, AnnouncedReplacementsAreCoveredByTheirAnnouncementAlone) {
  Begin();
  // The files a reinstall writes next, one of them new and one outside the
  // folder; announced under one flush.
  const std::wstring outside = root_ / L"outside.txt";
  const std::wstring paths[] = {In(L"README.txt"), In(L"docs\\new.txt"), In(L"docs\\CHANGES.txt"), outside};
  const wchar_t* list[] = {paths[0].c_str(), paths[1].c_str(), paths[2].c_str(), paths[3].c_str()};
  ASSERT_EQ(AnnounceKeptAside(list, 4), 0u);
  const std::string flushed = ReadBytes(In(kJournalFileName));
  Put(paths[0], "new readme");
  Put(paths[1], "new");
  Put(paths[2], "new changes");
  EXPECT_EQ(AsideFiles().size(), 2u);
  const std::string whole = Kill();
  ASSERT_GT(whole.size(), flushed.size());

  // A power cut loses what was written after the announcement's flush: the
  // renames are still covered, and the originals come back.
  ASSERT_TRUE(WriteBytes(In(kJournalFileName), flushed));
  RecoveryResult result = RecoverInterruptedInstallation(folder_.c_str());
  EXPECT_EQ(result.outcome, RecoveryOutcome::kRolledBack);
  EXPECT_EQ(result.changes, 3);  // the announced three; outside.txt was left out
  std::map<std::wstring, EntryState> after = TreeState(root_.path());
  // docs\new.txt's line went with the power: it stays, nothing is lost.
  EXPECT_EQ(after[L"Quillmark\\docs\\new.txt"].bytes, "new");
  after.erase(L"Quillmark\\docs\\new.txt");
  EXPECT_EQ(after, before_);
}

TEST_F(KilledRunTest, AnAnnouncedNameFoundTakenIsVoidAndNeverFollowed) {
  Begin();
  const std::wstring readme = In(L"README.txt");
  const wchar_t* list[] = {readme.c_str()};
  ASSERT_EQ(AnnounceKeptAside(list, 1), 0u);
  // The announced name, as the journal says it, taken before the rename.
  const std::string announced = ReadBytes(In(kJournalFileName));
  const size_t at = announced.find("~kx");
  ASSERT_NE(at, std::string::npos);
  const std::wstring taken = In(Widen(announced.substr(at, kAsideNameCapacity - 1)));
  ASSERT_TRUE(WriteBytes(taken, "someone else's"));
  before_ = TreeState(root_.path());
  before_.erase(std::wstring(L"Quillmark\\") + kJournalFileName);
  Put(readme, "new readme");
  EXPECT_EQ(ReadBytes(taken), "someone else's");
  EXPECT_EQ(AsideFiles().size(), 2u);
  Kill();

  EXPECT_EQ(RecoverInterruptedInstallation(folder_.c_str()).outcome, RecoveryOutcome::kRolledBack);
  EXPECT_EQ(TreeState(root_.path()), before_);
}

// One way of damaging the journal a killed reinstall left.
struct Damage {
  const char* name;
  std::function<std::string(const std::string&)> apply;
};

std::vector<Damage> Damages(const std::string& good) {
  std::vector<Damage> damages;
  // Every line cut in its middle, and every line with one byte flipped.
  std::vector<size_t> starts = {0};
  for (size_t i = 0; i < good.size(); ++i)
    if (good[i] == '\n' && i + 1 < good.size()) starts.push_back(i + 1);
  for (size_t start : starts) {
    damages.push_back({"cut", [start](const std::string& j) { return j.substr(0, start + 15); }});
    damages.push_back({"flipped", [start](const std::string& j) {
                         std::string d = j;
                         d[start + 12] ^= 0x20;
                         return d;
                       }});
  }
  damages.push_back({"zeros behind", [](const std::string& j) { return j + std::string(100, '\0'); }});
  damages.push_back({"garbage behind", [](const std::string& j) { return j + "\xff\xfe garbage\r\n"; }});
  return damages;
}

TEST_F(KilledRunTest, ADamagedJournalIsFollowedUpToItsDamageAndLosesNothing) {
  const wchar_t* originals[] = {L"README.txt", L"docs\\CHANGES.txt"};
  const std::string good = KillAReinstall();
  ParsedJournal goodParsed;
  ASSERT_TRUE(ParseJournal(good.data(), good.size(), &goodParsed));
  // Where each original's last kept-aside line begins.
  std::map<std::wstring, size_t> asideLine;
  for (size_t i = 0; i < goodParsed.count; ++i) {
    size_t offset = goodParsed.changes[i].offset;
    JournalLine line;
    bool atEnd = false;
    ASSERT_EQ(ReadJournalLine(good.data(), good.size(), &offset, &line, &atEnd), JournalDamage::kNone);
    if (goodParsed.changes[i].kind == JournalLineKind::kKeptAside) asideLine[line.path] = goodParsed.changes[i].offset;
  }
  FreeParsedJournal(&goodParsed);
  ASSERT_EQ(asideLine.size(), 2u);

  const std::wstring log = root_ / L"run.log";
  ASSERT_TRUE(OpenRunLog(log.c_str()));
  int index = 0;
  for (const Damage& damage : Damages(good)) {
    SCOPED_TRACE(std::string(damage.name) + " #" + std::to_string(index++));
    // The same killed reinstall every time, from the same earlier state.
    RemoveTree(folder_);
    ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
    for (const auto& [name, entry] : before_) {
      if (name.rfind(L"Quillmark\\", 0) != 0) continue;
      const std::wstring path = root_ / name;
      if (entry.folder) {
        ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr));
      } else {
        ASSERT_TRUE(WriteBytes(path, entry.bytes));
        SetFileAttributesW(path.c_str(), entry.attributes);
      }
    }
    // Each run draws its own kept-aside names, all of one length: the
    // lines lie where the first run's did.
    const std::string damaged = damage.apply(KillAReinstall());
    ParsedJournal parsed;
    ASSERT_TRUE(ParseJournal(damaged.data(), damaged.size(), &parsed));
    ASSERT_NE(parsed.damage, JournalDamage::kNone);
    const size_t followedUpTo = parsed.damageOffset;
    FreeParsedJournal(&parsed);
    const std::wstring journal = In(kJournalFileName);
    ASSERT_TRUE(WriteBytes(journal, damaged));

    RecoveryResult result = RecoverInterruptedInstallation(folder_.c_str());
    EXPECT_EQ(result.outcome, RecoveryOutcome::kRolledBack);
    EXPECT_NE(result.damage, JournalDamage::kNone);
    EXPECT_FALSE(FileExists(journal));
    EXPECT_EQ(ReadBytes(root_ / L"outside.txt"), "not the installation's");
    // Each original is somewhere in the folder, once; back at its name when
    // every kept-aside line for that name came before the damage (a lost
    // later one leaves a file the run wrote after it, and both then stay).
    std::map<std::wstring, EntryState> after = TreeState(folder_);
    for (const wchar_t* original : originals) {
      const std::string bytes = before_[std::wstring(L"Quillmark\\") + original].bytes;
      const size_t copies = static_cast<size_t>(std::count_if(
          after.begin(), after.end(), [&](const auto& entry) { return entry.second.bytes == bytes; }));
      EXPECT_EQ(copies, 1u) << Narrow(original);
      if (asideLine[original] < followedUpTo) {
        EXPECT_EQ(after[original].bytes, bytes) << Narrow(original);
      }
    }
  }
  CloseRunLog();
  const std::string logged = ReadBytes(log);
  EXPECT_NE(logged.find("Interrupted installation: journal damaged at byte"), std::string::npos);
  EXPECT_NE(logged.find("(checksum)"), std::string::npos);
}

}  // namespace
