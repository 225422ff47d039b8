#include "tools/kxpack/starter.h"

#include <filesystem>
#include <iostream>

#include "tools/kxpack/artwork.h"
#include "tools/kxpack/file_io.h"
#include "tools/kxpack/prebuilt_parts.h"

namespace fs = std::filesystem;

namespace {

int Fail(const std::string& message) {
  std::cerr << "kxpack: " << message << "\n";
  return 1;
}

}  // namespace

int InitStarter(const std::string& folder, const std::string& givenParts) {
  std::string parts, error;
  if (!FindPrebuiltParts(givenParts, &parts, &error)) return Fail(error);
  std::error_code ec;
  if (fs::exists(folder, ec) && !(fs::is_directory(folder, ec) && fs::is_empty(folder, ec)))
    return Fail(folder + " exists and is not an empty folder; init writes into a new one");
  fs::create_directories(folder, ec);
  if (ec) return Fail("cannot create " + folder + ": " + ec.message());
  fs::copy(fs::path(parts) / kStarterPart, folder, fs::copy_options::recursive, ec);
  if (ec) return Fail("cannot copy the starter files into " + folder + ": " + ec.message());
  // Copies of read-only parts would stay read-only; the starter is the user's to edit.
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder, ec))
    fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add, ec);
  fs::create_directories(fs::path(folder) / "images", ec);
  // The wizard's images at 100 % and 200 %, so that the starter looks sharp
  // on a high-DPI screen from the first build.
  const std::pair<const char*, std::vector<unsigned char>> images[] = {
      {"images/watermark.bmp", DrawWatermark(100)}, {"images/watermark-200.bmp", DrawWatermark(200)},
      {"images/header.bmp", DrawHeader(100)},       {"images/header-200.bmp", DrawHeader(200)},
      {"images/app.ico", DrawIcon()}};
  for (const auto& [name, bytes] : images) {
    const std::string path = (fs::path(folder) / name).string();
    if (!WriteFileAtomically(path, bytes, 0644)) return Fail("cannot write " + path);
  }
  const std::string description = (fs::path(folder) / "package.toml").string();
  std::cout << "Wrote a starter package into " << folder << ". Next:\n"
            << "  1. edit " << description << " and the pages; put your product into "
            << (fs::path(folder) / "payload").string() << "\n"
            << "  2. kxpack build --package " << description << " --out "
            << (fs::path(folder) / "setup.exe").string() << "\n";
  return 0;
}
