// The languages' keys of kxpackage.dat (base/package_format.h).
#include <windows.h>
#include <string.h>

#include "base/name_rules.h"
#include "launcher/package_data.h"

namespace {

constexpr const char* kListKey = kxformat::kLanguagesKey;
constexpr const char* kAskKey = kxformat::kLanguagesAskKey;
constexpr char kTitlePrefix[] = "product.window_title.";
constexpr char kLabelPrefix[] = "product.wizard_label.";

bool Is(const char* key, size_t length, const char* name) { return strlen(name) == length && memcmp(key, name, length) == 0; }

bool HasPrefix(const char* key, size_t length, const char* prefix) {
  const size_t prefixLength = strlen(prefix);
  return length > prefixLength && memcmp(key, prefix, prefixLength) == 0;
}

// A language id as kxpack writes it: decimal, no sign or leading zero, from
// 1 to 65535.
bool ParseLanguageId(const char* text, size_t length, unsigned short* id) {
  if (length == 0 || length > 5 || text[0] == '0') return false;
  unsigned value = 0;
  for (size_t i = 0; i < length; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + static_cast<unsigned>(text[i] - '0');
  }
  if (value > 0xFFFF) return false;
  *id = static_cast<unsigned short>(value);
  return true;
}

bool StoreList(const char* value, size_t length, PackageLanguages* languages) {
  if (languages->count != 0) return false;
  for (size_t start = 0; start <= length;) {
    const char* comma = static_cast<const char*>(memchr(value + start, ',', length - start));
    const size_t end = comma ? static_cast<size_t>(comma - value) : length;
    unsigned short id = 0;
    if (languages->count == kPackageLanguageCapacity || !ParseLanguageId(value + start, end - start, &id)) return false;
    for (unsigned i = 0; i < languages->count; ++i)
      if (languages->ids[i] == id) return false;
    languages->ids[languages->count++] = id;
    start = end + 1;
  }
  return true;
}

// A non-empty UTF-8 text without control characters (C0, DEL, C1), as the
// package's other texts.
bool StoreText(const char* value, size_t length, wchar_t* text) {
  if (text[0] != L'\0' || length == 0) return false;
  int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, value, static_cast<int>(length), text,
                                  static_cast<int>(kPackageTextCapacity - 1));
  if (units <= 0) return false;
  text[units] = L'\0';
  return kxnames::FindControlCharacter(reinterpret_cast<const char16_t*>(text), static_cast<size_t>(units)) ==
         static_cast<size_t>(units);
}

PackageLanguageTexts* TextsOf(PackageLanguages* languages, unsigned short id) {
  for (unsigned i = 0; i < languages->textCount; ++i)
    if (languages->texts[i].languageId == id) return &languages->texts[i];
  if (languages->textCount == kPackageLanguageCapacity) return nullptr;
  PackageLanguageTexts* texts = &languages->texts[languages->textCount++];
  texts->languageId = id;
  return texts;
}

const PackageLanguageTexts* FindTexts(const PackageData& data, unsigned languageId) {
  for (unsigned i = 0; i < data.languages.textCount; ++i)
    if (data.languages.texts[i].languageId == languageId) return &data.languages.texts[i];
  return nullptr;
}

}  // namespace

bool IsPackageLanguageKey(const char* key, size_t length) {
  return Is(key, length, kListKey) || Is(key, length, kAskKey) || HasPrefix(key, length, kTitlePrefix) ||
         HasPrefix(key, length, kLabelPrefix);
}

bool StorePackageLanguageValue(const char* key, size_t keyLength, const char* value, size_t valueLength,
                               PackageLanguages* languages) {
  if (Is(key, keyLength, kListKey)) return StoreList(value, valueLength, languages);
  if (Is(key, keyLength, kAskKey)) {
    // While the lines are read, ask is 1 for yes and 2 for no, so that a
    // repeated line shows; CompletePackageLanguages makes it 0 or 1.
    if (valueLength != 1 || (value[0] != '0' && value[0] != '1') || languages->ask != 0) return false;
    languages->ask = static_cast<unsigned char>(value[0] == '1' ? 1 : 2);
    return true;
  }
  const bool title = HasPrefix(key, keyLength, kTitlePrefix);
  const size_t prefixLength = strlen(title ? kTitlePrefix : kLabelPrefix);
  unsigned short id = 0;
  if (!ParseLanguageId(key + prefixLength, keyLength - prefixLength, &id)) return false;
  PackageLanguageTexts* texts = TextsOf(languages, id);
  return texts && StoreText(value, valueLength, title ? texts->windowTitle : texts->wizardLabel);
}

bool CompletePackageLanguages(PackageLanguages* languages) {
  languages->ask = languages->ask == 1;
  if (languages->count == 0) {
    if (languages->textCount != 0) return false;
    languages->ids[0] = kEnglishLanguageId;
    languages->count = 1;
  }
  for (unsigned t = 0; t < languages->textCount; ++t) {
    bool offered = false;
    for (unsigned i = 0; i < languages->count; ++i) offered |= languages->ids[i] == languages->texts[t].languageId;
    if (!offered) return false;
  }
  return true;
}

const wchar_t* PackageWindowTitle(const PackageData& data, unsigned languageId) {
  const PackageLanguageTexts* texts = FindTexts(data, languageId);
  return texts && texts->windowTitle[0] ? texts->windowTitle : data.windowTitle;
}

const wchar_t* PackageWizardLabel(const PackageData& data, unsigned languageId) {
  const PackageLanguageTexts* texts = FindTexts(data, languageId);
  return texts && texts->wizardLabel[0] ? texts->wizardLabel : data.wizardLabel;
}
