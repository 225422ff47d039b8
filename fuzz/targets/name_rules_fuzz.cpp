// The naming rules kxpack applies to every file name, relative path and
// folder text of a package, over any bytes (UTF-8 or not).
#include <cstdint>
#include <string>
#include <vector>

#include "tools/kxpack/name_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  FileNameProblem(text);
  std::vector<std::string> components;
  RelativePathProblem(text, &components);
  FolderTextProblem(text);
  return 0;
}
