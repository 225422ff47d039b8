// What the end-to-end tests of the setup program share: where the package
// installs, how to read what it left, and the clean-up that lets the tests
// run again and again in the same prefix.
#ifndef KX_TESTS_E2E_INSTALL_E2E_FIXTURE_H
#define KX_TESTS_E2E_INSTALL_E2E_FIXTURE_H

#include <windows.h>
#include <shlobj.h>
#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "core/uninstall_log.h"
#include "tests/support/test_files.h"

namespace kxtest {

constexpr wchar_t kUninstallKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillmark Toolkit812953";
constexpr wchar_t kSessionManager[] = L"System\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPending[] = L"PendingFileRenameOperations";

// A file of the payload as the package stores it.
struct PayloadFile {
  std::wstring relative;   // "docs\LICENSE.txt"
  std::string bytes;
  FILETIME written;
  DWORD attributes;        // read-only, hidden and system bits only
};

class InstallEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Removes everything an installation of the package may have left.
  void RemoveInstallation();

  // Environment for setup.exe: a private temporary folder.
  std::map<std::wstring, std::wstring> Environment() const;

  // Runs setup.exe to its end with arguments; returns the full exit code.
  DWORD RunSetup(const std::wstring& arguments);
  // Runs folder\Uninst.exe to its end with arguments.
  DWORD RunInstalledUninstaller(const std::wstring& folder, const std::wstring& arguments);

  // The product started by the setup's tasks: waits for its window, closes
  // the windows the tasks opened and returns whether the product ran from
  // folder.
  bool ProductStartedFrom(const std::wstring& folder);

  // Checks a complete installation into folder with the shortcut in
  // startMenuFolder.
  void ExpectInstalled(const std::wstring& folder, const std::wstring& startMenuFolder);
  void ExpectNothingInstalled();

  std::vector<kxcore::UninstallRecord> ReadLog(const std::wstring& folder);

  std::wstring setup_;           // out\setup.exe
  std::wstring defaultFolder_;   // C:\Program Files\Quillmark
  std::wstring startMenuRoot_;   // all-users Start menu programs folder
  std::vector<PayloadFile> payload_;
  std::vector<std::wstring> payloadFolders_;  // relative, outermost first
  ScratchFolder work_;
  std::wstring temp_;
};

std::wstring KnownFolder(REFKNOWNFOLDERID id);
std::wstring RegString(HKEY root, const std::wstring& key, const wchar_t* name);
// A REG_DWORD value; 0xDEADBEEF when it is missing or of another type.
DWORD RegDword(HKEY root, const std::wstring& key, const wchar_t* name);

// The deferred operations at the next restart as (source, target) pairs,
// "\??\" prefixes dropped.
std::vector<std::pair<std::wstring, std::wstring>> PendingOperations();

// The steps of a run log, each line without its time stamp (a line without
// a well-formed stamp or CR LF fails the test).
std::vector<std::wstring> RunLogSteps(const std::wstring& path);
// True when one of the steps begins with prefix.
bool HasStep(const std::vector<std::wstring>& steps, const std::wstring& prefix);
// The steps one per line, for a failing check's message.
std::string StepsText(const std::vector<std::wstring>& steps);
std::wstring ShortcutTarget(const std::wstring& linkFile);

}  // namespace kxtest

namespace kxcore {
// Readable records in test failures.
void PrintTo(const UninstallRecord& record, std::ostream* out);
}

#endif
