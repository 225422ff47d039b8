// The declarations test package's program. With --note TEXT... it appends
// its arguments as one line to %TEMP%\harbour-notes.txt (the test's private
// temporary folder, inherited from setup or the uninstaller) and ends with
// 0; with --fail TEXT... it does the same and ends with 7.
#include <windows.h>
#include <shellapi.h>

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!arguments || count < 2) return 2;
  const std::wstring mode = arguments[1];
  std::wstring line;
  for (int i = 2; i < count; ++i) line += std::wstring(i > 2 ? L"|" : L"") + arguments[i];
  line += L"\r\n";
  wchar_t temp[MAX_PATH];
  DWORD length = GetEnvironmentVariableW(L"TEMP", temp, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 3;
  HANDLE notes = CreateFileW((std::wstring(temp) + L"\\harbour-notes.txt").c_str(), FILE_APPEND_DATA, FILE_SHARE_READ,
                             nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (notes == INVALID_HANDLE_VALUE) return 4;
  char utf8[2048];
  int bytes = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), utf8, sizeof utf8, nullptr,
                                  nullptr);
  DWORD written = 0;
  WriteFile(notes, utf8, static_cast<DWORD>(bytes), &written, nullptr);
  CloseHandle(notes);
  LocalFree(arguments);
  if (mode == L"--fail") return 7;
  return mode == L"--note" ? 0 : 5;
}
