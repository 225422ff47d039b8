#include "tools/kxpack/package_data_file.h"

namespace {

// The languages' lines: none for a package in English alone that asks
// nothing, whose data stays as it always was.
std::string LanguageDataText(const PackageDescription& d) {
  if (!d.askLanguage && d.languages.size() == 1 && d.languages.front().table.id == kEnglishLanguageId) return "";
  std::string ids;
  for (const PackageLanguage& language : d.languages) ids += (ids.empty() ? "" : ",") + std::to_string(language.table.id);
  std::string text = "languages=" + ids + "\n";
  if (d.askLanguage) text += "languages.ask=1\n";
  // A language's title and label where they differ from the first's.
  for (const PackageLanguage& language : d.languages) {
    const std::string id = std::to_string(language.table.id);
    if (language.windowTitle != d.windowTitle) text += "product.window_title." + id + "=" + language.windowTitle + "\n";
    if (language.wizardLabel != d.wizardLabel) text += "product.wizard_label." + id + "=" + language.wizardLabel + "\n";
  }
  return text;
}

}  // namespace

std::string PackageDataText(const PackageDescription& d) {
  const std::pair<const char*, std::string> lines[] = {
      {"product.name", d.name},
      {"product.version", d.version},
      {"product.publisher", d.publisher},
      {"product.url", d.url},
      {"product.uninstall_key", d.uninstallKey},
      {"product.wizard_label", d.wizardLabel},
      {"product.window_title", d.windowTitle},
      {"install.folder", d.installFolder},
      {"install.start_menu_folder", d.startMenuFolder},
      {"install.program", d.program},
      {"install.shortcut", d.shortcut},
      {"tasks.start_program", d.startProgram ? "1" : "0"},
      {"tasks.open_folder", d.openFolder ? "1" : "0"},
      {"tasks.start_program_silent", d.startProgramSilent ? "1" : "0"},
      {"tasks.open_folder_silent", d.openFolderSilent ? "1" : "0"},
  };
  std::string text = "kxpackage 1\n";
  for (const auto& [key, value] : lines) text += std::string(key) + "=" + value + "\n";
  return text + LanguageDataText(d);
}
