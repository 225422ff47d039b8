#include "launcher/package_declarations.h"

#include <windows.h>
#include <string.h>

#include "base/declaration_rules.h"

PackageDeclarations g_declarations;

namespace {

using kxformat::DeclTable;

// The index of the table's first entry in PackageDeclarations::entries.
size_t TableStart(size_t table) {
  size_t start = 0;
  for (size_t t = 0; t < table; ++t) start += kxformat::kDeclTables[t].capacity;
  return start;
}

static_assert(16 + 8 + 16 + 32 + 8 + 16 + 8 == kDeclEntriesTotal, "the entries hold every table's capacity");

size_t FindTable(const char* name, size_t length) {
  for (size_t t = 0; t < kxformat::kDeclTableCount; ++t) {
    const char* known = kxformat::kDeclTables[t].name;
    if (strlen(known) == length && memcmp(known, name, length) == 0) return t;
  }
  return kxformat::kDeclTableCount;
}

size_t FindField(const DeclTable& table, const char* name, size_t length) {
  for (size_t f = 0; f < table.fieldCount; ++f)
    if (strlen(table.fields[f].name) == length && memcmp(table.fields[f].name, name, length) == 0) return f;
  return kxformat::kDeclFieldsMax;
}

struct KeyParts {
  size_t table;
  unsigned number;  // from 1
  size_t field;
};

// "<table>.<n>.<field>"; false when it is not one.
bool SplitKey(const char* key, size_t length, KeyParts* parts) {
  const char* first = static_cast<const char*>(memchr(key, '.', length));
  if (!first) return false;
  parts->table = FindTable(key, static_cast<size_t>(first - key));
  if (parts->table == kxformat::kDeclTableCount) return false;
  const char* rest = first + 1;
  const size_t restLength = length - static_cast<size_t>(rest - key);
  const char* second = static_cast<const char*>(memchr(rest, '.', restLength));
  if (!second || second == rest || second - rest > 2 || rest[0] == '0') return false;
  unsigned number = 0;
  for (const char* c = rest; c < second; ++c) {
    if (*c < '0' || *c > '9') return false;
    number = number * 10 + static_cast<unsigned>(*c - '0');
  }
  const DeclTable& table = kxformat::kDeclTables[parts->table];
  if (number == 0 || number > table.capacity) return false;
  parts->number = number;
  parts->field = FindField(table, second + 1, length - static_cast<size_t>(second + 1 - key));
  return parts->field != kxformat::kDeclFieldsMax;
}

DeclEntry& EntryOf(PackageDeclarations* declarations, size_t table, unsigned number) {
  return declarations->entries[TableStart(table) + number - 1];
}

}  // namespace

void ClearPackageDeclarations(PackageDeclarations* declarations) { memset(declarations, 0, sizeof *declarations); }

bool IsPackageDeclarationKey(const char* key, size_t length) {
  const char* dot = static_cast<const char*>(memchr(key, '.', length));
  return dot && FindTable(key, static_cast<size_t>(dot - key)) != kxformat::kDeclTableCount;
}

bool StorePackageDeclarationValue(const char* key, size_t keyLength, const char* value, size_t valueLength,
                                  PackageDeclarations* declarations) {
  KeyParts parts;
  if (!SplitKey(key, keyLength, &parts)) return false;
  DeclEntry& entry = EntryOf(declarations, parts.table, parts.number);
  if (entry.given[parts.field]) return false;
  wchar_t* text = entry.fields[parts.field];
  int units = 0;
  if (valueLength > 0) {
    units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, value, static_cast<int>(valueLength), text,
                                static_cast<int>(kDeclTextCapacity - 1));
    if (units <= 0) return false;
  }
  text[units] = L'\0';
  const kxformat::DeclField& field = kxformat::kDeclTables[parts.table].fields[parts.field];
  if (kxdecl::CheckDeclValue(field.kind, reinterpret_cast<const char16_t*>(text), static_cast<size_t>(units)) !=
      kxdecl::DeclProblem::kNone)
    return false;
  entry.given[parts.field] = 1;
  if (parts.number > declarations->count[parts.table]) declarations->count[parts.table] = parts.number;
  return true;
}

bool CompletePackageDeclarations(PackageDeclarations* declarations) {
  for (size_t t = 0; t < kxformat::kDeclTableCount; ++t) {
    const DeclTable& table = kxformat::kDeclTables[t];
    for (unsigned n = 1; n <= declarations->count[t]; ++n) {
      DeclEntry& entry = EntryOf(declarations, t, n);
      // Numbered without gaps: an entry below the highest has its required
      // fields like any other.
      for (size_t f = 0; f < table.fieldCount; ++f)
        if (table.fields[f].required && !entry.given[f]) return false;
      if (t == kxformat::kDeclRegistry) {
        const wchar_t* type = entry.fields[kxformat::kRegType];
        const kxdecl::RegistryType parsed =
            kxdecl::ParseRegistryType(reinterpret_cast<const char16_t*>(type), wcslen(type));
        const wchar_t* data = entry.fields[kxformat::kRegData];
        if (kxdecl::CheckRegistryData(parsed, reinterpret_cast<const char16_t*>(data), wcslen(data)) !=
            kxdecl::DeclProblem::kNone)
          return false;
      }
    }
  }
  return true;
}

unsigned DeclarationCount(const PackageDeclarations& declarations, kxformat::DeclTableIndex table) {
  return declarations.count[table];
}

const DeclEntry& DeclarationAt(const PackageDeclarations& declarations, kxformat::DeclTableIndex table,
                               unsigned index) {
  return declarations.entries[TableStart(table) + index];
}
