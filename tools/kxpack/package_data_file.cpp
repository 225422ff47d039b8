#include "tools/kxpack/package_data_file.h"

#include "base/package_format.h"

namespace {

std::string Flag(bool value) { return value ? "1" : "0"; }

std::string Value(const PackageDescription& d, kxformat::PackageKey key) {
  switch (key) {
    case kxformat::kProductName:
      return d.name;
    case kxformat::kProductVersion:
      return d.version;
    case kxformat::kProductPublisher:
      return d.publisher;
    case kxformat::kProductUrl:
      return d.url;
    case kxformat::kProductUninstallKey:
      return d.uninstallKey;
    case kxformat::kProductWizardLabel:
      return d.wizardLabel;
    case kxformat::kProductWindowTitle:
      return d.windowTitle;
    case kxformat::kInstallFolder:
      return d.installFolder;
    case kxformat::kInstallStartMenuFolder:
      return d.startMenuFolder;
    case kxformat::kInstallProgram:
      return d.program;
    case kxformat::kInstallShortcut:
      return d.shortcut;
    case kxformat::kTasksStartProgram:
      return Flag(d.startProgram);
    case kxformat::kTasksOpenFolder:
      return Flag(d.openFolder);
    case kxformat::kTasksStartProgramSilent:
      return Flag(d.startProgramSilent);
    case kxformat::kTasksOpenFolderSilent:
      return Flag(d.openFolderSilent);
    case kxformat::kPackageKeyCount:
      break;
  }
  return "";
}

}  // namespace

std::string PackageDataText(const PackageDescription& d) {
  std::string text = std::string(kxformat::kPackageDataFormatLine) + "\n";
  for (size_t key = 0; key < kxformat::kPackageKeyCount; ++key)
    text += std::string(kxformat::kPackageKeys[key].key) + "=" + Value(d, static_cast<kxformat::PackageKey>(key)) +
            "\n";
  return text;
}
