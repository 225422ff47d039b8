#include "base/declaration_rules.h"

#include "base/name_rules.h"

namespace kxdecl {
namespace {

using kxformat::DeclValueKind;

bool IsAsciiLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

char16_t Upper(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c; }

// True when text equals the ASCII word without regard to case.
bool SameWord(const char16_t* text, size_t length, const char* word) {
  size_t i = 0;
  for (; i < length && word[i]; ++i)
    if (Upper(text[i]) != Upper(static_cast<char16_t>(word[i]))) return false;
  return i == length && word[i] == '\0';
}

// True when text begins with the ASCII prefix followed by a backslash or its end.
bool BeginsWithComponent(const char16_t* text, size_t length, const char* prefix, size_t* after) {
  size_t i = 0;
  for (; prefix[i]; ++i)
    if (i >= length || Upper(text[i]) != Upper(static_cast<char16_t>(prefix[i]))) return false;
  if (i < length && text[i] != u'\\') return false;
  *after = i < length ? i + 1 : i;
  return true;
}

bool IsDecimal(const char16_t* text, size_t length, unsigned long long most) {
  if (length == 0 || length > 20 || (length > 1 && text[0] == u'0')) return false;
  unsigned long long value = 0;
  for (size_t i = 0; i < length; ++i) {
    if (!IsDigit(text[i])) return false;
    unsigned digit = static_cast<unsigned>(text[i] - u'0');
    if (value > (most - digit) / 10) return false;
    value = value * 10 + digit;
  }
  return true;
}

bool IsHexDigit(char16_t c) { return IsDigit(c) || (Upper(c) >= u'A' && Upper(c) <= u'F'); }

DeclProblem CheckPayloadPath(const char16_t* text, size_t length) {
  // The programs hold '\' alone; kxpack writes nothing else.
  for (size_t i = 0; i < length; ++i)
    if (text[i] == u'/') return DeclProblem::kBadPath;
  return kxnames::CheckRelativePath(text, length).problem == kxnames::PathProblem::kNone ? DeclProblem::kNone
                                                                                         : DeclProblem::kBadPath;
}

}  // namespace

bool IsOwnerProgId(const char16_t* text, size_t length) {
  if (length == 0 || length > 255 || text[0] == u'.') return false;
  for (size_t i = 0; i < length; ++i) {
    const char16_t c = text[i];
    const bool letter = (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
    const bool digit = c >= u'0' && c <= u'9';
    if (!letter && !digit && c != u'.' && c != u'_' && c != u'-' && c != u'+') return false;
  }
  return true;
}

bool HoldsInstallFolderToken(const char16_t* text, size_t length) {
  const size_t tokenLength = sizeof kxformat::kInstallFolderToken - 1;
  for (size_t i = 0; i + tokenLength <= length; ++i) {
    size_t j = 0;
    while (j < tokenLength && text[i + j] == static_cast<char16_t>(kxformat::kInstallFolderToken[j])) ++j;
    if (j == tokenLength) return true;
  }
  return false;
}

unsigned long long DecimalValue(const char16_t* text, size_t length) {
  unsigned long long value = 0;
  for (size_t i = 0; i < length && IsDigit(text[i]); ++i) value = value * 10 + static_cast<unsigned>(text[i] - u'0');
  return value;
}

RegistryType ParseRegistryType(const char16_t* text, size_t length) {
  static const char* const kNames[] = {"string", "expand", "multi", "dword", "qword", "binary"};
  for (size_t i = 0; i < sizeof kNames / sizeof kNames[0]; ++i)
    if (SameWord(text, length, kNames[i])) return static_cast<RegistryType>(i);
  return RegistryType::kUnknown;
}

DeclProblem CheckDeclaredKey(const char16_t* key, size_t length, KeyRoot* root, size_t* subkeyStart) {
  size_t after = 0;
  bool software = true;  // the root needs Software below it
  if (BeginsWithComponent(key, length, "HKLM", &after) ||
      BeginsWithComponent(key, length, "HKEY_LOCAL_MACHINE", &after)) {
    *root = KeyRoot::kLocalMachine;
  } else if (BeginsWithComponent(key, length, "HKCU", &after) ||
             BeginsWithComponent(key, length, "HKEY_CURRENT_USER", &after)) {
    *root = KeyRoot::kCurrentUser;
    software = false;
  } else if (BeginsWithComponent(key, length, "HKA", &after)) {
    *root = KeyRoot::kScope;
  } else {
    return DeclProblem::kKeyRoot;
  }
  if (after >= length) return software ? DeclProblem::kKeyOutsideSoftware : DeclProblem::kKeyBadComponent;
  for (size_t i = after; i < length; ++i)
    if (key[i] == u'\\' && (i == after || i + 1 == length || key[i + 1] == u'\\')) return DeclProblem::kKeyBadComponent;
  if (key[after] == u'\\') return DeclProblem::kKeyBadComponent;
  const char16_t* rest = key + after;
  const size_t restLength = length - after;
  size_t below = 0;
  const bool inSoftware = BeginsWithComponent(rest, restLength, "Software", &below);
  if (software && (!inSoftware || below >= restLength)) return DeclProblem::kKeyOutsideSoftware;
  if (inSoftware && below < restLength) {
    size_t unused = 0;
    if (BeginsWithComponent(rest + below, restLength - below, "Classes", &unused)) return DeclProblem::kKeyClasses;
  }
  size_t unused = 0;
  if (!software && BeginsWithComponent(rest, restLength, "Environment", &unused)) return DeclProblem::kKeyEnvironment;
  *subkeyStart = after;
  return DeclProblem::kNone;
}

DeclProblem CheckRegistryData(RegistryType type, const char16_t* data, size_t length) {
  switch (type) {
    case RegistryType::kString:
    case RegistryType::kExpand:
    case RegistryType::kMulti:
      return DeclProblem::kNone;
    case RegistryType::kDword:
      return IsDecimal(data, length, 0xFFFFFFFFull) ? DeclProblem::kNone : DeclProblem::kBadData;
    case RegistryType::kQword:
      return IsDecimal(data, length, ~0ull) ? DeclProblem::kNone : DeclProblem::kBadData;
    case RegistryType::kBinary:
      if (length % 2 != 0) return DeclProblem::kBadData;
      for (size_t i = 0; i < length; ++i)
        if (!IsHexDigit(data[i])) return DeclProblem::kBadData;
      return DeclProblem::kNone;
    case RegistryType::kUnknown:
      break;
  }
  return DeclProblem::kBadType;
}

DeclProblem CheckDeclValue(DeclValueKind kind, const char16_t* text, size_t length) {
  if (kxnames::FindControlCharacter(text, length) != length) return DeclProblem::kControlCharacter;
  if (length > kDeclTextMaxUnits) return DeclProblem::kTooLong;
  switch (kind) {
    case DeclValueKind::kText:
      return length == 0 ? DeclProblem::kEmpty : DeclProblem::kNone;
    case DeclValueKind::kOptionalText:
    case DeclValueKind::kArguments:
    case DeclValueKind::kRegistryData:
      return DeclProblem::kNone;
    case DeclValueKind::kFlag:
      return length == 1 && (text[0] == u'0' || text[0] == u'1') ? DeclProblem::kNone : DeclProblem::kNotAFlag;
    case DeclValueKind::kPayloadPath:
      return CheckPayloadPath(text, length);
    case DeclValueKind::kPayloadFolder:
      if (length == 1 && text[0] == u'.') return DeclProblem::kNone;
      return CheckPayloadPath(text, length);
    case DeclValueKind::kExtension: {
      if (length < 2 || length > kExtensionMaxUnits || text[0] != u'.') return DeclProblem::kBadExtension;
      for (size_t i = 1; i < length; ++i)
        if (!IsAsciiLetter(text[i]) && !IsDigit(text[i]) && text[i] != u'_' && text[i] != u'-')
          return DeclProblem::kBadExtension;
      return DeclProblem::kNone;
    }
    case DeclValueKind::kProgId: {
      if (length == 0 || length > kProgIdMaxUnits || !IsAsciiLetter(text[0]) || text[length - 1] == u'.')
        return DeclProblem::kBadProgId;
      for (size_t i = 1; i < length; ++i)
        if (!IsAsciiLetter(text[i]) && !IsDigit(text[i]) && !(text[i] == u'.' && text[i - 1] != u'.'))
          return DeclProblem::kBadProgId;
      return DeclProblem::kNone;
    }
    case DeclValueKind::kVariableName: {
      if (length == 0) return DeclProblem::kEmpty;
      if (SameWord(text, length, "PATH")) return DeclProblem::kBadVariableName;
      for (size_t i = 0; i < length; ++i)
        if (text[i] == u'=' || text[i] == u'%' || text[i] == u'"' || text[i] == u' ') return DeclProblem::kBadVariableName;
      return HoldsInstallFolderToken(text, length) ? DeclProblem::kTokenInName : DeclProblem::kNone;
    }
    case DeclValueKind::kRegistryKey: {
      KeyRoot root;
      size_t start = 0;
      if (HoldsInstallFolderToken(text, length)) return DeclProblem::kTokenInName;
      return CheckDeclaredKey(text, length, &root, &start);
    }
    case DeclValueKind::kValueName:
      for (size_t i = 0; i < length; ++i)
        if (text[i] == u'"') return DeclProblem::kBadData;
      return HoldsInstallFolderToken(text, length) ? DeclProblem::kTokenInName : DeclProblem::kNone;
    case DeclValueKind::kRegistryType:
      return ParseRegistryType(text, length) == RegistryType::kUnknown ? DeclProblem::kBadType : DeclProblem::kNone;
    case DeclValueKind::kUninstall:
      return SameWord(text, length, "remove") || SameWord(text, length, "keep") ? DeclProblem::kNone
                                                                                : DeclProblem::kBadChoice;
    case DeclValueKind::kWhen:
      return SameWord(text, length, "after_install") || SameWord(text, length, "before_uninstall")
                 ? DeclProblem::kNone
                 : DeclProblem::kBadChoice;
    case DeclValueKind::kIconIndex:
      return IsDecimal(text, length, 9999) ? DeclProblem::kNone : DeclProblem::kBadNumber;
    case DeclValueKind::kTaskName: {
      if (length == 0 || length > kTaskNameMaxUnits) return DeclProblem::kBadTaskName;
      for (size_t i = 0; i < length; ++i)
        if (!IsAsciiLetter(text[i]) && !IsDigit(text[i]) && text[i] != u'_') return DeclProblem::kBadTaskName;
      return DeclProblem::kNone;
    }
    case DeclValueKind::kShortcutName:
      // One component of its folder: a name that climbs out ("..") or
      // reaches another folder ("a\\b") or a device ("CON") never is one.
      if (length == 0) return DeclProblem::kEmpty;
      if (length > kShortcutNameMaxUnits || kxnames::CheckFileName(text, length).problem != kxnames::NameProblem::kNone)
        return DeclProblem::kBadShortcutName;
      return HoldsInstallFolderToken(text, length) ? DeclProblem::kTokenInName : DeclProblem::kNone;
    case DeclValueKind::kLocation:
      return SameWord(text, length, "start_menu") || SameWord(text, length, "desktop") ? DeclProblem::kNone
                                                                                       : DeclProblem::kBadLocation;
  }
  return DeclProblem::kBadData;
}

}  // namespace kxdecl
