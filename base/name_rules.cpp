#include "base/name_rules.h"

#include "base/device_names.h"

namespace kxnames {

const char16_t* const kFolderVariables[kFolderVariableCount] = {u"%PROGFILESDIR%", u"%COMPROGMENUDIR%"};

namespace {

bool IsForbidden(char16_t c) {
  for (const char16_t* p = u"<>:\"/\\|?*"; *p; ++p)
    if (*p == c) return true;
  return false;
}

bool IsSeparator(char16_t c) { return c == u'/' || c == u'\\'; }

bool IsAsciiLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

bool SameText(const char16_t* text, size_t length, const char16_t* other) {
  size_t i = 0;
  for (; i < length; ++i)
    if (other[i] == u'\0' || other[i] != text[i]) return false;
  return other[i] == u'\0';
}

// Where the component that begins at start ends: the next separator or length.
size_t ComponentEnd(const char16_t* text, size_t length, size_t start, bool slashToo) {
  size_t end = start;
  while (end < length && text[end] != u'\\' && !(slashToo && text[end] == u'/')) ++end;
  return end;
}

}  // namespace

size_t FindControlCharacter(const char16_t* text, size_t length) {
  for (size_t i = 0; i < length; ++i)
    if (IsControlCharacter(text[i])) return i;
  return length;
}

NameVerdict CheckFileName(const char16_t* name, size_t length) {
  if (length == 0) return {NameProblem::kEmpty, 0};
  for (size_t i = 0; i < length; ++i) {
    if (IsControlCharacter(name[i])) return {NameProblem::kControlCharacter, name[i]};
    if (IsForbidden(name[i])) return {NameProblem::kForbiddenCharacter, name[i]};
  }
  if (name[length - 1] == u' ' || name[length - 1] == u'.') return {NameProblem::kTrailingBlankOrDot, 0};
  if (IsDeviceName(name, length)) return {NameProblem::kDeviceName, 0};
  return {NameProblem::kNone, 0};
}

PathVerdict CheckRelativePath(const char16_t* path, size_t length) {
  if (length == 0) return {PathProblem::kEmpty, {}};
  if (IsSeparator(path[0]) || (length > 1 && path[1] == u':')) return {PathProblem::kNotRelative, {}};
  for (size_t start = 0;;) {
    const size_t end = ComponentEnd(path, length, start, true);
    const size_t size = end - start;
    if ((size == 1 || size == 2) && path[start] == u'.' && path[end - 1] == u'.')
      return {PathProblem::kDotComponent, {}};
    const NameVerdict name = CheckFileName(path + start, size);
    if (name.problem != NameProblem::kNone) return {PathProblem::kBadComponent, name};
    if (size > kMaxNameUnits) return {PathProblem::kTooLong, {}};
    if (end == length) break;
    start = end + 1;
  }
  if (length > kMaxEntryPathUnits) return {PathProblem::kTooLong, {}};
  return {PathProblem::kNone, {}};
}

FolderVerdict CheckFolderText(const char16_t* text, size_t length) {
  const size_t firstEnd = ComponentEnd(text, length, 0, false);
  bool rooted = firstEnd == 2 && IsAsciiLetter(text[0]) && text[1] == u':';
  for (const char16_t* variable : kFolderVariables)
    if (SameText(text, firstEnd, variable)) rooted = true;
  if (!rooted) return {FolderProblem::kNoRoot, {}};
  if (firstEnd == length) return {FolderProblem::kRootOnly, {}};
  for (size_t start = firstEnd + 1;;) {
    const size_t end = ComponentEnd(text, length, start, false);
    for (size_t i = start; i < end; ++i)
      if (text[i] == u'%') return {FolderProblem::kPercentInside, {}};
    const NameVerdict name = CheckFileName(text + start, end - start);
    if (name.problem != NameProblem::kNone) return {FolderProblem::kBadComponent, name};
    if (end == length) return {FolderProblem::kNone, {}};
    start = end + 1;
  }
}

}  // namespace kxnames
