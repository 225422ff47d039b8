#include "tools/kxpack/prebuilt_parts.h"

#include <filesystem>

namespace fs = std::filesystem;

bool FindPrebuiltParts(const std::string& given, std::string* folder, std::string* error) {
  if (!given.empty()) {
    *folder = fs::absolute(given).lexically_normal().string();
  } else {
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (ec) {
      *error = "cannot find kxpack's own folder (" + ec.message() + "); give --parts DIR";
      return false;
    }
    *folder = (self.parent_path() / "parts").string();
  }
  for (const char* part : {kSetupStubPart, kUninstallerStubPart, kProgramLibraryPart, kCoreLibraryPart, kLanguageTablePart,
                           kFilePropertiesPart, kSetupDialogsPart, kUninstallerDialogsPart, kStarterPart}) {
    std::error_code ec;
    if (!fs::exists(fs::path(*folder) / part, ec)) {
      *error = "the prebuilt parts in " + *folder + " lack " + part +
               " (build them with scripts/build.sh, or give --parts DIR)";
      return false;
    }
  }
  return true;
}
