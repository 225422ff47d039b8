// The uninstall steps on real files, folders and registry keys.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/uninstall_scope.h"
#include "core/uninstall_steps.h"
#include "tests/support/fake_core.h"
#include "tests/support/file_links.h"
#include "tests/support/test_files.h"

using namespace kxcore;
using kxtest::FileExists;
using kxtest::FolderExists;
using kxtest::MakeLink;
using kxtest::ReadBytes;
using kxtest::ScratchFolder;
using kxtest::WriteBytes;

namespace {

constexpr wchar_t kSessionManager[] = L"System\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPending[] = L"PendingFileRenameOperations";

std::vector<std::wstring> g_reported;

int Record(int, int, const wchar_t* text) {
  g_reported.push_back(text);
  return 0;
}

// Keeps Wine's list of deferred file operations as it was before the test.
class PendingOperationsGuard {
 public:
  PendingOperationsGuard() {
    DWORD size = 0;
    had_ = RegGetValueW(HKEY_LOCAL_MACHINE, kSessionManager, kPending, RRF_RT_REG_MULTI_SZ, nullptr, nullptr, &size) ==
           ERROR_SUCCESS;
    if (had_) {
      saved_.resize(size);
      RegGetValueW(HKEY_LOCAL_MACHINE, kSessionManager, kPending, RRF_RT_REG_MULTI_SZ, nullptr, &saved_[0], &size);
    }
  }
  ~PendingOperationsGuard() {
    if (had_)
      RegSetKeyValueW(HKEY_LOCAL_MACHINE, kSessionManager, kPending, REG_MULTI_SZ, saved_.data(),
                      static_cast<DWORD>(saved_.size()));
    else
      RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSessionManager, kPending);
  }

 private:
  bool had_ = false;
  std::string saved_;
};

class UninstallSteps : public ::testing::Test {
 protected:
  void SetUp() override {
    kxtest::ResetFake();
    g_reported.clear();
    install = folder / L"Quill";
    ASSERT_TRUE(CreateDirectoryW(install.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((install + L"\\docs").c_str(), nullptr));
    ASSERT_TRUE(WriteBytes(install + L"\\app.exe", "app"));
    ASSERT_TRUE(WriteBytes(install + L"\\docs\\ro.txt", "read-only"));
    SetFileAttributesW((install + L"\\docs\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    ASSERT_TRUE(WriteBytes(install + L"\\Uninst.exe", "uninstaller"));
    ASSERT_TRUE(WriteBytes(install + L"\\Uninst.dat", "log"));
    run.uninstallerPath = install + L"\\Uninst.exe";
    run.logPath = install + L"\\Uninst.dat";
    run.records = {{KX_LOG_FOLDER, install},
                   {KX_LOG_FOLDER, install + L"\\docs"},
                   {KX_LOG_FILE, install + L"\\app.exe"},
                   {KX_LOG_FILE, install + L"\\docs\\ro.txt"},
                   {KX_LOG_FILE, install + L"\\gone.txt"},
                   {KX_LOG_FOLDER, install + L"\\docs"},
                   {KX_LOG_FILE, run.uninstallerPath},
                   {KX_LOG_FILE, run.logPath}};
    run.scope = MakeUninstallScope(run.uninstallerPath, L"", L"Software\\KxTest\\Quill");
  }

  PendingOperationsGuard pending;
  ScratchFolder folder;
  std::wstring install;
  UninstallRun run;
};

}  // namespace

TEST_F(UninstallSteps, FilesGoExceptTheRunningUninstallerAndTheLog) {
  EXPECT_EQ(0, RemoveLoggedFiles(&run, Record));
  EXPECT_FALSE(FileExists(install + L"\\app.exe"));
  EXPECT_FALSE(FileExists(install + L"\\docs\\ro.txt"));
  EXPECT_TRUE(FileExists(run.uninstallerPath));
  EXPECT_TRUE(FileExists(run.logPath));
  EXPECT_EQ((std::vector<std::wstring>{install + L"\\app.exe", install + L"\\docs\\ro.txt", install + L"\\gone.txt"}),
            g_reported);
}

TEST_F(UninstallSteps, RepeatedRecordsAreHandledOnceAsTheyFirstCame) {
  run.records = {{KX_LOG_FILE, install + L"\\docs\\ro.txt"}, {KX_LOG_FILE, install + L"\\app.exe"},
                 {KX_LOG_FILE, install + L"\\DOCS\\RO.TXT"},  {KX_LOG_FILE, install + L"\\app.exe"},
                 {KX_LOG_FOLDER, install + L"\\docs\\"},      {KX_LOG_FOLDER, install + L"\\Docs"}};
  RemoveLoggedFiles(&run, Record);
  RemoveLoggedFolders(&run, Record);
  EXPECT_EQ((std::vector<std::wstring>{install + L"\\docs\\ro.txt", install + L"\\app.exe", install + L"\\docs"}),
            g_reported);
}

// The folders of a large log wait in a temporary file and are removed a
// depth and a slice at a time: in slices of 4, repeats in other slices than
// their first (in other letter case, with a trailing separator) included,
// they go in the order of one sorted list, deepest first, each once.
TEST_F(UninstallSteps, FoldersFromATemporaryFileGoDeepestFirstEachOnceInSlices) {
  const std::wstring tree = install + L"\\tree";
  std::vector<std::wstring> logged = {tree}, deep, middle;
  ASSERT_TRUE(CreateDirectoryW(tree.c_str(), nullptr));
  for (int a = 0; a < 10; ++a) {
    const std::wstring folder = tree + L"\\a" + std::to_wstring(a);
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    logged.push_back(folder);
    middle.push_back(folder);
    for (int b = 0; b < 3; ++b) {
      const std::wstring sub = folder + L"\\b" + std::to_wstring(b);
      ASSERT_TRUE(CreateDirectoryW(sub.c_str(), nullptr));
      logged.push_back(sub);
      deep.push_back(sub);
    }
  }
  for (const std::wstring& repeat : {tree + L"\\A3", tree + L"\\a0\\B1\\", tree + L"\\a9\\b2", tree + L"\\a7\\"})
    logged.push_back(repeat);
  run.records.clear();
  for (const std::wstring& folder : logged)
    ASSERT_EQ(0u, SpillAppend(&run.folders, folder.data(), folder.size() * sizeof(wchar_t)));
  std::vector<std::wstring> expected = deep;
  expected.insert(expected.end(), middle.begin(), middle.end());
  expected.push_back(tree);

  EXPECT_EQ(0, RemoveLoggedFolders(&run, Record, 4));
  EXPECT_EQ(expected, g_reported);
  EXPECT_FALSE(FolderExists(tree));
  ReleaseSpill(&run.folders);
}

TEST_F(UninstallSteps, TheUninstallerAndItsFolderAreScheduledOnlyByTheLastStep) {
  RemoveLoggedFiles(&run, Record);
  EXPECT_EQ(0, RemoveLoggedFolders(&run, Record));
  EXPECT_FALSE(FolderExists(install + L"\\docs"));
  EXPECT_TRUE(FolderExists(install));
  EXPECT_TRUE(run.scheduled.empty()) << "a later step may still fail";
  // Deepest first, each folder once.
  EXPECT_EQ(install + L"\\docs", g_reported[3]);
  EXPECT_EQ(install, g_reported[4]);
  EXPECT_EQ(5u, g_reported.size());

  EXPECT_EQ(0, RemoveLogFile(&run, Record));
  EXPECT_FALSE(FileExists(run.logPath));
  EXPECT_EQ((std::vector<std::wstring>{run.uninstallerPath, install}), run.scheduled);
}

TEST_F(UninstallSteps, ALogInUseIsScheduledBeforeItsFolder) {
  RemoveLoggedFiles(&run, Record);
  RemoveLoggedFolders(&run, Record);
  HANDLE held = CreateFileW(run.logPath.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  EXPECT_EQ(0, RemoveLogFile(&run, Record));
  CloseHandle(held);
  EXPECT_EQ((std::vector<std::wstring>{run.logPath, run.uninstallerPath, install}), run.scheduled);
}

TEST_F(UninstallSteps, FilesTheUserAddedKeepTheirFolders) {
  ASSERT_TRUE(WriteBytes(install + L"\\docs\\notes.txt", "mine"));
  RemoveLoggedFiles(&run, Record);
  RemoveLoggedFolders(&run, Record);
  EXPECT_TRUE(FileExists(install + L"\\docs\\notes.txt"));
  EXPECT_TRUE(FolderExists(install + L"\\docs"));
  RemoveLogFile(&run, Record);
  EXPECT_EQ((std::vector<std::wstring>{run.uninstallerPath}), run.scheduled) << "the folder must not be scheduled";
}

TEST_F(UninstallSteps, AFileInUseIsScheduledForRestart) {
  HANDLE held = CreateFileW((install + L"\\app.exe").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  EXPECT_EQ(0, RemoveLoggedFiles(&run, Record));
  CloseHandle(held);
  EXPECT_EQ((std::vector<std::wstring>{install + L"\\app.exe"}), run.scheduled);
}

TEST_F(UninstallSteps, RegistryValuesThenKeysLeftEmpty) {
  const std::wstring base = L"Software\\KxTests\\steps-" + std::to_wstring(GetCurrentProcessId());
  const std::wstring product = base + L"\\Product";
  const std::wstring shared = base + L"\\Shared";
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, product.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
  RegSetValueExW(key, L"DisplayName", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"Q"), 4);
  RegSetValueExW(key, L"Odd \"name\"", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"Q"), 4);
  RegCloseKey(key);
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, shared.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
  RegSetValueExW(key, L"Ours", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"Q"), 4);
  RegSetValueExW(key, L"Theirs", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"Q"), 4);
  RegCloseKey(key);

  const std::wstring root = L"HKEY_CURRENT_USER\\";
  run.records = {{KX_LOG_REGVALUE, L"\"" + root + product + L"\" \"DisplayName\""},
                 {KX_LOG_REGKEY, root + product},
                 {KX_LOG_REGVALUE, L"\"" + root + product + L"\" \"Odd \"name\"\""},
                 {KX_LOG_REGKEY, root + product},
                 {KX_LOG_REGVALUE, L"\"" + root + shared + L"\" \"Ours\""},
                 {KX_LOG_REGKEY, root + shared},
                 {KX_LOG_REGVALUE, L"\"" + root + base + L"\\Missing\" \"Value\""},
                 {KX_LOG_REGKEY, root + base + L"\\Missing"},
                 {KX_LOG_REGVALUE, L"not a record"}};
  EXPECT_EQ(0, RemoveLoggedValues(&run, Record));
  EXPECT_EQ(0, RemoveLoggedKeys(&run, Record));

  EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, product.c_str(), 0, KEY_READ, &key));
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, shared.c_str(), 0, KEY_READ, &key));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExW(key, L"Ours", nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"Theirs", nullptr, nullptr, nullptr, nullptr));
  RegCloseKey(key);
  RegDeleteTreeW(HKEY_CURRENT_USER, base.c_str());
}

TEST(RegistryRecords, ParseTheLoggedForms) {
  HKEY root = nullptr;
  std::wstring key, name;
  ASSERT_TRUE(ParseRegistryRecord(L"\"HKEY_LOCAL_MACHINE\\Software\\A B\" \"Display Name\"", true, &root, &key, &name));
  EXPECT_EQ(HKEY_LOCAL_MACHINE, root);
  EXPECT_EQ(L"Software\\A B", key);
  EXPECT_EQ(L"Display Name", name);
  ASSERT_TRUE(ParseRegistryRecord(L"\"HKCU\\K\" \"\"", true, &root, &key, &name));
  EXPECT_EQ(HKEY_CURRENT_USER, root);
  EXPECT_EQ(L"", name);
  ASSERT_TRUE(ParseRegistryRecord(L"HKEY_LOCAL_MACHINE\\Software\\X", false, &root, &key, &name));
  EXPECT_EQ(L"Software\\X", key);
  EXPECT_FALSE(ParseRegistryRecord(L"HKEY_NOWHERE\\X", false, &root, &key, &name));
  EXPECT_FALSE(ParseRegistryRecord(L"HKEY_LOCAL_MACHINE", false, &root, &key, &name));
  EXPECT_FALSE(ParseRegistryRecord(L"\"HKLM\\K\"", true, &root, &key, &name));
}

// Someone who can write the installation folder swaps a link in after the
// log's check: every removal goes through a handle whose object is checked
// again, so nothing outside the folder is touched. On Windows the link itself
// goes; under Wine, which follows every link, it is left alone.
class SwappedLinks : public UninstallSteps {
 protected:
  void SetUp() override {
    UninstallSteps::SetUp();
    outside = folder / L"Elsewhere";
    ASSERT_TRUE(CreateDirectoryW(outside.c_str(), nullptr));
    ASSERT_TRUE(WriteBytes(outside + L"\\ro.txt", "not the package's"));
    ASSERT_TRUE(WriteBytes(outside + L"\\app.exe", "not the package's either"));
    g_swap = nullptr;
    g_beforeOpenForRemoval = [](const std::wstring& path) {
      if (g_swap && g_swap(path)) g_swap = nullptr;
    };
  }
  void TearDown() override { g_beforeOpenForRemoval = nullptr; }

  void ExpectOutsideUntouched() {
    EXPECT_EQ("not the package's", ReadBytes(outside + L"\\ro.txt"));
    EXPECT_EQ("not the package's either", ReadBytes(outside + L"\\app.exe"));
  }

  static inline bool (*g_swap)(const std::wstring& path) = nullptr;
  static inline std::wstring s_install, s_outside;
  std::wstring outside;
};

TEST_F(SwappedLinks, AFolderSwappedForAJunctionBetweenTheCheckAndTheDeleteRedirectsNothing) {
  s_install = install;
  s_outside = outside;
  // Right before docs\ro.txt is opened, docs becomes a link to Elsewhere,
  // which holds a file of the same name.
  g_swap = [](const std::wstring& path) {
    if (path != s_install + L"\\docs\\ro.txt") return false;
    EXPECT_TRUE(MoveFileW((s_install + L"\\docs").c_str(), (s_install + L"\\docs-moved").c_str()));
    EXPECT_TRUE(MakeLink(s_install + L"\\docs", s_outside));
    return true;
  };
  EXPECT_EQ(0, RemoveLoggedFiles(&run, Record));
  ExpectOutsideUntouched();
  EXPECT_FALSE(FileExists(install + L"\\app.exe"));
  EXPECT_TRUE(run.scheduled.empty());

  // The folder step meets the link: removed as a link or left, never followed.
  EXPECT_EQ(0, RemoveLoggedFolders(&run, Record));
  ExpectOutsideUntouched();
  EXPECT_TRUE(FolderExists(outside));
}

TEST_F(SwappedLinks, AFileSwappedForALinkIsRemovedAsALinkOrLeftAlone) {
  s_install = install;
  s_outside = outside;
  g_swap = [](const std::wstring& path) {
    if (path != s_install + L"\\app.exe") return false;
    EXPECT_TRUE(DeleteFileW(path.c_str()));
    EXPECT_TRUE(MakeLink(path, s_outside + L"\\app.exe"));
    return true;
  };
  EXPECT_EQ(0, RemoveLoggedFiles(&run, Record));
  ExpectOutsideUntouched();
  EXPECT_FALSE(FileExists(install + L"\\docs\\ro.txt"));
}

TEST_F(SwappedLinks, ALinkAlreadyInPlaceOfALoggedFolderLeavesItsTargetWhole) {
  ASSERT_EQ(0, RemoveLoggedFiles(&run, Record));
  ASSERT_TRUE(RemoveDirectoryW((install + L"\\docs").c_str()));
  ASSERT_TRUE(MakeLink(install + L"\\docs", outside));
  EXPECT_EQ(0, RemoveLoggedFolders(&run, Record));
  ExpectOutsideUntouched();
}
