#include "tests/script/page_test_window.h"

#include <initializer_list>

#include "tests/driver/ui_driver.h"

namespace kxtest {
namespace {

constexpr wchar_t kPageClass[] = L"KxTestWizardPage";

void RegisterPageClass() {
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = DefWindowProcW;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = kPageClass;
  RegisterClassW(&windowClass);
}

void AddControl(HWND page, const wchar_t* windowClass, const wchar_t* text, DWORD style, int id, int x, int y,
                int width, int height, DWORD exStyle = 0) {
  CreateWindowExW(exStyle, windowClass, text, WS_CHILD | WS_VISIBLE | WS_TABSTOP | style, x, y, width, height, page,
                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
}

}  // namespace

TestPage::TestPage() {
  RegisterPageClass();
  window_ = CreateWindowExW(0, kPageClass, L"Quillmark Toolkit Setup (64-bit)", WS_OVERLAPPED | WS_CAPTION,
                            100, 100, 550, 400, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  AddControl(window_, L"BUTTON", L"Next", BS_PUSHBUTTON, 1, 350, 320, 81, 25);
  AddControl(window_, L"BUTTON", L"Cancel", BS_PUSHBUTTON, 2, 450, 320, 81, 25);
  AddControl(window_, L"BUTTON", L"Back", BS_PUSHBUTTON, 3, 270, 320, 81, 25);
  AddControl(window_, L"BUTTON", L"Task one", BS_AUTOCHECKBOX, 6, 20, 200, 200, 20);
  AddControl(window_, L"BUTTON", L"Task two", BS_AUTOCHECKBOX, 7, 20, 230, 200, 20);
  AddControl(window_, L"EDIT", L"", ES_AUTOHSCROLL, 20, 20, 100, 400, 22, WS_EX_CLIENTEDGE);
  AddControl(window_, L"BUTTON", L"Browse", BS_PUSHBUTTON, 21, 430, 100, 81, 25);
  // The destination page's space lines.
  AddControl(window_, L"STATIC", L"", SS_LEFT, 14, 20, 140, 500, 16);
  AddControl(window_, L"STATIC", L"", SS_LEFT, 15, 20, 160, 500, 16);
  ShowWindow(window_, SW_SHOW);
  SetForegroundWindow(window_);
}

TestPage& TestPage::Shared() {
  static TestPage page;
  return page;
}

TestPage::~TestPage() { DestroyWindow(window_); }

void TestPage::Reset() const {
  for (int id : {1, 2, 3, 6, 7, 20, 21}) {
    EnableWindow(control(id), TRUE);
    ShowWindow(control(id), SW_SHOW);
  }
  SendMessageW(control(6), BM_SETCHECK, BST_UNCHECKED, 0);
  SendMessageW(control(7), BM_SETCHECK, BST_UNCHECKED, 0);
  SetFieldText(L"");
  SetFocus(control(1));
}

std::wstring TestPage::FieldText() const { return kxdrive::WindowText(control(20)); }

void TestPage::SetFieldText(const std::wstring& text) const { SetWindowTextW(control(20), text.c_str()); }

HandlerOutcome CallHandler(PageHandler handler, UINT event, const TestPage& page, WPARAM param) {
  HandlerOutcome outcome;
  MessageBoxRecorder recorder;
  outcome.result = handler(event, page.window(), param, 0);
  outcome.boxes = recorder.boxes();
  return outcome;
}

}  // namespace kxtest
