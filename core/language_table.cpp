#include "core/language_table.h"

#include <windows.h>

#include "base/package_format.h"
#include "core/decimal_text.h"
#include "core/module_files.h"
#include "core/srw_guard.h"

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

}  // namespace

bool ParseLanguageTable(std::string_view bytes, LanguageTable* table, std::wstring* error) {
  std::wstring text = DecodeAnsi(bytes);
  size_t lineNumber = 0;
  size_t start = 0;
  LanguageTable parsed;
  while (start < text.size()) {
    size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    std::wstring_view line(text.data() + start, end - start);
    if (!line.empty() && line.back() == L'\r') line.remove_suffix(1);
    start = end + 1;
    ++lineNumber;

    if (lineNumber == 1) {
      if (line != L"[KXLang]") {
        *error = LineError(lineNumber, L"expected [KXLang]");
        return false;
      }
    } else if (lineNumber == 2) {
      parsed.name = std::wstring(line);
    } else if (lineNumber == 3) {
      parsed.languageId = static_cast<unsigned>(wcstoul(std::wstring(line).c_str(), nullptr, 10));
    } else if (!line.empty()) {
      size_t equals = line.find(L'=');
      if (line[0] != L'#' || equals == std::wstring_view::npos || equals < 2) {
        *error = LineError(lineNumber, L"expected #key=text");
        return false;
      }
      parsed.texts[LowerAscii(line.substr(0, equals))] = std::wstring(line.substr(equals + 1));
    }
  }
  if (lineNumber < 3) {
    *error = LineError(lineNumber + 1, L"header incomplete");
    return false;
  }
  *table = std::move(parsed);
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
