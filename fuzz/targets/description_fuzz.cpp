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
#include "tools/kxpack/shipped_languages.h"

namespace {

std::string g_folder;
ShippedLanguages g_languages;

// English and one translation, as the parts carry them.
void MakeLanguages() {
  const char* const tables[][2] = {
      {"kxlng.dat", "[KXLang]\r\nEnglish\r\n1033\r\n#next=&Next >\r\n#pkgwindowtitle=%NAME% Setup (64-bit)\r\n"},
      {"kxlng1031.dat", "[KXLang]\r\nGerman\r\n1031\r\n#next=&Weiter >\r\n#pkgwelcomeheading=Willkommen, %NAME%\r\n"}};
  for (const auto& table : tables) {
    const std::string text = table[1];
    ShippedLanguage language;
    std::string error;
    if (!ParseShippedLanguage(std::vector<unsigned char>(text.begin(), text.end()), table[0], &language, &error))
      abort();
    g_languages.push_back(language);
  }
}

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
  if (g_folder.empty()) {
    MakeFolder();
    MakeLanguages();
  }
  const std::string path = g_folder + "/package.toml";
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  PackageDescription description;
  std::string errors;
  // The payload folder is always the private one: a description naming "/"
  // would otherwise have the reader walk the whole machine.
  LoadPackageDescription(path, g_folder + "/payload", g_languages, &description, &errors);
  return 0;
}
