// Command lines a deployment tool can get wrong, on the real setup.exe and
// Uninst.exe: a mistyped switch and a /LOG naming a file the run must not
// write change nothing and end with 2, and the files stay as they were.
#include <gtest/gtest.h>

#include "tests/driver/ui_driver.h"
#include "tests/e2e/install_e2e_fixture.h"
#include "tests/support/process_runner.h"

namespace kxtest {
namespace {

constexpr DWORD kRefused = 2;
constexpr wchar_t kLogRefused[] = L"The run log cannot be written into this file";

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

std::wstring Upper(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(towupper(c));
  return text;
}

class CommandLineEndToEnd : public InstallEndToEnd {
 protected:
  DWORD Run(const std::wstring& program, const std::wstring& arguments, const std::wstring& folder = L"") {
    LaunchOptions options;
    options.arguments = arguments;
    options.environment = Environment();
    options.workingFolder = folder;
    return RunToExit(program, options, 180000);
  }

  // Installs the package and leaves the product's window closed.
  void Install() {
    ASSERT_EQ(RunSetup(L"/S"), 0u);
    ProductStartedFrom(defaultFolder_);
  }

  // The installation as the uninstaller would remove it.
  void ExpectStillInstalled() {
    EXPECT_TRUE(FileExists(defaultFolder_ + L"\\README.txt"));
    EXPECT_TRUE(FileExists(defaultFolder_ + L"\\Uninst.dat"));
    EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kUninstallKey, L"InstallLocation"), defaultFolder_);
  }
};

TEST_F(CommandLineEndToEnd, TheUninstallerNeverWritesItsLogIntoItselfOrItsUninstallLog) {
  Install();
  const std::wstring uninstaller = defaultFolder_ + L"\\Uninst.exe";
  const std::wstring uninstallLog = defaultFolder_ + L"\\Uninst.dat";
  const std::string uninstallerBytes = ReadBytes(uninstaller);
  const std::string logBytes = ReadBytes(uninstallLog);
  ASSERT_TRUE(CreateHardLinkW((work_ / L"linked.log").c_str(), uninstallLog.c_str(), nullptr));
  const struct {
    std::wstring log;
    std::wstring folder;  // started in; empty: the test's
  } cases[] = {
      {Quoted(uninstallLog), L""},
      {Quoted(Upper(uninstallLog)), L""},
      {L"Uninst.dat", defaultFolder_},
      {L"..\\Quillmark\\uninst.dat", defaultFolder_},
      {Quoted(work_ / L"linked.log"), L""},
      {Quoted(uninstaller), L""},
      {L"UNINST.EXE", defaultFolder_},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.log));
    EXPECT_EQ(Run(uninstaller, L"/S /SUPPRESSMSGBOXES /LOG=" + c.log, c.folder), kRefused);
    EXPECT_EQ(ReadBytes(uninstallLog), logBytes);
    EXPECT_EQ(ReadBytes(uninstaller), uninstallerBytes);
    ExpectStillInstalled();
  }
  // Where a box can show, it says why.
  {
    kxdrive::Session session(L"uninstall-log-refused");
    ASSERT_TRUE(session.Start(uninstaller, L"/LOG=" + Quoted(uninstallLog), Environment()));
    EXPECT_TRUE(session.Answer(std::wstring(kLogRefused) + L": it is this program, an uninstaller or an uninstall "
                               L"log: " + uninstallLog,
                               IDOK));
    EXPECT_EQ(session.WaitForExit(60000), kRefused);
  }
  EXPECT_EQ(ReadBytes(uninstallLog), logBytes);
  // The uninstall log is whole: the next uninstall removes everything.
  EXPECT_EQ(RunInstalledUninstaller(defaultFolder_, L"/S"), 0u);
  EXPECT_FALSE(FileExists(defaultFolder_ + L"\\README.txt"));
  EXPECT_FALSE(FileExists(uninstallLog));
}

TEST_F(CommandLineEndToEnd, SetupNeverWritesItsLogIntoItselfOrAnInstallationsUninstaller) {
  // A copy, so that a failure damages no package another test runs.
  const std::wstring setup = work_ / L"setup.exe";
  ASSERT_TRUE(CopyFileW(setup_.c_str(), setup.c_str(), FALSE));
  const std::string setupBytes = ReadBytes(setup);
  ASSERT_TRUE(CreateHardLinkW((work_ / L"hard link.log").c_str(), setup.c_str(), nullptr));
  const struct {
    std::wstring log;
    std::wstring folder;
  } cases[] = {
      {Quoted(setup), L""},
      {Quoted(Upper(setup)), L""},
      {L"setup.exe", work_.path()},
      {Quoted(work_ / L"hard link.log"), L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.log));
    EXPECT_EQ(Run(setup, L"/S /SUPPRESSMSGBOXES /LOG=" + c.log, c.folder), kRefused);
    EXPECT_EQ(ReadBytes(setup), setupBytes);
    ExpectNothingInstalled();
  }

  // An installation's uninstaller and log: setup writes them there, and
  // appending to them would leave an installation nobody can remove.
  Install();
  const std::wstring uninstallLog = defaultFolder_ + L"\\Uninst.dat";
  const std::string logBytes = ReadBytes(uninstallLog);
  const std::string uninstallerBytes = ReadBytes(defaultFolder_ + L"\\Uninst.exe");
  for (const std::wstring& log : {uninstallLog, defaultFolder_ + L"\\Uninst.exe", work_ / L"elsewhere\\Uninst.dat"}) {
    SCOPED_TRACE(Narrow(log));
    EXPECT_EQ(Run(setup, L"/S /SUPPRESSMSGBOXES /LOG=" + Quoted(log)), kRefused);
    EXPECT_EQ(ReadBytes(uninstallLog), logBytes);
    EXPECT_EQ(ReadBytes(defaultFolder_ + L"\\Uninst.exe"), uninstallerBytes);
  }
  EXPECT_FALSE(FolderExists(work_ / L"elsewhere"));
  EXPECT_EQ(RunInstalledUninstaller(defaultFolder_, L"/S"), 0u);
  EXPECT_FALSE(FileExists(uninstallLog));
}

TEST_F(CommandLineEndToEnd, AMistypedSwitchChangesNothingAndEndsWithTwo) {
  // Setup: the usage names the switch; nothing is installed.
  {
    kxdrive::Session session(L"setup-mistyped-switch");
    ASSERT_TRUE(session.Start(setup_, L"/S /SUPRESSMSGBOXES", Environment()));
    EXPECT_TRUE(session.Answer(L"Unknown command-line option: /SUPRESSMSGBOXES\r\n\r\nUsage:", IDOK));
    EXPECT_EQ(session.WaitForExit(60000), kRefused);
  }
  ExpectNothingInstalled();
  // With boxes suppressed nothing shows: the run would not end otherwise.
  EXPECT_EQ(RunSetup(L"/S /SUPPRESSMSGBOXES /DESTINATION=C:\\Quill"), kRefused);
  ExpectNothingInstalled();

  // The uninstaller likewise: nothing is removed or scheduled.
  Install();
  const std::string logBytes = ReadBytes(defaultFolder_ + L"\\Uninst.dat");
  {
    kxdrive::Session session(L"uninstall-mistyped-switch");
    ASSERT_TRUE(session.Start(defaultFolder_ + L"\\Uninst.exe", L"/S /SUPRESSMSGBOXES", Environment()));
    EXPECT_TRUE(session.Answer(L"Unknown command-line option: /SUPRESSMSGBOXES\r\n\r\nUsage:", IDOK));
    EXPECT_EQ(session.WaitForExit(60000), kRefused);
  }
  ExpectStillInstalled();
  for (const wchar_t* arguments :
       {L"/S /SUPPRESSMSGBOXES /Q", L"/S /SUPPRESSMSGBOXES /LOG=", L"/S /SUPPRESSMSGBOXES /D"}) {
    SCOPED_TRACE(Narrow(arguments));
    EXPECT_EQ(RunInstalledUninstaller(defaultFolder_, arguments), kRefused);
    ExpectStillInstalled();
  }
  EXPECT_EQ(ReadBytes(defaultFolder_ + L"\\Uninst.dat"), logBytes);
  for (const auto& operation : PendingOperations())
    EXPECT_EQ(operation.first.find(defaultFolder_), std::wstring::npos) << Narrow(operation.first);
  // /? still only shows the usage, and its 0 stays what it was.
  {
    kxdrive::Session session(L"uninstall-usage");
    ASSERT_TRUE(session.Start(defaultFolder_ + L"\\Uninst.exe", L"/?", Environment()));
    EXPECT_TRUE(session.Answer(L"Usage: [/S]", IDOK));
    EXPECT_EQ(session.WaitForExit(60000), 0u);
  }
  ExpectStillInstalled();
}

}  // namespace
}  // namespace kxtest
