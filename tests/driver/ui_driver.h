// The UI test driver: drives the windows of another process from a test
// running under Wine on the Xvfb display (the "ui" prefix).
//
//   kxdrive::Session session(L"install-next");           // names the record
//   session.Start(setupExe);
//   HWND page = session.WaitForPage(L"dlgwizwelc");      // a core-library page
//   EXPECT_EQ(kxdrive::ControlText(page, 1), L"&Next >");
//   EXPECT_FALSE(kxdrive::IsEnabled(kxdrive::Control(page, 3)));
//   session.Press(page, 1);
//   session.Answer(L"really want", IDYES);               // a message box
//   EXPECT_EQ(session.WaitForExit(), 0u);                // full 32-bit code
//
// Every page and message box the session meets is written to the record:
// a screenshot (NN-name.png) and a line in transcript.txt, both in
// %KX_TEST_SCREENSHOTS%\<session name>\ (the build's screenshots folder).
// Everything waits by polling with a deadline; nothing sleeps to synchronise.
#ifndef KX_TESTS_DRIVER_UI_DRIVER_H
#define KX_TESTS_DRIVER_UI_DRIVER_H

#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kxtest {
class ChildProcess;
}

namespace kxdrive {

constexpr DWORD kDefaultTimeoutMs = 20000;

// ---- reading windows of any process ----

// Visible top-level windows of the process, in Z order.
std::vector<HWND> TopWindows(DWORD processId);

// Waits until a visible top-level window of the process satisfies the
// predicate; null after the timeout or when the process has ended.
HWND WaitForWindow(DWORD processId, HANDLE process, const std::function<bool(HWND)>& predicate,
                   DWORD timeoutMs = kDefaultTimeoutMs);

// The name of the core-library dialog ("dlgwizwelc") once it is shown and
// painted; empty for any other window and for a page still being built.
std::wstring PageName(HWND window);

// A system message box: dialog class #32770 with a static text of id 0xFFFF.
bool IsMessageBox(HWND window);
std::wstring MessageBoxText(HWND messageBox);

// Waits for any message box of the process (Session::WaitForMessageBox
// also matches its text and records it).
HWND WaitForMessageBox(DWORD processId, HANDLE process, DWORD timeoutMs = kDefaultTimeoutMs);

std::wstring WindowText(HWND window);
std::wstring ClassName(HWND window);

// A control by id anywhere in the dialog (also inside panels), and its state.
HWND Control(HWND dialog, int id);
std::wstring ControlText(HWND dialog, int id);
bool IsVisible(HWND control);   // the control and all its parents shown
bool IsEnabled(HWND control);
bool IsChecked(HWND control);

// Clicks a button as a user would: refused (false) when it is hidden or
// disabled, since no user could click it then.
bool Press(HWND dialog, int id);

// Sends a key (VK_RETURN, VK_ESCAPE, ...) to the control that has the
// keyboard focus in the window's thread.
bool PressKey(HWND window, WORD key);

// Presses the message box's button with the given id (IDOK, IDYES, ...).
bool AnswerMessageBox(HWND messageBox, int buttonId);

// Saves what the screen shows of the window (frame included) as a PNG.
bool SaveScreenshot(HWND window, const std::wstring& pngPath);

// Writes 8-bit RGB pixels, rows top to bottom, as a PNG file.
bool WritePng(const std::wstring& path, int width, int height, const std::vector<unsigned char>& rgb);

// ---- a driven program ----

class Session {
 public:
  explicit Session(const std::wstring& name);
  ~Session();  // ends the program if it still runs
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Starts the program with arguments (after the quoted program path) and
  // environment overrides.
  bool Start(const std::wstring& program, const std::wstring& arguments = L"",
             const std::map<std::wstring, std::wstring>& environment = {});

  // Waits for a shown core-library page of that name; records it (controls
  // and screenshot). Null after the timeout or when the program ended.
  HWND WaitForPage(const std::wstring& dialogName, DWORD timeoutMs = kDefaultTimeoutMs);

  // Waits for a message box whose text contains textPart; records it.
  HWND WaitForMessageBox(const std::wstring& textPart, DWORD timeoutMs = kDefaultTimeoutMs);

  // Waits for the message box and presses one of its buttons.
  bool Answer(const std::wstring& textPart, int buttonId, DWORD timeoutMs = kDefaultTimeoutMs);

  // Press and PressKey of above, written to the transcript.
  bool Press(HWND dialog, int id);
  bool PressKey(HWND window, WORD key);

  // The program's full 32-bit exit code; STILL_ACTIVE after the timeout.
  DWORD WaitForExit(DWORD timeoutMs = kDefaultTimeoutMs);

  // Adds a line to the transcript.
  void Note(const std::wstring& line);

  DWORD processId() const;
  HANDLE process() const;
  // The folder of the record (ends in a backslash); empty without one.
  const std::wstring& recordFolder() const { return folder_; }

 private:
  void Record(HWND window, const std::wstring& what);

  std::wstring name_;
  std::wstring folder_;
  int shots_ = 0;
  std::unique_ptr<kxtest::ChildProcess> child_;
};

}  // namespace kxdrive

#endif
