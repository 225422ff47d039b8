#include "tests/script/script_test_support.h"

#include <gtest/gtest.h>
#include <shlobj.h>
#include <string.h>

#include "base/message_box.h"
#include "core/kxcore.h"
#include "launcher/package_data.h"
#include "tests/driver/ui_driver.h"
#include "tests/support/test_files.h"

namespace kxtest {

std::wstring Eval(const wchar_t* text) { return EvalVar(text); }

void UseShippedPackage() {
  ASSERT_EQ(LoadPackageData((TestDataPath("KX_TEST_RUNTIME") + L"\\").c_str()), kPackageDataOk);
}

std::wstring RegValue::Text() const {
  std::wstring text(bytes.size() / sizeof(wchar_t), L'\0');
  if (!text.empty()) memcpy(&text[0], bytes.data(), text.size() * sizeof(wchar_t));
  if (!text.empty() && text.back() == L'\0') text.pop_back();
  return text;
}

DWORD RegValue::Dword() const {
  DWORD value = 0;
  if (bytes.size() == sizeof value) memcpy(&value, bytes.data(), sizeof value);
  return value;
}

unsigned long long RegValue::Qword() const {
  unsigned long long value = 0;
  if (bytes.size() == sizeof value) memcpy(&value, bytes.data(), sizeof value);
  return value;
}

RegValue ReadRegValue(HKEY root, const std::wstring& key, const wchar_t* name) {
  RegValue value;
  HKEY opened = nullptr;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS) return value;
  DWORD size = 0;
  if (RegQueryValueExW(opened, name, nullptr, &value.type, nullptr, &size) == ERROR_SUCCESS) {
    value.bytes.resize(size);
    if (RegQueryValueExW(opened, name, nullptr, &value.type,
                         size ? reinterpret_cast<BYTE*>(&value.bytes[0]) : nullptr, &size) == ERROR_SUCCESS) {
      value.found = true;
      value.bytes.resize(size);
    }
  }
  RegCloseKey(opened);
  return value;
}

bool RegKeyPresent(HKEY root, const std::wstring& key) {
  HKEY opened = nullptr;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
  RegCloseKey(opened);
  return true;
}

void DeleteRegTree(HKEY root, const std::wstring& key) { RegDeleteTreeW(root, key.c_str()); }

TestRegistryKey::TestRegistryKey() {
  static LONG counter;
  path_ = L"Software\\KxTests\\script-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
          std::to_wstring(InterlockedIncrement(&counter));
  DeleteRegTree(HKEY_CURRENT_USER, path_);
}

TestRegistryKey::~TestRegistryKey() { DeleteRegTree(HKEY_CURRENT_USER, path_); }

ShortcutInfo ReadShortcut(const std::wstring& linkFile) {
  ShortcutInfo info;
  IShellLinkW* link = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(&link))))
    return info;
  IPersistFile* file = nullptr;
  if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
    if (SUCCEEDED(file->Load(linkFile.c_str(), STGM_READ))) {
      wchar_t text[1024];
      info.loaded = true;
      if (SUCCEEDED(link->GetPath(text, 1024, nullptr, SLGP_RAWPATH))) info.target = text;
      if (SUCCEEDED(link->GetArguments(text, 1024))) info.arguments = text;
      if (SUCCEEDED(link->GetDescription(text, 1024))) info.description = text;
      if (SUCCEEDED(link->GetWorkingDirectory(text, 1024))) info.workingFolder = text;
      int index = -1;
      if (SUCCEEDED(link->GetIconLocation(text, 1024, &index))) {
        info.iconFile = text;
        info.iconIndex = index;
      }
    }
    file->Release();
  }
  link->Release();
  // Wine's link object does not load the show command, so it is read from
  // the file: ShowCommand is the 32-bit field at 0x3C of the link header.
  std::string bytes;
  if (info.loaded && ReadBytes(linkFile, &bytes) && bytes.size() >= 0x40)
    memcpy(&info.showCommand, bytes.data() + 0x3C, sizeof info.showCommand);
  return info;
}

WindowWatcher::WindowWatcher(std::function<bool(HWND)> predicate, std::function<void(HWND)> act) {
  thread_ = std::thread([this, predicate, act] {
    HWND window = kxdrive::WaitForWindow(GetCurrentProcessId(), nullptr,
                                         [&](HWND candidate) { return stop_ || predicate(candidate); });
    if (window && predicate(window)) {
      found_ = true;
      act(window);
    }
  });
}

WindowWatcher::~WindowWatcher() { Stop(); }

bool WindowWatcher::Finish() {
  if (!joined_) {
    thread_.join();
    joined_ = true;
  }
  return found_;
}

bool WindowWatcher::Stop() {
  stop_ = true;
  return Finish();
}

namespace {

std::vector<ShownBox> g_shownBoxes;

int RecordMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT style) {
  g_shownBoxes.push_back({owner, text ? text : L"", caption != nullptr, caption ? caption : L"", style});
  return IDOK;
}

}  // namespace

MessageBoxRecorder::MessageBoxRecorder() {
  g_shownBoxes.clear();
  SetMessageBoxFunction(RecordMessageBox);
}

MessageBoxRecorder::~MessageBoxRecorder() { SetMessageBoxFunction(nullptr); }

const std::vector<ShownBox>& MessageBoxRecorder::boxes() const { return g_shownBoxes; }

void MessageBoxRecorder::Clear() { g_shownBoxes.clear(); }

}  // namespace kxtest
