#include "tools/kxpack/shipped_languages.h"

#include <algorithm>
#include <filesystem>
#include <regex>

#include "tools/kxpack/build_inputs.h"
#include "tools/kxpack/file_io.h"
#include "tools/kxpack/utf8.h"

namespace fs = std::filesystem;

namespace {

// Keys only kxpack reads: the texts it makes for a package.
constexpr char kPackageKeyPrefix[] = "#pkg";

bool IsPackageKey(const std::string& key) {
  return Lower(key).compare(0, sizeof kPackageKeyPrefix - 1, kPackageKeyPrefix) == 0;
}

}  // namespace

bool ParseShippedLanguage(const std::vector<unsigned char>& bytes, const std::string& fileName,
                          ShippedLanguage* language, std::string* error) {
  const std::string text(bytes.begin(), bytes.end());
  std::u32string points;
  size_t bad = 0;
  if (!DecodeUtf8(text, &points, &bad)) {
    *error = fileName + ": byte " + std::to_string(bad) + " is not UTF-8";
    return false;
  }
  ShippedLanguage parsed;
  std::string table;
  size_t lineNumber = 0;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string raw = text.substr(start, end + 1 - start);  // with its line end, as it stands
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    ++lineNumber;
    const auto fail = [&](const std::string& what) {
      *error = fileName + ", line " + std::to_string(lineNumber) + ": " + what;
      return false;
    };
    if (lineNumber == 1 && line != "[KXLang]") return fail("expected [KXLang]");
    if (lineNumber == 2) {
      if (line.empty() || !std::all_of(line.begin(), line.end(), [](char c) { return std::isalpha(c & 0xFF) && c > 0; }))
        return fail("the language name must be letters only");
      parsed.name = line;
    }
    if (lineNumber == 3) {
      if (line.empty() || line.size() > 5 || !std::all_of(line.begin(), line.end(), ::isdigit) ||
          std::stoul(line) == 0 || std::stoul(line) > 0xFFFF)
        return fail("the language id must be a number from 1 to 65535");
      parsed.id = static_cast<unsigned>(std::stoul(line));
    }
    // A comment of the table's editors (';' first) stays out of the runtime.
    if (lineNumber > 3 && !line.empty() && line[0] == ';') continue;
    if (lineNumber > 3 && !line.empty()) {
      const size_t equals = line.find('=');
      if (line[0] != '#' || equals == std::string::npos || equals < 2) return fail("expected #key=text");
      const std::string key = line.substr(0, equals);
      if (IsPackageKey(key)) {
        parsed.packageTexts.emplace(Lower(key.substr(1)), line.substr(equals + 1));
        continue;
      }
    }
    table += raw;
  }
  if (lineNumber < 3) {
    *error = fileName + ": the header ([KXLang], name, id) is incomplete";
    return false;
  }
  const bool english = fileName == "kxlng.dat";
  if (english && parsed.id != kEnglishLanguageId) {
    *error = fileName + ": the English table must have the id " + std::to_string(kEnglishLanguageId);
    return false;
  }
  parsed.runtimeFile = english ? fileName : "kxlng" + std::to_string(parsed.id) + ".dat";
  if (parsed.runtimeFile != fileName) {
    *error = fileName + ": the language id " + std::to_string(parsed.id) + " is not the one of the file name";
    return false;
  }
  parsed.table.assign(table.begin(), table.end());
  *language = std::move(parsed);
  return true;
}

bool LoadShippedLanguages(const std::string& partsFolder, ShippedLanguages* languages, std::string* error) {
  languages->clear();
  std::vector<std::string> files = {partsFolder + "/kxlng.dat"};
  const fs::path folder = fs::path(partsFolder) / kLanguagesPart;
  std::error_code ec;
  std::vector<std::string> translated;
  for (fs::directory_iterator it(folder, ec); !ec && it != fs::directory_iterator(); it.increment(ec))
    if (std::regex_match(it->path().filename().string(), std::regex("kxlng[0-9]+\\.dat")))
      translated.push_back(it->path().string());
  if (ec && ec != std::errc::no_such_file_or_directory) {
    *error = "cannot read the prebuilt parts' " + folder.string() + ": " + ec.message();
    return false;
  }
  std::sort(translated.begin(), translated.end());
  files.insert(files.end(), translated.begin(), translated.end());
  for (const std::string& file : files) {
    std::vector<unsigned char> bytes;
    ShippedLanguage language;
    if (!ReadInputFile(file, kMaxPartBytes, &bytes, error)) return false;
    if (!ParseShippedLanguage(bytes, fs::path(file).filename().string(), &language, error)) {
      *error = "the prebuilt part " + file + " is damaged: " + *error;
      return false;
    }
    for (const ShippedLanguage& other : *languages) {
      if (Lower(other.name) == Lower(language.name) || other.id == language.id) {
        *error = "the prebuilt parts " + other.runtimeFile + " and " + file + " are both " + language.name;
        return false;
      }
    }
    languages->push_back(std::move(language));
  }
  std::sort(languages->begin() + 1, languages->end(),
            [](const ShippedLanguage& a, const ShippedLanguage& b) { return a.id < b.id; });
  return true;
}

const ShippedLanguage* FindShippedLanguage(const ShippedLanguages& languages, const std::string& name) {
  for (const ShippedLanguage& language : languages)
    if (Lower(language.name) == Lower(name)) return &language;
  return nullptr;
}

const std::string& PackageText(const ShippedLanguages& languages, const ShippedLanguage& language,
                               const std::string& key) {
  static const std::string kNone;
  auto found = language.packageTexts.find(key);
  if (found != language.packageTexts.end()) return found->second;
  if (languages.empty()) return kNone;
  found = languages.front().packageTexts.find(key);
  return found != languages.front().packageTexts.end() ? found->second : kNone;
}

std::string FillReferences(const std::string& text, const std::map<std::string, std::string>& values,
                           const std::function<std::string(const std::string&)>& escape) {
  std::string result;
  size_t done = 0;
  const auto flush = [&](size_t end) {
    const std::string plain = text.substr(done, end - done);
    result += escape ? escape(plain) : plain;
  };
  for (size_t at = text.find('%'); at != std::string::npos; at = text.find('%', at + 1)) {
    const size_t close = text.find('%', at + 1);
    if (close == std::string::npos) break;
    auto value = values.find(text.substr(at + 1, close - at - 1));
    if (value == values.end()) continue;
    flush(at);
    result += value->second;
    done = close + 1;
    at = close;
  }
  flush(text.size());
  return result;
}
