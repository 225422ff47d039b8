// The real setup.exe failing or cancelled part-way: into a new folder it
// leaves nothing, over an existing installation it leaves that installation
// exactly as it was; exit codes and messages stay those of the failure.
#include <gtest/gtest.h>

#include <functional>

#include "core/file_decision.h"
#include "tests/driver/ui_driver.h"
#include "tests/e2e/install_e2e_fixture.h"
#include "tests/support/package_files.h"
#include "tests/support/seven_zip_writer.h"

namespace kxtest {
namespace {

constexpr DWORD kRunTimeoutMs = 120000;

ArchiveItem File(const wchar_t* name, const char* bytes) { return ArchiveItem::File(name, bytes); }

// An archive whose entry `damaged` (counting files with data) fails its CRC.
std::string Damaged(const std::vector<ArchiveItem>& items, size_t damaged) {
  std::string archive = BuildSevenZip(items);
  size_t at = kSevenZipDataOffset;
  for (size_t i = 0; i < damaged; ++i) at += items[i].data.size();
  archive[at] ^= 0x01;
  return archive;
}

// The runtime archive of setup.exe without the uninstaller it carries.
std::string RuntimeWithoutUninstaller() {
  const std::wstring runtime = TestDataPath("KX_TEST_RUNTIME") + L"\\";
  std::vector<ArchiveItem> items;
  for (const std::wstring& name : ListFolder(runtime))
    if (name != L"kxremove.dat") items.push_back(ArchiveItem::File(name, ReadBytes(runtime + name)));
  return BuildSevenZip(items);
}

// A failing run: its package, and the message boxes it shows in order (a
// part of each text) with the button that answers each.
struct FailingRun {
  const wchar_t* name;
  std::string payload;                  // empty: setup.exe's own
  bool withUninstaller;
  std::vector<std::pair<std::wstring, int>> messages;
  DWORD exitCode;
};

std::vector<FailingRun> FailingRuns() {
  return {
      {L"damaged-block",
       Damaged({File(L"README.txt", "new readme"), File(L"Quillmark Toolkit.exe", "new program"),
                File(L"docs/CHANGES.txt", "new changes"), File(L"docs/new/extra.txt", "extra"),
                File(L"samples/broken.txt", "broken")},
               4),
       true,
       {{L"CRC error: corrupted archive", IDOK}, {L"Error code: 3", IDOK}},
       1},
      {L"refused-name",
       BuildSevenZip({File(L"README.txt", "new readme"), File(L"docs/CHANGES.txt", "new changes"),
                      File(L"docs/../../evil.txt", "evil")}),
       true,
       {{L"unsafe name: docs/../../evil.txt", IDOK},
        {L"Error while unpacking archive", IDOK},
        {L"Error code: 11", IDOK}},
       1},
      {L"uninstaller-missing",
       BuildSevenZip({File(L"README.txt", "new readme"), File(L"docs/new.txt", "new")}),
       false,
       {{L"could not generate uninstaller", IDOK}},
       4},
  };
}

class RollbackEndToEnd : public InstallEndToEnd {
 protected:
  std::wstring Package(const FailingRun& run) {
    PackageParts parts;
    EXPECT_TRUE(SplitPackage(ReadBytes(setup_), &parts));
    if (!run.payload.empty()) parts.payloadArchive = run.payload;
    if (!run.withUninstaller) parts.runtimeArchive = RuntimeWithoutUninstaller();
    std::wstring path = work_ / (std::wstring(run.name) + L".exe");
    EXPECT_TRUE(WriteBytes(path, ComposePackage(parts)));
    return path;
  }

  // Runs a package with arguments, answering its message boxes; returns the
  // exit code.
  DWORD RunAnswering(const FailingRun& run, const std::wstring& arguments) {
    kxdrive::Session session(std::wstring(L"rollback-") + run.name);
    EXPECT_TRUE(session.Start(Package(run), arguments, Environment()));
    for (const auto& [text, button] : run.messages) EXPECT_TRUE(session.Answer(text, button)) << Narrow(text);
    return session.WaitForExit(kRunTimeoutMs);
  }

  // The installation's files, its Start-menu folder and its entry's values,
  // in one map to compare before and after a run.
  std::map<std::wstring, EntryState> StateOf(const std::wstring& folder) {
    std::map<std::wstring, EntryState> state = TreeState(folder);
    for (const auto& [name, entry] : TreeState(startMenuRoot_ + L"\\Quillmark")) state[L"<menu>\\" + name] = entry;
    for (const wchar_t* name : {L"DisplayName", L"DisplayVersion", L"UninstallString", L"Publisher",
                                L"URLInfoAbout", L"DisplayIcon", L"Comments"})
      state[std::wstring(L"<entry> ") + name].bytes = Narrow(RegString(HKEY_LOCAL_MACHINE, kUninstallKey, name));
    return state;
  }

  // An installation as a user leaves it: a file edited, one hidden, one of
  // the user's own, and a value of the entry changed by someone else.
  void InstallAndUse() {
    ASSERT_EQ(RunSetup(L"/S"), 0u);
    ProductStartedFrom(defaultFolder_);
    ASSERT_TRUE(WriteBytes(defaultFolder_ + L"\\README.txt", "edited by the user"));
    ASSERT_TRUE(SetFileAttributesW((defaultFolder_ + L"\\docs\\CHANGES.txt").c_str(), FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(WriteBytes(defaultFolder_ + L"\\notes.txt", "the user's own"));
    ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, kUninstallKey, L"Comments", REG_SZ, L"admin's", 16), ERROR_SUCCESS);
    ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayVersion", REG_SZ, L"1.0", 8),
              ERROR_SUCCESS);
  }
};

TEST_F(RollbackEndToEnd, FailedRunsIntoANewFolderLeaveNothingBehind) {
  // The destination's parent does not exist either: the run creates both.
  const std::wstring created = work_ / L"Fresh";
  const std::wstring folder = created + L"\\Quillmark";
  std::vector<FailingRun> runs = FailingRuns();
  ArchiveOptions huge;
  huge.extraUnpackSize = uint64_t{1} << 50;
  runs.push_back({L"empty-payload", BuildSevenZip({}), true, {{L"Invalid or corrupted archive", IDOK},
                                                              {L"Error code: 17", IDOK}}, 1});
  runs.push_back({L"no-space", BuildSevenZip({File(L"README.txt", "x"), File(L"big.bin", "y")}, huge), true,
                  {{L"not enough free space", IDOK}, {L"Error code: 112", IDOK}}, 1});
  for (const FailingRun& run : runs) {
    SCOPED_TRACE(Narrow(run.name));
    EXPECT_EQ(RunAnswering(run, L"/S /D=" + folder), run.exitCode);
    EXPECT_FALSE(FolderExists(created));
    ExpectNothingInstalled();
  }

  // The uninstaller's name taken by a folder of the user's, in a folder that
  // was there before: both stay, nothing else does.
  ASSERT_TRUE(CreateDirectoryW(created.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((folder + L"\\Uninst.exe").c_str(), nullptr));
  FailingRun inTheWay = {L"uninstaller-in-the-way", "", true, {{L"could not generate uninstaller", IDOK}}, 4};
  EXPECT_EQ(RunAnswering(inTheWay, L"/S /D=" + folder), 4u);
  EXPECT_EQ(std::vector<std::wstring>{L"Uninst.exe"}, ListFolder(folder));
  EXPECT_TRUE(ListFolder(folder + L"\\Uninst.exe").empty());
  ExpectNothingInstalled();
}

TEST_F(RollbackEndToEnd, AnInstallationSurvivesFailedReinstallsExactly) {
  InstallAndUse();
  // A folder of the user's where the next package puts a file: a write error.
  ASSERT_TRUE(CreateDirectoryW((defaultFolder_ + L"\\blocked.txt").c_str(), nullptr));
  const std::map<std::wstring, EntryState> before = StateOf(defaultFolder_);

  std::vector<FailingRun> runs = FailingRuns();
  runs.push_back({L"write-error",
                  BuildSevenZip({File(L"README.txt", "new readme"), File(L"docs/CHANGES.txt", "new changes"),
                                 File(L"blocked.txt", "cannot be written")}),
                  true,
                  {{L"Cannot open file for writing", IDCANCEL},
                   {L"Error while unpacking archive", IDOK},
                   {L"Error code: 11", IDOK}},
                  1});
  for (const FailingRun& run : runs) {
    SCOPED_TRACE(Narrow(run.name));
    EXPECT_EQ(RunAnswering(run, L"/S"), run.exitCode);
    EXPECT_EQ(StateOf(defaultFolder_), before);
    EXPECT_TRUE(ListFolder(temp_).empty());
  }
}

TEST_F(RollbackEndToEnd, CancelDuringAReinstallPutsTheReplacedFilesBack) {
  InstallAndUse();
  const std::map<std::wstring, EntryState> before = StateOf(defaultFolder_);
  FailingRun run = {L"cancel",
                    BuildSevenZip({File(L"README.txt", "new readme"), File(L"docs/CHANGES.txt", "new changes"),
                                   File(L"docs/new.txt", "new")}),
                    true, {}, 2};

  kxdrive::Session session(L"rollback-cancel");
  ASSERT_TRUE(session.Start(Package(run), L"", Environment()));
  for (const wchar_t* page : {L"dlgwizwelc", L"dlgwizlicag", L"dlgwizseldir", L"dlgwizselgroup"}) {
    HWND shown = session.WaitForPage(page);
    ASSERT_TRUE(shown) << Narrow(page);
    session.Press(shown, 1);
  }
  auto question = [&](const wchar_t* file) {
    return kxdrive::WaitForWindow(session.processId(), session.process(), [&](HWND window) {
      return kxdrive::WindowText(window) == L"Confirm File Replace" &&
             kxdrive::ControlText(window, kxcore::kReplacePathText) == defaultFolder_ + file;
    });
  };
  // README.txt is replaced; at CHANGES.txt the user cancels in the progress
  // box while the question is open, then lets the question go.
  HWND first = question(L"\\README.txt");
  ASSERT_TRUE(first);
  session.Press(first, kxcore::kReplaceButton);
  HWND second = question(L"\\docs\\CHANGES.txt");
  ASSERT_TRUE(second);
  HWND progress = session.WaitForPage(L"dlgprogress");
  ASSERT_TRUE(progress);
  session.Press(progress, 2);
  EXPECT_TRUE(session.Answer(L"Do you really want to abort", IDYES));
  session.Press(second, kxcore::kReplaceButton);
  EXPECT_EQ(session.WaitForExit(kRunTimeoutMs), 2u);

  EXPECT_EQ(StateOf(defaultFolder_), before);
  EXPECT_TRUE(ListFolder(temp_).empty());
}

}  // namespace
}  // namespace kxtest
