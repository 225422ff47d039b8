// The run log and the one place every message box goes through: the log's
// lines as a deployment tool reads them, its default file names, and the
// unattended answers of /SUPPRESSMSGBOXES.
#include <gtest/gtest.h>

#include <regex>

#include "base/message_box.h"
#include "base/run_log.h"
#include "tests/support/test_files.h"

using namespace kxtest;

namespace {

class RunLog : public ::testing::Test {
 protected:
  void TearDown() override {
    CloseRunLog();
    SuppressMessageBoxes(false);
    SetMessageBoxFunction(nullptr);
  }
  ScratchFolder folder;
};

std::vector<std::string> Lines(const std::string& bytes) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = bytes.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(bytes.substr(start, end - start));
  EXPECT_EQ(start, bytes.size()) << "every line ends in CR LF";
  return lines;
}

int g_boxesShown;
int CountingBox(HWND, const wchar_t*, const wchar_t*, UINT) {
  ++g_boxesShown;
  return IDNO;
}

}  // namespace

TEST_F(RunLog, LinesAreTimedUtf8OneStepEachAndAppendedToAnExistingLog) {
  const std::wstring path = folder / L"run.log";
  ASSERT_TRUE(WriteBytes(path, "earlier run\r\n"));
  ASSERT_TRUE(OpenRunLog(path.c_str()));
  LogLine(L"File written: %ls", L"C:\\Program Files\\Quillmark\\Gr\u00fc\u00dfe.txt");
  LogLine(L"Message box [error]: %ls", L"Fatal Error\r\nCannot create temporary folder\nfor real");
  LogLine(L"%ls", std::wstring(3000, L'x').c_str());
  CloseRunLog();
  LogLine(L"after the log was closed");

  std::vector<std::string> lines = Lines(ReadBytes(path));
  ASSERT_EQ(4u, lines.size());
  EXPECT_EQ("earlier run", lines[0]);
  const std::regex stamp("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} ");
  for (size_t i = 1; i < lines.size(); ++i) EXPECT_TRUE(std::regex_search(lines[i], stamp)) << lines[i];
  EXPECT_EQ("File written: C:\\Program Files\\Quillmark\\Gr\xC3\xBC\xC3\x9F" "e.txt", lines[1].substr(24));
  EXPECT_EQ("Message box [error]: Fatal Error | Cannot create temporary folder | for real", lines[2].substr(24));
  // A text too long for one line is cut visibly, never overrun.
  EXPECT_EQ(24 + kRunLogLineCapacity - 1 + 3, lines[3].size());
  EXPECT_EQ("...", lines[3].substr(lines[3].size() - 3));
}

TEST_F(RunLog, DefaultFilesAreNamedAfterTitleProgramAndTimeAndNeverShared) {
  wchar_t first[MAX_PATH], second[MAX_PATH];
  ASSERT_TRUE(OpenNewRunLog(folder.path().c_str(), L"Quill: Setup (64-bit)", L"setup", first, MAX_PATH));
  LogLine(L"first");
  // A second run within the same second gets a file of its own.
  ASSERT_TRUE(OpenNewRunLog(folder.path().c_str(), L"Quill: Setup (64-bit)", L"setup", second, MAX_PATH));
  LogLine(L"second");
  CloseRunLog();

  const std::wregex name(L"Quill_ Setup \\(64-bit\\) setup \\d{8}-\\d{6}(-2)?\\.log");
  std::wstring firstName = std::wstring(first).substr(folder.path().size());
  std::wstring secondName = std::wstring(second).substr(folder.path().size());
  EXPECT_TRUE(std::regex_match(firstName, name)) << Narrow(firstName);
  EXPECT_TRUE(std::regex_match(secondName, name)) << Narrow(secondName);
  EXPECT_NE(firstName, secondName);
  EXPECT_EQ(1u, Lines(ReadBytes(first)).size());
  EXPECT_EQ(1u, Lines(ReadBytes(second)).size());

  // A folder the log cannot be made in leaves the run without a log.
  EXPECT_FALSE(OpenNewRunLog((folder / L"missing\\").c_str(), L"t", L"setup", first, MAX_PATH));
  EXPECT_FALSE(RunLogActive());
  EXPECT_FALSE(OpenNewRunLog(folder.path().c_str(), std::wstring(MAX_PATH, L't').c_str(), L"setup", first, MAX_PATH));
}

TEST_F(RunLog, SuppressedBoxesTakeTheDefaultButtonAndNeverRetryForEver) {
  struct Case {
    UINT style;
    int answer;
  } cases[] = {
      {MB_OK | MB_ICONERROR, IDOK},
      {MB_YESNO | MB_ICONQUESTION, IDYES},
      {MB_YESNO | MB_DEFBUTTON2, IDNO},
      {MB_YESNOCANCEL | MB_DEFBUTTON3, IDCANCEL},
      {MB_OKCANCEL | MB_DEFBUTTON4, IDOK},  // beyond the buttons: the first
      {MB_CANCELTRYCONTINUE | MB_DEFBUTTON2, IDCANCEL},
      {MB_CANCELTRYCONTINUE | MB_DEFBUTTON3, IDCONTINUE},
      {MB_RETRYCANCEL, IDCANCEL},
      {MB_ABORTRETRYIGNORE | MB_DEFBUTTON2, IDABORT},
  };
  for (const Case& c : cases) EXPECT_EQ(c.answer, DefaultMessageBoxAnswer(c.style)) << std::hex << c.style;

  const std::wstring path = folder / L"boxes.log";
  ASSERT_TRUE(OpenRunLog(path.c_str()));
  SetMessageBoxFunction(CountingBox);
  g_boxesShown = 0;
  EXPECT_EQ(IDNO, ShowMessageBox(nullptr, L"Shown?", L"t", MB_YESNO));
  SuppressMessageBoxes(true);
  EXPECT_EQ(IDCANCEL, ShowMessageBox(nullptr, L"Cannot open file", L"t", MB_CANCELTRYCONTINUE | MB_DEFBUTTON2));
  EXPECT_EQ(1, g_boxesShown);
  CloseRunLog();

  std::vector<std::string> lines = Lines(ReadBytes(path));
  ASSERT_EQ(3u, lines.size());
  EXPECT_EQ("Message box [message]: Shown?", lines[0].substr(24));
  EXPECT_EQ("Message box answered No", lines[1].substr(24));
  EXPECT_EQ("Message box [message], answered Cancel without being shown: Cannot open file", lines[2].substr(24));
}

namespace {
UINT g_lastStyle;
int StyleRecordingBox(HWND, const wchar_t*, const wchar_t*, UINT style) {
  g_lastStyle = style;
  return IDYES;
}
}  // namespace

// A right-to-left language's boxes read right to left with their text on the
// right; the default answer does not change with it.
TEST_F(RunLog, RightToLeftBoxesReadFromTheRight) {
  SetMessageBoxFunction(StyleRecordingBox);
  SetMessageBoxRightToLeft(true);
  EXPECT_EQ(IDYES, ShowMessageBox(nullptr, L"\u0647\u0644", L"t", MB_YESNO | MB_ICONQUESTION));
  EXPECT_EQ(g_lastStyle, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION | MB_RTLREADING | MB_RIGHT));
  EXPECT_EQ(IDYES, DefaultMessageBoxAnswer(MB_YESNO | MB_RTLREADING | MB_RIGHT));
  SetMessageBoxRightToLeft(false);
  ShowMessageBox(nullptr, L"x", L"t", MB_OK);
  EXPECT_EQ(g_lastStyle, static_cast<UINT>(MB_OK));
}
