// The package description (package.toml) through kxpack's reader and its
// checks. The description is written to a private folder that holds a small
// payload, so relative page and payload paths stay inside it.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tools/kxpack/package_description.h"

namespace {

std::string g_folder;

void MakeFolder() {
  // In memory where the machine has it: every input is written as a file.
  std::string pattern = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  pattern += "/kx-description-fuzz.XXXXXX";
  if (!mkdtemp(&pattern[0])) abort();
  g_folder = pattern;
  std::filesystem::create_directories(g_folder + "/payload");
  std::ofstream(g_folder + "/payload/App.exe") << "MZ";
  std::ofstream(g_folder + "/licence.txt") << "Licence text.\n";
  std::atexit([] { std::filesystem::remove_all(g_folder); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (g_folder.empty()) MakeFolder();
  const std::string path = g_folder + "/package.toml";
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  PackageDescription description;
  std::string errors;
  // The payload folder is always the private one: a description naming "/"
  // would otherwise have the reader walk the whole machine.
  LoadPackageDescription(path, g_folder + "/payload", &description, &errors);
  return 0;
}
