#include "tools/kxpack/winget_manifest.h"

#include <cctype>
#include <cstdio>

#include "base/exit_codes.h"
#include "tools/kxpack/utf8.h"

namespace {

constexpr char kSchemaBase[] = "https://aka.ms/winget-manifest.";

// What the programs take on their command line (docs/deployment.md). A
// silent run with progress is the same run as a silent one: the programs
// show no progress without their wizard, and winget shows its own. Both
// answer every message box unseen, since winget's default mode runs in
// scripts as often as at a screen. /D= must come last (the rest of the
// line is the folder): winget gives the location after the mode switches,
// as installers made with NSIS need too. The log file is quoted because
// winget's log folder may hold blanks.
constexpr char kSilentSwitches[] = "/S /SUPPRESSMSGBOXES";
constexpr char kLocationSwitch[] = "/D=<INSTALLPATH>";
constexpr char kLogSwitch[] = "/LOG=\"<LOGPATH>\"";
// A package that offers both scopes is listed as two installers of the
// same file, each naming its scope: winget's --scope then picks one, and
// its switch makes the run install for that scope whatever the rights.
constexpr char kAllUsersSwitch[] = "/ALLUSERS";
constexpr char kCurrentUserSwitch[] = "/CURRENTUSER";

bool IsControl(char32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

// As Python's \s, which the schemas' patterns are checked with: the ASCII
// blanks and every Unicode space and separator.
bool IsBlank(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || (c >= 0x1C && c <= 0x20) || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

bool IsForbiddenInName(char32_t c) {
  for (char forbidden : std::string("\\/:*?\"<>|"))
    if (c == static_cast<char32_t>(forbidden)) return true;
  return false;
}

// A character as a message shows it: itself, or U+XXXX when it cannot be seen.
std::string Shown(char32_t c) {
  char text[16];
  if (IsControl(c) || IsBlank(c)) {
    std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(c));
    return text;
  }
  return "'" + EncodeUtf8(c) + "'";
}

bool Decode(const std::string& text, std::u32string* points) {
  size_t bad = 0;
  return DecodeUtf8(text, points, &bad);
}

std::string Chars(size_t count) { return std::to_string(count) + (count == 1 ? " character" : " characters"); }

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  return true;
}

std::string Header(const std::string& type) {
  return "# yaml-language-server: $schema=" + std::string(kSchemaBase) + type + "." + kWingetManifestVersion +
         ".schema.json\n\n";
}

std::string Footer(const std::string& type) {
  return "ManifestType: " + type + "\nManifestVersion: " + kWingetManifestVersion + "\n";
}

std::string Line(const std::string& indent, const std::string& key, const std::string& value) {
  return indent + key + ": " + YamlQuoted(value) + "\n";
}

std::string VersionFile(const WingetManifestValues& v) {
  return Header("version") + Line("", "PackageIdentifier", v.id) + Line("", "PackageVersion", v.version) +
         "DefaultLocale: " + kWingetLocale + "\n" + Footer("version");
}

// One entry of Installers; scope and switch only for a package that offers both.
std::string InstallerEntry(const WingetManifestValues& v, const char* scope, const char* scopeSwitch, bool elevates) {
  std::string text = "  - Architecture: x64\n";
  if (scope) text += std::string("    Scope: ") + scope + "\n";
  text += Line("    ", "InstallerUrl", v.installerUrl) + Line("    ", "InstallerSha256", v.installerSha256);
  // winget takes the switches given here together with those of the root.
  if (scopeSwitch) text += "    InstallerSwitches:\n" + Line("      ", "Custom", scopeSwitch);
  if (elevates) text += "    ElevationRequirement: elevatesSelf\n";
  return text;
}

std::string InstallerFile(const WingetManifestValues& v) {
  std::string text = Header("installer") + Line("", "PackageIdentifier", v.id) + Line("", "PackageVersion", v.version);
  // A package for all users installs with administrator rights the
  // programs ask for themselves; one for the current user asks for none.
  text += "InstallerType: exe\n";
  if (!v.bothScopes) text += std::string("Scope: ") + (v.currentUser ? "user" : "machine") + "\n";
  text += "InstallModes:\n  - interactive\n  - silent\n  - silentWithProgress\n";
  text += "InstallerSwitches:\n" + Line("  ", "Silent", kSilentSwitches) + Line("  ", "SilentWithProgress", kSilentSwitches) +
          Line("  ", "InstallLocation", kLocationSwitch) + Line("  ", "Log", kLogSwitch);
  text += "ExpectedReturnCodes:\n";
  for (const ReturnCodeResponse& mapping : WingetReturnCodeResponses(v.msiExitCodes))
    text += "  - InstallerReturnCode: " + std::to_string(mapping.code) + "\n    ReturnResponse: " + mapping.response + "\n";
  // An installed version is replaced in place; the uninstall key is the
  // entry winget finds the installation by.
  text += std::string("UpgradeBehavior: install\n") + (v.currentUser || v.bothScopes ? "" : "ElevationRequirement: elevatesSelf\n") +
          Line("", "ProductCode", v.uninstallKey);
  // DisplayVersion is left out: it is the PackageVersion.
  text += "AppsAndFeaturesEntries:\n" + Line("  - ", "DisplayName", v.name) + Line("    ", "Publisher", v.publisher) +
          Line("    ", "ProductCode", v.uninstallKey);
  text += "Installers:\n";
  if (v.bothScopes)
    text += InstallerEntry(v, "user", kCurrentUserSwitch, false) + InstallerEntry(v, "machine", kAllUsersSwitch, true);
  else
    text += InstallerEntry(v, nullptr, nullptr, false);
  return text + Footer("installer");
}

std::string LocaleFile(const WingetManifestValues& v) {
  std::string text = Header("defaultLocale") + Line("", "PackageIdentifier", v.id) + Line("", "PackageVersion", v.version) +
                     "PackageLocale: " + kWingetLocale + "\n" + Line("", "Publisher", v.publisher);
  if (!v.url.empty()) text += Line("", "PublisherUrl", v.url);
  text += Line("", "PackageName", v.name);
  if (!v.url.empty()) text += Line("", "PackageUrl", v.url);
  text += Line("", "License", v.license) + Line("", "ShortDescription", v.shortDescription);
  return text + Footer("defaultLocale");
}

}  // namespace

std::vector<ManifestFile> WingetManifestFiles(const WingetManifestValues& values) {
  return {{values.id + ".yaml", "version", VersionFile(values)},
          {values.id + ".installer.yaml", "installer", InstallerFile(values)},
          {values.id + ".locale." + kWingetLocale + ".yaml", "defaultLocale", LocaleFile(values)}};
}

std::vector<ReturnCodeResponse> WingetReturnCodeResponses(bool msiExitCodes) {
  // A code base/exit_codes.h gains gets its row here when winget has a
  // response for it. docs/deployment.md says why the others have none.
  std::vector<ReturnCodeResponse> responses = {
      {kExitCancelled, "cancelledByUser"},
      {kExitAnotherInstance, "installInProgress"},
      {kExitDowngradeRefused, "downgrade"},
      {kExitRestartNeeded, "rebootRequiredToFinish"},
      {kExitFilesInUse, "packageInUse"},
  };
  for (ReturnCodeResponse& response : responses)
    response.code = DeploymentExitCode(response.code, msiExitCodes);
  return responses;
}

std::string PackageIdentifierProblem(const std::string& id) {
  std::u32string points;
  if (!Decode(id, &points)) return "is not UTF-8 text";
  if (points.empty()) return "is empty";
  for (char32_t c : points)
    if (IsBlank(c) || IsControl(c) || IsForbiddenInName(c))
      return "holds " + Shown(c) + ", which a winget package identifier must not";
  if (points.size() > kMaxIdentifierChars) return "is longer than " + Chars(kMaxIdentifierChars);
  size_t names = 1, length = 0;
  for (char32_t c : points) {
    if (c != '.') {
      if (++length > 32) return "has a name longer than 32 characters between its dots";
      continue;
    }
    if (length == 0) break;
    ++names, length = 0;
  }
  if (length == 0) return "has an empty name between its dots; write Publisher.Product";
  if (names < 2 || names > 8) return "must be 2 to 8 names joined by dots, such as Publisher.Product";
  return "";
}

std::string PackageVersionProblem(const std::string& version) {
  std::u32string points;
  if (!Decode(version, &points)) return "is not UTF-8 text";
  if (points.empty()) return "is empty";
  for (char32_t c : points)
    if (IsControl(c) || IsForbiddenInName(c)) return "holds " + Shown(c) + ", which a winget package version must not";
  if (points.size() > kMaxVersionChars) return "is longer than the " + Chars(kMaxVersionChars) + " of a winget version";
  return "";
}

std::string ListingTextProblem(const std::string& text, size_t least, size_t most) {
  std::u32string points;
  if (!Decode(text, &points)) return "is not UTF-8 text";
  for (char32_t c : points)
    if (IsControl(c)) return "holds a control character (a line break or tab, say)";
  if (points.size() < least) return "is shorter than the " + Chars(least) + " winget takes";
  if (points.size() > most) return "is longer than the " + Chars(most) + " winget takes";
  return "";
}

bool IsWingetUrl(const std::string& url) {
  std::u32string points;
  if (!Decode(url, &points) || points.size() > kMaxUrlChars) return false;
  for (char32_t c : points)
    if (c == '\n') return false;
  size_t scheme = StartsWithNoCase(url, "https://") ? 8 : StartsWithNoCase(url, "http://") ? 7 : 0;
  return scheme != 0 && url.size() > scheme;
}

std::string InstallerUrlProblem(const std::string& url) {
  std::u32string points;
  if (!Decode(url, &points)) return "is not UTF-8 text";
  for (char32_t c : points)
    if (IsBlank(c) || IsControl(c)) return "holds " + Shown(c) + "; write a blank as %20";
  if (!StartsWithNoCase(url, "https://")) return "is not an https:// address";
  if (url.size() == 8 || url[8] == '/' || url[8] == '?' || url[8] == '#') return "names no host after https://";
  if (points.size() > kMaxUrlChars) return "is longer than the " + Chars(kMaxUrlChars) + " winget takes";
  return "";
}

std::string YamlQuoted(const std::string& text) {
  std::u32string points;
  size_t bad = 0;
  DecodeUtf8(text, &points, &bad);
  std::string quoted = "\"";
  for (char32_t c : points) {
    char escape[16];
    if (c == '"' || c == '\\') {
      quoted += '\\', quoted += static_cast<char>(c);
    } else if (IsControl(c)) {
      std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned>(c));
      quoted += escape;
    } else if (c == 0x2028 || c == 0x2029 || c == 0xFEFF || c == 0xFFFE || c == 0xFFFF) {
      // YAML reads the two separators as line breaks and drops a byte order mark.
      std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(c));
      quoted += escape;
    } else {
      quoted += EncodeUtf8(c);
    }
  }
  return quoted + "\"";
}
