#include "tools/kxpack/manifest_command.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <vector>

#include "tools/kxpack/built_package.h"
#include "tools/kxpack/file_io.h"
#include "tools/kxpack/folder_tree.h"
#include "tools/kxpack/package_description.h"
#include "tools/kxpack/winget_manifest.h"

namespace fs = std::filesystem;

namespace {

class ManifestWriter {
 public:
  explicit ManifestWriter(const ManifestOptions& options) : options_(options) {}

  int Run() {
    if (options_.installer.empty() || options_.url.empty() || options_.out.empty()) {
      std::cerr << "kxpack: manifest needs --installer, --url and --out\n";
      return 1;
    }
    CheckOptions();
    CheckOut();
    if (!options_.description.empty()) {
      std::string errors;
      if (!LoadDescriptionTexts(options_.description, &description_, &errors)) problems_.push_back(errors);
      else described_ = true;
    }
    ChooseListing();
    std::string error;
    if (ReadBuiltSetup(options_.installer, &package_, &error))
      CheckPackage();
    else
      problems_.push_back(error);
    if (!problems_.empty()) return Report();

    std::vector<std::pair<std::string, std::vector<unsigned char>>> files;
    for (const ManifestFile& file : WingetManifestFiles(values_))
      files.push_back({file.name, std::vector<unsigned char>(file.text.begin(), file.text.end())});
    if (!WriteFolderAtomically(options_.out, files, &error)) {
      problems_.push_back(error);
      return Report();
    }
    std::cout << "Wrote the winget manifest of " << values_.name << " " << values_.version << " into "
              << options_.out << ":";
    for (const auto& file : files) std::cout << " " << file.first;
    std::cout << "\n";
    return 0;
  }

 private:
  void Problem(const std::string& where, const std::string& value, const std::string& problem) {
    if (!problem.empty()) problems_.push_back(where + ": '" + PrintablePath(value) + "' " + problem);
  }

  void CheckOptions() {
    Problem("--url", options_.url, InstallerUrlProblem(options_.url));
    if (!options_.id.empty()) Problem("--id", options_.id, PackageIdentifierProblem(options_.id));
    if (!options_.licence.empty())
      Problem("--licence", options_.licence, ListingTextProblem(options_.licence, kMinLicenseChars, kMaxLicenseChars));
    if (!options_.shortDescription.empty())
      Problem("--short-description", options_.shortDescription,
              ListingTextProblem(options_.shortDescription, kMinShortDescriptionChars, kMaxShortDescriptionChars));
  }

  // --out names a new folder or an empty one; a link is refused, since the
  // new folder would take the link's place rather than fill its target.
  void CheckOut() {
    struct stat status;
    const std::string& out = options_.out;
    if (lstat(out.c_str(), &status) != 0) {
      if (errno != ENOENT) problems_.push_back("--out: cannot use " + out + ": " + std::strerror(errno));
      return;
    }
    std::error_code ec;
    if (S_ISLNK(status.st_mode))
      problems_.push_back("--out: " + out + " is a link; give a new folder, or an empty one, by its own path");
    else if (!S_ISDIR(status.st_mode))
      problems_.push_back("--out: " + out + " exists and is not a folder; kxpack writes the manifest into a new folder");
    else if (!fs::is_empty(out, ec) || ec)
      problems_.push_back("--out: " + out + " is not an empty folder; kxpack writes the manifest into a new folder");
  }

  // An option wins over the description's value.
  void ChooseListing() {
    struct Choice {
      const std::string& option;
      const std::string& described;
      std::string* value;
      const char* missing;
    } choices[] = {
        {options_.id, description_.manifestId, &values_.id, "a package identifier: --id Publisher.Product"},
        {options_.licence, description_.manifestLicence, &values_.license, "a licence: --licence TEXT"},
        {options_.shortDescription, description_.manifestShortDescription, &values_.shortDescription,
         "a short description: --short-description TEXT"},
    };
    for (const Choice& choice : choices) {
      *choice.value = choice.option.empty() ? choice.described : choice.option;
      // A description that failed its checks has reported itself already.
      if (choice.value->empty() && (options_.description.empty() || described_))
        problems_.push_back(std::string("the manifest needs ") + choice.missing +
                            ", or its key in the [manifest] table of the description given with --package");
    }
  }

  void CheckPackage() {
    const PackageDescription& built = package_.values;
    const std::string& installer = options_.installer;
    if (described_) {
      // The description may have changed since the setup program was built.
      const std::pair<const char*, std::string PackageDescription::*> keys[] = {
          {"product.name", &PackageDescription::name},
          {"product.version", &PackageDescription::version},
          {"product.publisher", &PackageDescription::publisher},
          {"product.url", &PackageDescription::url},
          {"product.uninstall_key", &PackageDescription::uninstallKey}};
      for (const auto& [key, field] : keys)
        if (description_.*field != built.*field)
          problems_.push_back(options_.description + ":" + std::to_string(description_.lines[key]) + ": " + key +
                              ": '" + description_.*field + "' here, but " + installer + " was built with '" +
                              built.*field + "'; build it again, or give the description it was built from");
    }
    Problem(installer + ": product.version", built.version, PackageVersionProblem(built.version));
    Problem(installer + ": product.name", built.name, ListingTextProblem(built.name, kMinNameChars, kMaxNameChars));
    Problem(installer + ": product.publisher", built.publisher,
            ListingTextProblem(built.publisher, kMinNameChars, kMaxNameChars));
    Problem(installer + ": product.uninstall_key", built.uninstallKey,
            ListingTextProblem(built.uninstallKey, 1, kMaxProductCodeChars));
    values_.version = built.version;
    values_.name = built.name;
    values_.publisher = built.publisher;
    values_.uninstallKey = built.uninstallKey;
    values_.currentUser = built.scope == kxformat::kScopeCurrentUser;
    values_.bothScopes = built.scope == kxformat::kScopeBoth;
    values_.installerUrl = options_.url;
    values_.installerSha256 = package_.sha256;
    values_.msiExitCodes = built.msiExitCodes;
    if (IsWingetUrl(built.url)) {
      values_.url = built.url;
    } else if (!built.url.empty()) {
      std::cerr << "kxpack: note: " << installer << ": product.url '" << built.url
                << "' is no http:// or https:// address, which winget needs; the manifest names no web page\n";
    }
  }

  int Report() {
    for (const std::string& problem : problems_) {
      std::string text = problem;
      for (size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += 9) text.replace(at, 1, "\nkxpack: ");
      std::cerr << "kxpack: " << text << "\n";
    }
    return 1;
  }

  const ManifestOptions& options_;
  PackageDescription description_;
  bool described_ = false;
  BuiltPackage package_;
  WingetManifestValues values_;
  std::vector<std::string> problems_;
};

}  // namespace

int WriteWingetManifest(const ManifestOptions& options) { return ManifestWriter(options).Run(); }
