#include "launcher/package_data.h"

#include <windows.h>
#include <stddef.h>
#include <string.h>
#include <wchar.h>

#include "base/handle_guard.h"

PackageData g_package;

namespace {

constexpr char kFormatLine[] = "kxpackage 1";

enum class FieldKind { kText, kOptionalText, kFlag };

struct Field {
  const char* key;
  size_t offset;
  FieldKind kind;
};

#define KX_FIELD(key, member, kind) {key, offsetof(PackageData, member), kind}
const Field kFields[] = {
    KX_FIELD("product.name", productName, FieldKind::kText),
    KX_FIELD("product.version", productVersion, FieldKind::kText),
    KX_FIELD("product.publisher", publisher, FieldKind::kText),
    KX_FIELD("product.url", publisherUrl, FieldKind::kOptionalText),
    KX_FIELD("product.uninstall_key", uninstallKeyName, FieldKind::kText),
    KX_FIELD("product.wizard_label", wizardLabel, FieldKind::kText),
    KX_FIELD("product.window_title", windowTitle, FieldKind::kText),
    KX_FIELD("install.folder", installFolder, FieldKind::kText),
    KX_FIELD("install.start_menu_folder", startMenuFolder, FieldKind::kText),
    KX_FIELD("install.program", programFile, FieldKind::kText),
    KX_FIELD("install.shortcut", shortcutName, FieldKind::kText),
    KX_FIELD("tasks.start_program", startProgram, FieldKind::kFlag),
    KX_FIELD("tasks.open_folder", openFolder, FieldKind::kFlag),
    KX_FIELD("tasks.start_program_silent", startProgramSilent, FieldKind::kFlag),
    KX_FIELD("tasks.open_folder_silent", openFolderSilent, FieldKind::kFlag),
};
#undef KX_FIELD
constexpr size_t kFieldCount = sizeof kFields / sizeof kFields[0];

const Field* FindField(const char* key, size_t length) {
  for (const Field& field : kFields)
    if (strlen(field.key) == length && memcmp(field.key, key, length) == 0) return &field;
  return nullptr;
}

bool HasControlCharacter(const wchar_t* text) {
  for (; *text; ++text)
    if (*text < 0x20 || *text == 0x7F) return true;
  return false;
}

// The program lies inside the installation folder: relative, no drive, no
// empty, "." or ".." component.
bool IsContainedRelativePath(const wchar_t* path) {
  if (wcschr(path, L':') || wcschr(path, L'/')) return false;
  const wchar_t* start = path;
  for (const wchar_t* p = path;; ++p) {
    if (*p != L'\\' && *p != L'\0') continue;
    size_t length = static_cast<size_t>(p - start);
    if (length == 0 || (start[0] == L'.' && (length == 1 || (length == 2 && start[1] == L'.')))) return false;
    if (*p == L'\0') return true;
    start = p + 1;
  }
}

// Stores one value; false when it is not allowed for the field.
bool StoreValue(const Field& field, const char* value, size_t length, PackageData* data) {
  unsigned char* base = reinterpret_cast<unsigned char*>(data) + field.offset;
  if (field.kind == FieldKind::kFlag) {
    if (length != 1 || (value[0] != '0' && value[0] != '1')) return false;
    *base = static_cast<unsigned char>(value[0] - '0');
    return true;
  }
  wchar_t* text = reinterpret_cast<wchar_t*>(base);
  if (length == 0) return field.kind == FieldKind::kOptionalText;
  int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, value, static_cast<int>(length), text,
                                  static_cast<int>(kPackageTextCapacity - 1));
  if (units <= 0) return false;
  text[units] = L'\0';
  return !HasControlCharacter(text);
}

int ParseLines(const char* bytes, size_t size, PackageData* data) {
  bool seen[kFieldCount] = {};
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
      if (length != sizeof kFormatLine - 1 || memcmp(line, kFormatLine, length) != 0) return kPackageDataDamaged;
      formatRead = true;
      continue;
    }
    const char* equals = static_cast<const char*>(memchr(line, '=', length));
    if (!equals) return kPackageDataDamaged;
    const Field* field = FindField(line, static_cast<size_t>(equals - line));
    if (!field) return kPackageDataDamaged;
    size_t index = static_cast<size_t>(field - kFields);
    if (seen[index]) return kPackageDataDamaged;
    seen[index] = true;
    const char* value = equals + 1;
    if (!StoreValue(*field, value, static_cast<size_t>(line + length - value), data)) return kPackageDataDamaged;
  }
  for (bool found : seen)
    if (!found) return kPackageDataDamaged;
  // The uninstall key is one key name below the Uninstall key, and the
  // program lies inside the installation folder.
  if (wcschr(data->uninstallKeyName, L'\\') || !IsContainedRelativePath(data->programFile)) return kPackageDataDamaged;
  wcscpy(data->uninstallRegistryKey, kUninstallKeyParent);
  wcscat(data->uninstallRegistryKey, data->uninstallKeyName);
  return kPackageDataOk;
}

}  // namespace

static_assert(sizeof kUninstallKeyParent / sizeof(wchar_t) - 1 + kPackageTextCapacity <= kUninstallRegistryKeyCapacity,
              "the uninstall registry key must hold every key name");

int ParsePackageData(const char* bytes, size_t size, PackageData* data) {
  memset(data, 0, sizeof *data);
  int result = ParseLines(bytes, size, data);
  if (result != kPackageDataOk) memset(data, 0, sizeof *data);
  return result;
}

int LoadPackageData(const wchar_t* folder) {
  static char bytes[kPackageDataMaxBytes];
  memset(&g_package, 0, sizeof g_package);
  // Room for the longest runtime folder the launcher makes.
  wchar_t path[1024];
  size_t folderLength = wcslen(folder);
  size_t nameLength = sizeof kPackageDataFileName / sizeof(wchar_t);
  if (folderLength + nameLength > sizeof path / sizeof path[0]) return kPackageDataNotRead;
  wcscpy(path, folder);
  wcscat(path, kPackageDataFileName);

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
