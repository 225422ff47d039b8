#include "tools/kxpack/name_rules.h"

#include <cctype>

namespace {

// The folders the core library provides to folder texts.
const char* const kFolderVariables[] = {"PROGFILESDIR", "COMPROGMENUDIR"};

std::vector<std::string> Split(const std::string& text, const std::string& separators) {
  std::vector<std::string> parts(1);
  for (char c : text) {
    if (separators.find(c) != std::string::npos)
      parts.emplace_back();
    else
      parts.back() += c;
  }
  return parts;
}

bool IsDeviceName(const std::string& name) {
  std::string stem = name.substr(0, name.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  for (char& c : stem) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL") return true;
  return stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) && stem[3] >= '1' &&
         stem[3] <= '9';
}

}  // namespace

std::string FileNameProblem(const std::string& name) {
  if (name.empty()) return "is empty";
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return "holds a control character";
    if (std::string("<>:\"/\\|?*").find(c) != std::string::npos)
      return std::string("holds '") + c + "', which Windows forbids in file names";
  }
  if (name.back() == ' ' || name.back() == '.') return "ends with a blank or a dot, which Windows drops from file names";
  if (IsDeviceName(name)) return "is a device name that Windows reserves";
  return "";
}

std::string RelativePathProblem(const std::string& path, std::vector<std::string>* components) {
  if (path.empty()) return "is empty";
  if (path[0] == '/' || path[0] == '\\' || (path.size() > 1 && path[1] == ':'))
    return "must be relative to the installation folder";
  *components = Split(path, "/\\");
  for (const std::string& part : *components) {
    if (part == "." || part == "..") return "must not contain \".\" or \"..\"";
    std::string problem = FileNameProblem(part);
    if (!problem.empty()) return "has a component that " + problem;
  }
  return "";
}

std::string FolderTextProblem(const std::string& text) {
  std::vector<std::string> parts = Split(text, "\\");
  const std::string& first = parts[0];
  bool drive = first.size() == 2 && std::isalpha(static_cast<unsigned char>(first[0])) && first[1] == ':';
  bool variable = false;
  for (const char* name : kFolderVariables)
    if (first == std::string("%") + name + "%") variable = true;
  if (!drive && !variable) {
    std::string known;
    for (const char* name : kFolderVariables) known += std::string(known.empty() ? "" : ", ") + "%" + name + "%";
    return "must begin with a drive (C:\\) or one of " + known;
  }
  // The installation owns its folder; a drive or a system folder itself is
  // never one.
  if (parts.size() == 1) return "must name a folder below " + (drive ? first + "\\" : first);
  for (size_t i = 1; i < parts.size(); ++i) {
    if (parts[i].find('%') != std::string::npos) return "holds a '%' past its first component";
    std::string problem = FileNameProblem(parts[i]);
    if (!problem.empty()) return "has a folder name that " + problem;
  }
  return "";
}
