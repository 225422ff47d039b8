// A real top-level window with the controls of the wizard pages, at the ids
// the dialog data gives them, for driving page handlers in tests.
#ifndef KX_TESTS_SCRIPT_PAGE_TEST_WINDOW_H
#define KX_TESTS_SCRIPT_PAGE_TEST_WINDOW_H

#include <windows.h>

#include <string>

#include "script_test_support.h"

namespace kxtest {

// Hiding a top-level window costs Wine about two seconds on a display
// without a window manager, so the tests share one page and reset it.
class TestPage {
 public:
  static TestPage& Shared();
  ~TestPage();
  TestPage(const TestPage&) = delete;
  TestPage& operator=(const TestPage&) = delete;

  // Every control enabled and shown, boxes unchecked, field empty, focus on
  // Next.
  void Reset() const;

  HWND window() const { return window_; }
  HWND control(int id) const { return GetDlgItem(window_, id); }
  std::wstring FieldText() const;
  void SetFieldText(const std::wstring& text) const;

 private:
  TestPage();
  HWND window_ = nullptr;
};

// A handler's answer to one event, with the message box it showed (answered
// with OK by another thread), if any.
struct HandlerOutcome {
  int result = 0;
  bool boxShown = false;
  MessageBoxSeen box;
};

typedef int (*PageHandler)(UINT event, HWND page, WPARAM param, LPARAM extra);
HandlerOutcome CallHandler(PageHandler handler, UINT event, const TestPage& page, WPARAM param = 0);

}  // namespace kxtest

#endif
