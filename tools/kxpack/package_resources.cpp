#include "tools/kxpack/package_resources.h"

#include <algorithm>
#include <set>

#include "base/container_format.h"
#include "tools/kxpack/pe_resources.h"

namespace {

// The launcher loads strings into buffers of 260 units, terminator included.
constexpr size_t kMaxTextUnits = 259;
constexpr uint16_t kStringBlockOfTitle = 1;  // strings 0 to 15
constexpr size_t kStringsPerBlock = 16;
constexpr uint16_t kCodePageUnicode = 1200;  // the version block's "040904B0"

// Strict UTF-8 to UTF-16: overlong forms, surrogates and stray bytes fail.
bool Utf16(const std::string& text, std::u16string* out) {
  out->clear();
  for (size_t i = 0; i < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    int extra = lead < 0x80 ? 0 : (lead & 0xE0) == 0xC0 ? 1 : (lead & 0xF0) == 0xE0 ? 2 : (lead & 0xF8) == 0xF0 ? 3 : -1;
    if (extra < 0 || i + extra >= text.size()) return false;
    uint32_t c = extra == 0 ? lead : lead & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
      const unsigned char next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      c = (c << 6) | (next & 0x3F);
    }
    static const uint32_t kSmallest[4] = {0, 0x80, 0x800, 0x10000};
    if (c < kSmallest[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    if (c >= 0x10000) {
      out->push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      out->push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      out->push_back(static_cast<char16_t>(c));
    }
    i += extra + 1;
  }
  return true;
}

bool CheckedText(const char* what, const std::string& text, std::u16string* out, std::string* error) {
  if (!Utf16(text, out)) {
    *error = std::string(what) + " is not valid UTF-8";
    return false;
  }
  if (out->size() > kMaxTextUnits || out->find(u'\0') != std::u16string::npos) {
    *error = std::string(what) + " is longer than " + std::to_string(kMaxTextUnits) + " characters or holds a NUL";
    return false;
  }
  return true;
}

bool SameId(const ResourceId& a, const ResourceId& b) {
  return a.named == b.named && (a.named ? a.name == b.name : a.number == b.number);
}

ResourceId Number(uint16_t n) {
  ResourceId id;
  id.number = n;
  return id;
}

// One node of a version block: key, value, children, each aligned to four
// bytes from the start of the resource.
struct VersionNode {
  std::u16string key;
  bool text = true;
  std::vector<unsigned char> value;
  uint16_t valueLength = 0;  // units for text, bytes for binary values
  std::vector<VersionNode> children;
};

void Align4(std::vector<unsigned char>* out) { out->resize((out->size() + 3) & ~size_t{3}, 0); }

void Emit(const VersionNode& node, std::vector<unsigned char>* out) {
  Align4(out);
  const size_t start = out->size();
  out->resize(start + 6, 0);
  for (char16_t c : node.key) kxbytes::AppendU16(out, static_cast<uint16_t>(c));
  kxbytes::AppendU16(out, 0);
  Align4(out);
  out->insert(out->end(), node.value.begin(), node.value.end());
  for (const VersionNode& child : node.children) Emit(child, out);
  kxbytes::WriteU16(out->data() + start, static_cast<uint16_t>(out->size() - start));
  kxbytes::WriteU16(out->data() + start + 2, node.valueLength);
  kxbytes::WriteU16(out->data() + start + 4, node.text ? 1 : 0);
}

VersionNode StringNode(const std::u16string& key, const std::u16string& value) {
  VersionNode node;
  node.key = key;
  for (char16_t c : value) kxbytes::AppendU16(&node.value, static_cast<uint16_t>(c));
  kxbytes::AppendU16(&node.value, 0);
  node.valueLength = static_cast<uint16_t>(value.size() + 1);
  return node;
}

std::vector<unsigned char> VersionBlock(const uint16_t version[4], const std::vector<VersionNode>& strings) {
  VersionNode root;
  root.key = u"VS_VERSION_INFO";
  root.text = false;
  const uint32_t high = (uint32_t{version[0]} << 16) | version[1], low = (uint32_t{version[2]} << 16) | version[3];
  const uint32_t fixed[13] = {0xFEEF04BDu,  // signature
                              0x00010000u,  // structure version 1.0
                              high, low,    // file version
                              high, low,    // product version
                              0x3Fu, 0,     // flags mask, flags: a release build
                              0x00040004u,  // VOS_NT_WINDOWS32
                              1u,           // VFT_APP
                              0, 0, 0};     // subtype, date
  for (uint32_t v : fixed) kxbytes::AppendU32(&root.value, v);
  root.valueLength = static_cast<uint16_t>(root.value.size());

  VersionNode table;
  table.key = u"040904B0";  // US English, Unicode
  table.children = strings;
  VersionNode stringInfo;
  stringInfo.key = u"StringFileInfo";
  stringInfo.children.push_back(table);

  VersionNode translation;
  translation.key = u"Translation";
  translation.text = false;
  kxbytes::AppendU16(&translation.value, kLanguageEnglishUs);
  kxbytes::AppendU16(&translation.value, kCodePageUnicode);
  translation.valueLength = 4;
  VersionNode varInfo;
  varInfo.key = u"VarFileInfo";
  varInfo.children.push_back(translation);

  root.children = {stringInfo, varInfo};
  std::vector<unsigned char> out;
  Emit(root, &out);
  return out;
}

bool AddVersion(const PackageIdentity& identity, ProgramRole role, std::vector<Resource>* resources,
                std::string* error) {
  if (identity.version.empty()) {
    *error = "version information needs the product's version";
    return false;
  }
  uint16_t version[4];
  if (!ParseVersion(identity.version, version, error)) return false;
  std::u16string name, versionText, publisher, copyright, fileName;
  if (!CheckedText("the product name", identity.productName, &name, error) ||
      !CheckedText("the version", identity.version, &versionText, error) ||
      !CheckedText("the publisher", identity.publisher, &publisher, error) ||
      !CheckedText("the copyright", identity.copyright, &copyright, error) ||
      !CheckedText("the file name", identity.fileName, &fileName, error))
    return false;
  const bool setup = role == ProgramRole::kSetup;
  if (fileName.empty()) fileName = setup ? u"setup.exe" : u"Uninst.exe";
  std::u16string internalName = fileName.substr(0, fileName.rfind(u'.'));

  std::vector<VersionNode> strings;
  if (!publisher.empty()) strings.push_back(StringNode(u"CompanyName", publisher));
  strings.push_back(StringNode(u"FileDescription", name + (setup ? u" Setup" : u" Uninstaller")));
  strings.push_back(StringNode(u"FileVersion", versionText));
  strings.push_back(StringNode(u"InternalName", internalName));
  if (!copyright.empty()) strings.push_back(StringNode(u"LegalCopyright", copyright));
  strings.push_back(StringNode(u"OriginalFilename", fileName));
  strings.push_back(StringNode(u"ProductName", name));
  strings.push_back(StringNode(u"ProductVersion", versionText));

  resources->erase(std::remove_if(resources->begin(), resources->end(),
                                  [](const Resource& r) { return !r.type.named && r.type.number == kResourceVersion; }),
                   resources->end());
  Resource version_resource;
  version_resource.type = Number(kResourceVersion);
  version_resource.name = Number(1);
  version_resource.language = kLanguageEnglishUs;
  version_resource.data = VersionBlock(version, strings);
  resources->push_back(version_resource);
  return true;
}

// A string block: sixteen counted UTF-16 strings.
bool SetStringZero(std::vector<unsigned char>* block, const std::u16string& text) {
  std::vector<std::u16string> strings;
  size_t at = 0;
  for (size_t i = 0; i < kStringsPerBlock; ++i) {
    if (at + 2 > block->size()) return false;
    const size_t length = kxbytes::ReadU16(block->data() + at);
    if (at + 2 + 2 * length > block->size()) return false;
    std::u16string s;
    for (size_t k = 0; k < length; ++k) s.push_back(static_cast<char16_t>(kxbytes::ReadU16(block->data() + at + 2 + 2 * k)));
    strings.push_back(s);
    at += 2 + 2 * length;
  }
  strings[0] = text;
  block->clear();
  for (const std::u16string& s : strings) {
    kxbytes::AppendU16(block, static_cast<uint16_t>(s.size()));
    for (char16_t c : s) kxbytes::AppendU16(block, static_cast<uint16_t>(c));
  }
  return true;
}

bool SetTitle(const std::string& title, std::vector<Resource>* resources, std::string* error) {
  std::u16string text;
  if (!CheckedText("the title", title, &text, error)) return false;
  bool found = false;
  for (Resource& r : *resources) {
    if (r.type.named || r.type.number != kResourceString || !SameId(r.name, Number(kStringBlockOfTitle))) continue;
    if (!SetStringZero(&r.data, text)) {
      *error = "the stub's string table is damaged";
      return false;
    }
    found = true;
  }
  if (!found) {
    Resource block;
    block.type = Number(kResourceString);
    block.name = Number(kStringBlockOfTitle);
    block.language = kLanguageEnglishUs;
    block.data.assign(2 * kStringsPerBlock, 0);
    SetStringZero(&block.data, text);
    resources->push_back(block);
  }
  return true;
}

// Replaces the first icon group (the one Explorer shows) and the images only
// it uses; other groups keep theirs.
bool SetIcon(const std::vector<unsigned char>& file, std::vector<Resource>* resources, std::string* error) {
  std::vector<IconImage> images;
  if (!ReadIconFile(file, &images, error)) return false;
  auto isGroup = [](const Resource& r) { return !r.type.named && r.type.number == kResourceGroupIcon; };
  auto isImage = [](const Resource& r) { return !r.type.named && r.type.number == kResourceIcon; };
  auto first = std::find_if(resources->begin(), resources->end(), isGroup);
  ResourceId groupName = first == resources->end() ? Number(1) : first->name;
  uint16_t language = first == resources->end() ? kLanguageEnglishUs : first->language;

  // Images referred to by a group: 14-byte entries after a 6-byte header,
  // the image's id in the last two bytes.
  auto imagesOf = [](const Resource& group, std::set<uint16_t>* ids) {
    if (group.data.size() < 6) return;
    const size_t count = kxbytes::ReadU16(group.data.data() + 4);
    for (size_t i = 0; i < count && 6 + 14 * (i + 1) <= group.data.size(); ++i)
      ids->insert(kxbytes::ReadU16(group.data.data() + 6 + 14 * i + 12));
  };
  std::set<uint16_t> dropped, kept;
  for (const Resource& r : *resources)
    if (isGroup(r)) imagesOf(r, SameId(r.name, groupName) ? &dropped : &kept);
  resources->erase(std::remove_if(resources->begin(), resources->end(),
                                  [&](const Resource& r) {
                                    return (isGroup(r) && SameId(r.name, groupName)) ||
                                           (isImage(r) && !r.name.named && dropped.count(r.name.number) &&
                                            !kept.count(r.name.number));
                                  }),
                   resources->end());
  std::set<uint16_t> used;
  for (const Resource& r : *resources)
    if (isImage(r) && !r.name.named) used.insert(r.name.number);

  Resource group;
  group.type = Number(kResourceGroupIcon);
  group.name = groupName;
  group.language = language;
  kxbytes::AppendU16(&group.data, 0);
  kxbytes::AppendU16(&group.data, 1);
  kxbytes::AppendU16(&group.data, static_cast<uint16_t>(images.size()));
  uint16_t next = 1;
  for (const IconImage& image : images) {
    while (used.count(next)) ++next;
    if (next == 0) {
      *error = "no free icon ids are left in the stub";
      return false;
    }
    Resource icon;
    icon.type = Number(kResourceIcon);
    icon.name = Number(next);
    icon.language = language;
    icon.data = image.data;
    resources->push_back(icon);
    group.data.insert(group.data.end(), image.directoryEntry, image.directoryEntry + 12);
    kxbytes::AppendU16(&group.data, next++);
  }
  resources->push_back(group);
  return true;
}

// The level the manifest requests of Windows: the stubs ask for an
// administrator; a package for the current user must start without one, or
// Windows would ask every user for an administrator's password.
bool SetExecutionLevel(const std::string& level, std::vector<Resource>* resources, std::string* error) {
  static const std::string kStubLevel = "level=\"requireAdministrator\"";
  size_t changed = 0;
  for (Resource& resource : *resources) {
    if (resource.type.named || resource.type.number != kResourceManifest) continue;
    std::string text(resource.data.begin(), resource.data.end());
    const size_t at = text.find(kStubLevel);
    if (at == std::string::npos) continue;
    text.replace(at, kStubLevel.size(), "level=\"" + level + "\"");
    resource.data.assign(text.begin(), text.end());
    ++changed;
  }
  if (changed == 1) return true;
  *error = "the stub's manifest does not request the administrator exactly once";
  return false;
}

}  // namespace

bool HasPackageResources(const PackageIdentity& identity) {
  return !identity.title.empty() || !identity.productName.empty() || !identity.icon.empty() ||
         !identity.executionLevel.empty();
}

bool ReadIconFile(const std::vector<unsigned char>& file, std::vector<IconImage>* images, std::string* error) {
  images->clear();
  const size_t count = file.size() >= 6 ? kxbytes::ReadU16(file.data() + 4) : 0;
  if (file.size() < 6 || kxbytes::ReadU16(file.data()) != 0 || kxbytes::ReadU16(file.data() + 2) != 1 ||
      count == 0 || 6 + 16 * count > file.size()) {
    *error = "not an icon file (.ico) with at least one image";
    return false;
  }
  static const unsigned char kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  for (size_t i = 0; i < count; ++i) {
    const unsigned char* entry = file.data() + 6 + 16 * i;
    const uint64_t size = kxbytes::ReadU32(entry + 8), offset = kxbytes::ReadU32(entry + 12);
    const std::string which = "icon image " + std::to_string(i + 1);
    if (size < 8 || offset + size > file.size()) {
      *error = which + " lies outside the file";
      return false;
    }
    const unsigned char* data = file.data() + offset;
    if (kxbytes::ReadU32(data) != 40 && !std::equal(kPng, kPng + 8, data)) {
      *error = which + " is neither a bitmap nor a PNG";
      return false;
    }
    IconImage image;
    std::copy(entry, entry + 12, image.directoryEntry);
    image.data.assign(data, data + size);
    images->push_back(std::move(image));
  }
  return true;
}

bool ParseVersion(const std::string& text, uint16_t parts[4], std::string* error) {
  std::fill(parts, parts + 4, 0);
  size_t at = 0;
  for (int part = 0; part < 4; ++part) {
    if (at >= text.size() || text[at] < '0' || text[at] > '9') {
      if (part > 0) break;
      *error = "the version \"" + text + "\" does not start with a number";
      return false;
    }
    uint32_t value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
      value = value * 10 + static_cast<uint32_t>(text[at] - '0');
      if (value > 0xFFFF) {
        *error = "the version \"" + text + "\" has a part above 65535";
        return false;
      }
    }
    parts[part] = static_cast<uint16_t>(value);
    if (at + 1 >= text.size() || text[at] != '.' || text[at + 1] < '0' || text[at + 1] > '9') break;
    ++at;
  }
  return true;
}

bool ApplyPackageResources(const std::vector<unsigned char>& stub, const PackageIdentity& identity,
                           ProgramRole role, std::vector<unsigned char>* out, std::string* error) {
  std::vector<Resource> resources;
  if (!ReadResources(stub, &resources, error)) return false;
  if (!identity.title.empty() && !SetTitle(identity.title, &resources, error)) return false;
  if (!identity.icon.empty() && !SetIcon(identity.icon, &resources, error)) return false;
  if (!identity.executionLevel.empty() && !SetExecutionLevel(identity.executionLevel, &resources, error)) return false;
  if (!identity.productName.empty() && !AddVersion(identity, role, &resources, error)) return false;
  if (identity.productName.empty() && !identity.version.empty()) {
    *error = "version information needs the product's name";
    return false;
  }
  return WriteResources(stub, resources, out, error);
}
