// The package's own resources in a prebuilt stub: its icon, its version
// information and its title (string 0 of the string table, which the
// launcher shows as the caption of its messages and sets as APPTITLE).
// and the execution level its manifest requests. Everything else the stub
// carries (the rest of the manifest, the launcher's other strings) is kept
// as it is.
#ifndef KX_TOOLS_KXPACK_PACKAGE_RESOURCES_H
#define KX_TOOLS_KXPACK_PACKAGE_RESOURCES_H

#include <cstdint>
#include <string>
#include <vector>

enum class ProgramRole { kSetup, kUninstaller };

// Texts are UTF-8. An empty text or icon leaves the stub's own in place;
// version information is written when productName is given, and then needs
// version.
struct PackageIdentity {
  std::string title;             // at most 259 UTF-16 units
  std::string productName;
  std::string version;           // "2020.01.15.01": one to four numbers, then any text
  std::string publisher;         // CompanyName, when given
  std::string copyright;         // LegalCopyright, when given
  std::string fileName;          // OriginalFilename; "setup.exe" or "Uninst.exe" when empty
  std::vector<unsigned char> icon;  // the bytes of an .ico file
  // The manifest's requestedExecutionLevel ("asInvoker", "highestAvailable");
  // empty keeps the stub's (requireAdministrator).
  std::string executionLevel;
};

bool HasPackageResources(const PackageIdentity& identity);

// An .ico file's images, checked: header, directory, each image inside the
// file and either a bitmap (BITMAPINFOHEADER) or a PNG.
struct IconImage {
  unsigned char directoryEntry[12];  // width .. bytes in resource, as stored
  std::vector<unsigned char> data;
};
bool ReadIconFile(const std::vector<unsigned char>& file, std::vector<IconImage>* images, std::string* error);

// The numeric version from its leading numbers ("2020.01.15.01" gives 2020,
// 1, 15, 1; missing parts are 0). False when it does not start with a
// number or a part exceeds 65535.
bool ParseVersion(const std::string& text, uint16_t parts[4], std::string* error);

// The stub with the package's resources in a new resource section (see
// pe_resources.h). False with a message for bad values or a stub whose
// resources cannot be read or rewritten.
bool ApplyPackageResources(const std::vector<unsigned char>& stub, const PackageIdentity& identity,
                           ProgramRole role, std::vector<unsigned char>* out, std::string* error);

#endif
