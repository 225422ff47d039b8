// The package data (kxpackage.dat) of a setup program someone else built, as
// kxpack manifest reads it, and the winget rules and YAML quoting its texts
// then go through.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tools/kxpack/package_data_file.h"
#include "tools/kxpack/winget_manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  PackageIdentifierProblem(text);
  InstallerUrlProblem(text);
  IsWingetUrl(text);
  PackageDescription values;
  std::string error;
  if (!ParsePackageData(text, &values, &error)) return 0;
  // What was read is written again alike, and every text quotes into one
  // YAML line.
  PackageDescription again;
  if (!ParsePackageData(PackageDataText(values), &again, &error) || PackageDataText(again) != PackageDataText(values))
    abort();
  for (const std::string* field : {&values.name, &values.version, &values.publisher, &values.url, &values.uninstallKey}) {
    PackageVersionProblem(*field);
    if (!ListingTextProblem(*field, 0, 100000).empty()) continue;
    const std::string quoted = YamlQuoted(*field);
    if (quoted.size() < 2 || quoted.front() != '"' || quoted.back() != '"') abort();
    for (unsigned char c : quoted)
      if (c < 0x20 || c == 0x7F) abort();
  }
  return 0;
}
