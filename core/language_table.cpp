#include "core/language_table.h"

#include <windows.h>

#include "base/package_format.h"
#include "core/decimal_text.h"
#include "core/language_table_format.h"
#include "core/module_files.h"
#include "core/srw_guard.h"
#include "core/utf16_text.h"

namespace kxcore {
namespace {

std::wstring LowerAscii(std::wstring_view text) {
  std::wstring lower(text);
  for (wchar_t& c : lower)
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  return lower;
}

std::wstring LineError(size_t line, const wchar_t* what) {
  return L"kxlng.dat, line " + DecimalText(line) + L": " + what;
}

struct ActiveTable {
  SRWLOCK lock = SRWLOCK_INIT;
  bool loaded = false;
  LanguageTable table;
};

ActiveTable& Active() {
  static ActiveTable active;
  return active;
}

void LoadIfNeeded() {
  ActiveTable& active = Active();
  SrwGuard guard(&active.lock, SrwGuard::kExclusive);
  if (!active.loaded) {
    std::string bytes;
    std::wstring error;
    if (ReadModuleSiblingFile(kxformat::kLanguageTableFileW, &bytes)) ParseLanguageTable(bytes, &active.table, &error);
    active.loaded = true;
  }
}

// The lines of a decoded table, read by the portable reader
// (core/language_table_format.h).
bool ParseLanguageText(const std::wstring& text, LanguageTable* table, std::wstring* error) {
  LanguageTableLines lines;
  LanguageTableFault fault;
  if (!ReadLanguageTableLines(Utf16View(text), &lines, &fault)) {
    *error = LineError(fault.line, reinterpret_cast<const wchar_t*>(fault.what));
    return false;
  }
  LanguageTable parsed;
  parsed.name = WideText(lines.name);
  parsed.languageId = static_cast<unsigned>(wcstoul(WideText(lines.idLine).c_str(), nullptr, 10));
  for (const auto& [key, value] : lines.texts) parsed.texts[LowerAscii(WideView(key))] = WideText(value);
  *table = std::move(parsed);
  return true;
}

}  // namespace

bool ParseLanguageTable(std::string_view bytes, LanguageTable* table, std::wstring* error) {
  // The English table is in the system's code page.
  return ParseLanguageText(DecodeAnsi(bytes), table, error);
}

bool ParseTranslatedLanguageTable(std::string_view bytes, LanguageTable* table, std::wstring* error) {
  const std::wstring text = DecodeText(bytes, CP_UTF8, MB_ERR_INVALID_CHARS);
  if (text.empty() && !bytes.empty()) {
    *error = L"kxlng.dat: not UTF-8";
    return false;
  }
  return ParseLanguageText(text, table, error);
}

bool ActivateLanguageTable(unsigned languageId) { return ActivateLanguageTableFrom(LibraryFolder(), languageId); }

bool ActivateLanguageTableFrom(const std::wstring& folder, unsigned languageId) {
  std::string bytes;
  std::wstring error;
  LanguageTable table;
  if (!ReadWholeFile(folder + kxformat::kLanguageTableFileW, &bytes) || !ParseLanguageTable(bytes, &table, &error))
    return false;
  if (languageId != table.languageId) {
    LanguageTable translation;
    const std::wstring name = folder + L"kxlng" + DecimalText(languageId) + L".dat";
    if (!ReadWholeFile(name, &bytes) || !ParseTranslatedLanguageTable(bytes, &translation, &error) ||
        translation.languageId != languageId)
      return false;
    translation.texts.insert(table.texts.begin(), table.texts.end());  // keeps the translation's own
    table = std::move(translation);
  }
  SetActiveLanguageTable(std::move(table));
  return true;
}

const std::wstring* FindLanguageText(std::wstring_view key) {
  const LanguageTable& table = ActiveLanguageTable();
  auto found = table.texts.find(LowerAscii(key));
  return found == table.texts.end() ? nullptr : &found->second;
}

const LanguageTable& ActiveLanguageTable() {
  LoadIfNeeded();
  return Active().table;
}

void SetActiveLanguageTable(LanguageTable table) {
  ActiveTable& active = Active();
  SrwGuard guard(&active.lock, SrwGuard::kExclusive);
  active.table = std::move(table);
  active.loaded = true;
}

}  // namespace kxcore
