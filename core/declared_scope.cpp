#include "core/declared_scope.h"

#include <vector>

#include "base/declaration_rules.h"
#include "core/path_order.h"
#include "core/uninstall_log.h"
#include "core/uninstall_scope.h"

namespace kxcore {
namespace {

struct Allowed {
  int kind;
  std::wstring text;
};

std::vector<Allowed>& List() {
  static std::vector<Allowed> list;
  return list;
}

}  // namespace

void AllowDeclaredRecord(int kind, const std::wstring& text) {
  if (kind == kRecordFile) {
    // Judged as the log's file records are, once resolved: a link or a
    // short name on the way names the same file either way.
    if (IsNormalFullPath(text)) List().push_back({kind, ResolvePath(NormalRecordPath(text))});
    return;
  }
  if (kind < kRecordRegistryKey || kind > kRecordKindLast || text.empty()) return;
  List().push_back({kind, text});
}

void ForgetDeclaredRecords() { List().clear(); }

bool DeclaredRecordAllowed(int kind, const std::wstring& text) {
  if (kind == kRecordAssociationTaken) {
    std::wstring key, progId, owner;
    if (!SplitDeclaredRecord(text, kind, &key, &progId, &owner) ||
        !kxdecl::IsOwnerProgId(reinterpret_cast<const char16_t*>(owner.c_str()), owner.size()))
      return false;
    return DeclaredRecordAllowed(kRecordAssociation, L"\"" + key + L"\" \"" + progId + L"\"");
  }
  for (const Allowed& allowed : List())
    if (allowed.kind == kind && SamePath(allowed.text, text)) return true;
  return false;
}

bool SplitDeclaredRecord(const std::wstring& text, int kind, std::wstring* rootAndKey, std::wstring* first,
                         std::wstring* second) {
  // "<key>" "<first>" or "<key>" "<name>" "<value>": neither the key nor a
  // variable's name holds a quote, so the first two separators are found
  // from the left; a PATH entry, a ProgID or a value may hold anything.
  static const wchar_t kSeparator[] = L"\" \"";
  if (text.size() < 5 || text.front() != L'"' || text.back() != L'"') return false;
  const size_t middle = text.find(kSeparator);
  if (middle == std::wstring::npos || middle < 2) return false;
  *rootAndKey = text.substr(1, middle - 1);
  const size_t firstStart = middle + 3;
  second->clear();
  // A variable's name and a ProgID hold no quote either: the third part
  // (the value, the earlier owner) begins behind the second separator.
  if (kind != kRecordVariable && kind != kRecordAssociationTaken) {
    if (firstStart > text.size() - 1) return false;
    *first = text.substr(firstStart, text.size() - 1 - firstStart);
    return !first->empty();
  }
  const size_t next = text.find(kSeparator, firstStart);
  if (next == std::wstring::npos || next == firstStart) return false;
  *first = text.substr(firstStart, next - firstStart);
  *second = text.substr(next + 3, text.size() - 1 - (next + 3));
  return true;
}

}  // namespace kxcore
