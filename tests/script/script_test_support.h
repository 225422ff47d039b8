// Helpers shared by the install script's tests.
#ifndef KX_TESTS_SCRIPT_SCRIPT_TEST_SUPPORT_H
#define KX_TESTS_SCRIPT_SCRIPT_TEST_SUPPORT_H

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace kxtest {

// The Quillmark Toolkit package's uninstall key below HKEY_LOCAL_MACHINE.
constexpr wchar_t kShippedUninstallKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillmark Toolkit812953";

// Fills g_package with the launcher's reader from the kxpackage.dat that
// kxpack wrote into the shipped setup runtime (KX_TEST_RUNTIME).
void UseShippedPackage();

// The evaluation of a script text, as a string.
std::wstring Eval(const wchar_t* text);

// COM for the calling thread while the object lives.
class ComScope {
 public:
  ComScope() { CoInitialize(nullptr); }
  ~ComScope() { CoUninitialize(); }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;
};

// A registry value as stored.
struct RegValue {
  bool found = false;
  DWORD type = 0;
  std::string bytes;
  std::wstring Text() const;     // REG_SZ data without its terminating zero
  DWORD Dword() const;
  unsigned long long Qword() const;
};
RegValue ReadRegValue(HKEY root, const std::wstring& key, const wchar_t* name);
bool RegKeyPresent(HKEY root, const std::wstring& key);
void DeleteRegTree(HKEY root, const std::wstring& key);

// A key of its own under HKEY_CURRENT_USER\Software\KxTests, removed with
// everything in it when the object goes.
class TestRegistryKey {
 public:
  TestRegistryKey();
  ~TestRegistryKey();
  TestRegistryKey(const TestRegistryKey&) = delete;
  TestRegistryKey& operator=(const TestRegistryKey&) = delete;
  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
};

// A link file read back through IShellLinkW (COM must be initialised).
struct ShortcutInfo {
  bool loaded = false;
  std::wstring target;
  std::wstring arguments;
  std::wstring description;
  std::wstring workingFolder;
  std::wstring iconFile;
  int iconIndex = -1;
  int showCommand = 0;
};
ShortcutInfo ReadShortcut(const std::wstring& linkFile);

// Waits on a thread of its own for a top-level window of this process that
// satisfies the predicate and runs act on it (on that thread). Used to answer
// message boxes and pickers that a handler opens modally on the test's
// thread. Stopping needs some visible window of the process to look at (the
// test's page).
class WindowWatcher {
 public:
  WindowWatcher(std::function<bool(HWND)> predicate, std::function<void(HWND)> act);
  ~WindowWatcher();
  WindowWatcher(const WindowWatcher&) = delete;
  WindowWatcher& operator=(const WindowWatcher&) = delete;
  // Waits until the window was handled (or the driver's timeout passed);
  // true when it was found.
  bool Finish();
  // Gives up waiting; true when the window had been found.
  bool Stop();

 private:
  std::atomic<bool> stop_{false};
  std::atomic<bool> found_{false};
  bool joined_ = false;
  std::thread thread_;
};

// A message box shown through ShowMessageBox.
struct ShownBox {
  HWND owner;
  std::wstring text;
  bool hasCaption;
  std::wstring caption;
  UINT style;
};

// While it lives, every box shown through ShowMessageBox is recorded instead
// of shown, and answered with IDOK.
class MessageBoxRecorder {
 public:
  MessageBoxRecorder();
  ~MessageBoxRecorder();
  MessageBoxRecorder(const MessageBoxRecorder&) = delete;
  MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;
  const std::vector<ShownBox>& boxes() const;
  void Clear();
};

}  // namespace kxtest

#endif
