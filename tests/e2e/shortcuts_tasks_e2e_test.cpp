// Signal Lamp end to end: the real setup.exe and Uninst.exe of a package
// with shortcuts in its Start-menu folder and on the desktop, and two tasks
// (a desktop shortcut ticked by default; a file type, a registry value and a
// program before the uninstall not ticked). The shortcuts are read back
// through IShellLink as Explorer reads them; the tasks are chosen by their
// defaults, by /TASKS= and on the wizard's tasks page; the uninstall leaves
// nothing behind, and runs the task's program only when the task was chosen.
#include <windows.h>
#include <shlobj.h>
#include <gtest/gtest.h>

#include <string>

#include "tests/driver/ui_driver.h"
#include "tests/e2e/install_e2e_fixture.h"
#include "tests/support/process_runner.h"
#include "tests/support/test_files.h"

using namespace kxtest;

namespace {

constexpr wchar_t kUninstallParent[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr wchar_t kProductKey[] = L"Software\\Lighthouse Works";
constexpr DWORD kUsage = 2;
enum { kNext = 1, kCancel = 2, kBack = 3, kFirstBox = 30 };

// A shortcut as Explorer reads it.
struct Link {
  bool loaded = false;
  std::wstring target, arguments, workingFolder, icon, description;
  int iconIndex = -1;
};

Link ReadLink(const std::wstring& file) {
  Link link;
  IShellLinkW* shell = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(&shell))))
    return link;
  IPersistFile* persist = nullptr;
  if (SUCCEEDED(shell->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist))) &&
      SUCCEEDED(persist->Load(file.c_str(), STGM_READ))) {
    wchar_t text[1024];
    link.loaded = true;
    if (SUCCEEDED(shell->GetPath(text, 1024, nullptr, SLGP_RAWPATH))) link.target = text;
    if (SUCCEEDED(shell->GetArguments(text, 1024))) link.arguments = text;
    if (SUCCEEDED(shell->GetWorkingDirectory(text, 1024))) link.workingFolder = text;
    if (SUCCEEDED(shell->GetDescription(text, 1024))) link.description = text;
    if (SUCCEEDED(shell->GetIconLocation(text, 1024, &link.iconIndex))) link.icon = text;
  }
  if (persist) persist->Release();
  shell->Release();
  return link;
}

std::wstring EntryKey() {
  HKEY uninstall;
  std::wstring found;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallParent, 0, KEY_READ, &uninstall) != ERROR_SUCCESS) return found;
  wchar_t name[256];
  for (DWORD i = 0;; ++i) {
    DWORD length = 256;
    if (RegEnumKeyExW(uninstall, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    if (std::wstring(name).rfind(L"Signal Lamp_", 0) == 0) found = std::wstring(kUninstallParent) + L"\\" + name;
  }
  RegCloseKey(uninstall);
  return found;
}

bool KeyExists(HKEY root, const std::wstring& key) {
  HKEY handle;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
  RegCloseKey(handle);
  return true;
}

class ShortcutsAndTasks : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitialize(nullptr);
    package_ = TestDataPath("KX_TEST_LAMP") + L"\\setup.exe";
    folder_ = KnownFolder(FOLDERID_ProgramFiles) + L"\\Signal Lamp";
    publisherMenu_ = KnownFolder(FOLDERID_CommonPrograms) + L"\\Lighthouse Works";
    menu_ = publisherMenu_ + L"\\Signal Lamp";
    desktopLink_ = KnownFolder(FOLDERID_PublicDesktop) + L"\\Signal Lamp 50%.lnk";
    temp_ = work_ / L"temp";
    ASSERT_TRUE(CreateDirectoryW(temp_.c_str(), nullptr));
    RemoveEverything();
  }
  void TearDown() override {
    RemoveEverything();
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSessionManager, kPending);
    CoUninitialize();
  }

  void RemoveEverything() {
    if (FileExists(folder_ + L"\\Uninst.exe")) Run(folder_ + L"\\Uninst.exe", L"/S /SUPPRESSMSGBOXES");
    RemoveTree(folder_);
    RemoveTree(publisherMenu_);
    DeleteFileW(desktopLink_.c_str());
    for (const wchar_t* key : {L"Software\\Classes\\.lamp", L"Software\\Classes\\SignalLamp.lamp", kProductKey})
      RegDeleteTreeW(HKEY_LOCAL_MACHINE, key);
    for (std::wstring key = EntryKey(); !key.empty(); key = EntryKey())
      if (RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str()) != ERROR_SUCCESS) break;
  }

  DWORD Run(const std::wstring& program, const std::wstring& arguments) {
    LaunchOptions options;
    options.arguments = arguments;
    options.environment = Environment();
    return RunToExit(program, options, 180000);
  }
  std::map<std::wstring, std::wstring> Environment() const { return {{L"TMP", temp_}, {L"TEMP", temp_}}; }
  DWORD Setup(const std::wstring& arguments) { return Run(package_, arguments); }
  DWORD Uninstall() { return Run(folder_ + L"\\Uninst.exe", L"/S /SUPPRESSMSGBOXES /LOG=\"" + temp_ + L"\\uninstall.log\""); }
  std::string Notes() { return ReadBytes(temp_ + L"\\harbour-notes.txt"); }

  // The two Start-menu shortcuts every installation has, exactly as declared.
  void ExpectStartMenuShortcuts() {
    const Link lamp = ReadLink(menu_ + L"\\Signal Lamp.lnk");
    ASSERT_TRUE(lamp.loaded);
    EXPECT_EQ(lamp.target, folder_ + L"\\bin\\lamp.exe");
    EXPECT_EQ(lamp.arguments, L"--note \"from the shortcut\" \"" + folder_ + L"\\data\"");
    EXPECT_EQ(lamp.workingFolder, folder_ + L"\\data");
    EXPECT_EQ(lamp.icon, folder_ + L"\\res\\lamp.ico");
    EXPECT_EQ(lamp.iconIndex, 0);
    EXPECT_EQ(lamp.description, L"Starts Signal Lamp with its data");
    // Without a working folder of its own, the target's folder.
    const Link manual = ReadLink(menu_ + L"\\Signal Lamp Manual.lnk");
    ASSERT_TRUE(manual.loaded);
    EXPECT_EQ(manual.target, folder_ + L"\\docs\\manual.txt");
    EXPECT_EQ(manual.arguments, L"");
    EXPECT_EQ(manual.workingFolder, folder_ + L"\\docs");
    EXPECT_EQ(manual.icon, folder_ + L"\\docs\\manual.txt");
    // The package has [[shortcut]] tables: no shortcut named after the product besides.
    EXPECT_EQ(ListFolder(menu_).size(), 2u);
  }

  void ExpectDesktopShortcut(bool present) {
    const Link desktop = ReadLink(desktopLink_);
    EXPECT_EQ(desktop.loaded, present);
    if (!present) return;
    EXPECT_EQ(desktop.target, folder_ + L"\\bin\\lamp.exe");
    // The author's text as written: no key, no variable.
    EXPECT_EQ(desktop.description, L"#Next is no key here, 100% literal");
    EXPECT_EQ(desktop.workingFolder, folder_ + L"\\bin");
  }

  void ExpectFileType(bool present) {
    EXPECT_EQ(KeyExists(HKEY_LOCAL_MACHINE, L"Software\\Classes\\.lamp"), present);
    EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, std::wstring(kProductKey) + L"\\Signal Lamp", L"Files"),
              present ? folder_ : L"<missing>");
  }

  std::wstring ChosenTasks() { return RegString(HKEY_LOCAL_MACHINE, EntryKey(), L"KxTasks"); }

  // The uninstall takes every shortcut, both Start-menu folders, the file
  // type, the value and the entry.
  void UninstallAndExpectNothingLeft() {
    ASSERT_EQ(Uninstall(), 0u);
    EXPECT_FALSE(FileExists(desktopLink_)) << ReadBytes(temp_ + L"\\uninstall.log");
    EXPECT_FALSE(FolderExists(menu_));
    EXPECT_FALSE(FolderExists(publisherMenu_));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"Software\\Classes\\.lamp"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kProductKey));
    EXPECT_EQ(EntryKey(), L"");
    EXPECT_FALSE(FileExists(folder_ + L"\\bin\\lamp.exe"));
  }

  std::wstring package_, folder_, publisherMenu_, menu_, desktopLink_, temp_;
  ScratchFolder work_;
};

}  // namespace

TEST_F(ShortcutsAndTasks, ASilentRunTakesTheDefaultsAndTheUninstallLeavesNothing) {
  ASSERT_EQ(Setup(L"/S /SUPPRESSMSGBOXES"), 0u);
  ExpectStartMenuShortcuts();
  ExpectDesktopShortcut(true);
  ExpectFileType(false);
  EXPECT_EQ(ChosenTasks(), L"desktopicon");
  UninstallAndExpectNothingLeft();
  // The program of the task not chosen never ran.
  EXPECT_EQ(Notes(), "");
}

TEST_F(ShortcutsAndTasks, TasksChoosesExactlyTheTasksItNamesAndTheUninstallFollowsThatChoice) {
  ASSERT_EQ(Setup(L"/S /SUPPRESSMSGBOXES /TASKS=LampFiles"), 0u);
  ExpectStartMenuShortcuts();
  ExpectDesktopShortcut(false);
  ExpectFileType(true);
  EXPECT_EQ(ChosenTasks(), L"lampfiles");
  UninstallAndExpectNothingLeft();
  EXPECT_EQ(Notes(), "before uninstall\r\n");

  // An empty list chooses none; the Start-menu shortcuts have no task.
  ASSERT_EQ(Setup(L"/S /SUPPRESSMSGBOXES /TASKS= /LOG"), 0u);
  ExpectStartMenuShortcuts();
  ExpectDesktopShortcut(false);
  ExpectFileType(false);
  EXPECT_EQ(ChosenTasks(), L"");
  UninstallAndExpectNothingLeft();
}

TEST_F(ShortcutsAndTasks, ATaskThePackageLacksIsAUsageErrorThatChangesNothing) {
  for (const wchar_t* list : {L"/TASKS=desktopicon,nosuchtask", L"/TASKS=desktop"}) {
    EXPECT_EQ(Setup(std::wstring(L"/S /SUPPRESSMSGBOXES ") + list), kUsage) << Narrow(list);
    EXPECT_FALSE(FileExists(folder_ + L"\\bin\\lamp.exe"));
    EXPECT_FALSE(FolderExists(publisherMenu_));
    EXPECT_FALSE(FileExists(desktopLink_));
    EXPECT_EQ(EntryKey(), L"");
  }
}

TEST_F(ShortcutsAndTasks, TheWizardShowsTheTasksPageAndKeepsTheTicksOnBack) {
  {
    kxdrive::Session session(L"tasks-wizard-untick");
    ASSERT_TRUE(session.Start(package_, L"", Environment()));
    for (const wchar_t* name : {L"dlgwizwelc", L"dlgwizlicag", L"dlgwizseldir", L"dlgwizselgroup"}) {
      HWND page = session.WaitForPage(name);
      ASSERT_TRUE(page) << Narrow(name);
      session.Press(page, kNext);
    }
    HWND tasks = session.WaitForPage(L"dlgwiztasks");
    ASSERT_TRUE(tasks);
    EXPECT_EQ(kxdrive::ControlText(tasks, kFirstBox), L"Create a desktop shortcut");
    // The author's '&' is shown as itself, not as an accelerator.
    EXPECT_EQ(kxdrive::ControlText(tasks, kFirstBox + 1), L"Open .lamp files with Signal Lamp && keep them");
    EXPECT_TRUE(kxdrive::IsChecked(kxdrive::Control(tasks, kFirstBox)));
    EXPECT_FALSE(kxdrive::IsChecked(kxdrive::Control(tasks, kFirstBox + 1)));
    for (int box = kFirstBox + 2; box < kFirstBox + 8; ++box) EXPECT_FALSE(kxdrive::IsVisible(kxdrive::Control(tasks, box)));
    // Untick the desktop shortcut, tick the file type; Back and Next keep both.
    session.Press(tasks, kFirstBox);
    session.Press(tasks, kFirstBox + 1);
    session.Press(tasks, kBack);
    HWND startMenu = session.WaitForPage(L"dlgwizselgroup");
    ASSERT_TRUE(startMenu);
    session.Press(startMenu, kNext);
    tasks = session.WaitForPage(L"dlgwiztasks");
    ASSERT_TRUE(tasks);
    EXPECT_FALSE(kxdrive::IsChecked(kxdrive::Control(tasks, kFirstBox)));
    EXPECT_TRUE(kxdrive::IsChecked(kxdrive::Control(tasks, kFirstBox + 1)));
    session.Press(tasks, kNext);
    HWND final = session.WaitForPage(L"dlgwizfinal", 120000);
    ASSERT_TRUE(final);
    session.Press(final, kNext);
    EXPECT_EQ(session.WaitForExit(60000), 0u);
  }
  ExpectStartMenuShortcuts();
  ExpectDesktopShortcut(false);
  ExpectFileType(true);
  EXPECT_EQ(ChosenTasks(), L"lampfiles");
  UninstallAndExpectNothingLeft();

  // /TASKS= presets the ticks of a wizard run; Cancel on the page changes nothing.
  kxdrive::Session session(L"tasks-wizard-preset");
  ASSERT_TRUE(session.Start(package_, L"/TASKS=lampfiles", Environment()));
  for (const wchar_t* name : {L"dlgwizwelc", L"dlgwizlicag", L"dlgwizseldir", L"dlgwizselgroup"}) {
    HWND page = session.WaitForPage(name);
    ASSERT_TRUE(page) << Narrow(name);
    session.Press(page, kNext);
  }
  HWND tasks = session.WaitForPage(L"dlgwiztasks");
  ASSERT_TRUE(tasks);
  EXPECT_FALSE(kxdrive::IsChecked(kxdrive::Control(tasks, kFirstBox)));
  EXPECT_TRUE(kxdrive::IsChecked(kxdrive::Control(tasks, kFirstBox + 1)));
  session.Press(tasks, kCancel);
  EXPECT_EQ(session.WaitForExit(), 2u);
  EXPECT_FALSE(FileExists(folder_ + L"\\bin\\lamp.exe"));
  EXPECT_EQ(EntryKey(), L"");
}
