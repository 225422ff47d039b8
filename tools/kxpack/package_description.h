// The package description (package.toml, docs/packaging.md): reading it with
// toml++, checking it strictly and filling in the defaults. Every problem is
// reported as "FILE:LINE: KEY: what is wrong".
#ifndef KX_TOOLS_KXPACK_PACKAGE_DESCRIPTION_H
#define KX_TOOLS_KXPACK_PACKAGE_DESCRIPTION_H

#include <map>
#include <string>
#include <vector>

#include "base/package_format.h"
#include "tools/kxpack/artwork.h"
#include "tools/kxpack/declarations.h"
#include "tools/kxpack/shipped_languages.h"

// Longest texts of the package in UTF-16 units, as the package data allows
// them (base/package_format.h); names leave room for what defaults add.
constexpr size_t kMaxTextUnits = kxformat::kPackageTextMaxUnits;
constexpr size_t kMaxNameUnits = kxformat::kPackageKeys[kxformat::kProductName].maxUnits;
constexpr size_t kMaxRegistryKeyNameUnits = kxformat::kPackageKeys[kxformat::kProductUninstallKey].maxUnits;
constexpr size_t kMaxShortcutUnits = kxformat::kPackageKeys[kxformat::kInstallShortcut].maxUnits;

// One language a package offers, with its pages and the texts in it.
struct PackageLanguage {
  ShippedLanguage table;     // the shipped table: name, id, what goes into the package
  std::string windowTitle;   // the description's, or kxpack's in this language
  std::string wizardLabel;
  std::vector<unsigned char> welcome, licence, finish;  // RTF: the language's own, the package's, or kxpack's
};

struct PackageDescription {
  std::string file;  // the description as given
  // [product]; wizardLabel and windowTitle are those of the first language
  std::string name, version, publisher, url, uninstallKey, wizardLabel, windowTitle;
  // [install]; program with '\' separators
  std::string installFolder, startMenuFolder, program, shortcut;
  // install.scope: kxformat::kScopeAllUsers or kScopeCurrentUser
  std::string scope = kxformat::kScopeAllUsers;
  // [tasks]
  bool startProgram = true, openFolder = true, startProgramSilent = false, openFolderSilent = false;
  // [install]: installs over a newer version without /ALLOWDOWNGRADE; ends
  // with 1618 and 3010 for "another run" and "restart needed"
  bool allowDowngrade = false, msiExitCodes = false;
  // [languages]: those offered, the first the fallback; a language box first
  std::vector<PackageLanguage> languages;
  bool askLanguage = false;
  // [pages], read and checked: the two wizard images at each scale given,
  // smallest first, and the icon (the pages are the languages')
  std::vector<ScaledImage> watermark, header;
  std::vector<unsigned char> icon;
  // [payload], absolute
  std::string payloadFolder;
  // [manifest]: the winget listing (kxpack manifest); empty when not given
  std::string manifestId, manifestLicence, manifestShortDescription;
  // [[association]], [[path]], [[environment]], [[registry]], [[run]]
  Declarations declarations;
  // "table.key" -> the line that gives it, or that of its table, or 1
  std::map<std::string, int> lines;
  // What is allowed but likely a mistake, as "FILE:LINE: KEY: warning: ...";
  // kxpack prints them and goes on.
  std::vector<std::string> warnings;
};

// Reads and checks the description. payloadOverride, when not empty, takes
// the place of payload.folder; shipped are the languages a package may
// offer (LoadShippedLanguages), English first. False with every problem
// found, one a line.
bool LoadPackageDescription(const std::string& path, const std::string& payloadOverride,
                            const ShippedLanguages& shipped, PackageDescription* description, std::string* errors);

// Reads and checks the description's keys and texts as LoadPackageDescription
// does, but neither the files it names nor the payload: what kxpack manifest
// takes from it. Pages, images and the payload folder stay empty.
bool LoadDescriptionTexts(const std::string& path, PackageDescription* description, std::string* errors);

// The uninstall key of a package that names none: the product name, '_' and
// eight hex digits of a hash of publisher and name. It stays the same across
// versions, so a new version replaces the old entry, and two products of the
// same name from different publishers do not share one.
std::string DefaultUninstallKey(const std::string& name, const std::string& publisher);

#endif
