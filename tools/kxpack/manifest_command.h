// kxpack manifest: the winget manifest set of a built setup program
// (docs/packaging.md). The package's names, version, address and uninstall
// key come from the setup program itself, the listing (identifier, licence,
// short description) from the options or the description's [manifest].
#ifndef KX_TOOLS_KXPACK_MANIFEST_COMMAND_H
#define KX_TOOLS_KXPACK_MANIFEST_COMMAND_H

#include <string>

struct ManifestOptions {
  std::string installer;    // the setup program (--installer)
  std::string url;          // where winget downloads it (--url)
  std::string out;          // the new folder of the three files (--out)
  std::string description;  // package.toml, when given (--package)
  // The listing; each wins over the description's value when given.
  std::string id, licence, shortDescription;
};

// Returns the exit code: 0 with the folder written, or 1 after printing
// every problem found, with nothing written.
int WriteWingetManifest(const ManifestOptions& options);

#endif
