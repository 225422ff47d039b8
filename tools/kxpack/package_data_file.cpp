#include "tools/kxpack/package_data_file.h"

#include <map>

#include "tools/kxpack/utf8.h"

namespace {

constexpr char kFormatLine[] = "kxpackage 1";

const std::pair<const char*, std::string PackageDescription::*> kTexts[] = {
    {"product.name", &PackageDescription::name},
    {"product.version", &PackageDescription::version},
    {"product.publisher", &PackageDescription::publisher},
    {"product.url", &PackageDescription::url},
    {"product.uninstall_key", &PackageDescription::uninstallKey},
    {"product.wizard_label", &PackageDescription::wizardLabel},
    {"product.window_title", &PackageDescription::windowTitle},
    {"install.folder", &PackageDescription::installFolder},
    {"install.start_menu_folder", &PackageDescription::startMenuFolder},
    {"install.program", &PackageDescription::program},
    {"install.shortcut", &PackageDescription::shortcut},
};

const std::pair<const char*, bool PackageDescription::*> kFlags[] = {
    {"tasks.start_program", &PackageDescription::startProgram},
    {"tasks.open_folder", &PackageDescription::openFolder},
    {"tasks.start_program_silent", &PackageDescription::startProgramSilent},
    {"tasks.open_folder_silent", &PackageDescription::openFolderSilent},
};

}  // namespace

std::string PackageDataText(const PackageDescription& d) {
  std::string text = std::string(kFormatLine) + "\n";
  for (const auto& [key, field] : kTexts) text += std::string(key) + "=" + d.*field + "\n";
  for (const auto& [key, field] : kFlags) text += std::string(key) + "=" + (d.*field ? "1" : "0") + "\n";
  return text;
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
      if (content != kFormatLine) {
        *error = "it does not begin with \"" + std::string(kFormatLine) + "\"";
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
  PackageDescription parsed;
  for (const auto& [key, field] : kTexts) {
    auto value = found.find(key);
    if (value == found.end()) {
      *error = "it lacks " + std::string(key);
      return false;
    }
    parsed.*field = value->second;
    found.erase(value);
  }
  for (const auto& [key, field] : kFlags) {
    auto value = found.find(key);
    if (value == found.end() || (value->second != "0" && value->second != "1")) {
      *error = value == found.end() ? "it lacks " + std::string(key) : std::string(key) + " is neither 0 nor 1";
      return false;
    }
    parsed.*field = value->second == "1";
    found.erase(value);
  }
  if (!found.empty()) {
    *error = "it holds an unknown key, " + found.begin()->first;
    return false;
  }
  *values = parsed;
  return true;
}
