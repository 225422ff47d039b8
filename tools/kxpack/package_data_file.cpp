#include "tools/kxpack/package_data_file.h"

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
  return text;
}
