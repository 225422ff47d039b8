#include "launcher/install_folders.h"

#include <windows.h>
#include <shlobj.h>
#include <wchar.h>

#include "base/handle_guard.h"
#include "base/name_rules.h"
#include "base/run_log.h"
#include "core/kxcore.h"
#include "launcher/package_data.h"

namespace {

// A folder the rules take is shorter than MAX_PATH; its resolved form may
// be longer (a short name spelled out, a link followed).
constexpr size_t kFolderCapacity = MAX_PATH;
constexpr size_t kResolvedCapacity = 1024;

// The system folders a package's folder may not be or hold, spelled out here:
// taking them from libuuid would bring its whole table of ids into the
// program.
const KNOWNFOLDERID kSystemFolders[] = {
    {0x905e63b6, 0xc1bf, 0x494e, {0xb2, 0x9c, 0x65, 0xb7, 0x32, 0xd3, 0xd2, 0x1a}},  // ProgramFiles
    {0x7c5a40ef, 0xa0fb, 0x4bfc, {0x87, 0x4a, 0xc0, 0xf2, 0xe0, 0xb9, 0xfa, 0x8e}},  // ProgramFilesX86
    {0xf7f1ed05, 0x9f6d, 0x47a2, {0xaa, 0xae, 0x29, 0xd3, 0x17, 0xc6, 0xf0, 0x66}},  // ProgramFilesCommon
    {0xde974d24, 0xd9c6, 0x4d3e, {0xbf, 0x91, 0xf4, 0x45, 0x51, 0x20, 0xb9, 0x17}},  // ProgramFilesCommonX86
    {0x0139d44e, 0x6afe, 0x49f2, {0x86, 0x90, 0x3d, 0xaf, 0xca, 0xe6, 0xff, 0xb8}},  // CommonPrograms
    {0xa4115719, 0xd62e, 0x491d, {0xaa, 0x7c, 0xe7, 0x4b, 0x8b, 0xe3, 0xb0, 0x67}},  // CommonStartMenu
    {0x62ab5d82, 0xfdc1, 0x4dc3, {0xa9, 0xdd, 0x07, 0x0d, 0x1d, 0x49, 0x5d, 0x97}},  // ProgramData
    {0xdfdf76a2, 0xc82a, 0x4d63, {0x90, 0x6a, 0x56, 0x44, 0xac, 0x45, 0x73, 0x85}},  // Public
    {0x5e6c858f, 0x0e22, 0x4760, {0x9a, 0xfe, 0xea, 0x33, 0x17, 0xb6, 0x71, 0x73}},  // Profile
    {0x3eb685db, 0x65f9, 0x4cf6, {0xa0, 0x3a, 0xe3, 0xef, 0x65, 0x72, 0x9f, 0x3d}},  // RoamingAppData
    {0xf1b32785, 0x6fba, 0x4fcf, {0x9d, 0x55, 0x7b, 0x8e, 0x7f, 0x15, 0x70, 0x91}},  // LocalAppData
};

// The same folders as the core library names them (stand-ins in unit tests).
const wchar_t* const kFolderVariables[] = {L"%PROGFILESDIR%", L"%COMPROGMENUDIR%"};

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsAsciiLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// One folder name as kxpack's rules take it.
bool IsName(const wchar_t* name, size_t length) {
  char16_t units[kFolderCapacity];
  if (length >= kFolderCapacity) return false;
  for (size_t i = 0; i < length; ++i) units[i] = static_cast<char16_t>(name[i]);
  return kxnames::CheckFileName(units, length).problem == kxnames::NameProblem::kNone;
}

size_t ComponentEnd(const wchar_t* path, size_t length, size_t start) {
  while (start < length && !IsSeparator(path[start])) ++start;
  return start;
}

// The length of the folder's root with its separator ("C:\", "\\server\share\",
// or the whole text for "\\server\share"); 0 when it has no root Windows
// takes as written ("C:" is relative to the drive's current folder, "\x" to
// the current drive, "\\?\" and "\\.\" skip Windows' own path rules).
size_t RootLength(const wchar_t* path, size_t length) {
  if (length >= 3 && IsAsciiLetter(path[0]) && path[1] == L':' && IsSeparator(path[2])) return 3;
  if (length < 2 || !IsSeparator(path[0]) || !IsSeparator(path[1])) return 0;
  const size_t serverEnd = ComponentEnd(path, length, 2);
  if (serverEnd == length || !IsName(path + 2, serverEnd - 2)) return 0;
  const size_t shareEnd = ComponentEnd(path, length, serverEnd + 1);
  if (!IsName(path + serverEnd + 1, shareEnd - serverEnd - 1)) return 0;
  return shareEnd == length ? length : shareEnd + 1;
}

bool SameText(const wchar_t* a, size_t aLength, const wchar_t* b, size_t bLength) {
  return CompareStringOrdinal(a, static_cast<int>(aLength), b, static_cast<int>(bLength), TRUE) == CSTR_EQUAL;
}

// True when path is folder or lies inside it (both resolved, no trailing
// separator but a root's).
bool IsSameOrInside(const wchar_t* path, const wchar_t* folder) {
  const size_t pathLength = wcslen(path);
  size_t folderLength = wcslen(folder);
  if (folderLength == 0 || pathLength < folderLength || !SameText(path, folderLength, folder, folderLength))
    return false;
  return pathLength == folderLength || IsSeparator(folder[folderLength - 1]) || IsSeparator(path[folderLength]);
}

// The final path Windows gives the open file or folder, without its "\\?\"
// prefix ("\\?\UNC\server\share" becomes "\\server\share").
bool FinalPath(HANDLE handle, wchar_t* out, size_t capacity) {
  wchar_t final[kResolvedCapacity];
  DWORD length = GetFinalPathNameByHandleW(handle, final, kResolvedCapacity, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (length == 0 || length >= kResolvedCapacity) return false;
  const wchar_t* text = final;
  bool share = false;
  if (wcsncmp(text, L"\\\\?\\UNC\\", 8) == 0) {
    text += 8;
    share = true;
  } else if (wcsncmp(text, L"\\\\?\\", 4) == 0) {
    text += 4;
  }
  const size_t textLength = wcslen(text);
  if (textLength + 3 > capacity) return false;
  wcscpy(out, share ? L"\\\\" : L"");
  wcscat(out, text);
  return true;
}

// The folder as Windows finds it: the longest part of it that exists with
// its short names, letter case and links resolved, the rest as written,
// '\' separated. Falls back to the text itself.
void ResolveFolder(const wchar_t* folder, wchar_t* out, size_t capacity) {
  wchar_t path[kFolderCapacity];
  size_t length = wcslen(folder);
  if (length >= kFolderCapacity || length >= capacity) {
    out[0] = L'\0';
    return;
  }
  for (size_t i = 0; i <= length; ++i) path[i] = IsSeparator(folder[i]) ? L'\\' : folder[i];
  wcscpy(out, path);
  const size_t root = RootLength(path, length);
  if (root == 0) return;
  // From the whole folder up to its root: the first part that opens.
  for (size_t existing = length;;) {
    const wchar_t kept = path[existing];
    path[existing] = L'\0';
    FileHandle handle(CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    path[existing] = kept;
    wchar_t resolved[kResolvedCapacity];
    if (handle && FinalPath(handle.get(), resolved, kResolvedCapacity)) {
      const wchar_t* rest = path + existing;
      while (*rest == L'\\') ++rest;
      const size_t resolvedLength = wcslen(resolved);
      const bool separator = *rest && resolvedLength > 0 && resolved[resolvedLength - 1] != L'\\';
      if (resolvedLength + 1 + wcslen(rest) < capacity) {
        wcscpy(out, resolved);
        if (separator) wcscat(out, L"\\");
        wcscat(out, rest);
      }
      return;
    }
    if (existing <= root) return;
    // Back to the separator before the last component of what is left.
    while (existing > root && path[existing - 1] != L'\\') --existing;
    while (existing > root && path[existing - 1] == L'\\') --existing;
    if (existing < root) existing = root;
  }
}

bool IsRootOnly(const wchar_t* path) {
  const size_t length = wcslen(path);
  return length > 0 && RootLength(path, length) == length;
}

// The textual rules: a root, then folder names.
InstallFolderVerdict JudgeText(const wchar_t* folder) {
  const size_t length = wcslen(folder);
  if (length >= kFolderCapacity) return InstallFolderVerdict::kNotAFolderPath;
  const size_t root = RootLength(folder, length);
  if (root == 0) return InstallFolderVerdict::kNotAFolderPath;
  if (root == length) return InstallFolderVerdict::kDriveRoot;
  for (size_t start = root;;) {
    const size_t end = ComponentEnd(folder, length, start);
    if (!IsName(folder + start, end - start)) return InstallFolderVerdict::kNotAFolderPath;
    if (end == length) return InstallFolderVerdict::kAllowed;
    start = end + 1;
  }
}

}  // namespace

InstallFolderVerdict JudgeInstallFolder(const wchar_t* folder) {
  const InstallFolderVerdict text = JudgeText(folder);
  if (text != InstallFolderVerdict::kAllowed) return text;
  wchar_t resolved[kResolvedCapacity];
  ResolveFolder(folder, resolved, kResolvedCapacity);
  // A link may lead to a root.
  if (IsRootOnly(resolved)) return InstallFolderVerdict::kDriveRoot;

  wchar_t system[kResolvedCapacity];
  wchar_t windows[kFolderCapacity];
  UINT windowsLength = GetWindowsDirectoryW(windows, kFolderCapacity);
  if (windowsLength > 0 && windowsLength < kFolderCapacity) {
    ResolveFolder(windows, system, kResolvedCapacity);
    if (IsSameOrInside(resolved, system)) return InstallFolderVerdict::kWindowsFolder;
  }
  for (const KNOWNFOLDERID& id : kSystemFolders) {
    PWSTR known = nullptr;
    if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &known))) ResolveFolder(known, system, kResolvedCapacity);
    else system[0] = L'\0';
    CoTaskMemFree(known);
    if (IsSameOrInside(system, resolved)) return InstallFolderVerdict::kKnownFolder;
  }
  for (const wchar_t* variable : kFolderVariables) {
    wchar_t named[kFolderCapacity];
    int length = EvalVarBuf(variable, named, static_cast<int>(sizeof named));
    if (length <= 0 || static_cast<size_t>(length) >= kFolderCapacity) continue;
    ResolveFolder(named, system, kResolvedCapacity);
    if (IsSameOrInside(system, resolved)) return InstallFolderVerdict::kKnownFolder;
  }
  return InstallFolderVerdict::kAllowed;
}

const wchar_t* InstallFolderVerdictText(InstallFolderVerdict verdict) {
  switch (verdict) {
    case InstallFolderVerdict::kAllowed:
      break;
    case InstallFolderVerdict::kNotAFolderPath:
      return L"is not a full folder path Windows takes as written";
    case InstallFolderVerdict::kDriveRoot:
      return L"is the root of a drive or share";
    case InstallFolderVerdict::kWindowsFolder:
      return L"is the Windows folder or lies inside it";
    case InstallFolderVerdict::kKnownFolder:
      return L"is a system folder or holds one";
  }
  return L"is allowed";
}

bool PackageFoldersAllowed() {
  const struct {
    const char* key;
    const wchar_t* text;
  } folders[] = {
      {kxformat::kPackageKeys[kxformat::kInstallFolder].key, g_package.installFolder},
      {kxformat::kPackageKeys[kxformat::kInstallStartMenuFolder].key, g_package.startMenuFolder},
  };
  for (const auto& folder : folders) {
    wchar_t expanded[kFolderCapacity];
    int length = EvalVarBuf(folder.text, expanded, static_cast<int>(sizeof expanded));
    InstallFolderVerdict verdict = length < 0 || static_cast<size_t>(length) >= kFolderCapacity
                                       ? InstallFolderVerdict::kNotAFolderPath
                                       : JudgeInstallFolder(expanded);
    if (verdict != InstallFolderVerdict::kAllowed) {
      LogLine(L"Error: the package's %hs %ls (%ls) %ls", folder.key, folder.text, expanded,
              InstallFolderVerdictText(verdict));
      return false;
    }
  }
  return true;
}
