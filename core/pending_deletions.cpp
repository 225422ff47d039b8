#include "core/pending_deletions.h"

#include <windows.h>
#include <string.h>

#include "base/handle_guard.h"
#include "core/module_files.h"
#include "core/uninstall_log.h"

namespace kxcore {
namespace {

constexpr wchar_t kSessionManager[] = L"System\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPendingValue[] = L"PendingFileRenameOperations";

// "\??\C:\x" (and the "\\?\" form) as the plain path.
std::wstring PlainPath(const std::wstring& path) {
  if (path.compare(0, 4, L"\\??\\") == 0 || path.compare(0, 4, L"\\\\?\\") == 0) return path.substr(4);
  return path;
}

std::wstring LongPath(const std::wstring& path) {
  wchar_t buffer[MAX_PATH * 4];
  DWORD length = GetLongPathNameW(path.c_str(), buffer, MAX_PATH * 4);
  return length > 0 && length < MAX_PATH * 4 ? std::wstring(buffer, length) : path;
}

bool StartsWithNoCase(const std::string& text, size_t at, const char* prefix) {
  size_t length = strlen(prefix);
  return text.size() - at >= length && CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, text.data() + at,
                                                      static_cast<int>(length), prefix,
                                                      static_cast<int>(length)) == CSTR_EQUAL;
}

void WithdrawFromRegistry(const std::function<bool(const std::wstring&)>& needed,
                          std::vector<std::wstring>* withdrawn) {
  HKEY opened = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &opened) != ERROR_SUCCESS)
    return;
  RegKey key(opened);
  DWORD type = 0, size = 0;
  if (RegQueryValueExW(key.get(), kPendingValue, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      type != REG_MULTI_SZ || size == 0)
    return;
  std::wstring block(size / sizeof(wchar_t) + 1, L'\0');
  if (RegQueryValueExW(key.get(), kPendingValue, nullptr, &type, reinterpret_cast<BYTE*>(&block[0]), &size) !=
      ERROR_SUCCESS)
    return;
  block.resize(size / sizeof(wchar_t));
  while (block.size() >= 2 && block[block.size() - 1] == L'\0' && block[block.size() - 2] == L'\0') block.pop_back();
  size_t before = withdrawn->size();
  std::wstring kept = WithoutPendingDeletions(block, needed, withdrawn);
  if (withdrawn->size() == before) return;
  if (kept.empty()) {
    RegDeleteValueW(key.get(), kPendingValue);
    return;
  }
  kept.push_back(L'\0');
  RegSetValueExW(key.get(), kPendingValue, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(kept.data()),
                 static_cast<DWORD>(kept.size() * sizeof(wchar_t)));
}

void WithdrawFromRenameList(const std::wstring& path, const std::function<bool(const std::wstring&)>& needed,
                            std::vector<std::wstring>* withdrawn) {
  std::string text;
  if (path.empty() || !ReadWholeFile(path, &text)) return;
  size_t before = withdrawn->size();
  std::string kept = WithoutRenameListDeletions(text, needed, withdrawn);
  if (withdrawn->size() != before) WriteFileReplacing(path, kept);
}

}  // namespace

std::wstring WithoutPendingDeletions(const std::wstring& block,
                                     const std::function<bool(const std::wstring&)>& needed,
                                     std::vector<std::wstring>* withdrawn) {
  std::vector<std::wstring> strings;
  for (size_t start = 0; start < block.size();) {
    size_t end = block.find(L'\0', start);
    if (end == std::wstring::npos) end = block.size();
    strings.push_back(block.substr(start, end - start));
    start = end + 1;
  }
  std::wstring kept;
  for (size_t i = 0; i < strings.size(); i += 2) {
    const bool deletion = i + 1 >= strings.size() || strings[i + 1].empty();
    const std::wstring source = PlainPath(strings[i]);
    if (deletion && !source.empty() && needed(source)) {
      withdrawn->push_back(source);
      continue;
    }
    kept += strings[i];
    kept += L'\0';
    if (i + 1 < strings.size()) {
      kept += strings[i + 1];
      kept += L'\0';
    }
  }
  return kept;
}

std::string WithoutRenameListDeletions(const std::string& text,
                                       const std::function<bool(const std::wstring&)>& needed,
                                       std::vector<std::wstring>* withdrawn) {
  std::string kept;
  bool inRename = false;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    const std::string line = text.substr(start, end - start);
    start = end;
    if (!line.empty() && line[0] == '[') inRename = StartsWithNoCase(line, 0, "[Rename]");
    if (inRename && StartsWithNoCase(line, 0, "NUL=")) {
      std::string source = line.substr(4);
      while (!source.empty() && (source.back() == '\n' || source.back() == '\r')) source.pop_back();
      const std::wstring path = LongPath(DecodeAnsi(source));
      if (!path.empty() && needed(path)) {
        withdrawn->push_back(path);
        continue;
      }
    }
    kept += line;
  }
  return kept;
}

std::vector<std::wstring> PendingDeletions(const std::wstring& renameList) {
  std::vector<std::wstring> paths;
  // Asked about every deletion, wanting none withdrawn: nothing is written.
  WithdrawPendingDeletions([&](const std::wstring& path) {
    paths.push_back(path);
    return false;
  }, renameList);
  return paths;
}

std::vector<std::wstring> WithdrawPendingDeletions(const std::function<bool(const std::wstring&)>& needed,
                                                   const std::wstring& renameList) {
  std::vector<std::wstring> withdrawn;
  WithdrawFromRegistry(needed, &withdrawn);
  WithdrawFromRenameList(renameList, needed, &withdrawn);
  return withdrawn;
}

}  // namespace kxcore
