// A folder whose contents go into an archive (the payload, a runtime
// folder), walked and checked as 7-Zip will archive it and setup will
// install it.
#ifndef KX_TOOLS_KXPACK_FOLDER_TREE_H
#define KX_TOOLS_KXPACK_FOLDER_TREE_H

#include <cstdint>
#include <string>
#include <vector>

struct TreeEntry {
  std::string path;  // relative to the folder, '/' separated
  bool folder = false;
  uint64_t size = 0;  // of a file
};

// The most entries a folder may bring, links to folders included: links can
// make a small folder look endless without forming a loop.
constexpr size_t kMaxTreeEntries = size_t{1} << 22;

// Walks folder (sorted by name, a folder before its contents) and checks
// that each entry can be packaged and installed:
//   - a file or a folder, or a link whose target lies inside the folder: it
//     goes in as what it points to, and a link to a folder brings a copy of
//     that folder's contents; a link that leads outside, nowhere or into a
//     loop is refused, since 7-Zip would follow it;
//   - no FIFO, socket or device, whose reading would never end or not mean
//     a file;
//   - readable;
//   - a name Windows accepts (FileNameProblem), a path setup installs
//     (kMaxEntryPathUnits), and no two names in one folder that Windows
//     takes for one (NameCaseKey).
// Every file becomes an input of the build (build_inputs.h). False with
// every problem, one an item, each naming its path; an empty folder is one.
bool ScanFolderTree(const std::string& folder, std::vector<TreeEntry>* entries, std::vector<std::string>* problems);

// path as a message may show it: control characters and bytes that are no
// UTF-8 written as \xNN, so a hostile name cannot drive the terminal.
std::string PrintablePath(const std::string& path);

#endif
