// An archive entry's name as both programs check it before writing under it
// (base/entry_names.h) and as the payload extraction places it behind its
// destination (extract/entry_checks.h), over any UTF-16 name. Input: one
// byte for the destination's length, one for the path buffer's capacity,
// then the name in UTF-16LE. The path is built in a buffer of exactly its
// capacity, so the sanitizer sees any write past it; a name found safe stays
// below the destination however Windows reads its components; and a payload
// name kxpack accepts is one the programs unpack.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "base/device_names.h"
#include "base/entry_names.h"
#include "extract/entry_checks.h"
#include "tools/kxpack/name_rules.h"

namespace {

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

// Whether Windows, reading the name's components (trailing dots and blanks
// dropped, ".." climbing), could leave the folder the name is unpacked into
// or open something that is not a file in it: a root, a climb, a device, a
// stream.
bool LeavesFolder(const std::u16string& name) {
  if (name.empty() || IsSeparator(name[0])) return true;
  size_t start = 0;
  for (size_t i = 0; i <= name.size(); ++i) {
    if (i < name.size() && !IsSeparator(name[i])) continue;
    std::u16string part = name.substr(start, i - start);
    start = i + 1;
    if (part.find(u':') != std::u16string::npos) return true;
    const bool dotted = part.find(u'.') != std::u16string::npos;
    while (!part.empty() && (part.back() == u'.' || part.back() == u' ')) part.pop_back();
    if (part.empty() && dotted) return true;  // "..", ". ." and the like may climb
    if (!part.empty() && IsDeviceName(part.data(), part.size())) return true;
  }
  return false;
}

// UTF-8 for kxpack's rules; false for text that is not UTF-16 (a lone surrogate).
bool ToUtf8(const std::u16string& text, std::string* out) {
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF)
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    else if (c >= 0xD800 && c <= 0xDFFF)
      return false;
    if (c < 0x80) {
      *out += static_cast<char>(c);
    } else if (c < 0x800) {
      *out += static_cast<char>(0xC0 | (c >> 6));
      *out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      *out += static_cast<char>(0xE0 | (c >> 12));
      *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      *out += static_cast<char>(0xF0 | (c >> 18));
      *out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t destinationLength = data[0] * 4u;
  const size_t capacity = 2 + data[1] * 4u;
  // The name as the archive stores it: its units and a terminating zero.
  std::vector<char16_t> stored;
  for (size_t i = 2; i + 1 < size; i += 2) stored.push_back(static_cast<char16_t>(data[i] | data[i + 1] << 8));
  stored.push_back(u'\0');
  const std::u16string name(stored.data());  // up to its first zero, as the checks read it

  const bool contained = kxentry::IsContainedEntryName(name.c_str());
  const bool safe = kxentry::IsSafeEntryName(name.c_str());
  if (safe && (!contained || LeavesFolder(name))) abort();

  // Behind a destination, in a buffer of exactly its capacity.
  std::u16string destination = u"C:\\";
  while (destination.size() < destinationLength) destination += static_cast<char16_t>(u'a' + destination.size() % 26);
  if (data[0] & 1) destination.back() = u'\\';
  std::unique_ptr<char16_t[]> path(new char16_t[capacity]);
  size_t nameStart = 0;
  if (StartEntryPath(path.get(), capacity, destination.c_str(), stored.size(), &nameStart)) {
    if (nameStart + stored.size() > capacity) abort();
    if (nameStart == 0 || path[nameStart - 1] != u'\\' || destination.compare(0, nameStart - 1, path.get(), nameStart - 1) != 0)
      abort();
    std::copy(stored.begin(), stored.end(), path.get() + nameStart);
    if (kxentry::IsSafeEntryName(path.get() + nameStart) != safe) abort();
  } else if (destination.size() + 1 + stored.size() <= capacity) {
    abort();  // it would have fit
  }

  // What kxpack lets into a payload, the programs unpack.
  std::string utf8;
  std::vector<std::string> components;
  if (name.size() + 1 == stored.size() && ToUtf8(name, &utf8) && RelativePathProblem(utf8, &components).empty()) {
    if (!safe || !EntryLevelsFit(name.c_str())) abort();
  }

  const uint32_t attributes = static_cast<uint32_t>(stored[0]) << 16 | stored.back();
  const uint32_t applied = WindowsAttributes(attributes);
  if ((applied & ~attributes) || ((attributes & 0x8000) && applied >= 0x8000)) abort();
  return 0;
}
