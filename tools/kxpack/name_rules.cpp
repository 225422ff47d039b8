#include "tools/kxpack/name_rules.h"

#include <cctype>

#include "tools/kxpack/utf8.h"

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

bool IsControl(char32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

// Windows maps these to devices in every folder, with any extension and
// trailing blanks ("nul.txt", "COM1 "); the setup program refuses the same
// list. Superscript digits count as digits there.
bool IsDeviceName(const std::u32string& name) {
  std::u32string stem = name.substr(0, name.find(U'.'));
  while (!stem.empty() && stem.back() == U' ') stem.pop_back();
  for (char32_t& c : stem)
    if (c >= U'a' && c <= U'z') c -= 0x20;
  for (const char32_t* device : {U"CON", U"PRN", U"AUX", U"NUL", U"CONIN$", U"CONOUT$"})
    if (stem == device) return true;
  if (stem.size() != 4 || (stem.compare(0, 3, U"COM") != 0 && stem.compare(0, 3, U"LPT") != 0)) return false;
  const char32_t digit = stem[3];
  return (digit >= U'1' && digit <= U'9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
}

// Lower-case letters as runs: every step-th code point from first to last
// has its capital at delta from it.
struct CaseRun {
  char32_t first, last;
  int step, delta;
};

const CaseRun kCaseRuns[] = {
    {0x61, 0x7A, 1, -0x20},     {0xE0, 0xF6, 1, -0x20},     {0xF8, 0xFE, 1, -0x20},     {0xFF, 0xFF, 1, 0x79},
    {0x101, 0x12F, 2, -1},      {0x133, 0x137, 2, -1},      {0x13A, 0x148, 2, -1},      {0x14B, 0x177, 2, -1},
    {0x17A, 0x17E, 2, -1},      {0x1A1, 0x1A1, 1, -1},      {0x1B0, 0x1B0, 1, -1},      {0x1CE, 0x1DC, 2, -1},
    {0x1DF, 0x1EF, 2, -1},      {0x1F9, 0x21F, 2, -1},      {0x223, 0x233, 2, -1},      {0x3AC, 0x3AC, 1, -0x26},
    {0x3AD, 0x3AF, 1, -0x25},   {0x3B1, 0x3C1, 1, -0x20},   {0x3C2, 0x3C2, 1, -0x1F},   {0x3C3, 0x3CB, 1, -0x20},
    {0x3CC, 0x3CC, 1, -0x40},   {0x3CD, 0x3CE, 1, -0x3F},   {0x430, 0x44F, 1, -0x20},   {0x450, 0x45F, 1, -0x50},
    {0x461, 0x481, 2, -1},      {0x48B, 0x4BF, 2, -1},      {0x4C2, 0x4CE, 2, -1},      {0x4CF, 0x4CF, 1, -0xF},
    {0x4D1, 0x52F, 2, -1},      {0x561, 0x586, 1, -0x30},   {0x1E01, 0x1E95, 2, -1},    {0x1EA1, 0x1EFF, 2, -1},
    {0xFF41, 0xFF5A, 1, -0x20},
};

char32_t UpperCase(char32_t c) {
  for (const CaseRun& run : kCaseRuns)
    if (c >= run.first && c <= run.last && (c - run.first) % run.step == 0)
      return static_cast<char32_t>(static_cast<int>(c) + run.delta);
  return c;
}

void AppendUtf8(std::string* text, char32_t c) {
  if (c < 0x80) {
    *text += static_cast<char>(c);
  } else if (c < 0x800) {
    *text += static_cast<char>(0xC0 | (c >> 6));
    *text += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *text += static_cast<char>(0xE0 | (c >> 12));
    *text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *text += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *text += static_cast<char>(0xF0 | (c >> 18));
    *text += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    *text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *text += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

std::string FileNameProblem(const std::string& name) {
  if (name.empty()) return "is empty";
  std::u32string points;
  size_t bad = 0;
  // The name becomes UTF-16 on Windows; bytes that are no character have
  // no name there.
  if (!DecodeUtf8(name, &points, &bad)) return "is not UTF-8 text (at byte " + std::to_string(bad) + ")";
  for (char32_t c : points) {
    if (IsControl(c)) return "holds a control character";
    if (c < 0x80 && std::string("<>:\"/\\|?*").find(static_cast<char>(c)) != std::string::npos)
      return std::string("holds '") + static_cast<char>(c) + "', which Windows forbids in file names";
  }
  if (name.back() == ' ' || name.back() == '.') return "ends with a blank or a dot, which Windows drops from file names";
  if (IsDeviceName(points)) return "is a device name that Windows reserves";
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
  std::u32string points;
  size_t bad = 0;
  DecodeUtf8(path, &points, &bad);
  if (Utf16Length(points) > kMaxEntryPathUnits)
    return "is longer than " + std::to_string(kMaxEntryPathUnits) + " characters, the longest path setup installs";
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

std::string NameCaseKey(const std::string& name) {
  std::u32string points;
  size_t bad = 0;
  if (!DecodeUtf8(name, &points, &bad)) return name;
  std::string key;
  for (char32_t c : points) AppendUtf8(&key, UpperCase(c));
  return key;
}
