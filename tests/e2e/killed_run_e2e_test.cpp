// The real setup.exe killed from outside in the middle of a reinstall, as a
// deployment tool's timeout kills it, and what comes after: the next setup
// and the uninstaller finish the killed run from its journal, so nothing of
// it is left and no later run fails because of it. Also: names of kept-aside
// files left by older versions never stop a setup.
#include <gtest/gtest.h>

#include <stdio.h>

#include <string>
#include <vector>

#include "tests/e2e/install_e2e_fixture.h"
#include "tests/support/package_files.h"
#include "tests/support/process_runner.h"
#include "tests/support/seven_zip_writer.h"

namespace kxtest {
namespace {

// The exit code the test kills with, told apart from any the setup returns.
constexpr DWORD kKilledCode = 0xC0DE0009;
constexpr DWORD kRunTimeoutMs = 180000;
// New files behind the replaced ones: enough that the run is still writing
// them, seconds after the test has seen the first hundred, when it is killed.
constexpr int kBulkFiles = 4000;
constexpr wchar_t kJournal[] = L"~kxsetup.jnl";

std::wstring BulkName(int index) {
  wchar_t name[32];
  swprintf(name, 32, L"bulk\\f%05d.txt", index);
  return name;
}

// Files named like kept-aside files anywhere below folder.
std::vector<std::wstring> AsideFiles(const std::wstring& folder) {
  std::vector<std::wstring> found;
  for (const auto& [name, entry] : TreeState(folder)) {
    const std::wstring leaf = name.substr(name.rfind(L'\\') + 1);
    if (!entry.folder && leaf.rfind(L"~kx", 0) == 0 && leaf.size() > 4 && leaf.substr(leaf.size() - 4) == L".tmp")
      found.push_back(name);
  }
  return found;
}

class KilledRunEndToEnd : public InstallEndToEnd {
 protected:
  void SetUp() override {
    InstallEndToEnd::SetUp();
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSessionManager, kPending);
  }
  void TearDown() override {
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSessionManager, kPending);
    InstallEndToEnd::TearDown();
  }

  // setup.exe with another payload.
  std::wstring Package(const wchar_t* name, const std::vector<ArchiveItem>& items) {
    PackageParts parts;
    EXPECT_TRUE(SplitPackage(ReadBytes(setup_), &parts));
    parts.payloadArchive = BuildSevenZip(items);
    std::wstring path = work_ / name;
    EXPECT_TRUE(WriteBytes(path, ComposePackage(parts)));
    return path;
  }

  // A reinstall that replaces every installed file first, then writes many
  // new ones.
  std::wstring BusyReinstall() {
    std::vector<ArchiveItem> items;
    for (const PayloadFile& file : payload_) {
      std::wstring name = file.relative;
      for (wchar_t& c : name)
        if (c == L'\\') c = L'/';
      items.push_back(ArchiveItem::File(name, "replacement of " + Narrow(file.relative)));
    }
    for (int i = 0; i < kBulkFiles; ++i) {
      std::wstring name = BulkName(i);
      name[4] = L'/';
      items.push_back(ArchiveItem::File(name, "bulk"));
    }
    return Package(L"busy-reinstall.exe", items);
  }

  void InstallAndEdit() {
    ASSERT_EQ(RunSetup(L"/S"), 0u);
    ProductStartedFrom(defaultFolder_);
    // The user's own edit must come back too.
    ASSERT_TRUE(WriteBytes(defaultFolder_ + L"\\README.txt", "edited by the user"));
  }

  // Starts the busy reinstall silently and kills it once it has kept the
  // installed files aside and written a hundred new ones: the journal and a
  // new file are polled for, with a deadline.
  void RunAndKill() {
    ChildProcess run;
    LaunchOptions options;
    options.arguments = L"/S";
    options.environment = Environment();
    ASSERT_TRUE(run.Start(BusyReinstall(), options));
    const std::wstring journal = defaultFolder_ + L"\\" + kJournal;
    const std::wstring hundredth = defaultFolder_ + L"\\" + BulkName(100);
    const DWORD start = GetTickCount();
    while (!(FileExists(journal) && FileExists(hundredth))) {
      // The wait on the process is the poll's pause; it ends at once when
      // the run ends by itself.
      ASSERT_NE(WaitForSingleObject(run.handle(), 10), WAIT_OBJECT_0) << "the run ended before the kill";
      ASSERT_LT(GetTickCount() - start, kRunTimeoutMs) << "the run never reached its new files";
    }
    ASSERT_TRUE(TerminateProcess(run.handle(), kKilledCode));
    ASSERT_EQ(run.Wait(), kKilledCode);
    // What the kill left: the journal, the kept-aside originals, part of the
    // new files.
    EXPECT_TRUE(FileExists(journal));
    EXPECT_EQ(AsideFiles(defaultFolder_).size(), payload_.size());
    EXPECT_FALSE(FileExists(defaultFolder_ + L"\\" + BulkName(kBulkFiles - 1)));
  }

  void ExpectNoTraceOfTheKilledRun() {
    EXPECT_TRUE(AsideFiles(defaultFolder_).empty());
    EXPECT_FALSE(FileExists(defaultFolder_ + L"\\" + kJournal));
    EXPECT_FALSE(FolderExists(defaultFolder_ + L"\\bulk"));
  }
};

TEST_F(KilledRunEndToEnd, TheNextSetupFinishesAKilledReinstallBeforeItInstalls) {
  InstallAndEdit();
  const std::map<std::wstring, EntryState> before = TreeState(defaultFolder_);

  // A package refused before it writes a file still finishes the killed run
  // first: the installation is back exactly as it was, the user's edit with it.
  RunAndKill();
  const std::wstring refusedLog = work_ / L"refused.log";
  LaunchOptions refused;
  refused.arguments = L"/S /SUPPRESSMSGBOXES /LOG=" + refusedLog;
  refused.environment = Environment();
  const std::wstring refusedPackage = Package(
      L"refused.exe", {ArchiveItem::File(L"README.txt", "new"), ArchiveItem::File(L"docs/../../evil.txt", "evil")});
  EXPECT_EQ(RunToExit(refusedPackage, refused, kRunTimeoutMs), 1u);
  EXPECT_EQ(TreeState(defaultFolder_), before);
  const std::vector<std::wstring> steps = RunLogSteps(refusedLog);
  EXPECT_TRUE(HasStep(steps, L"Interrupted installation: journal " + defaultFolder_ + L"\\" +
                                 kJournal)) << StepsText(steps);
  EXPECT_TRUE(HasStep(steps, L"Interrupted installation: put back: " + defaultFolder_ + L"\\README.txt"));

  // Killed again, then the real setup: it finishes the killed run and
  // installs, exit code 0.
  RunAndKill();
  ASSERT_EQ(RunSetup(L"/S"), 0u);
  ProductStartedFrom(defaultFolder_);
  ExpectInstalled(defaultFolder_, startMenuRoot_ + L"\\Quillmark");
  ExpectNoTraceOfTheKilledRun();
}

TEST_F(KilledRunEndToEnd, TheUninstallerAfterAKilledReinstallLeavesNothingBehind) {
  InstallAndEdit();
  RunAndKill();
  EXPECT_EQ(RunInstalledUninstaller(defaultFolder_, L"/S"), 0u);
  // Only the running uninstaller is left, for the next restart, with its folder.
  EXPECT_EQ((std::vector<std::wstring>{L"Uninst.exe"}), ListFolder(defaultFolder_));
  std::vector<std::pair<std::wstring, std::wstring>> expected = {{defaultFolder_ + L"\\Uninst.exe", L""},
                                                                 {defaultFolder_, L""}};
  EXPECT_EQ(expected, PendingOperations());
  HKEY key = nullptr;
  EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ, &key), ERROR_SUCCESS);
  if (key) RegCloseKey(key);
  EXPECT_FALSE(FolderExists(startMenuRoot_ + L"\\Quillmark"));
}

TEST_F(KilledRunEndToEnd, KeptAsideNamesLeftByOlderVersionsDoNotStopASetup) {
  ASSERT_EQ(RunSetup(L"/S"), 0u);
  ProductStartedFrom(defaultFolder_);
  // Every name an older version would try, and more, in each folder where
  // the reinstall replaces files: they belong to no journal, so they stay.
  std::vector<std::wstring> stale;
  for (const std::wstring& folder : {defaultFolder_, defaultFolder_ + L"\\docs"}) {
    for (unsigned n = 1; n <= 80; ++n) {
      wchar_t name[16];
      swprintf(name, 16, L"~kx%05X.tmp", n);
      stale.push_back(folder + L"\\" + name);
      ASSERT_TRUE(WriteBytes(stale.back(), "left by an older version"));
    }
  }
  ASSERT_EQ(RunSetup(L"/S"), 0u);
  ProductStartedFrom(defaultFolder_);
  ExpectInstalled(defaultFolder_, startMenuRoot_ + L"\\Quillmark");
  for (const std::wstring& path : stale) EXPECT_EQ(ReadBytes(path), "left by an older version") << Narrow(path);
  EXPECT_EQ(AsideFiles(defaultFolder_).size(), stale.size());
  EXPECT_FALSE(FileExists(defaultFolder_ + L"\\" + kJournal));
}

}  // namespace
}  // namespace kxtest
