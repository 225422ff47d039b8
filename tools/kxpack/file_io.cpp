#include "tools/kxpack/file_io.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

bool ReadFile(const std::string& path, std::vector<unsigned char>* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool WriteFileAtomically(const std::string& path, const std::vector<unsigned char>& bytes, unsigned mode) {
  std::string temporary = path + ".kxpack-tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      std::remove(temporary.c_str());
      return false;
    }
  }
  chmod(temporary.c_str(), mode);
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

TempFolder::TempFolder() {
  std::error_code ec;
  fs::path base = fs::temp_directory_path(ec);
  if (ec) base = "/tmp";
  std::string pattern = (base / "kxpack.XXXXXX").string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data())) path = buffer.data();
}

TempFolder::~TempFolder() {
  std::error_code ec;
  if (!path.empty()) fs::remove_all(path, ec);
}

// Every file under folder must be readable: 7-Zip would otherwise only warn.
bool CheckReadableTree(const std::string& folder, std::string* error) {
  std::error_code ec;
  fs::recursive_directory_iterator it(folder, fs::directory_options::none, ec);
  if (ec) {
    *error = "cannot read folder " + folder + ": " + ec.message();
    return false;
  }
  bool any = false;
  for (; it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (ec) {
      *error = "cannot read " + folder + ": " + ec.message();
      return false;
    }
    any = true;
    if (it->is_regular_file() && access(it->path().c_str(), R_OK) != 0) {
      *error = "cannot read " + it->path().string();
      return false;
    }
  }
  if (!any) {
    *error = "folder " + folder + " is empty";
    return false;
  }
  return true;
}
