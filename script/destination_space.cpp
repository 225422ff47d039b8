#include "script/destination_space.h"

#include <wchar.h>

#include "base/package_format.h"
#include "core/kxcore.h"
#include "extract/payload_size.h"
#include "script/folder_picker.h"
#include "script/page_handlers.h"
#include "script/script_state.h"
#include "services/size_text.h"
#include "services/system_queries.h"

namespace {

constexpr size_t kSizeTextCapacity = 64;
constexpr size_t kLineCapacity = 256;

void ShowLine(HWND page, int id, const wchar_t* text) {
  wchar_t line[kLineCapacity];
  if (EvalVarBuf(text, line, sizeof(line)) < 0) line[0] = L'\0';
  SetWindowTextW(KXDlgGetDlgItem(page, id), line);
}

bool IsFolder(const wchar_t* path) {
  const DWORD attributes = GetFileAttributesW(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

void PrepareDestinationSpace() {
  uint64_t bytes = 0;
  PayloadUnpackedBytes(&bytes);
  // The uninstaller is written beside the product's files.
  wchar_t uninstaller[kScriptPathCapacity + 16];
  if (EvalVarBuf(L"%KXSFXPATH%", uninstaller, kScriptPathBytes) >= 0 &&
      wcslen(uninstaller) < kScriptPathCapacity) {
    wcscat(uninstaller, kxformat::kUninstallerFileW);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (GetFileAttributesExW(uninstaller, GetFileExInfoStandard, &data))
      bytes += (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  }
  wchar_t text[kSizeTextCapacity];
  FormatByteSize(bytes, text, kSizeTextCapacity);
  SetVar(L"KXSPACENEEDED", text);
}

bool NearestExistingFolder(const wchar_t* folder, wchar_t* existing, size_t capacity) {
  if (!IsFullPath(folder)) return false;
  const size_t length = wcslen(folder);
  if (length + 2 > capacity) return false;
  wmemcpy(existing, folder, length + 1);
  for (;;) {
    size_t end = wcslen(existing);
    while (end > 0 && (existing[end - 1] == L'\\' || existing[end - 1] == L'/')) --end;
    // Stripped down to the drive ("C:"): its root is the last level to ask.
    if (end == 2 && existing[1] == L':') {
      existing[2] = L'\\';
      existing[3] = L'\0';
      return IsFolder(existing);
    }
    existing[end] = L'\\';
    existing[end + 1] = L'\0';
    if (IsFolder(existing)) return true;
    existing[end] = L'\0';
    wchar_t* slash = wcsrchr(existing, L'\\');
    wchar_t* forward = wcsrchr(existing, L'/');
    if (forward > slash) slash = forward;
    // A share's root (\\server\share) has nothing above it worth asking.
    if (!slash || slash - existing < 2) return false;
    *slash = L'\0';
  }
}

void ShowDestinationSpace(HWND page) {
  wchar_t folder[kPickerPathCapacity];
  folder[0] = L'\0';
  GetWindowTextW(KXDlgGetDlgItem(page, kControlField), folder, static_cast<int>(kPickerPathCapacity));
  wchar_t existing[kPickerPathCapacity + 2];
  wchar_t text[kSizeTextCapacity];
  text[0] = L'\0';
  DiskSpace space;
  if (NearestExistingFolder(folder, existing, kPickerPathCapacity + 2) && QueryDiskSpace(existing, &space))
    FormatByteSize(space.availableToCaller, text, kSizeTextCapacity);
  SetVar(L"KXSPACEFREE", text);
  ShowLine(page, kControlSpaceNeeded, L"#spacerequired %KXSPACENEEDED%");
  ShowLine(page, kControlSpaceFree, L"#spaceavailable %KXSPACEFREE%");
}
