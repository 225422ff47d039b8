// A real top-level window with the controls of the wizard pages, at the ids
// the dialog data gives them, for driving page handlers in tests.
#ifndef KX_TESTS_SCRIPT_PAGE_TEST_WINDOW_H
#define KX_TESTS_SCRIPT_PAGE_TEST_WINDOW_H

#include <windows.h>

#include <string>
#include <vector>

#include "tests/script/script_test_support.h"

namespace kxtest {

// One page serves all tests of a program; each test resets it first.
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

// A handler's answer to one event, with the message boxes it showed.
struct HandlerOutcome {
  int result = 0;
  std::vector<ShownBox> boxes;
};

typedef int (*PageHandler)(UINT event, HWND page, WPARAM param, LPARAM extra);
HandlerOutcome CallHandler(PageHandler handler, UINT event, const TestPage& page, WPARAM param = 0);

}  // namespace kxtest

#endif
