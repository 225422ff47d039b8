#include "message_box.h"

namespace {

int SystemMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT style) {
  return MessageBoxW(owner, text, caption, style);
}

MessageBoxFunction g_messageBox = SystemMessageBox;

}  // namespace

int ShowMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT style) {
  return g_messageBox(owner, text, caption, style);
}

MessageBoxFunction SetMessageBoxFunction(MessageBoxFunction function) {
  MessageBoxFunction previous = g_messageBox;
  g_messageBox = function ? function : SystemMessageBox;
  return previous;
}
