#include "tests/extract/extract_fixture.h"

#include <windows.h>
#include <commctrl.h>

#include "launcher/launcher_main.h"

namespace kxtest {

std::function<void(const ShownMessage&)> g_onMessage;

std::vector<ShownMessage>& Messages() {
  static std::vector<ShownMessage> messages;
  return messages;
}

std::deque<int>& MessageAnswers() {
  static std::deque<int> answers;
  return answers;
}

namespace {

int RecordMessage(HWND owner, const wchar_t* text, const wchar_t* caption, UINT style) {
  ShownMessage shown{owner, text ? text : L"", caption ? caption : L"", style};
  Messages().push_back(shown);
  if (g_onMessage) g_onMessage(shown);
  if (MessageAnswers().empty()) return 0;
  int answer = MessageAnswers().front();
  MessageAnswers().pop_front();
  return answer;
}

constexpr wchar_t kBoxClass[] = L"KxTestProgressBox";
constexpr wchar_t kBarClass[] = L"KxTestProgressBar";

LRESULT CALLBACK BarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == PBM_SETPOS) {
    ProgressBox().barPositions.push_back(static_cast<int>(wParam));
    if (ProgressBox().onPosition) ProgressBox().onPosition();
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK TextProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_SETTEXT) ProgressBox().texts.push_back(reinterpret_cast<const wchar_t*>(lParam));
  return DefWindowProcW(window, message, wParam, lParam);
}

void RegisterClasses() {
  static bool done = false;
  if (done) return;
  WNDCLASSW box = {};
  box.lpfnWndProc = DefWindowProcW;
  box.hInstance = GetModuleHandleW(nullptr);
  box.lpszClassName = kBoxClass;
  RegisterClassW(&box);
  WNDCLASSW bar = box;
  bar.lpfnWndProc = BarProc;
  bar.lpszClassName = kBarClass;
  RegisterClassW(&bar);
  WNDCLASSW text = box;
  text.lpfnWndProc = TextProc;
  text.lpszClassName = L"KxTestProgressText";
  RegisterClassW(&text);
  done = true;
}

HWND Child(HWND parent, const wchar_t* cls, int id) {
  return CreateWindowExW(0, cls, L"", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, parent,
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
}

}  // namespace

TestProgressBox& ProgressBox() {
  static TestProgressBox box;
  return box;
}

void InstallTestProgressBox() {
  RegisterClasses();
  TestProgressBox& state = ProgressBox();
  if (!state.box) {
    state.box = CreateWindowExW(0, kBoxClass, L"progress", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    Child(state.box, L"BUTTON", 1);
    Child(state.box, L"BUTTON", 2);
    Child(state.box, L"BUTTON", 3);
    Child(state.box, kBarClass, 20);
    Child(state.box, L"KxTestProgressText", 21);
    // The box shows itself; its items count as visible only then.
    ShowWindow(state.box, SW_SHOWNOACTIVATE);
  }
  Fake().showProgressBox = [](KxDialogHandler handler) {
    handler(KX_EVENT_CREATED, ProgressBox().box, 0, 0);
    return 0;
  };
}

void ResetTestProgressBox() {
  // The window stays for the whole test program: under Wine on a display
  // without a window manager, every top-level window that goes away costs a
  // two-second wait.
  TestProgressBox& state = ProgressBox();
  state.barPositions.clear();
  state.texts.clear();
  state.onPosition = nullptr;
  if (!state.box) return;
  for (int id : {1, 2, 3}) {
    ShowWindow(GetDlgItem(state.box, id), SW_SHOW);
    EnableWindow(GetDlgItem(state.box, id), TRUE);
  }
}

void ExtractTest::SetUp() {
  ResetFake();
  Messages().clear();
  MessageAnswers().clear();
  g_onMessage = nullptr;
  g_extractMessageBox = RecordMessage;
  g_uninstallLogging = false;
  g_extractedFileCount = 0;
  wcscpy(g_launcher.title, L"Extraction Test");
  SetVar(L"KXEXTTEXT", L"#Extracting");
  SetVar(L"KXEXTHC", L"0");
}

void ExtractTest::TearDown() {
  g_extractMessageBox = nullptr;
  g_onMessage = nullptr;
  g_uninstallLogging = false;
  ResetTestProgressBox();
}

std::wstring ExtractTest::WritePackage(const std::string& archive) {
  std::wstring path = scratch_ / L"package.bin";
  std::string bytes(kArchiveOffset, 'P');
  bytes += archive;
  EXPECT_TRUE(WriteBytes(path, bytes));
  return path;
}

ExtractResult ExtractTest::Extract(const std::wstring& package, const std::wstring& destination, ExtractFileHook hook) {
  uint32_t offset = kArchiveOffset;
  return ExtractArchive(package.c_str(), destination.c_str(), &offset, 1, ProgressBoxHandler, hook);
}

ExtractResult ExtractTest::ExtractWithBox(const std::wstring& package, const std::wstring& destination,
                                          ExtractFileHook hook) {
  InstallTestProgressBox();
  uint32_t offset = kArchiveOffset;
  return ExtractArchive(package.c_str(), destination.c_str(), &offset, 0, ProgressBoxHandler, hook);
}

std::vector<std::wstring> ExtractTest::MessageTexts() const {
  std::vector<std::wstring> texts;
  for (const ShownMessage& message : Messages()) texts.push_back(message.text);
  return texts;
}

FILETIME LastWriteTime(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
  return data.ftLastWriteTime;
}

uint64_t AsNumber(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

}  // namespace kxtest
