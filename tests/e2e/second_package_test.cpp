// A second package, sharing nothing with Quillmark Toolkit, built by
// out/kxpack from its description with the prebuilt parts only: installed
// with the wizard and silently, then uninstalled. Its windows, registry
// values, shortcut, files and log carry its own names and nothing of
// Quillmark's; both programs carry its title, version information and
// signature.
#include <windows.h>
#include <imagehlp.h>
#include <tlhelp32.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/kxcore.h"
#include "tests/driver/ui_driver.h"
#include "tests/e2e/install_e2e_fixture.h"
#include "tests/support/process_runner.h"

namespace kxtest {
namespace {

using kxdrive::ControlText;

constexpr wchar_t kTitle[] = L"Tide Charts Setup (64-bit)";
// The default uninstall key: the name and a hash of publisher and name.
constexpr wchar_t kKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tide Charts_C37D771B";
constexpr wchar_t kSessionManager[] = L"System\\CurrentControlSet\\Control\\Session Manager";

bool NamesQuillmark(const std::wstring& text) { return text.find(L"Quillmark") != std::wstring::npos; }

// Ends every running copy of the installed program; returns how many ran
// from the given file. The setup's start task has created its process by
// the time the setup exits.
int EndProgram(const std::wstring& file) {
  int fromFile = 0;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32W entry = {sizeof entry};
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (lstrcmpiW(entry.szExeFile, L"tidecharts.exe") != 0) continue;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE, FALSE,
                                 entry.th32ProcessID);
    if (!process) continue;
    wchar_t image[MAX_PATH];
    DWORD size = MAX_PATH;
    if (QueryFullProcessImageNameW(process, 0, image, &size) && lstrcmpiW(image, file.c_str()) == 0) ++fromFile;
    TerminateProcess(process, 0);
    WaitForSingleObject(process, 10000);
    CloseHandle(process);
  }
  CloseHandle(snapshot);
  return fromFile;
}

// A program of the package as Windows reads it: the package's title as
// string 0, its version information, and the signature kxpack's --sign put
// on it.
void ExpectThePackagesProgram(const std::wstring& path, const wchar_t* description) {
  HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_TRUE(module != nullptr) << Narrow(path);
  wchar_t title[260] = L"";
  LoadStringW(module, 0, title, 260);
  FreeLibrary(module);
  EXPECT_STREQ(title, kTitle) << Narrow(path);

  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
  ASSERT_GT(size, 0u) << Narrow(path);
  std::string block(size, '\0');
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, &block[0]));
  EXPECT_EQ(VersionString(block, L"ProductName"), L"Tide Charts");
  EXPECT_EQ(VersionString(block, L"ProductVersion"), L"3.4.1");
  EXPECT_EQ(VersionString(block, L"CompanyName"), L"Tidewater Cartography Ltd");
  EXPECT_EQ(VersionString(block, L"FileDescription"), description);

  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD certificates = 0;
  EXPECT_TRUE(ImageEnumerateCertificates(file, CERT_SECTION_TYPE_ANY, &certificates, nullptr, 0));
  CloseHandle(file);
  EXPECT_EQ(certificates, 1u) << Narrow(path) << " is not signed";
}

class SecondPackage : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitialize(nullptr);
    setup_ = TestDataPath("KX_TEST_PACKAGES") + L"\\tidecharts\\setup.exe";
    folder_ = KnownFolder(FOLDERID_ProgramFiles) + L"\\Tidewater\\Charts";
    // Nested, so that the wizard must keep both levels as a silent run does.
    startMenuParent_ = KnownFolder(FOLDERID_CommonPrograms) + L"\\Tidewater";
    startMenu_ = startMenuParent_ + L"\\Tide Charts";
    temp_ = work_ / L"temp";
    ASSERT_TRUE(CreateDirectoryW(temp_.c_str(), nullptr));
    Clean();
  }
  void TearDown() override {
    Clean();
    CoUninitialize();
  }

  void Clean() {
    EndProgram(folder_ + L"\\bin\\tidecharts.exe");
    RemoveTree(KnownFolder(FOLDERID_ProgramFiles) + L"\\Tidewater");
    RemoveTree(startMenuParent_);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kKey);
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSessionManager, L"PendingFileRenameOperations");
  }

  std::map<std::wstring, std::wstring> Environment() const { return {{L"TMP", temp_}, {L"TEMP", temp_}}; }

  DWORD Run(const std::wstring& program, const std::wstring& arguments) {
    LaunchOptions options;
    options.arguments = arguments;
    options.environment = Environment();
    return RunToExit(program, options, 180000);
  }

  void ExpectInstalled() {
    for (const wchar_t* file : {L"\\bin\\tidecharts.exe", L"\\data\\harbours.txt", L"\\README.txt", L"\\Uninst.exe"})
      EXPECT_TRUE(FileExists(folder_ + file)) << Narrow(file);
    // The signed uninstaller byte for byte, though the setup's runtime carries
    // it without its core library: setup put the library's bytes back, and
    // the whole file in kxpack's stage verifies (signing_resources_test.sh).
    EXPECT_EQ(ReadBytes(folder_ + L"\\Uninst.exe"),
              ReadBytes(TestDataPath("KX_TEST_PACKAGES") + L"\\tidecharts\\stage\\runtime-setup\\kxremove.dat"));
    EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kKey, L"DisplayName"), L"Tide Charts");
    EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kKey, L"DisplayVersion"), L"3.4.1");
    EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kKey, L"Publisher"), L"Tidewater Cartography Ltd");
    EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kKey, L"UninstallString"), folder_ + L"\\Uninst.exe");
    EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kKey, L"URLInfoAbout"), L"<missing>") << "no url, no link";
    EXPECT_EQ(ShortcutTarget(startMenu_ + L"\\Tide Charts Viewer.lnk"), folder_ + L"\\bin\\tidecharts.exe");
    std::vector<kxcore::UninstallRecord> records;
    ASSERT_EQ(kxcore::ReadUninstallLog(folder_ + L"\\Uninst.dat", &records), kxcore::LogFileStatus::kOk);
    bool keyLogged = false;
    for (const kxcore::UninstallRecord& record : records) {
      EXPECT_FALSE(NamesQuillmark(record.text)) << Narrow(record.text);
      keyLogged |= record.kind == KX_LOG_REGKEY && record.text == std::wstring(L"HKEY_LOCAL_MACHINE\\") + kKey;
    }
    EXPECT_TRUE(keyLogged);
    const std::wstring quillmarkKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillmark Toolkit812953";
    EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, quillmarkKey, L"DisplayName"), L"<missing>");
    EXPECT_FALSE(FolderExists(KnownFolder(FOLDERID_ProgramFiles) + L"\\Quillmark"));
    EXPECT_TRUE(ListFolder(temp_).empty()) << "runtime folder left in %TEMP%";
  }

  void ExpectUninstalled() {
    EXPECT_EQ((std::vector<std::wstring>{L"Uninst.exe"}), ListFolder(folder_)) << "only the scheduled uninstaller";
    EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kKey, L"DisplayName"), L"<missing>");
    EXPECT_FALSE(FolderExists(startMenuParent_)) << "both Start-menu levels were the package's";
    EXPECT_TRUE(ListFolder(temp_).empty()) << "runtime folder left in %TEMP%";
  }

  std::wstring setup_, folder_, startMenuParent_, startMenu_, temp_;
  ScratchFolder work_;
};

}  // namespace

TEST_F(SecondPackage, TheWizardShowsItsOwnNamesAndTheUninstallerRemovesIt) {
  {
    kxdrive::Session session(L"second-package-wizard");
    ASSERT_TRUE(session.Start(setup_, L"", Environment()));
    // Page, what its field (20) offers where it has one.
    const std::pair<const wchar_t*, std::wstring> pages[] = {{L"dlgwizwelc", L""},
                                                             {L"dlgwizlicag", L""},
                                                             {L"dlgwizseldir", folder_},
                                                             {L"dlgwizselgroup", L"Tidewater\\Tide Charts"},
                                                             {L"dlgwizfinal", L""}};
    for (const auto& [name, field] : pages) {
      HWND page = session.WaitForPage(name, 120000);
      ASSERT_TRUE(page) << Narrow(name);
      EXPECT_EQ(kxdrive::WindowText(page), kTitle);
      if (!field.empty()) {
        EXPECT_EQ(ControlText(page, 20), field);
      }
      if (wcscmp(name, L"dlgwizlicag") == 0) {
        EXPECT_EQ(ControlText(page, 11), L"Tide Charts Setup");
      }
      // The pages' texts: the rich texts (5, 20) and the labels.
      for (int id : {5, 6, 11, 20, 21}) EXPECT_FALSE(NamesQuillmark(ControlText(page, id))) << Narrow(name) << " " << id;
      session.Press(page, 1);
    }
    EXPECT_EQ(session.WaitForExit(60000), 0u);
  }
  ExpectInstalled();
  // The interactive tasks: the program starts, the folder stays closed.
  EXPECT_EQ(EndProgram(folder_ + L"\\bin\\tidecharts.exe"), 1);

  kxdrive::Session session(L"second-package-uninstall");
  ASSERT_TRUE(session.Start(folder_ + L"\\Uninst.exe", L"", Environment()));
  EXPECT_TRUE(session.Answer(L"uninstall the \"Tide Charts Setup (64-bit)\" package?", IDYES));
  EXPECT_TRUE(session.Answer(L"\"Tide Charts Setup (64-bit)\" package were successfully removed", IDOK, 120000));
  EXPECT_EQ(session.WaitForExit(60000), 0u);
  ExpectUninstalled();
}

TEST_F(SecondPackage, SilentInstallStartsNothingAndSilentUninstallRemovesIt) {
  ExpectThePackagesProgram(setup_, L"Tide Charts Setup");
  ASSERT_EQ(Run(setup_, L"/S"), 0u);
  ExpectInstalled();
  ExpectThePackagesProgram(folder_ + L"\\Uninst.exe", L"Tide Charts Uninstaller");
  EXPECT_EQ(EndProgram(folder_ + L"\\bin\\tidecharts.exe"), 0) << "silent installs start nothing";
  EXPECT_EQ(Run(folder_ + L"\\Uninst.exe", L"/S"), 0u);
  ExpectUninstalled();
}

}  // namespace kxtest
