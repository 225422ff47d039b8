#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include "base/handle_guard.h"
#include "base/long_path.h"
#include "extract/engine_state.h"

namespace {

// Fields, in this order: size (64-bit), month, day, year, hour, minute.
// A description names the file (one level: at most 255 units), not its path.
constexpr size_t kDescriptionCapacity = 1024;
constexpr wchar_t kDescriptionTemplate[] = L"%CURFILENAME% (%lld #Bytes), #Modified %02d/%02d/%d %02d:%02d";

const wchar_t* FileNamePart(const wchar_t* path) {
  const wchar_t* cut = wcsrchr(path, L'\\');
  if (!cut) cut = wcsrchr(path, L'/');
  if (!cut) cut = wcsrchr(path, L':');
  return cut ? cut + 1 : path;
}

bool FindTarget(const wchar_t* path, WIN32_FIND_DATAW* found) {
  FindHandle search(FindFirstFileW(Win32Path(path).get(), found));
  return search.valid();
}

// The description line of one copy of the file. The name is inserted into a
// printf format, so CURFILENAME holds it with '%' and '#' made literal for the
// evaluation and the formatting while the line is built.
void FormatDescription(const wchar_t* name, uint64_t size, const FILETIME& utc, const wchar_t* variable) {
  wchar_t escaped[4 * kDescriptionCapacity];
  size_t out = 0;
  for (const wchar_t* p = name; *p && out + 4 < sizeof(escaped) / sizeof(escaped[0]); ++p) {
    escaped[out++] = *p;
    if (*p == L'%') {
      escaped[out++] = L'%';
      escaped[out++] = L'%';
      escaped[out++] = L'%';
    } else if (*p == L'#') {
      escaped[out++] = L'#';
    }
  }
  escaped[out] = L'\0';
  SetVar(L"CURFILENAME", escaped);

  SYSTEMTIME universal = {}, local = {};
  FileTimeToSystemTime(&utc, &universal);
  SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local);
  wchar_t format[kDescriptionCapacity];
  EvalVarBuf(kDescriptionTemplate, format, sizeof(format));
  wchar_t line[kDescriptionCapacity];
  _snwprintf(line, kDescriptionCapacity, format, static_cast<long long>(size), local.wMonth, local.wDay,
             local.wYear, local.wHour, local.wMinute);
  line[kDescriptionCapacity - 1] = L'\0';
  SetVarLiteral(variable, line);
  SetVarLiteral(L"CURFILENAME", name);
}

}  // namespace

void PrepareOverwriteTexts(const wchar_t* path, uint64_t size, const uint32_t* timeHigh, const uint32_t* timeLow) {
  const wchar_t* name = FileNamePart(path);
  SetVarLiteral(L"CURFILENAME", name);
  WIN32_FIND_DATAW found;
  if (!FindTarget(path, &found) || found.dwFileAttributes == FILE_ATTRIBUTE_DIRECTORY) return;

  uint64_t foundSize = (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
  FormatDescription(name, foundSize, found.ftLastWriteTime, L"KXDLGOVERFILE1");
  FILETIME stored = {*timeLow, *timeHigh};
  FormatDescription(name, size, stored, L"KXDLGOVERFILE3");
}

bool TargetNotNewer(const wchar_t* path, const uint32_t* timeHigh, const uint32_t* timeLow) {
  FILETIME stored = {*timeLow, *timeHigh};
  WIN32_FIND_DATAW found;
  if (!FindTarget(path, &found)) return true;
  if (found.dwFileAttributes == FILE_ATTRIBUTE_DIRECTORY) return false;
  return CompareFileTime(&found.ftLastWriteTime, &stored) <= 0;
}

bool IsX86Executable(const wchar_t* path) {
  constexpr DWORD kHeaderBytes = 4096;
  constexpr WORD kMachineI386 = 0x14C;
  FileHandle file(CreateFileW(Win32Path(path).get(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr));
  if (!file) return false;
  unsigned char header[kHeaderBytes];
  DWORD read = 0;
  if (!ReadFile(file.get(), header, kHeaderBytes, &read, nullptr) || read < 64) return false;
  if (header[0] != 'M' || header[1] != 'Z') return false;
  int32_t peOffset;
  memcpy(&peOffset, header + 0x3C, sizeof(peOffset));
  if (peOffset < 0 || static_cast<uint64_t>(peOffset) + 6 > read) return false;
  WORD machine;
  memcpy(&machine, header + peOffset + 4, sizeof(machine));
  return machine == kMachineI386;
}
