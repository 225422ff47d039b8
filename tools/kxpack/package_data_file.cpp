#include "tools/kxpack/package_data_file.h"

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

#include "base/package_format.h"
#include "tools/kxpack/utf8.h"

namespace {

// The description's text for a key; null for a flag.
std::string PackageDescription::*TextField(kxformat::PackageKey key) {
  switch (key) {
    case kxformat::kProductName: return &PackageDescription::name;
    case kxformat::kProductVersion: return &PackageDescription::version;
    case kxformat::kProductPublisher: return &PackageDescription::publisher;
    case kxformat::kProductUrl: return &PackageDescription::url;
    case kxformat::kProductUninstallKey: return &PackageDescription::uninstallKey;
    case kxformat::kProductWizardLabel: return &PackageDescription::wizardLabel;
    case kxformat::kProductWindowTitle: return &PackageDescription::windowTitle;
    case kxformat::kInstallFolder: return &PackageDescription::installFolder;
    case kxformat::kInstallStartMenuFolder: return &PackageDescription::startMenuFolder;
    case kxformat::kInstallProgram: return &PackageDescription::program;
    case kxformat::kInstallShortcut: return &PackageDescription::shortcut;
    default: return nullptr;
  }
}

// The description's flag for a key; null for a text.
bool PackageDescription::*FlagField(kxformat::PackageKey key) {
  switch (key) {
    case kxformat::kTasksStartProgram: return &PackageDescription::startProgram;
    case kxformat::kTasksOpenFolder: return &PackageDescription::openFolder;
    case kxformat::kTasksStartProgramSilent: return &PackageDescription::startProgramSilent;
    case kxformat::kTasksOpenFolderSilent: return &PackageDescription::openFolderSilent;
    default: return nullptr;
  }
}

std::string Value(const PackageDescription& d, kxformat::PackageKey key) {
  if (auto text = TextField(key)) return d.*text;
  if (auto flag = FlagField(key)) return d.*flag ? "1" : "0";
  return "";
}

// False for a flag that is neither "0" nor "1".
bool Assign(PackageDescription* d, kxformat::PackageKey key, const std::string& value) {
  if (auto text = TextField(key)) {
    d->*text = value;
    return true;
  }
  auto flag = FlagField(key);
  if (!flag || (value != "0" && value != "1")) return false;
  d->*flag = value == "1";
  return true;
}

// The languages' lines (base/package_format.h): none for a package in
// English alone that asks nothing, whose data stays as it always was.
std::string LanguageDataText(const PackageDescription& d) {
  const bool englishAlone =
      d.languages.empty() || (d.languages.size() == 1 && d.languages.front().table.id == kxformat::kEnglishLanguageId);
  if (!d.askLanguage && englishAlone) return "";
  std::string ids;
  for (const PackageLanguage& language : d.languages) ids += (ids.empty() ? "" : ",") + std::to_string(language.table.id);
  std::string text = std::string(kxformat::kLanguagesKey) + "=" + ids + "\n";
  if (d.askLanguage) text += std::string(kxformat::kLanguagesAskKey) + "=1\n";
  // A language's title and label where they differ from the first's.
  for (const PackageLanguage& language : d.languages) {
    const std::string id = std::to_string(language.table.id);
    if (language.windowTitle != d.windowTitle)
      text += std::string(kxformat::kPackageKeys[kxformat::kProductWindowTitle].key) + "." + id + "=" +
              language.windowTitle + "\n";
    if (language.wizardLabel != d.wizardLabel)
      text += std::string(kxformat::kPackageKeys[kxformat::kProductWizardLabel].key) + "." + id + "=" +
              language.wizardLabel + "\n";
  }
  return text;
}

// A language id as kxpack writes it: 1 to 65535, decimal, no leading zero.
bool IsLanguageId(const std::string& text) {
  return !text.empty() && text.size() <= 5 && text[0] != '0' &&
         text.find_first_not_of("0123456789") == std::string::npos && std::stoul(text) <= 0xFFFF;
}

// Takes the languages' lines out of found: false with what is wrong when
// one of them is not as the programs take it.
bool TakeLanguageLines(std::map<std::string, std::string>* found, std::string* error) {
  std::vector<std::string> ids;
  auto list = found->find(kxformat::kLanguagesKey);
  if (list != found->end()) {
    for (size_t start = 0;;) {
      const size_t comma = list->second.find(',', start);
      ids.push_back(list->second.substr(start, comma - start));
      if (!IsLanguageId(ids.back()) || std::count(ids.begin(), ids.end(), ids.back()) > 1 ||
          ids.size() > kxformat::kPackageLanguagesMax) {
        *error = std::string(kxformat::kLanguagesKey) + " is not a list of distinct language ids";
        return false;
      }
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
    found->erase(list);
  }
  auto ask = found->find(kxformat::kLanguagesAskKey);
  if (ask != found->end()) {
    if (ask->second != "0" && ask->second != "1") {
      *error = std::string(kxformat::kLanguagesAskKey) + " is neither 0 nor 1";
      return false;
    }
    found->erase(ask);
  }
  for (auto entry = found->begin(); entry != found->end();) {
    const std::string& key = entry->first;
    bool perLanguage = false;
    for (kxformat::PackageKey text : {kxformat::kProductWindowTitle, kxformat::kProductWizardLabel}) {
      const std::string prefix = std::string(kxformat::kPackageKeys[text].key) + ".";
      perLanguage |= key.compare(0, prefix.size(), prefix) == 0;
    }
    if (!perLanguage) {
      ++entry;
      continue;
    }
    const std::string id = key.substr(key.rfind('.') + 1);
    if (std::find(ids.begin(), ids.end(), id) == ids.end() || entry->second.empty()) {
      *error = key + " names no language of " + kxformat::kLanguagesKey + " or is empty";
      return false;
    }
    entry = found->erase(entry);
  }
  return true;
}

}  // namespace

std::string PackageDataText(const PackageDescription& d) {
  std::string text = std::string(kxformat::kPackageDataFormatLine) + "\n";
  for (size_t key = 0; key < kxformat::kPackageKeyCount; ++key)
    text += std::string(kxformat::kPackageKeys[key].key) + "=" + Value(d, static_cast<kxformat::PackageKey>(key)) +
            "\n";
  if (d.allowDowngrade) text += std::string(kxformat::kAllowDowngradeKey) + "=1\n";
  if (d.msiExitCodes) text += std::string(kxformat::kMsiExitCodesKey) + "=1\n";
  text += LanguageDataText(d);
  // A package for all users has no scope line, so its data stays as it was.
  if (d.scope != kxformat::kScopeAllUsers) text += std::string(kxformat::kInstallScopeKey) + "=" + d.scope + "\n";
  return text + DeclarationDataText(d.declarations);
}

bool ParsePackageData(const std::string& text, PackageDescription* values, std::string* error) {
  std::map<std::string, std::string> found;
  size_t at = 0;
  for (int line = 1; at < text.size(); ++line) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) {
      *error = "line " + std::to_string(line) + " has no line end";
      return false;
    }
    std::string content = text.substr(at, end - at);
    if (!content.empty() && content.back() == '\r') content.pop_back();
    at = end + 1;
    if (line == 1) {
      if (content != kxformat::kPackageDataFormatLine) {
        *error = "it does not begin with \"" + std::string(kxformat::kPackageDataFormatLine) + "\"";
        return false;
      }
      continue;
    }
    size_t equals = content.find('=');
    std::string key = content.substr(0, equals);
    std::u32string points;
    size_t bad = 0;
    if (equals == std::string::npos || !DecodeUtf8(content, &points, &bad)) {
      *error = "line " + std::to_string(line) + " is not a key=value line of UTF-8 text";
      return false;
    }
    if (!found.emplace(key, content.substr(equals + 1)).second) {
      *error = "it gives " + key + " twice";
      return false;
    }
  }
  if (at == 0) {
    *error = "it is empty";
    return false;
  }
  if (!TakeLanguageLines(&found, error)) return false;
  if (!TakeDeclarationLines(&found, error)) return false;
  PackageDescription parsed;
  for (auto [key, flag] : {std::pair{kxformat::kAllowDowngradeKey, &PackageDescription::allowDowngrade},
                           std::pair{kxformat::kMsiExitCodesKey, &PackageDescription::msiExitCodes}}) {
    auto line = found.find(key);
    if (line == found.end()) continue;
    if (line->second != "1") {
      *error = std::string(key) + " is not 1";
      return false;
    }
    parsed.*flag = true;
    found.erase(line);
  }
  for (size_t index = 0; index < kxformat::kPackageKeyCount; ++index) {
    const kxformat::PackageKeyRule& rule = kxformat::kPackageKeys[index];
    auto value = found.find(rule.key);
    if (value == found.end()) {
      *error = "it lacks " + std::string(rule.key);
      return false;
    }
    if (!Assign(&parsed, static_cast<kxformat::PackageKey>(index), value->second)) {
      *error = std::string(rule.key) + " is neither 0 nor 1";
      return false;
    }
    found.erase(value);
  }
  auto scope = found.find(kxformat::kInstallScopeKey);
  if (scope != found.end()) {
    if (scope->second != kxformat::kScopeCurrentUser && scope->second != kxformat::kScopeAllUsers &&
        scope->second != kxformat::kScopeBoth) {
      *error = std::string(kxformat::kInstallScopeKey) + " is none of the scopes";
      return false;
    }
    parsed.scope = scope->second;
    found.erase(scope);
  }
  if (!found.empty()) {
    *error = "it holds an unknown key, " + found.begin()->first;
    return false;
  }
  *values = parsed;
  return true;
}
