#include "launcher/package_data.h"

#include <windows.h>
#include <stddef.h>
#include <string.h>
#include <wchar.h>

#include "base/handle_guard.h"
#include "base/name_rules.h"
#include "launcher/package_declarations.h"

PackageData g_package;

namespace {

using kxformat::PackageValueKind;

// Where each key's value goes, in the order of kxformat::kPackageKeys.
const size_t kFieldOffsets[kxformat::kPackageKeyCount] = {
    offsetof(PackageData, productName),     offsetof(PackageData, productVersion),
    offsetof(PackageData, publisher),       offsetof(PackageData, publisherUrl),
    offsetof(PackageData, uninstallKeyName), offsetof(PackageData, wizardLabel),
    offsetof(PackageData, windowTitle),     offsetof(PackageData, installFolder),
    offsetof(PackageData, startMenuFolder), offsetof(PackageData, programFile),
    offsetof(PackageData, shortcutName),    offsetof(PackageData, startProgram),
    offsetof(PackageData, openFolder),      offsetof(PackageData, startProgramSilent),
    offsetof(PackageData, openFolderSilent),
};

// The key's index, or kPackageKeyCount when it is no key of the format.
size_t FindKey(const char* key, size_t length) {
  for (size_t i = 0; i < kxformat::kPackageKeyCount; ++i) {
    const char* known = kxformat::kPackageKeys[i].key;
    if (strlen(known) == length && memcmp(known, key, length) == 0) return i;
  }
  return kxformat::kPackageKeyCount;
}

// The text's rule as kxpack applies it (units: the text's UTF-16 units, any
// NUL among them included).
bool TextAllowed(PackageValueKind kind, const wchar_t* text, size_t units) {
  // The rules read UTF-16 as char16_t; wchar_t is the same 16 bits here.
  char16_t value[kPackageTextCapacity];
  for (size_t i = 0; i < units; ++i) value[i] = static_cast<char16_t>(text[i]);
  if (kxnames::FindControlCharacter(value, units) != units) return false;
  switch (kind) {
    case PackageValueKind::kText:
    case PackageValueKind::kOptionalText:
      return true;
    case PackageValueKind::kFileName:
      return kxnames::CheckFileName(value, units).problem == kxnames::NameProblem::kNone;
    case PackageValueKind::kFolderText:
      return kxnames::CheckFolderText(value, units).problem == kxnames::FolderProblem::kNone;
    case PackageValueKind::kRelativePath:
      // kxpack writes the program with '\' alone.
      return wmemchr(text, L'/', units) == nullptr &&
             kxnames::CheckRelativePath(value, units).problem == kxnames::PathProblem::kNone;
    case PackageValueKind::kFlag:
      break;
  }
  return false;
}

// The optional flags (base/package_format.h): the field of the key, or null
// when the key is none of them.
unsigned char* OptionalFlag(const char* key, size_t length, PackageData* data) {
  if (length == sizeof kxformat::kAllowDowngradeKey - 1 && memcmp(key, kxformat::kAllowDowngradeKey, length) == 0)
    return &data->allowDowngrade;
  if (length == sizeof kxformat::kMsiExitCodesKey - 1 && memcmp(key, kxformat::kMsiExitCodesKey, length) == 0)
    return &data->msiExitCodes;
  return nullptr;
}

// Stores one value; false when it is not allowed for the key.
bool StoreValue(size_t key, const char* value, size_t length, PackageData* data) {
  const kxformat::PackageKeyRule& rule = kxformat::kPackageKeys[key];
  unsigned char* field = reinterpret_cast<unsigned char*>(data) + kFieldOffsets[key];
  if (rule.kind == PackageValueKind::kFlag) {
    if (length != 1 || (value[0] != '0' && value[0] != '1')) return false;
    *field = static_cast<unsigned char>(value[0] - '0');
    return true;
  }
  wchar_t* text = reinterpret_cast<wchar_t*>(field);
  if (length == 0) return rule.kind == PackageValueKind::kOptionalText;
  int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, value, static_cast<int>(length), text,
                                  static_cast<int>(rule.maxUnits));
  if (units <= 0) return false;
  text[units] = L'\0';
  return TextAllowed(rule.kind, text, static_cast<size_t>(units));
}

int ParseLines(const char* bytes, size_t size, PackageData* data) {
  bool seen[kxformat::kPackageKeyCount] = {};
  bool optionalSeen[2] = {};
  size_t position = 0;
  bool formatRead = false;
  while (position < size) {
    const char* line = bytes + position;
    const char* end = static_cast<const char*>(memchr(line, '\n', size - position));
    if (!end) return kPackageDataDamaged;  // every line ends with LF
    position = static_cast<size_t>(end - bytes) + 1;
    size_t length = static_cast<size_t>(end - line);
    if (length > 0 && line[length - 1] == '\r') --length;
    if (!formatRead) {
      if (length != sizeof kxformat::kPackageDataFormatLine - 1 ||
          memcmp(line, kxformat::kPackageDataFormatLine, length) != 0)
        return kPackageDataDamaged;
      formatRead = true;
      continue;
    }
    const char* equals = static_cast<const char*>(memchr(line, '=', length));
    if (!equals) return kPackageDataDamaged;
    if (IsPackageLanguageKey(line, static_cast<size_t>(equals - line))) {
      if (!StorePackageLanguageValue(line, static_cast<size_t>(equals - line), equals + 1,
                                     static_cast<size_t>(line + length - equals - 1), &data->languages))
        return kPackageDataDamaged;
      continue;
    }
    if (IsPackageDeclarationKey(line, static_cast<size_t>(equals - line))) {
      if (!StorePackageDeclarationValue(line, static_cast<size_t>(equals - line), equals + 1,
                                        static_cast<size_t>(line + length - equals - 1), &g_declarations))
        return kPackageDataDamaged;
      continue;
    }
    if (IsPackageScopeKey(line, static_cast<size_t>(equals - line))) {
      if (!StorePackageScopeValue(equals + 1, static_cast<size_t>(line + length - equals - 1), &data->scope))
        return kPackageDataDamaged;
      continue;
    }
    if (unsigned char* flag = OptionalFlag(line, static_cast<size_t>(equals - line), data)) {
      // Written only when set: "1", once.
      bool* once = &optionalSeen[flag == &data->allowDowngrade ? 0 : 1];
      if (*once || line + length - equals != 2 || equals[1] != '1') return kPackageDataDamaged;
      *once = true;
      *flag = 1;
      continue;
    }
    size_t key = FindKey(line, static_cast<size_t>(equals - line));
    if (key == kxformat::kPackageKeyCount || seen[key]) return kPackageDataDamaged;
    seen[key] = true;
    const char* value = equals + 1;
    if (!StoreValue(key, value, static_cast<size_t>(line + length - value), data)) return kPackageDataDamaged;
  }
  for (bool found : seen)
    if (!found) return kPackageDataDamaged;
  if (!CompletePackageLanguages(&data->languages)) return kPackageDataDamaged;
  if (!CompletePackageDeclarations(&g_declarations)) return kPackageDataDamaged;
  // The uninstall key is one key name below the Uninstall key (its rule
  // allows no backslash).
  wcscpy(data->uninstallRegistryKey, kUninstallKeyParent);
  wcscat(data->uninstallRegistryKey, data->uninstallKeyName);
  return kPackageDataOk;
}

}  // namespace

static_assert(sizeof kUninstallKeyParent / sizeof(wchar_t) - 1 + kPackageTextCapacity <= kUninstallRegistryKeyCapacity,
              "the uninstall registry key must hold every key name");
static_assert(sizeof(wchar_t) == sizeof(char16_t), "the programs' texts are UTF-16");

int ParsePackageData(const char* bytes, size_t size, PackageData* data) {
  memset(data, 0, sizeof *data);
  ClearPackageDeclarations(&g_declarations);
  int result = ParseLines(bytes, size, data);
  if (result != kPackageDataOk) {
    memset(data, 0, sizeof *data);
    ClearPackageDeclarations(&g_declarations);
  }
  return result;
}

int LoadPackageData(const wchar_t* folder) {
  static char bytes[kPackageDataMaxBytes];
  memset(&g_package, 0, sizeof g_package);
  // Room for the longest runtime folder the launcher makes.
  wchar_t path[1024];
  size_t folderLength = wcslen(folder);
  size_t nameLength = sizeof kxformat::kPackageDataFileW / sizeof(wchar_t);
  if (folderLength + nameLength > sizeof path / sizeof path[0]) return kPackageDataNotRead;
  wcscpy(path, folder);
  wcscat(path, kxformat::kPackageDataFileW);

  FileHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr));
  if (!file) return kPackageDataNotRead;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart > static_cast<LONGLONG>(kPackageDataMaxBytes))
    return kPackageDataNotRead;
  DWORD read = 0;
  if (!ReadFile(file.get(), bytes, static_cast<DWORD>(size.QuadPart), &read, nullptr) ||
      read != static_cast<DWORD>(size.QuadPart))
    return kPackageDataNotRead;
  return ParsePackageData(bytes, read, &g_package);
}
