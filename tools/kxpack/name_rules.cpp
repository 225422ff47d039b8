#include "tools/kxpack/name_rules.h"

#include <string>

#include "tools/kxpack/utf8.h"

namespace {

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

std::u16string Utf16(const std::u32string& points) {
  std::u16string units;
  for (char32_t c : points) {
    if (c > 0xFFFF) {
      units += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      units += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      units += static_cast<char16_t>(c);
    }
  }
  return units;
}

// The text as UTF-16, or "" with *problem set when it is not UTF-8: bytes
// that are no character have no name on Windows.
std::u16string ToUtf16(const std::string& text, std::string* problem) {
  std::u32string points;
  size_t bad = 0;
  if (!DecodeUtf8(text, &points, &bad)) {
    *problem = "is not UTF-8 text (at byte " + std::to_string(bad) + ")";
    return std::u16string();
  }
  return Utf16(points);
}

std::string NameMessage(const kxnames::NameVerdict& verdict) {
  switch (verdict.problem) {
    case kxnames::NameProblem::kNone:
      return "";
    case kxnames::NameProblem::kEmpty:
      return "is empty";
    case kxnames::NameProblem::kControlCharacter:
      return "holds a control character";
    case kxnames::NameProblem::kForbiddenCharacter:
      return std::string("holds '") + static_cast<char>(verdict.character) + "', which Windows forbids in file names";
    case kxnames::NameProblem::kTrailingBlankOrDot:
      return "ends with a blank or a dot, which Windows drops from file names";
    case kxnames::NameProblem::kDeviceName:
      return "is a device name that Windows reserves";
  }
  return "";
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
  std::string problem;
  const std::u16string units = ToUtf16(name, &problem);
  if (!problem.empty()) return problem;
  return NameMessage(kxnames::CheckFileName(units.data(), units.size()));
}

std::string RelativePathProblem(const std::string& path, std::vector<std::string>* components) {
  *components = Split(path, "/\\");
  std::string problem;
  const std::u16string units = ToUtf16(path, &problem);
  // A component that is not UTF-8 is named as one, as the payload's are.
  if (!problem.empty()) {
    for (const std::string& part : *components)
      if (!(problem = FileNameProblem(part)).empty()) return "has a component that " + problem;
  }
  const kxnames::PathVerdict verdict = kxnames::CheckRelativePath(units.data(), units.size());
  switch (verdict.problem) {
    case kxnames::PathProblem::kNone:
      return "";
    case kxnames::PathProblem::kEmpty:
      return "is empty";
    case kxnames::PathProblem::kNotRelative:
      return "must be relative to the installation folder";
    case kxnames::PathProblem::kDotComponent:
      return "must not contain \".\" or \"..\"";
    case kxnames::PathProblem::kBadComponent:
      return "has a component that " + NameMessage(verdict.name);
    case kxnames::PathProblem::kTooLong:
      return "is longer than " + std::to_string(kMaxEntryPathUnits) + " characters or has a component longer than " +
             std::to_string(kxnames::kMaxNameUnits) + ", more than Windows installs";
  }
  return "";
}

std::string FolderTextProblem(const std::string& text) {
  std::string problem;
  const std::u16string units = ToUtf16(text, &problem);
  if (!problem.empty()) return problem;
  const kxnames::FolderVerdict verdict = kxnames::CheckFolderText(units.data(), units.size());
  const std::string first = text.substr(0, text.find('\\'));
  switch (verdict.problem) {
    case kxnames::FolderProblem::kNone:
      return "";
    case kxnames::FolderProblem::kNoRoot: {
      std::string known;
      for (const char16_t* variable : kxnames::kFolderVariables) {
        if (!known.empty()) known += ", ";
        for (const char16_t* c = variable; *c; ++c) known += static_cast<char>(*c);  // ASCII names
      }
      return "must begin with a drive (C:\\) or one of " + known;
    }
    case kxnames::FolderProblem::kRootOnly:
      return "must name a folder below " + (first.size() == 2 && first[1] == ':' ? first + "\\" : first);
    case kxnames::FolderProblem::kPercentInside:
      return "holds a '%' past its first component";
    case kxnames::FolderProblem::kBadComponent:
      return "has a folder name that " + NameMessage(verdict.name);
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
