#include "base/command_switches.h"

#include <wchar.h>

#include "base/language_names.h"

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

wchar_t Upper(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - (L'a' - L'A')) : c; }

// name is upper case.
bool NameIs(const wchar_t* text, size_t length, const wchar_t* name) {
  size_t i = 0;
  for (; i < length && name[i]; ++i)
    if (Upper(text[i]) != name[i]) return false;
  return i == length && name[i] == L'\0';
}

TextSpan WithoutQuotes(const wchar_t* text, size_t length) {
  if (length >= 2 && text[0] == L'"' && text[length - 1] == L'"') return {text + 1, length - 2};
  return {text, length};
}

size_t SkipProgramName(const wchar_t* line) {
  size_t i = 0;
  if (line[0] == L'"') {
    const wchar_t* close = wcschr(line + 1, L'"');
    i = close ? static_cast<size_t>(close - line) + 1 : wcslen(line);
  }
  while (line[i] && !IsBlank(line[i])) ++i;
  return i;
}

}  // namespace

void ParseCommandSwitches(const wchar_t* line, CommandSwitches* switches) {
  *switches = CommandSwitches();
  if (!line) return;
  for (size_t i = SkipProgramName(line);;) {
    while (IsBlank(line[i])) ++i;
    if (!line[i]) return;
    const wchar_t* token = line + i;
    if (NameIs(token, 3, L"/D=")) {
      size_t length = wcslen(token + 3);
      while (length > 0 && IsBlank(token[3 + length - 1])) --length;
      switches->destination = WithoutQuotes(token + 3, length);
      return;
    }
    // A token ends at a blank, except inside a quoted value (/LOG="C:\my logs\a.log").
    size_t nameLength = 0;
    while (token[nameLength] && !IsBlank(token[nameLength]) && token[nameLength] != L'=') ++nameLength;
    size_t end = nameLength;
    bool hasValue = token[end] == L'=';
    TextSpan value = {token + end, 0};
    if (hasValue) {
      ++end;
      if (token[end] == L'"') {
        const wchar_t* close = wcschr(token + end + 1, L'"');
        size_t closeAt = close ? static_cast<size_t>(close - token) : wcslen(token);
        value = {token + end + 1, closeAt - end - 1};
        end = close ? closeAt + 1 : closeAt;
      } else {
        size_t start = end;
        while (token[end] && !IsBlank(token[end])) ++end;
        value = {token + start, end - start};
      }
    }
    while (token[end] && !IsBlank(token[end])) ++end;  // anything glued to a closing quote
    i += end;

    if (!hasValue && NameIs(token, nameLength, L"/S")) {
      switches->silent = true;
    } else if (!hasValue && NameIs(token, nameLength, L"/?")) {
      switches->usage = true;
    } else if (!hasValue && NameIs(token, nameLength, L"/SUPPRESSMSGBOXES")) {
      switches->suppressMessageBoxes = true;
    } else if (!hasValue && NameIs(token, nameLength, L"/ALLOWDOWNGRADE")) {
      switches->allowDowngrade = true;
    } else if (!hasValue && NameIs(token, nameLength, L"/CLOSEAPPLICATIONS")) {
      switches->closeApplications = true;
    } else if (!hasValue && NameIs(token, nameLength, L"/NOCLOSEAPPLICATIONS")) {
      switches->noCloseApplications = true;
    } else if (!hasValue && NameIs(token, nameLength, L"/RESTARTAPPLICATIONS")) {
      switches->restartApplications = true;
    } else if (!hasValue && NameIs(token, nameLength, L"/ALLUSERS")) {
      switches->allUsers = true;
    } else if (!hasValue && NameIs(token, nameLength, L"/CURRENTUSER")) {
      switches->currentUser = true;
    } else if (hasValue && NameIs(token, nameLength, L"/LANG") &&
               kxlang::LanguageFromSwitch(std::wstring_view(value.text, value.length)) != 0) {
      switches->language = value;
    } else if (hasValue && NameIs(token, nameLength, L"/TASKS")) {
      switches->tasksGiven = true;
      switches->tasks = value;
    } else if (NameIs(token, nameLength, L"/LOG") && (!hasValue || value.length > 0)) {
      switches->log = true;
      switches->logFile = hasValue ? value : TextSpan{token, 0};
    } else {
      switches->usage = true;
      if (!switches->unknownArgument.text) switches->unknownArgument = {token, end};
    }
  }
}
