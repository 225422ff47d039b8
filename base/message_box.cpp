#include "base/message_box.h"

#include "base/run_log.h"

namespace {

int SystemMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT style) {
  return MessageBoxW(owner, text, caption, style);
}

MessageBoxFunction g_messageBox = SystemMessageBox;
bool g_suppressed = false;
bool g_rightToLeft = false;

const wchar_t* AnswerName(int answer) {
  switch (answer) {
    case IDOK: return L"OK";
    case IDCANCEL: return L"Cancel";
    case IDABORT: return L"Abort";
    case IDRETRY: return L"Retry";
    case IDIGNORE: return L"Ignore";
    case IDYES: return L"Yes";
    case IDNO: return L"No";
    case IDTRYAGAIN: return L"Try Again";
    case IDCONTINUE: return L"Continue";
    default: return L"none";
  }
}

const wchar_t* IconName(UINT style) {
  switch (style & MB_ICONMASK) {
    case MB_ICONERROR: return L"error";
    case MB_ICONWARNING: return L"warning";
    case MB_ICONQUESTION: return L"question";
    case MB_ICONINFORMATION: return L"information";
    default: return L"message";
  }
}

}  // namespace

int DefaultMessageBoxAnswer(UINT style) {
  static const int kButtons[][3] = {
      {IDOK, 0, 0},                       // MB_OK
      {IDOK, IDCANCEL, 0},                // MB_OKCANCEL
      {IDABORT, IDRETRY, IDIGNORE},       // MB_ABORTRETRYIGNORE
      {IDYES, IDNO, IDCANCEL},            // MB_YESNOCANCEL
      {IDYES, IDNO, 0},                   // MB_YESNO
      {IDRETRY, IDCANCEL, 0},             // MB_RETRYCANCEL
      {IDCANCEL, IDTRYAGAIN, IDCONTINUE}  // MB_CANCELTRYCONTINUE
  };
  UINT type = style & MB_TYPEMASK;
  if (type >= sizeof kButtons / sizeof kButtons[0]) type = MB_OK;
  UINT index = (style & MB_DEFMASK) >> 8;
  int answer = index < 3 && kButtons[type][index] ? kButtons[type][index] : kButtons[type][0];
  if (answer == IDRETRY || answer == IDTRYAGAIN) answer = type == MB_ABORTRETRYIGNORE ? IDABORT : IDCANCEL;
  return answer;
}

int ShowMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT style) {
  if (!text) text = L"";
  if (g_suppressed) {
    int answer = DefaultMessageBoxAnswer(style);
    LogLine(L"Message box [%ls], answered %ls without being shown: %ls", IconName(style), AnswerName(answer), text);
    return answer;
  }
  // Logged before it is shown, so that the log of a run that hangs on a box
  // or is killed there names the box.
  LogLine(L"Message box [%ls]: %ls", IconName(style), text);
  if (g_rightToLeft) style |= MB_RTLREADING | MB_RIGHT;
  int answer = g_messageBox(owner, text, caption, style);
  if (answer == 0)
    LogLine(L"Message box not shown (error %lu)", GetLastError());
  else
    LogLine(L"Message box answered %ls", AnswerName(answer));
  return answer;
}

MessageBoxFunction SetMessageBoxFunction(MessageBoxFunction function) {
  MessageBoxFunction previous = g_messageBox;
  g_messageBox = function ? function : SystemMessageBox;
  return previous;
}

void SuppressMessageBoxes(bool suppress) { g_suppressed = suppress; }

void SetMessageBoxRightToLeft(bool rightToLeft) { g_rightToLeft = rightToLeft; }
