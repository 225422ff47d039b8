#include "core/uninstall_scope.h"

#include <windows.h>

#include <algorithm>
#include <map>

#include "base/handle_guard.h"
#include "base/handle_removal.h"
#include "base/long_path.h"
#include "core/declared_scope.h"
#include "core/path_order.h"
#include "core/uninstall_scope_rules.h"
#include "core/uninstall_steps.h"
#include "core/utf16_text.h"

namespace kxcore {
namespace {

bool IsLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// The rules over texts are portable (core/uninstall_scope_rules.h); these
// hand them the library's wchar_t text and its order of paths.
size_t RootLength(const std::wstring& path) { return PathRootLength(Utf16View(path)); }

ScopeRoots Roots(const UninstallScope& scope) {
  return {Utf16View(scope.programFolder), Utf16View(scope.startMenuRoot), Utf16View(scope.registryKey),
          scope.currentUser ? RegistryRoot::kCurrentUser : RegistryRoot::kLocalMachine};
}

// path: the record's text as ResolvePath resolves it.
bool ResolvedPathInScope(int kind, const std::wstring& path, const UninstallScope& scope) {
  return kxcore::ResolvedPathInScope(kind, Utf16View(path), Roots(scope), ComparePathsUtf16);
}

// Also a shortcut the declarations put on the desktop (core/declared_scope.h).
bool ResolvedFileInScope(int kind, const std::wstring& path, const UninstallScope& scope) {
  return ResolvedPathInScope(kind, path, scope) || (kind == KX_LOG_FILE && DeclaredRecordAllowed(kind, path));
}

bool HandlePath(HANDLE handle, const std::wstring& requested, std::wstring* final) {
  LongPathBuffer buffer;
  if (!buffer.data() || !::OpenedObjectPath(handle, requested.c_str(), buffer.data(), kLongPathCapacity)) return false;
  *final = buffer.data();
  return true;
}

// The path of what path names, as the file system knows it. A link as the
// last component is taken as itself unless followLast.
bool FinalPath(const std::wstring& path, bool followLast, std::wstring* final) {
  const DWORD open = FILE_FLAG_BACKUP_SEMANTICS | (followLast ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  FileHandle handle(CreateFileW(Win32Path(path.c_str()).get(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, open, nullptr));
  return handle && HandlePath(handle.get(), path, final);
}

// Resolves the records' paths as ResolvePath does, at the cost of one
// look-up per folder instead of one open per record (an uninstall log may
// hold a hundred thousand files): each folder that holds records is
// resolved and listed once, and each name is found in its folder's listing.
// What the listing cannot tell for certain (a name that is not there, a
// link, names that differ only in case) is left to ResolvePath.
class RecordResolver {
 public:
  std::wstring Resolve(const std::wstring& path) {
    const size_t root = RootLength(path);
    const size_t cut = path.rfind(L'\\');
    if (root == 0 || cut == std::wstring::npos || cut + 1 < root || cut + 1 == path.size()) return ResolvePath(path);
    const Folder& folder = Listed(path.substr(0, cut + 1 == root ? root : cut));
    const std::wstring_view name(path.c_str() + cut + 1, path.size() - cut - 1);
    const std::wstring* found = folder.usable ? Find(folder, name) : nullptr;
    return found ? folder.final + L"\\" + *found : ResolvePath(path);
  }

 private:
  struct Name {
    std::wstring key;  // the long name, or the short name
    size_t entry;      // index of the long name in Folder::longNames
  };
  struct Folder {
    bool usable = false;
    std::wstring final;  // without a trailing backslash
    std::vector<std::wstring> longNames;
    std::vector<Name> names;  // sorted by key
  };

  const Folder& Listed(const std::wstring& text) {
    // Records come folder by folder: a few listings serve them all, and a
    // log of a million files does not hold the installation's listings.
    if (folders_.size() >= kListingsKept && folders_.find(text) == folders_.end()) folders_.clear();
    auto [place, added] = folders_.try_emplace(text);
    Folder& folder = place->second;
    if (!added) return folder;
    // The folder's own last component is followed: for the names inside it
    // it is a step on the way, not the thing resolved.
    if (!FinalPath(text, true, &folder.final)) return folder;
    if (!folder.final.empty() && folder.final.back() == L'\\') folder.final.pop_back();
    WIN32_FIND_DATAW found;
    FindHandle search(
        FindFirstFileW(Win32Path((text + (text.back() == L'\\' ? L"*" : L"\\*")).c_str()).get(), &found));
    if (!search) return folder;
    do {
      std::wstring_view name = found.cFileName;
      if (name == L"." || name == L".." || (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) continue;
      const size_t entry = folder.longNames.size();
      folder.longNames.emplace_back(name);
      folder.names.push_back({folder.longNames.back(), entry});
      if (found.cAlternateFileName[0]) folder.names.push_back({found.cAlternateFileName, entry});
    } while (FindNextFileW(search.get(), &found));
    if (GetLastError() != ERROR_NO_MORE_FILES) return folder;
    std::sort(folder.names.begin(), folder.names.end(),
              [](const Name& a, const Name& b) { return ComparePaths(a.key, b.key) < 0; });
    folder.usable = true;
    return folder;
  }

  // The long name that name stands for: the one entry it matches, or among
  // several the one it matches exactly, as the file system would pick it.
  static const std::wstring* Find(const Folder& folder, std::wstring_view name) {
    auto first = std::lower_bound(folder.names.begin(), folder.names.end(), name,
                                  [](const Name& a, std::wstring_view b) { return ComparePaths(a.key, b) < 0; });
    const std::wstring* only = nullptr;
    const std::wstring* exact = nullptr;
    bool several = false;
    for (auto it = first; it != folder.names.end() && SamePath(it->key, name); ++it) {
      const std::wstring* candidate = &folder.longNames[it->entry];
      if (only && only != candidate) several = true;
      only = candidate;
      if (it->key == name) exact = candidate;
    }
    return several ? exact : only;
  }

  static constexpr size_t kListingsKept = 16;
  std::map<std::wstring, Folder> folders_;  // by the folder's text as written
};

}  // namespace

bool IsNormalFullPath(const std::wstring& path) { return IsNormalFullPath(Utf16View(path)); }

bool OpenedObjectPath(HANDLE handle, const std::wstring& requested, std::wstring* path) {
  return HandlePath(handle, requested, path);
}

bool OpenedObjectInScope(int kind, const std::wstring& path, const UninstallScope& scope) {
  // The desktop shortcuts the declarations allowed are judged as the log's
  // records were, by their resolved path.
  return ResolvedFileInScope(kind, path, scope);
}

std::wstring ResolvePath(const std::wstring& path) {
  const size_t root = RootLength(path);
  if (root == 0) return path;
  // The deepest part that exists is resolved; the rest is kept as written.
  size_t end = path.size();
  while (GetFileAttributesW(Win32Path(path.substr(0, end).c_str()).get()) == INVALID_FILE_ATTRIBUTES) {
    size_t cut = path.rfind(L'\\', end - 1);
    if (cut == std::wstring::npos || cut < root) return path;
    end = cut + 1 == root ? root : cut;
  }
  std::wstring resolved;
  if (!FinalPath(path.substr(0, end), false, &resolved)) return path;
  if (end == path.size()) return resolved;
  if (!resolved.empty() && resolved.back() == L'\\') resolved.pop_back();
  return resolved + (path[end] == L'\\' ? path.substr(end) : L"\\" + path.substr(end));
}

std::wstring NormalRecordPath(const std::wstring& path) {
  auto separator = [](wchar_t c) { return c == L'\\' || c == L'/'; };
  bool drive = path.size() >= 3 && IsLetter(path[0]) && path[1] == L':' && separator(path[2]);
  bool unc = path.size() >= 3 && separator(path[0]) && separator(path[1]);
  // A relative text would be made full against the current folder: it is
  // kept as it is (and refused by the uninstaller).
  if (!drive && !unc) return path;
  DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return path;
  std::wstring full(needed, L'\0');
  DWORD length = GetFullPathNameW(path.c_str(), needed, &full[0], nullptr);
  if (length == 0 || length >= needed) return path;
  full.resize(length);
  while (full.size() > 1 && full.back() == L'\\' && full.size() > RootLength(full)) full.pop_back();
  return full;
}

UninstallScope MakeUninstallScope(const std::wstring& uninstallerPath, const std::wstring& startMenuRoot,
                                  const std::wstring& registryKey, const std::wstring& registryRoot) {
  UninstallScope scope;
  scope.currentUser = registryRoot == L"HKEY_CURRENT_USER";
  size_t slash = uninstallerPath.rfind(L'\\');
  if (slash != std::wstring::npos) scope.programFolder = ResolvePath(uninstallerPath.substr(0, slash));
  if (IsNormalFullPath(startMenuRoot)) scope.startMenuRoot = ResolvePath(startMenuRoot);
  // "Software\...\Uninstall\<name>": a key of one component (or none) would
  // hand over a whole hive's branch.
  if (IsNormalKeyPath(Utf16View(registryKey)) && registryKey.find(L'\\') != std::wstring::npos)
    scope.registryKey = registryKey;
  return scope;
}

bool RecordInScope(const UninstallRecord& record, const UninstallScope& scope) {
  switch (record.kind) {
    case KX_LOG_FILE:
    case KX_LOG_FOLDER:
      return IsNormalFullPath(record.text) && ResolvedFileInScope(record.kind, ResolvePath(record.text), scope);
    case KX_LOG_REGKEY:
    case KX_LOG_REGVALUE:
      return RegistryRecordInScope(record.kind, Utf16View(record.text), Utf16View(scope.registryKey),
                                   ComparePathsUtf16, Roots(scope).registryRoot) ||
             DeclaredRecordAllowed(record.kind, record.text);
    case KX_LOG_PATHENTRY:
    case KX_LOG_ENVVAR:
    case KX_LOG_ASSOCIATION:
    case KX_LOG_ASSOCIATIONTAKEN:
      return DeclaredRecordAllowed(record.kind, record.text);
    default:
      return false;
  }
}

struct RecordJudge::State {
  UninstallScope scope;
  RecordResolver resolver;
};

RecordJudge::RecordJudge(const UninstallScope& scope) : state_(new State{scope, RecordResolver()}) {}
RecordJudge::~RecordJudge() = default;

bool RecordJudge::Resolve(UninstallRecord* record) {
  if (record->kind != KX_LOG_FILE && record->kind != KX_LOG_FOLDER) return RecordInScope(*record, state_->scope);
  if (!IsNormalFullPath(record->text)) return false;
  std::wstring resolved = state_->resolver.Resolve(record->text);
  if (!ResolvedFileInScope(record->kind, resolved, state_->scope)) return false;
  record->text = std::move(resolved);
  return true;
}

bool ResolveRecordsInScope(std::vector<UninstallRecord>* records, const UninstallScope& scope) {
  RecordJudge judge(scope);
  std::vector<UninstallRecord> resolved = *records;
  for (UninstallRecord& record : resolved)
    if (!judge.Resolve(&record)) return false;
  records->swap(resolved);
  return true;
}

}  // namespace kxcore
