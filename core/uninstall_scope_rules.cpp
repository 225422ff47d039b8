#include "core/uninstall_scope_rules.h"

#include "base/device_names.h"

namespace kxcore {
namespace {

// The kinds of records (KX_LOG_FILE ... in core/kxcore.h).
constexpr int kFile = 0, kFolder = 1, kRegistryValue = 3;

bool IsLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

bool SamePath(std::u16string_view a, std::u16string_view b, PathComparison compare) { return compare(a, b) == 0; }

bool IsNormalComponent(std::u16string_view component) {
  if (component.empty()) return false;
  // Windows drops a trailing dot or blank, so "x." and "x " name "x", and
  // "." and ".." climb: all are refused.
  char16_t last = component.back();
  return last != u'.' && last != u' ' && !IsDeviceName(component.data(), component.size());
}

// Every component of path from `from` on, separated by single backslashes.
bool ComponentsAreNormal(std::u16string_view path, size_t from) {
  size_t start = from;
  for (size_t i = from;; ++i) {
    if (i == path.size() || path[i] == u'\\') {
      if (!IsNormalComponent(path.substr(start, i - start))) return false;
      if (i == path.size()) return true;
      start = i + 1;
    }
  }
}

// Components of child below parent (child strictly below parent).
size_t DepthBelow(std::u16string_view child, std::u16string_view parent) {
  size_t depth = 1;
  for (size_t i = parent.size() + 1; i < child.size(); ++i)
    if (child[i] == u'\\') ++depth;
  return depth;
}

struct RootName {
  std::u16string_view name;
  RegistryRoot root;
};

constexpr RootName kRoots[] = {
    {u"HKEY_LOCAL_MACHINE", RegistryRoot::kLocalMachine}, {u"HKLM", RegistryRoot::kLocalMachine},
    {u"HKEY_CURRENT_USER", RegistryRoot::kCurrentUser},   {u"HKCU", RegistryRoot::kCurrentUser},
    {u"HKEY_CLASSES_ROOT", RegistryRoot::kClassesRoot},   {u"HKCR", RegistryRoot::kClassesRoot},
    {u"HKEY_USERS", RegistryRoot::kUsers},                {u"HKU", RegistryRoot::kUsers},
};

bool SplitRoot(std::u16string_view path, RegistryRoot* root, std::u16string_view* key, PathComparison compare) {
  size_t slash = path.find(u'\\');
  if (slash == std::u16string_view::npos || slash + 1 >= path.size()) return false;
  for (const RootName& candidate : kRoots) {
    if (SamePath(path.substr(0, slash), candidate.name, compare)) {
      *root = candidate.root;
      *key = path.substr(slash + 1);
      return true;
    }
  }
  return false;
}

}  // namespace

size_t PathRootLength(std::u16string_view path) {
  if (path.size() >= 3 && IsLetter(path[0]) && path[1] == u':' && path[2] == u'\\') return 3;
  if (path.size() < 3 || path[0] != u'\\' || path[1] != u'\\') return 0;
  size_t server = path.find(u'\\', 2);
  if (server == std::u16string_view::npos) return 0;
  size_t share = path.find(u'\\', server + 1);
  return share == std::u16string_view::npos ? 0 : share + 1;
}

bool IsNormalFullPath(std::u16string_view path) {
  const size_t root = PathRootLength(path);
  if (root == 0 || root == path.size()) return false;
  constexpr std::u16string_view kForbidden = u"/<>\"|?*";
  for (size_t i = 0; i < path.size(); ++i) {
    char16_t c = path[i];
    if (c < 0x20 || kForbidden.find(c) != std::u16string_view::npos || (c == u':' && i != 1)) return false;
  }
  // A UNC root's server and share are components like any other: "\\.\" and
  // "\\?\" fail here.
  return ComponentsAreNormal(path, path[0] == u'\\' ? 2 : root);
}

bool IsNormalKeyPath(std::u16string_view key) {
  if (key.empty() || key.front() == u'\\' || key.back() == u'\\' || key.find(u"\\\\") != std::u16string_view::npos)
    return false;
  for (char16_t c : key)
    if (c < 0x20) return false;
  return true;
}

bool IsPathBelow(std::u16string_view child, std::u16string_view parent, PathComparison compare) {
  if (parent.empty() || child.size() <= parent.size()) return false;
  bool separated = parent.back() == u'\\' || child[parent.size()] == u'\\';
  return separated && SamePath(child.substr(0, parent.size()), parent, compare);
}

bool ResolvedPathInScope(int kind, std::u16string_view path, const ScopeRoots& scope, PathComparison compare) {
  if (kind != kFile && kind != kFolder) return false;
  if (IsPathBelow(path, scope.programFolder, compare)) return true;
  if (kind == kFolder) {
    if (SamePath(path, scope.programFolder, compare)) return true;
    // A folder the installation created on the way to its own; never a
    // volume root or a share.
    const size_t root = PathRootLength(path);
    if (IsPathBelow(scope.programFolder, path, compare) && root != 0 && path.size() > root) return true;
  }
  // The Start-menu folder itself and what is inside it, never the programs
  // folder or a file lying directly in it.
  if (IsPathBelow(path, scope.startMenuRoot, compare))
    return kind == kFolder || DepthBelow(path, scope.startMenuRoot) >= 2;
  return false;
}

bool SplitRegistryRecord(std::u16string_view text, bool isValue, RegistryRoot* root, std::u16string_view* key,
                         std::u16string_view* name, PathComparison compare) {
  *name = std::u16string_view();
  if (!isValue) return SplitRoot(text, root, key, compare);
  // "root\key" "name": the name may itself hold quotes, so split at the
  // first quote-blank-quote and drop the final quote.
  constexpr std::u16string_view kSeparator = u"\" \"";
  size_t middle = text.find(kSeparator);
  if (text.size() < 5 || text.front() != u'"' || text.back() != u'"' || middle == std::u16string_view::npos)
    return false;
  *name = text.substr(middle + kSeparator.size(), text.size() - 1 - (middle + kSeparator.size()));
  return SplitRoot(text.substr(1, middle - 1), root, key, compare);
}

bool RegistryRecordInScope(int kind, std::u16string_view text, std::u16string_view registryKey,
                           PathComparison compare, RegistryRoot owner) {
  RegistryRoot root = RegistryRoot::kUsers;
  std::u16string_view key, name;
  if (registryKey.empty() || !SplitRegistryRecord(text, kind == kRegistryValue, &root, &key, &name, compare))
    return false;
  if (root != owner || !IsNormalKeyPath(key)) return false;
  return SamePath(key, registryKey, compare) || IsPathBelow(key, registryKey, compare);
}

}  // namespace kxcore
