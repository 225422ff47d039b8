// The winget manifest set of a built setup program (kxpack manifest,
// docs/packaging.md): the version, installer and default-locale files of
// winget's manifest schemas 1.6.0, and the rules their values must meet.
//
// Every function is pure: UTF-8 text in, text out. Lengths are counted in
// characters (Unicode code points), as the schemas' JSON Schema counts them.
#ifndef KX_TOOLS_KXPACK_WINGET_MANIFEST_H
#define KX_TOOLS_KXPACK_WINGET_MANIFEST_H

#include <cstddef>
#include <string>
#include <vector>

constexpr char kWingetManifestVersion[] = "1.6.0";
constexpr char kWingetLocale[] = "en-US";

// The schemas' bounds on the texts kxpack writes.
constexpr size_t kMaxIdentifierChars = 128;      // PackageIdentifier
constexpr size_t kMaxVersionChars = 128;         // PackageVersion
constexpr size_t kMinNameChars = 2, kMaxNameChars = 256;  // PackageName, Publisher
constexpr size_t kMinLicenseChars = 3, kMaxLicenseChars = 512;
constexpr size_t kMinShortDescriptionChars = 3, kMaxShortDescriptionChars = 256;
constexpr size_t kMaxUrlChars = 2048;
constexpr size_t kMaxProductCodeChars = 255;

// Everything the three files say; the caller has checked each value.
struct WingetManifestValues {
  std::string id;                 // PackageIdentifier, "Publisher.Product"
  std::string version;            // PackageVersion: the package's product.version
  std::string name, publisher;    // PackageName, Publisher and the uninstall entry's
  std::string url;                // PublisherUrl and PackageUrl; empty for none
  std::string uninstallKey;       // ProductCode: the key name below ...\Uninstall
  std::string license, shortDescription;
  std::string installerUrl;       // where winget downloads the setup program
  std::string installerSha256;    // of the setup program, 64 upper-case hex digits
  bool currentUser = false;       // the package installs for the current user only (install.scope)
  bool bothScopes = false;        // the package offers both scopes (install.scope = "both")
  bool msiExitCodes = false;      // the package ends with 1618 and 3010 (install.msi_exit_codes)
};

struct ManifestFile {
  std::string name;  // <id>.yaml, <id>.installer.yaml, <id>.locale.en-US.yaml
  std::string type;  // the ManifestType: version, installer, defaultLocale
  std::string text;  // UTF-8 YAML, LF line ends
};

// The three files, in that order.
std::vector<ManifestFile> WingetManifestFiles(const WingetManifestValues& values);

// One of our exit codes and winget's ReturnResponse for it.
struct ReturnCodeResponse {
  int code;
  const char* response;
};

// Every exit code of base/exit_codes.h that has a matching response, in the
// order of the installer file's ExpectedReturnCodes. docs/deployment.md
// lists every code, with its response or none. For a package with the
// Windows Installer's exit codes, 1618 and 3010 stand where it never ends
// with 5 and 7.
std::vector<ReturnCodeResponse> WingetReturnCodeResponses(bool msiExitCodes = false);

// Each returns what is wrong with the value, as words that follow it in a
// message ("'x y' holds a blank, ..."), or "" when it is good.

// PackageIdentifier: 2 to 8 names joined by dots, each 1 to 32 characters,
// none a blank or control character or one of \ / : * ? " < > |; at most
// 128 characters in all.
std::string PackageIdentifierProblem(const std::string& id);

// PackageVersion: not empty, at most 128 characters, none of \ / : * ? " < > |
// and no control character.
std::string PackageVersionProblem(const std::string& version);

// A text of the listing (a name, the licence, the short description):
// UTF-8, no control character, least to most characters.
std::string ListingTextProblem(const std::string& text, size_t least, size_t most);

// InstallerUrl as kxpack takes it: https:// (any case) and a host, at most
// 2048 characters, no blank or control character.
std::string InstallerUrlProblem(const std::string& url);

// Whether a web address fits the schemas' Url: http:// or https:// (any
// case) and something after it, at most 2048 characters.
bool IsWingetUrl(const std::string& url);

// text as a YAML double-quoted scalar that reads back as the same text:
// '"' and '\' escaped, and every character YAML would not keep as it is
// (C0, DEL, C1, the line separators U+0085, U+2028 and U+2029, U+FEFF,
// U+FFFE, U+FFFF) written as an escape. text must be valid UTF-8.
std::string YamlQuoted(const std::string& text);

#endif
