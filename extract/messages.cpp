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
  // The extraction's thread only; a path may take Windows' full length.
  static wchar_t message[2 * kExtractPathCapacity];
  EvalVarBuf(key, message, static_cast<int>(kExtractPathCapacity * sizeof(wchar_t)));
  AppendText(message, sizeof(message) / sizeof(message[0]), path);
  ShowExtractMessage(nullptr, message, MB_TOPMOST | MB_ICONERROR);
}

namespace {

// The fixed English texts of the LZMA SDK's codes.
const wchar_t* SdkErrorText(int code) {
  switch (code) {
    case SZ_ERROR_MEM: return L"Memory error while decompressing archive";
    case SZ_ERROR_CRC: return L"CRC error: corrupted archive";
    case SZ_ERROR_UNSUPPORTED: return L"Archive format not supported";
    case SZ_ERROR_INPUT_EOF: return L"Unexpected end of file";
    case SZ_ERROR_FAIL: return L"Error while unpacking archive";
    case SZ_ERROR_ARCHIVE: return L"Unexpected error in archive";
    case SZ_ERROR_NO_ARCHIVE: return L"Invalid or corrupted archive";
    default: return L"Unknown error";
  }
}

}  // namespace

void ShowArchiveError(const ExtractResult& result) {
  const wchar_t* text = L"Unknown error";
  switch (result.outcome) {
    case ExtractOutcome::kDone:
    case ExtractOutcome::kCancelled:
    case ExtractOutcome::kDiskFull:
      return;
    case ExtractOutcome::kOutOfMemory:
    case ExtractOutcome::kArchiveError:
    case ExtractOutcome::kEngineFailed:
      text = SdkErrorText(result.code);
      break;
    case ExtractOutcome::kCloseFailed:
      // A Windows code, which the SDK's numbers would misread (3 is
      // ERROR_PATH_NOT_FOUND, not a CRC error).
      break;
  }
  ShowErrorBox(text);
}
