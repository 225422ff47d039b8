#include "tests/script/extraction_double.h"

#include <wchar.h>

int32_t g_extractedFileCount = 0;
uint64_t g_extractedBytes = 0;

namespace kxtest {

ExtractionDouble& Extraction() {
  static ExtractionDouble extraction;
  return extraction;
}

void ResetExtraction() {
  Extraction() = ExtractionDouble();
  g_extractedFileCount = 0;
}

}  // namespace kxtest

ExtractResult ExtractArchive(const wchar_t* archivePath, const wchar_t* destination, const uint32_t* startOffset,
                             unsigned char silent, KxDialogHandler progressHandler, ExtractFileHook hook) {
  kxtest::ExtractCall call = {archivePath ? archivePath : L"",
                              destination ? destination : L"",
                              startOffset != nullptr,
                              startOffset ? *startOffset : 0u,
                              silent,
                              progressHandler,
                              hook};
  kxtest::Extraction().calls.push_back(call);
  return kxtest::Extraction().run ? kxtest::Extraction().run(call) : kExtractDone;
}

ExtractHookAnswer InstallFileHook(wchar_t*, uint64_t, const uint32_t*, const uint32_t*) { return kHookWrite; }

int ProgressBoxHandler(UINT, HWND, WPARAM, LPARAM) { return 0; }

bool DirectoryExists(const wchar_t* path) {
  DWORD attributes = GetFileAttributesW(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void AddTrailingBackslash(wchar_t* path) {
  size_t length = wcslen(path);
  if (length == 0 || path[length - 1] != L'\\') {
    path[length] = L'\\';
    path[length + 1] = L'\0';
  }
}

void ShowErrorBox(const wchar_t*) {}
