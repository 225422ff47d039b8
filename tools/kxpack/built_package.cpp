#include "tools/kxpack/built_package.h"

#include <vector>

#include "base/package_format.h"
#include "tools/kxpack/container_file.h"
#include "tools/kxpack/file_io.h"
#include "tools/kxpack/package_data_file.h"
#include "tools/kxpack/sevenzip_tool.h"
#include "tools/kxpack/sha256.h"

bool ReadBuiltSetup(const std::string& path, BuiltPackage* package, std::string* error) {
  std::vector<unsigned char> file;
  if (!ReadRegularFile(path, kMaxProgramBytes, &file, error)) return false;
  PackageLayout layout;
  if (!ReadPackageLayout(file, &layout, error)) {
    *error = path + ": " + *error;
    return false;
  }
  if (layout.payloadLength == 0) {
    *error = path + " is an uninstaller (its package has no payload), not a setup program";
    return false;
  }
  TempFolder scratch;
  if (scratch.path.empty()) {
    *error = "cannot create a temporary folder";
    return false;
  }
  auto begin = file.begin() + static_cast<long>(layout.runtimePosition);
  const std::vector<unsigned char> runtime(begin, begin + static_cast<long>(layout.runtimeLength));
  const std::string archive = scratch.path + "/runtime.7z", folder = scratch.path + "/runtime";
  if (!WriteFileAtomically(archive, runtime, 0644)) {
    *error = "cannot write " + archive;
    return false;
  }
  if (!ExtractArchiveEntry(archive, kxformat::kPackageDataFile, folder, error)) {
    *error = path + ": its runtime archive cannot be read: " + *error;
    return false;
  }
  std::vector<unsigned char> data;
  std::string problem;
  if (!ReadRegularFile(folder + "/" + kxformat::kPackageDataFile, kxformat::kPackageDataMaxBytes, &data, &problem)) {
    *error = path + ": its runtime archive holds no " + kxformat::kPackageDataFile + " that kxpack can read";
    return false;
  }
  if (!ParsePackageData(std::string(data.begin(), data.end()), &package->values, &problem)) {
    *error = path + ": its package data (" + kxformat::kPackageDataFile + ") is not valid: " + problem;
    return false;
  }
  package->sha256 = Sha256Hex(file);
  return true;
}
