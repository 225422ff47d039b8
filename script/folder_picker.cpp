#include "script/folder_picker.h"

#include <shlobj.h>
#include <wchar.h>

#include "base/name_rules.h"

int BrowseForFolder(HWND owner, const wchar_t* title, const wchar_t* initialPath, wchar_t* result) {
  wchar_t displayName[kPickerPathCapacity];
  BROWSEINFOW info = {};
  info.hwndOwner = owner;
  info.pidlRoot = nullptr;
  info.pszDisplayName = displayName;
  info.lpszTitle = title;
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  info.lpfn = BrowseInitCallback;
  info.lParam = reinterpret_cast<LPARAM>(initialPath);
  info.iImage = 0;

  int chosen = 0;
  PIDLIST_ABSOLUTE item = SHBrowseForFolderW(&info);
  if (item) {
    chosen = SHGetPathFromIDListW(item, result) ? 1 : 0;
    CoTaskMemFree(item);
  }
  if (!chosen) result[0] = L'\0';
  return chosen;
}

int CALLBACK BrowseInitCallback(HWND picker, UINT message, LPARAM, LPARAM data) {
  if (message == BFFM_INITIALIZED && data) SendMessageW(picker, BFFM_SETSELECTIONW, TRUE, data);
  return 0;
}

const wchar_t* PathLastComponent(const wchar_t* path) {
  const wchar_t* separator = wcsrchr(path, L'\\');
  if (!separator) separator = wcsrchr(path, L'/');
  if (!separator) separator = wcsrchr(path, L':');
  return separator ? separator + 1 : path;
}

const wchar_t* PathBelowRoot(const wchar_t* path, const wchar_t* root) {
  size_t rootLength = wcslen(root);
  while (rootLength > 0 && (root[rootLength - 1] == L'\\' || root[rootLength - 1] == L'/')) --rootLength;
  if (rootLength == 0 || _wcsnicmp(path, root, rootLength) != 0) return nullptr;
  const wchar_t* rest = path + rootLength;
  if (*rest != L'\\' && *rest != L'/') return nullptr;
  while (*rest == L'\\' || *rest == L'/') ++rest;
  return *rest ? rest : nullptr;
}

bool IsStartMenuFolderName(const wchar_t* text) {
  // wchar_t is UTF-16 on Windows: the shared rules read it as it is.
  static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 text");
  const char16_t* units = reinterpret_cast<const char16_t*>(text);
  return kxnames::CheckRelativePath(units, wcslen(text)).problem == kxnames::PathProblem::kNone;
}

bool IsFullPath(const wchar_t* path) {
  bool letter = (path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z');
  bool drive = letter && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/');
  bool unc = path[0] == L'\\' && path[1] == L'\\' && path[2] != L'\0';
  return drive || unc;
}
