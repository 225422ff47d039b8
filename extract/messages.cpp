#include <wchar.h>

#include "base/message_box.h"
#include "extract/engine_state.h"
#include "launcher/launcher_main.h"

ExtractMessageBoxFn g_extractMessageBox = nullptr;

int ShowExtractMessage(HWND owner, const wchar_t* text, UINT style) {
  if (g_extractMessageBox) return g_extractMessageBox(owner, text, g_launcher.title, style);
  return ShowMessageBox(owner, text, g_launcher.title, style);
}

void ShowErrorBox(const wchar_t* text) {
  ShowExtractMessage(nullptr, EvalVar(text), MB_TOPMOST | MB_ICONERROR);
}

void ShowErrorWithPath(const wchar_t* key, const wchar_t* path) {
  wchar_t message[2 * kExtractPathCapacity];
  EvalVarBuf(key, message, static_cast<int>(kExtractPathCapacity * sizeof(wchar_t)));
  AppendText(message, sizeof(message) / sizeof(message[0]), path);
  ShowExtractMessage(nullptr, message, MB_TOPMOST | MB_ICONERROR);
}

void ShowArchiveError(int code) {
  const wchar_t* text;
  switch (code) {
    case 2: text = L"Memory error while decompressing archive"; break;
    case 3: text = L"CRC error: corrupted archive"; break;
    case 4: text = L"Archive format not supported"; break;
    case 6: text = L"Unexpected end of file"; break;
    case 11: text = L"Error while unpacking archive"; break;
    case 16: text = L"Unexpected error in archive"; break;
    case 17: text = L"Invalid or corrupted archive"; break;
    default: text = L"Unknown error"; break;
  }
  ShowErrorBox(text);
}
