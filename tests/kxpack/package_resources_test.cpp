// The package's resources in a stub: the tree survives a rewrite, the
// stub's other resources are kept, damaged input is refused; and the
// signing command's contract.
#include <gtest/gtest.h>

#include "base/byte_order.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "base/container_format.h"
#include "base/loader_sections.h"
#include "tools/kxpack/package_resources.h"
#include "tools/kxpack/pe_resources.h"
#include "tools/kxpack/signing.h"

namespace {

using Bytes = std::vector<unsigned char>;
constexpr size_t kPe = 0x80;
constexpr size_t kOptional = kPe + 24;

void PutU16(Bytes* b, size_t at, uint16_t v) {
  (*b)[at] = static_cast<unsigned char>(v);
  (*b)[at + 1] = static_cast<unsigned char>(v >> 8);
}

void PutU32(Bytes* b, size_t at, uint32_t v) { kxbytes::WriteU32(b->data() + at, v); }

uint32_t U32(const Bytes& b, size_t at) { return kxbytes::ReadU32(b.data() + at); }

// A linked image's shape: headers in 0x400 bytes, one code section of 0x200
// bytes at 0x1000, sections aligned to 0x1000 in memory and 0x200 on disk.
Bytes BareImage() {
  Bytes b(0x600, 0);
  b[0] = 'M';
  b[1] = 'Z';
  PutU32(&b, 0x3C, kPe);
  b[kPe] = 'P';
  b[kPe + 1] = 'E';
  PutU16(&b, kPe + 4, 0x8664);
  PutU16(&b, kPe + 6, 1);
  PutU16(&b, kPe + 20, 240);
  PutU16(&b, kOptional, 0x20B);
  PutU32(&b, kOptional + 8, 0x200);   // SizeOfInitializedData
  PutU32(&b, kOptional + 32, 0x1000);
  PutU32(&b, kOptional + 36, 0x200);
  PutU32(&b, kOptional + 56, 0x2000);  // SizeOfImage
  PutU32(&b, kOptional + 60, 0x400);
  PutU32(&b, kOptional + 108, 16);
  std::memcpy(&b[kPe + 264], ".text", 5);
  PutU32(&b, kPe + 264 + 8, 0x180);
  PutU32(&b, kPe + 264 + 12, 0x1000);
  PutU32(&b, kPe + 264 + 16, 0x200);
  PutU32(&b, kPe + 264 + 20, 0x400);
  for (size_t i = 0x400; i < 0x600; ++i) b[i] = static_cast<unsigned char>(i);
  return b;
}

ResourceId Id(uint16_t n) {
  ResourceId id;
  id.number = n;
  return id;
}

ResourceId Name(const std::u16string& name) {
  ResourceId id;
  id.named = true;
  id.name = name;
  return id;
}

Resource Make(ResourceId type, ResourceId name, uint16_t language, Bytes data) {
  Resource r;
  r.type = type;
  r.name = name;
  r.language = language;
  r.codePage = 1252;
  r.data = std::move(data);
  return r;
}

Bytes StringBlock(const std::vector<std::u16string>& strings) {
  Bytes block;
  for (size_t i = 0; i < 16; ++i) {
    std::u16string s = i < strings.size() ? strings[i] : u"";
    block.push_back(static_cast<unsigned char>(s.size()));
    block.push_back(0);
    for (char16_t c : s) {
      block.push_back(static_cast<unsigned char>(c));
      block.push_back(static_cast<unsigned char>(c >> 8));
    }
  }
  return block;
}

// An icon group naming the given image ids.
Bytes Group(std::vector<uint16_t> ids) {
  Bytes g = {0, 0, 1, 0, static_cast<unsigned char>(ids.size()), 0};
  for (uint16_t id : ids) {
    Bytes entry = {16, 16, 0, 0, 1, 0, 32, 0, 40, 0, 0, 0, static_cast<unsigned char>(id), 0};
    g.insert(g.end(), entry.begin(), entry.end());
  }
  return g;
}

// An .ico file with one 40-byte "bitmap" per entry.
Bytes IconFile(size_t images) {
  Bytes ico = {0, 0, 1, 0, static_cast<unsigned char>(images), 0};
  for (size_t i = 0; i < images; ++i) {
    Bytes entry = {32, 32, 0, 0, 1, 0, 32, 0, 40, 0, 0, 0, 0, 0, 0, 0};
    PutU32(&entry, 12, static_cast<uint32_t>(6 + 16 * images + 40 * i));
    ico.insert(ico.end(), entry.begin(), entry.end());
  }
  for (size_t i = 0; i < images; ++i) {
    Bytes bitmap(40, static_cast<unsigned char>(0xA0 + i));
    PutU32(&bitmap, 0, 40);
    ico.insert(ico.end(), bitmap.begin(), bitmap.end());
  }
  return ico;
}

Bytes Truncated(Bytes bytes) {
  bytes.pop_back();
  return bytes;
}

const Resource* Find(const std::vector<Resource>& all, uint16_t type, uint16_t name) {
  for (const Resource& r : all)
    if (!r.type.named && r.type.number == type && !r.name.named && r.name.number == name) return &r;
  return nullptr;
}

bool Contains(const Bytes& haystack, const std::u16string& text) {
  Bytes needle;
  for (char16_t c : text) {
    needle.push_back(static_cast<unsigned char>(c));
    needle.push_back(static_cast<unsigned char>(c >> 8));
  }
  return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

TEST(PeResources, TheTreeSurvivesRewritesAndTheOldSectionGivesUpItsBytes) {
  const std::vector<Resource> tree = {
      Make(Name(u"KXDATA"), Name(u"first"), 0, {1, 2, 3}),
      Make(Id(kResourceString), Id(1), 0x409, StringBlock({u"title"})),
      Make(Id(kResourceString), Id(1), 0x407, StringBlock({u"Titel"})),
      Make(Id(24), Id(1), 0, Bytes(700, 'm'))};
  std::string error;
  Bytes once, twice;
  ASSERT_TRUE(WriteResources(BareImage(), tree, &once, &error)) << error;
  ASSERT_TRUE(WriteResources(once, tree, &twice, &error)) << error;

  for (const Bytes* image : {&once, &twice}) {
    std::vector<Resource> read;
    ASSERT_TRUE(ReadResources(*image, &read, &error)) << error;
    ASSERT_EQ(read.size(), tree.size());
    for (size_t i = 0; i < tree.size(); ++i) {  // tree order: names first, then numbers, languages ascending
      const Resource& expected = tree[i == 1 ? 2 : i == 2 ? 1 : i];
      EXPECT_EQ(read[i].type.name, expected.type.name);
      EXPECT_EQ(read[i].type.number, expected.type.number);
      EXPECT_EQ(read[i].language, expected.language);
      EXPECT_EQ(read[i].codePage, 1252u);
      EXPECT_EQ(read[i].data, expected.data);
    }
    // The code is untouched, the container goes behind the new section,
    // and the headers describe the image the loader will map.
    EXPECT_TRUE(std::equal(image->begin() + 0x400, image->begin() + 0x600, BareImage().begin() + 0x400));
    EXPECT_EQ(kxformat::ContainerOffsetFromHeaders(image->data(), 4096), image->size());
    EXPECT_EQ(image->size() % 0x200, 0u);
    const uint32_t rsrcRva = U32(*image, kOptional + 112 + 16);
    EXPECT_EQ(rsrcRva % 0x1000, 0u);
    EXPECT_EQ(U32(*image, kOptional + 56), (rsrcRva + U32(*image, kOptional + 112 + 20) + 0xFFF) / 0x1000 * 0x1000);
    EXPECT_NE(U32(*image, kOptional + 64), 0u);
  }
  // The second rewrite drops the first new section's bytes: same size, and
  // its initialised data counts only the code and the live tree.
  EXPECT_EQ(twice.size(), once.size());
  EXPECT_EQ(U32(twice, kOptional + 8), U32(once, kOptional + 8));
  EXPECT_EQ(kxbytes::ReadU16(twice.data() + kPe + 6), 3);
  EXPECT_EQ(U32(twice, kPe + 264 + 40 + 16), 0u) << "old resource section still has file bytes";
}

TEST(PeResources, DamagedTreesAndFullHeadersAreRefused) {
  std::string error;
  Bytes image;
  ASSERT_TRUE(WriteResources(BareImage(), {Make(Id(24), Id(1), 0, {1})}, &image, &error)) << error;
  const size_t tree = U32(image, kPe + 264 + 40 + 20);
  std::vector<Resource> read;

  Bytes loop = image;
  PutU32(&loop, tree + 16 + 4, 0x80000000u);  // the type's subdirectory is the root
  EXPECT_FALSE(ReadResources(loop, &read, &error));
  EXPECT_NE(error.find("damaged resource tree"), std::string::npos) << error;

  Bytes outside = image;
  const size_t dataEntry = tree + 3 * (16 + 8);
  PutU32(&outside, dataEntry, 0x7FFF0000u);
  EXPECT_FALSE(ReadResources(outside, &read, &error));

  Bytes full = BareImage();
  full[kPe + 264 + 40] = '.';  // something already where the next section header would go
  EXPECT_FALSE(WriteResources(full, {}, &image, &error));
  EXPECT_NE(error.find("no room"), std::string::npos) << error;
}

// The icon's images lie in a section of their own before the tree, alike in
// two programs whose other resources differ: that is what lets the
// uninstaller a setup carries leave them out (base/loader_sections.h). With
// room for one more section header only, they stay in the tree.
TEST(PeResources, IconImagesLieInASectionOfTheirOwnBeforeTheTree) {
  const Bytes small(77, 0xB2), large(300, 0xA1);
  const auto resources = [&](const std::u16string& title) {
    return std::vector<Resource>{Make(Id(kResourceIcon), Id(1), 0x409, large),
                                 Make(Id(kResourceIcon), Id(2), 0x409, small),
                                 Make(Id(kResourceGroupIcon), Id(1), 0x409, Group({1, 2})),
                                 Make(Id(kResourceString), Id(1), 0x409, StringBlock({title}))};
  };
  const auto name = [](const Bytes& image, size_t section) {
    return std::string(reinterpret_cast<const char*>(image.data() + kPe + 264 + 40 * section));
  };
  const auto iconsReadBack = [&](const Bytes& image) {
    std::vector<Resource> read;
    std::string error;
    EXPECT_TRUE(ReadResources(image, &read, &error)) << error;
    const Resource* first = Find(read, kResourceIcon, 1);
    const Resource* second = Find(read, kResourceIcon, 2);
    return first && second && first->data == large && second->data == small && Find(read, kResourceGroupIcon, 1);
  };
  std::string error;
  Bytes setup, uninstaller;
  ASSERT_TRUE(WriteResources(BareImage(), resources(u"setup"), &setup, &error)) << error;
  ASSERT_TRUE(WriteResources(BareImage(), resources(u"a longer uninstaller title"), &uninstaller, &error)) << error;
  kxformat::LoaderSection ours[kxformat::kMaxLoaderSections], theirs[kxformat::kMaxLoaderSections];
  for (const Bytes* image : {&setup, &uninstaller}) {
    ASSERT_EQ(kxbytes::ReadU16(image->data() + kPe + 6), 3);
    EXPECT_EQ(name(*image, 1), ".icons");
    EXPECT_EQ(name(*image, 2), ".rsrc");
    EXPECT_EQ(U32(*image, kOptional + 112 + 16), U32(*image, kPe + 264 + 80 + 12)) << "the tree is not in .rsrc";
    EXPECT_EQ(U32(*image, kOptional + 8), 0x200 + U32(*image, kPe + 264 + 40 + 16) + U32(*image, kPe + 264 + 80 + 16));
    EXPECT_EQ(kxformat::ContainerOffsetFromHeaders(image->data(), 4096), image->size());
    EXPECT_TRUE(iconsReadBack(*image));
  }
  ASSERT_EQ(kxformat::FindLoaderSections(setup.data(), setup.size(), theirs), 2u);
  ASSERT_EQ(kxformat::FindLoaderSections(uninstaller.data(), uninstaller.size(), ours), 2u);
  EXPECT_EQ(ours[1].offset, theirs[1].offset);
  EXPECT_EQ(ours[1].size, theirs[1].size);
  EXPECT_TRUE(std::equal(setup.begin() + ours[1].offset, setup.begin() + ours[1].offset + ours[1].size,
                         uninstaller.begin() + ours[1].offset));
  EXPECT_NE(setup, uninstaller);

  Bytes narrow = BareImage();
  PutU32(&narrow, kOptional + 60, kPe + 264 + 80);  // SizeOfHeaders: room for one more header
  Bytes image;
  ASSERT_TRUE(WriteResources(narrow, resources(u"setup"), &image, &error)) << error;
  EXPECT_EQ(kxbytes::ReadU16(image.data() + kPe + 6), 2);
  EXPECT_EQ(name(image, 1), ".rsrc");
  EXPECT_TRUE(iconsReadBack(image));
}

// Layouts no loader takes, which placed the new section anywhere up to 4 GiB
// on (a file of that size, written and summed) or had a wrapped section end
// pass for the file's end.
TEST(PeResources, LayoutsTheLoaderRefusesAreRefusedBeforeAnythingIsWritten) {
  struct Case {
    const char* what;
    size_t field;
    uint32_t value;
    const char* message;
  } cases[] = {
      {"file alignment not a power of two", kOptional + 36, 0x10000001u, "alignment"},
      {"file alignment above 64 KiB", kOptional + 36, 0x20000u, "alignment"},
      {"file alignment below 512", kOptional + 36, 0x100u, "alignment"},
      {"section alignment below the file's", kOptional + 32, 0x100u, "alignment"},
      {"section alignment 0", kOptional + 32, 0u, "alignment"},
      {"sections that fill the address space", kPe + 264 + 12, 0xFFFF0000u, "no room"},
      // With the size below, raw data at 0xFFFFFF00 "ends" at 0x600, the file's end, in 32 bits.
      {"raw data that wraps to the file's end", kPe + 264 + 20, 0xFFFFFF00u, "does not end"},
  };
  for (const Case& c : cases) {
    Bytes image = BareImage();
    PutU32(&image, c.field, c.value);
    if (c.value == 0xFFFFFF00u) PutU32(&image, kPe + 264 + 16, 0x700);
    Bytes out;
    std::string error;
    EXPECT_FALSE(WriteResources(image, {Make(Id(24), Id(1), 0, {1})}, &out, &error)) << c.what;
    EXPECT_NE(error.find(c.message), std::string::npos) << c.what << ": " << error;
    EXPECT_LT(out.size(), 0x10000u) << c.what;
  }
}

TEST(PackageResources, ReplacesTitleIconAndVersionAndKeepsTheRest) {
  std::string error;
  Bytes stub;
  const Bytes manifest(300, 'x');
  ASSERT_TRUE(WriteResources(BareImage(),
                             {Make(Id(kResourceIcon), Id(1), 0x409, Bytes(40, 1)),
                              Make(Id(kResourceIcon), Id(2), 0x409, Bytes(40, 2)),
                              Make(Id(kResourceIcon), Id(3), 0x409, Bytes(40, 3)),
                              Make(Id(kResourceString), Id(1), 0x409, StringBlock({u"Old", u"Fatal Error", u"two"})),
                              Make(Id(kResourceGroupIcon), Id(1), 0x409, Group({1, 2})),
                              Make(Id(kResourceGroupIcon), Id(7), 0x409, Group({3})),
                              Make(Id(24), Id(1), 0, manifest)},
                             &stub, &error))
      << error;

  PackageIdentity identity;
  identity.title = "Acme Widget Setup \xE2\x84\xA2";  // a non-ASCII character
  identity.productName = "Acme Widget";
  identity.version = "3.14.159-beta";
  identity.publisher = "Acme";
  identity.icon = IconFile(1);
  Bytes out;
  ASSERT_TRUE(ApplyPackageResources(stub, identity, ProgramRole::kUninstaller, &out, &error)) << error;
  std::vector<Resource> read;
  ASSERT_TRUE(ReadResources(out, &read, &error)) << error;

  ASSERT_TRUE(Find(read, kResourceString, 1));
  EXPECT_EQ(Find(read, kResourceString, 1)->data, StringBlock({u"Acme Widget Setup \u2122", u"Fatal Error", u"two"}));
  ASSERT_TRUE(Find(read, 24, 1));
  EXPECT_EQ(Find(read, 24, 1)->data, manifest);
  // Group 1 now names one new image; group 7 keeps its own; images 1 and 2
  // went with the old group 1.
  ASSERT_TRUE(Find(read, kResourceGroupIcon, 1) && Find(read, kResourceGroupIcon, 7));
  const Bytes& group = Find(read, kResourceGroupIcon, 1)->data;
  ASSERT_EQ(group.size(), 6u + 14u);
  const uint16_t image = kxbytes::ReadU16(group.data() + 18);
  ASSERT_TRUE(Find(read, kResourceIcon, image));
  const Bytes ico = IconFile(1);
  EXPECT_EQ(Find(read, kResourceIcon, image)->data, Bytes(ico.begin() + 22, ico.end()));
  EXPECT_EQ(Find(read, kResourceIcon, 3)->data, Bytes(40, 3));
  EXPECT_EQ(std::count_if(read.begin(), read.end(), [](const Resource& r) { return r.type.number == kResourceIcon; }), 2);

  ASSERT_TRUE(Find(read, kResourceVersion, 1));
  const Bytes& version = Find(read, kResourceVersion, 1)->data;
  EXPECT_EQ(kxbytes::ReadU16(version.data()), version.size());
  // VS_FIXEDFILEINFO after the 6-byte header, the key and its padding.
  EXPECT_EQ(U32(version, 40), 0xFEEF04BDu);
  EXPECT_EQ(U32(version, 48), (3u << 16) | 14u);
  EXPECT_EQ(U32(version, 52), 159u << 16);
  for (const std::u16string& text : {std::u16string(u"Acme Widget Uninstaller"), std::u16string(u"3.14.159-beta"),
                                     std::u16string(u"Uninst.exe"), std::u16string(u"CompanyName")})
    EXPECT_TRUE(Contains(version, text));
}

TEST(PackageResources, BadValuesAreRefusedWithAReason) {
  const struct {
    const char* title;
    const char* product;
    const char* version;
    Bytes icon;
    const char* reason;
  } cases[] = {
      {"", "Acme", "", {}, "needs the product's version"},
      {"", "", "1.0", {}, "needs the product's name"},
      {"", "Acme", "v1.0", {}, "does not start with a number"},
      {"", "Acme", "1.65536", {}, "above 65535"},
      {"\xC3\x28", "", "", {}, "not valid UTF-8"},
      {"", "", "", {'B', 'M', 0, 0, 0, 0}, "not an icon file"},
      {"", "", "", Truncated(IconFile(1)), "lies outside the file"},
  };
  std::string longTitle(260, 'x');
  Bytes notBitmap = IconFile(2);
  notBitmap[6 + 32 + 40] = 0;  // the second image's header size
  Bytes stub;
  std::string error;
  ASSERT_TRUE(WriteResources(BareImage(), {}, &stub, &error)) << error;
  auto refusal = [&](const PackageIdentity& identity) {
    Bytes out;
    std::string message;
    EXPECT_FALSE(ApplyPackageResources(stub, identity, ProgramRole::kSetup, &out, &message));
    return message;
  };
  for (const auto& c : cases) {
    PackageIdentity identity;
    identity.title = c.title;
    identity.productName = c.product;
    identity.version = c.version;
    identity.icon = c.icon;
    EXPECT_NE(refusal(identity).find(c.reason), std::string::npos) << c.reason << ": " << refusal(identity);
  }
  PackageIdentity identity;
  identity.title = longTitle;
  EXPECT_NE(refusal(identity).find("longer than 259"), std::string::npos);
  identity = PackageIdentity();
  identity.icon = notBitmap;
  EXPECT_NE(refusal(identity).find("icon image 2 is neither"), std::string::npos);

  uint16_t parts[4];
  ASSERT_TRUE(ParseVersion("2020.01.15.01", parts, &error));
  EXPECT_EQ(std::vector<uint16_t>(parts, parts + 4), (std::vector<uint16_t>{2020, 1, 15, 1}));
  ASSERT_TRUE(ParseVersion("7.2 (build 5)", parts, &error));
  EXPECT_EQ(std::vector<uint16_t>(parts, parts + 4), (std::vector<uint16_t>{7, 2, 0, 0}));
}

// A package for the current user must start without asking for an
// administrator: its manifest's level is rewritten, and nothing else of it.
TEST(PackageResources, TheExecutionLevelReplacesTheStubsRequestAndOnlyIt) {
  const std::string head = "<assembly><trustInfo><requestedExecutionLevel ";
  const std::string tail = " uiAccess=\"false\"/></trustInfo></assembly>";
  const std::string stubManifest = head + "level=\"requireAdministrator\"" + tail;
  std::string error;
  Bytes stub;
  ASSERT_TRUE(WriteResources(BareImage(), {Make(Id(24), Id(1), 0x409, Bytes(stubManifest.begin(), stubManifest.end()))},
                             &stub, &error))
      << error;
  PackageIdentity identity;
  identity.executionLevel = "asInvoker";
  Bytes out;
  ASSERT_TRUE(ApplyPackageResources(stub, identity, ProgramRole::kSetup, &out, &error)) << error;
  std::vector<Resource> read;
  ASSERT_TRUE(ReadResources(out, &read, &error)) << error;
  ASSERT_TRUE(Find(read, 24, 1));
  const std::string expected = head + "level=\"asInvoker\"" + tail;
  EXPECT_EQ(Find(read, 24, 1)->data, Bytes(expected.begin(), expected.end()));

  // A stub whose manifest does not ask for an administrator, or has no
  // manifest, cannot be made to ask for less: refused rather than shipped
  // with a level nobody chose.
  for (const std::string& manifest : {head + "level=\"asInvoker\"" + tail, std::string()}) {
    Bytes other;
    std::vector<Resource> resources;
    if (!manifest.empty()) resources.push_back(Make(Id(24), Id(1), 0x409, Bytes(manifest.begin(), manifest.end())));
    ASSERT_TRUE(WriteResources(BareImage(), resources, &other, &error)) << error;
    EXPECT_FALSE(ApplyPackageResources(other, identity, ProgramRole::kSetup, &out, &error));
    EXPECT_NE(error.find("does not request the administrator"), std::string::npos) << error;
  }
}

TEST(Signing, RunsTheTemplateOnQuotedPathsAndReportsFailuresWithTheirOutput) {
  char folder[] = "/tmp/kxsign.XXXXXX";
  ASSERT_TRUE(mkdtemp(folder));
  const std::string dir = folder;
  const std::string in = dir + "/it's unsigned.exe", out = dir + "/signed $HOME.exe", log = dir + "/log";
  std::ofstream(in) << "program";
  std::string error;

  EXPECT_FALSE(CheckSigningCommand("signtool {in}", &error));
  EXPECT_TRUE(RunSigningCommand("cp {in} {out}", in, out, log, &error)) << error;
  std::ifstream copied(out);
  std::string text;
  copied >> text;
  EXPECT_EQ(text, "program");

  std::remove(out.c_str());
  EXPECT_FALSE(RunSigningCommand("echo no certificate >&2; exit 3 # {in} {out}", in, out, log, &error));
  EXPECT_NE(error.find("exit status 3"), std::string::npos) << error;
  EXPECT_NE(error.find("no certificate"), std::string::npos) << error;
  EXPECT_FALSE(RunSigningCommand("true {in} {out}", in, out, log, &error));
  EXPECT_NE(error.find("wrote no signed file"), std::string::npos) << error;

  for (const std::string& file : {in, out, log}) std::remove(file.c_str());
  rmdir(folder);
}

}  // namespace
