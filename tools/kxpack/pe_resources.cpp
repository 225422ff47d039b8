#include "tools/kxpack/pe_resources.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "base/container_format.h"

namespace {

// Offsets inside the PE32+ headers, from the PE signature.
constexpr size_t kSectionCountField = 6;
constexpr size_t kOptionalHeaderSizeField = 20;
constexpr size_t kOptional = 24;
constexpr size_t kInitializedDataField = kOptional + 8;
constexpr size_t kSectionAlignmentField = kOptional + 32;
constexpr size_t kFileAlignmentField = kOptional + 36;
constexpr size_t kImageSizeField = kOptional + 56;
constexpr size_t kHeadersSizeField = kOptional + 60;
constexpr size_t kChecksumField = kOptional + 64;
constexpr size_t kDirectoryCountField = kOptional + 108;
constexpr size_t kResourceDirectory = kOptional + 112 + 2 * 8;
constexpr size_t kCertificateDirectory = kOptional + 112 + 4 * 8;
constexpr uint32_t kOptionalHeaderSize = 240;

constexpr uint32_t kSubdirectoryBit = 0x80000000u;
constexpr uint32_t kSectionInitializedReadable = 0x40000040u;    // initialised data, readable
constexpr uint32_t kSectionUninitializedReadable = 0x40000080u;  // zero-filled data, readable
constexpr size_t kDebugDirectory = kOptional + 112 + 6 * 8;
constexpr size_t kDirectorySize = 16;
constexpr size_t kDirectoryEntrySize = 8;
constexpr size_t kDataEntrySize = 16;
constexpr int kTreeLevels = 3;  // type, name, language

uint32_t AlignUp(uint32_t value, uint32_t alignment) { return (value + alignment - 1) / alignment * alignment; }

struct Section {
  size_t header;  // file offset of its section header
  uint32_t virtualSize, virtualAddress, rawSize, rawPointer;
};

// The headers a rewrite needs, checked once.
struct Headers {
  size_t pe = 0;
  std::vector<Section> sections;
};

bool ReadHeaders(const std::vector<unsigned char>& image, Headers* headers, std::string* error) {
  const size_t available = std::min(image.size(), kxformat::kHeaderBufferSize);
  headers->pe = kxformat::PeSignatureOffset(image.data(), available);
  const unsigned char* pe = image.data() + headers->pe;
  if (headers->pe == 0 || kxbytes::ReadU16(pe + kOptionalHeaderSizeField) != kOptionalHeaderSize ||
      kxbytes::ReadU16(pe + kOptional) != 0x20B) {
    *error = "not a PE32+ image with the usual optional header";
    return false;
  }
  if (kxbytes::ReadU32(pe + kDirectoryCountField) < 5) {
    *error = "the image has no resource or certificate directory entries";
    return false;
  }
  const size_t count = kxbytes::ReadU16(pe + kSectionCountField);
  const size_t table = headers->pe + kxformat::kSectionTableDistance;
  if (table + count * kxformat::kSectionHeaderSize > available) {
    *error = "the section table does not fit in the first 4096 bytes";
    return false;
  }
  for (size_t i = 0; i < count; ++i) {
    const unsigned char* s = image.data() + table + i * kxformat::kSectionHeaderSize;
    headers->sections.push_back({table + i * kxformat::kSectionHeaderSize, kxbytes::ReadU32(s + 8),
                                 kxbytes::ReadU32(s + 12), kxbytes::ReadU32(s + 16), kxbytes::ReadU32(s + 20)});
  }
  return true;
}

// The section that holds the stub's own tree and nothing else (it starts
// where the resource directory points and is named for it), when its file
// bytes can be dropped; null otherwise.
const Section* OldResourceSection(const std::vector<unsigned char>& image, const Headers& headers) {
  const unsigned char* h = image.data() + headers.pe;
  const uint32_t rva = kxbytes::ReadU32(h + kResourceDirectory);
  if (rva == 0 || kxbytes::ReadU32(h + kDebugDirectory + 4) != 0 || kxbytes::ReadU32(h + 12) != 0) return nullptr;
  for (const Section& s : headers.sections)
    if (s.virtualAddress == rva && s.rawPointer != 0 && s.rawSize != 0 &&
        std::memcmp(image.data() + s.header, ".rsrc\0\0\0", 8) == 0)
      return &s;
  return nullptr;
}

// File offset of size bytes at rva, or 0 when they are not all stored in
// one section's raw data.
size_t FileOffset(const Headers& headers, size_t fileSize, uint32_t rva, uint32_t size) {
  for (const Section& s : headers.sections) {
    if (rva < s.virtualAddress) continue;
    const uint64_t into = rva - s.virtualAddress;
    if (into + size > s.rawSize || into >= std::max(s.virtualSize, s.rawSize)) continue;
    const uint64_t offset = s.rawPointer + into;
    if (s.rawPointer == 0 || offset + size > fileSize) return 0;
    return static_cast<size_t>(offset);
  }
  return 0;
}

class TreeReader {
 public:
  TreeReader(const std::vector<unsigned char>& image, const Headers& headers, size_t base, uint32_t size)
      : image_(image), headers_(headers), base_(base), size_(size) {}

  bool Read(std::vector<Resource>* out, std::string* error) {
    Resource path;
    if (!Directory(0, 0, &path, out)) {
      *error = "damaged resource tree: " + problem_;
      return false;
    }
    return true;
  }

 private:
  bool Fail(const std::string& problem) {
    problem_ = problem;
    return false;
  }

  bool Directory(uint32_t offset, int level, Resource* path, std::vector<Resource>* out) {
    if (offset + kDirectorySize > size_) return Fail("a directory lies outside the resource data");
    if (!visited_.insert(offset).second) return Fail("a directory is reached twice");
    const unsigned char* d = image_.data() + base_ + offset;
    const size_t entries = static_cast<size_t>(kxbytes::ReadU16(d + 12)) + kxbytes::ReadU16(d + 14);
    if (offset + kDirectorySize + entries * kDirectoryEntrySize > size_)
      return Fail("a directory's entries lie outside the resource data");
    for (size_t i = 0; i < entries; ++i) {
      const unsigned char* e = d + kDirectorySize + i * kDirectoryEntrySize;
      ResourceId id;
      if (!Identifier(kxbytes::ReadU32(e), &id)) return false;
      const uint32_t target = kxbytes::ReadU32(e + 4);
      const bool subdirectory = (target & kSubdirectoryBit) != 0;
      if (subdirectory != (level < kTreeLevels - 1)) return Fail("the tree is not three levels deep");
      if (level == 0) path->type = id;
      if (level == 1) path->name = id;
      if (subdirectory) {
        if (!Directory(target & ~kSubdirectoryBit, level + 1, path, out)) return false;
        continue;
      }
      if (id.named) return Fail("a language is named");
      path->language = id.number;
      if (!Data(target, path)) return false;
      out->push_back(*path);
    }
    return true;
  }

  bool Identifier(uint32_t field, ResourceId* id) {
    if ((field & kSubdirectoryBit) == 0) {
      id->number = static_cast<uint16_t>(field);
      return field <= 0xFFFF || Fail("an identifier is above 65535");
    }
    const uint32_t offset = field & ~kSubdirectoryBit;
    if (offset + 2 > size_) return Fail("a name lies outside the resource data");
    const unsigned char* p = image_.data() + base_ + offset;
    const size_t length = kxbytes::ReadU16(p);
    if (offset + 2 + 2 * length > size_) return Fail("a name runs past the resource data");
    id->named = true;
    for (size_t i = 0; i < length; ++i) id->name.push_back(static_cast<char16_t>(kxbytes::ReadU16(p + 2 + 2 * i)));
    return true;
  }

  bool Data(uint32_t offset, Resource* path) {
    if (offset + kDataEntrySize > size_) return Fail("a data entry lies outside the resource data");
    const unsigned char* e = image_.data() + base_ + offset;
    const uint32_t rva = kxbytes::ReadU32(e), size = kxbytes::ReadU32(e + 4);
    path->codePage = kxbytes::ReadU32(e + 8);
    path->data.clear();
    if (size == 0) return true;
    const size_t at = FileOffset(headers_, image_.size(), rva, size);
    if (at == 0) return Fail("a resource's data lies outside the image's sections");
    path->data.assign(image_.begin() + static_cast<long>(at), image_.begin() + static_cast<long>(at + size));
    return true;
  }

  const std::vector<unsigned char>& image_;
  const Headers& headers_;
  size_t base_;
  uint32_t size_;
  std::set<uint32_t> visited_;
  std::string problem_;
};

// Named entries first, in the case-blind order the loader's binary search
// expects, then numbers in ascending order.
std::u16string Upper(const std::u16string& text) {
  std::u16string upper(text);
  for (char16_t& c : upper)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  return upper;
}

struct IdOrder {
  bool operator()(const ResourceId& a, const ResourceId& b) const {
    if (a.named != b.named) return a.named;
    if (a.named) return Upper(a.name) < Upper(b.name);
    return a.number < b.number;
  }
};

// The tree as the writer lays it out: type -> name -> language -> resource.
using LanguageMap = std::map<uint16_t, const Resource*>;
using NameMap = std::map<ResourceId, LanguageMap, IdOrder>;
using TypeMap = std::map<ResourceId, NameMap, IdOrder>;

// Where a resource's data already lies outside the tree (its RVA).
using PlacedData = std::map<const Resource*, uint32_t>;

class TreeWriter {
 public:
  TreeWriter(uint32_t sectionRva, const PlacedData& placed) : rva_(sectionRva), placed_(placed) {}

  std::vector<unsigned char> Write(const TypeMap& tree) {
    // Sizes first: directories, then data entries, names and data.
    size_t directories = kDirectorySize + tree.size() * kDirectoryEntrySize, leaves = 0;
    for (const auto& type : tree) {
      directories += kDirectorySize + type.second.size() * kDirectoryEntrySize;
      for (const auto& name : type.second) {
        directories += kDirectorySize + name.second.size() * kDirectoryEntrySize;
        leaves += name.second.size();
      }
    }
    dataEntries_ = directories;
    names_ = dataEntries_ + leaves * kDataEntrySize;
    bytes_.assign(names_, 0);
    directoryEnd_ = 0;
    nextDataEntry_ = dataEntries_;

    size_t root = NewDirectory(tree.size(), tree.begin(), tree.end());
    size_t slot = root + kDirectorySize;
    for (const auto& type : tree) {
      size_t names = NewDirectory(type.second.size(), type.second.begin(), type.second.end());
      Entry(slot, type.first, static_cast<uint32_t>(names) | kSubdirectoryBit);
      slot += kDirectoryEntrySize;
      size_t nameSlot = names + kDirectorySize;
      for (const auto& name : type.second) {
        size_t languages = NewDirectory(name.second.size(), name.second.begin(), name.second.end());
        Entry(nameSlot, name.first, static_cast<uint32_t>(languages) | kSubdirectoryBit);
        nameSlot += kDirectoryEntrySize;
        size_t languageSlot = languages + kDirectorySize;
        for (const auto& language : name.second) {
          kxbytes::WriteU32(&bytes_[languageSlot], language.first);
          kxbytes::WriteU32(&bytes_[languageSlot + 4], static_cast<uint32_t>(nextDataEntry_));
          pending_.push_back({nextDataEntry_, language.second});
          nextDataEntry_ += kDataEntrySize;
          languageSlot += kDirectoryEntrySize;
        }
      }
    }
    // Names were appended while the entries were written; data follows,
    // each block aligned for the loader, but for data placed elsewhere.
    for (const auto& leaf : pending_) {
      kxbytes::WriteU32(&bytes_[leaf.first + 4], static_cast<uint32_t>(leaf.second->data.size()));
      kxbytes::WriteU32(&bytes_[leaf.first + 8], leaf.second->codePage);
      const auto placed = placed_.find(leaf.second);
      if (placed != placed_.end()) {
        kxbytes::WriteU32(&bytes_[leaf.first], placed->second);
        continue;
      }
      bytes_.resize(AlignUp(static_cast<uint32_t>(bytes_.size()), 8), 0);
      kxbytes::WriteU32(&bytes_[leaf.first], rva_ + static_cast<uint32_t>(bytes_.size()));
      bytes_.insert(bytes_.end(), leaf.second->data.begin(), leaf.second->data.end());
    }
    return bytes_;
  }

 private:
  template <typename Iterator>
  size_t NewDirectory(size_t entries, Iterator begin, Iterator end) {
    size_t at = directoryEnd_;
    directoryEnd_ += kDirectorySize + entries * kDirectoryEntrySize;
    uint16_t named = 0;
    for (Iterator it = begin; it != end; ++it) named += IsNamed(it->first);
    kxbytes::WriteU16(&bytes_[at + 12], named);
    kxbytes::WriteU16(&bytes_[at + 14], static_cast<uint16_t>(entries - named));
    return at;
  }

  static bool IsNamed(const ResourceId& id) { return id.named; }
  static bool IsNamed(uint16_t) { return false; }

  void Entry(size_t slot, const ResourceId& id, uint32_t target) {
    uint32_t field = id.number;
    if (id.named) {
      auto known = nameOffsets_.find(id.name);
      if (known == nameOffsets_.end()) {
        known = nameOffsets_.emplace(id.name, bytes_.size()).first;
        unsigned char length[2];
        kxbytes::WriteU16(length, static_cast<uint16_t>(id.name.size()));
        bytes_.insert(bytes_.end(), length, length + 2);
        for (char16_t c : id.name) {
          kxbytes::WriteU16(length, static_cast<uint16_t>(c));
          bytes_.insert(bytes_.end(), length, length + 2);
        }
      }
      field = static_cast<uint32_t>(known->second) | kSubdirectoryBit;
    }
    kxbytes::WriteU32(&bytes_[slot], field);
    kxbytes::WriteU32(&bytes_[slot + 4], target);
  }

  uint32_t rva_;
  const PlacedData& placed_;
  std::vector<unsigned char> bytes_;
  size_t dataEntries_ = 0, names_ = 0, directoryEnd_ = 0, nextDataEntry_ = 0;
  std::map<std::u16string, size_t> nameOffsets_;
  std::vector<std::pair<size_t, const Resource*>> pending_;
};

}  // namespace

bool ReadResources(const std::vector<unsigned char>& image, std::vector<Resource>* resources, std::string* error) {
  resources->clear();
  Headers headers;
  if (!ReadHeaders(image, &headers, error)) return false;
  const unsigned char* directory = image.data() + headers.pe + kResourceDirectory;
  const uint32_t rva = kxbytes::ReadU32(directory), size = kxbytes::ReadU32(directory + 4);
  if (rva == 0 || size == 0) return true;
  const size_t base = FileOffset(headers, image.size(), rva, size);
  if (base == 0) {
    *error = "the resource directory lies outside the image's sections";
    return false;
  }
  return TreeReader(image, headers, base, size).Read(resources, error);
}

bool WriteResources(const std::vector<unsigned char>& image, const std::vector<Resource>& resources,
                    std::vector<unsigned char>* out, std::string* error) {
  Headers headers;
  if (!ReadHeaders(image, &headers, error)) return false;
  const size_t pe = headers.pe;
  const unsigned char* h = image.data() + pe;
  const uint32_t sectionAlignment = kxbytes::ReadU32(h + kSectionAlignmentField);
  const uint32_t fileAlignment = kxbytes::ReadU32(h + kFileAlignmentField);
  if (headers.sections.empty()) {
    *error = "the image has no sections";
    return false;
  }
  // As the loader has them: powers of two, the file's from 512 bytes to
  // 64 KiB, the sections' no smaller. Other values would place the new
  // section anywhere up to 4 GiB further on.
  const auto powerOfTwo = [](uint32_t v) { return v != 0 && (v & (v - 1)) == 0; };
  if (!powerOfTwo(fileAlignment) || fileAlignment < 512 || fileAlignment > 0x10000 || !powerOfTwo(sectionAlignment) ||
      sectionAlignment < fileAlignment) {
    *error = "the image's section or file alignment is not one Windows loads";
    return false;
  }

  // The loader wants sections back to back in memory: the new one starts
  // where the highest one ends, counting its raw data too where that is the
  // larger (the reader takes an address inside a section's raw data as that
  // section's, so the new tree must lie past it). Ends are summed in 64
  // bits: a sum that wrapped would hide a section running past the file.
  uint64_t imageEnd = 0, fileEnd = 0;
  uint32_t firstRaw = UINT32_MAX;
  for (const Section& s : headers.sections) {
    const uint64_t end = uint64_t{s.virtualAddress} + std::max(s.virtualSize, s.rawSize);
    imageEnd = std::max(imageEnd, (end + sectionAlignment - 1) / sectionAlignment * sectionAlignment);
    if (s.rawPointer != 0) {
      fileEnd = std::max(fileEnd, uint64_t{s.rawPointer} + s.rawSize);
      firstRaw = std::min(firstRaw, s.rawPointer);
    }
  }
  if (fileEnd != image.size()) {
    *error = "the image does not end with its last section";
    return false;
  }
  if (imageEnd > UINT32_MAX - 0x10000000u || fileEnd > UINT32_MAX - 0x10000000u) {
    *error = "the image leaves no room for another section";
    return false;
  }
  // The new headers must fit where the old headers end, before any section
  // data and inside the reader's first 4096 bytes, over bytes that are zero.
  const size_t newHeader = headers.sections.back().header + kxformat::kSectionHeaderSize;
  const size_t headersEnd = std::min<size_t>(kxbytes::ReadU32(h + kHeadersSizeField), firstRaw);
  const auto roomFor = [&](size_t sections) {
    const size_t end = newHeader + sections * kxformat::kSectionHeaderSize;
    return end <= std::min(headersEnd, kxformat::kHeaderBufferSize) &&
           std::all_of(image.begin() + static_cast<long>(newHeader), image.begin() + static_cast<long>(end),
                       [](unsigned char b) { return b == 0; });
  };
  if (!roomFor(1)) {
    *error = "the headers have no room for another section";
    return false;
  }

  TypeMap tree;
  for (const Resource& r : resources) {
    const Resource*& slot = tree[r.type][r.name][r.language];
    if (slot) {
      *error = "a resource is given twice";
      return false;
    }
    slot = &r;
  }
  // The icon's images go into a section of their own, listed before the
  // tree's, where the headers have room for both. The two programs of a
  // package differ in their strings and version information but show the
  // same icon, and so have that section at the same place with the same
  // bytes: the uninstaller a setup carries leaves it out as it leaves out
  // the loader's other sections (base/loader_sections.h), and the icon's
  // images, which compress no further, travel once.
  std::vector<const Resource*> icons;
  for (const auto& type : tree)
    if (!type.first.named && type.first.number == kResourceIcon)
      for (const auto& name : type.second)
        for (const auto& language : name.second) icons.push_back(language.second);
  const bool iconSection = !icons.empty() && roomFor(2);

  *out = image;
  uint32_t initializedData = kxbytes::ReadU32(out->data() + pe + kInitializedDataField);
  const Section* old = OldResourceSection(image, headers);
  if (old) {
    // The old tree's section keeps its place in memory, zero-filled, but
    // gives up its bytes in the file: the sections behind it move down.
    // Nothing else refers to file offsets in an unsigned image without
    // debug data or symbols.
    out->erase(out->begin() + old->rawPointer, out->begin() + old->rawPointer + old->rawSize);
    for (const Section& s : headers.sections)
      if (s.rawPointer > old->rawPointer) kxbytes::WriteU32(out->data() + s.header + 20, s.rawPointer - old->rawSize);
    std::memcpy(out->data() + old->header, ".rsrc0\0\0", 8);
    kxbytes::WriteU32(out->data() + old->header + 16, 0);
    kxbytes::WriteU32(out->data() + old->header + 20, 0);
    kxbytes::WriteU32(out->data() + old->header + 36, kSectionUninitializedReadable);
    initializedData -= old->rawSize;
    fileEnd -= old->rawSize;
  }

  // Each new section starts where the last one ends, in memory and in the
  // file; all of them together stay under 256 MiB, so that no address
  // wraps (imageEnd leaves that much room, checked above).
  uint64_t rva = imageEnd, used = 0;
  size_t header = newHeader;
  out->resize(AlignUp(static_cast<uint32_t>(fileEnd), fileAlignment), 0);
  const auto append = [&](const char* name, std::vector<unsigned char> section) {
    used += (uint64_t{section.size()} + sectionAlignment - 1) / sectionAlignment * sectionAlignment;
    if (used > 0x10000000u) return false;
    const uint32_t virtualSize = static_cast<uint32_t>(section.size());
    const uint32_t rawSize = AlignUp(virtualSize, fileAlignment);
    const uint32_t rawPointer = static_cast<uint32_t>(out->size());
    section.resize(rawSize, 0);
    out->insert(out->end(), section.begin(), section.end());
    unsigned char* at = out->data() + header;
    std::memcpy(at, name, 8);
    kxbytes::WriteU32(at + 8, virtualSize);
    kxbytes::WriteU32(at + 12, static_cast<uint32_t>(rva));
    kxbytes::WriteU32(at + 16, rawSize);
    kxbytes::WriteU32(at + 20, rawPointer);
    kxbytes::WriteU32(at + 36, kSectionInitializedReadable);
    initializedData += rawSize;
    header += kxformat::kSectionHeaderSize;
    rva = (rva + virtualSize + sectionAlignment - 1) / sectionAlignment * sectionAlignment;
    return true;
  };
  PlacedData placed;
  if (iconSection) {
    std::vector<unsigned char> data;
    for (const Resource* icon : icons) {
      if (data.size() > 0x10000000u) break;  // append refuses it
      data.resize(AlignUp(static_cast<uint32_t>(data.size()), 8), 0);
      placed[icon] = static_cast<uint32_t>(rva + data.size());
      data.insert(data.end(), icon->data.begin(), icon->data.end());
    }
    if (!append(".icons\0\0", std::move(data))) {
      *error = "the resources take more than 256 MiB";
      return false;
    }
  }
  const uint32_t treeRva = static_cast<uint32_t>(rva);
  std::vector<unsigned char> section = TreeWriter(treeRva, placed).Write(tree);
  const uint32_t treeSize = static_cast<uint32_t>(std::min<size_t>(section.size(), UINT32_MAX));
  if (!append(".rsrc\0\0\0", std::move(section))) {
    *error = "the resources take more than 256 MiB";
    return false;
  }
  unsigned char* o = out->data() + pe;
  kxbytes::WriteU16(o + kSectionCountField,
                    static_cast<uint16_t>(headers.sections.size() + (header - newHeader) / kxformat::kSectionHeaderSize));
  kxbytes::WriteU32(o + kImageSizeField, static_cast<uint32_t>(rva));
  kxbytes::WriteU32(o + kInitializedDataField, initializedData);
  kxbytes::WriteU32(o + kResourceDirectory, treeRva);
  kxbytes::WriteU32(o + kResourceDirectory + 4, treeSize);
  UpdatePeChecksum(out);
  return true;
}

void UpdatePeChecksum(std::vector<unsigned char>* file) {
  const size_t pe = kxformat::PeSignatureOffset(file->data(), std::min(file->size(), kxformat::kHeaderBufferSize));
  if (pe == 0) return;
  const size_t field = pe + kChecksumField;
  uint64_t sum = 0;
  for (size_t i = 0; i < file->size(); i += 2) {
    if (i == field || i == field + 2) continue;
    sum += (*file)[i] | (i + 1 < file->size() ? (*file)[i + 1] << 8 : 0);
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  kxbytes::WriteU32(file->data() + field, static_cast<uint32_t>(sum + file->size()));
}

void CertificateTable(const std::vector<unsigned char>& file, uint32_t* offset, uint32_t* size) {
  *offset = *size = 0;
  const size_t pe = kxformat::PeSignatureOffset(file.data(), std::min(file.size(), kxformat::kHeaderBufferSize));
  if (pe == 0 || kxbytes::ReadU32(file.data() + pe + kDirectoryCountField) < 5) return;
  *offset = kxbytes::ReadU32(file.data() + pe + kCertificateDirectory);
  *size = kxbytes::ReadU32(file.data() + pe + kCertificateDirectory + 4);
}
