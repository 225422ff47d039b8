// The loader's sections as setup and kxpack find them: the sections with raw
// data before the resource section, from the first 4096 bytes of a file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "base/loader_sections.h"
#include "tests/launcher/synthetic_image.h"

using namespace kxtest;

namespace {

struct Named {
  const char* name;
  uint32_t pointerToRawData;
  uint32_t sizeOfRawData;
};

std::string Image(const std::vector<Named>& sections, uint16_t countOverride = 0) {
  std::vector<SectionSpec> specs;
  for (const Named& s : sections) specs.push_back({s.pointerToRawData, s.sizeOfRawData});
  std::string image = SyntheticImage(specs, 0x80, countOverride);
  for (size_t i = 0; i < sections.size() && 0x80 + 264 + (i + 1) * 40 <= image.size(); ++i)
    image.replace(0x80 + 264 + i * 40, strlen(sections[i].name), sections[i].name);
  return image;
}

std::vector<std::pair<uint32_t, uint32_t>> Found(const std::string& image, size_t bytes = 4096) {
  kxformat::LoaderSection sections[kxformat::kMaxLoaderSections];
  const size_t count = kxformat::FindLoaderSections(reinterpret_cast<const unsigned char*>(image.data()),
                                                    std::min(bytes, image.size()), sections);
  std::vector<std::pair<uint32_t, uint32_t>> found;
  for (size_t i = 0; i < count; ++i) found.push_back({sections[i].offset, sections[i].size});
  return found;
}

using Spans = std::vector<std::pair<uint32_t, uint32_t>>;

}  // namespace

TEST(LoaderSections, AreTheSectionsWithRawDataBeforeTheResources) {
  const std::string image = Image({{".text", 0x400, 0x200},
                                   {".data", 0x600, 0x200},
                                   {".bss", 0, 0},
                                   {".tls", 0x800, 0x200},
                                   {".rsrc", 0xA00, 0x200},
                                   {".reloc", 0xC00, 0x200}});
  EXPECT_EQ((Spans{{0x400, 0x200}, {0x600, 0x200}, {0x800, 0x200}}), Found(image));
}

// Without a resource section there is no telling where the loader ends:
// nothing is left out or filled in. Damaged headers give nothing either.
TEST(LoaderSections, NoneWhenTheHeadersDoNotSayWhereTheLoaderEnds) {
  const struct {
    const char* what;
    std::string image;
    size_t bytes;
  } cases[] = {
      {"no resource section", Image({{".text", 0x400, 0x200}, {".reloc", 0x600, 0x200}}), 4096},
      {"resources first", Image({{".rsrc", 0x400, 0x200}, {".text", 0x600, 0x200}}), 4096},
      {"no MZ image", std::string(4096, 'x'), 4096},
      {"section table cut short", Image({{".text", 0x400, 0x200}, {".rsrc", 0x600, 0x200}}), 0x80 + 264 + 60},
      {"a section count beyond the buffer", Image({{".text", 0x400, 0x200}, {".rsrc", 0x600, 0x200}}, 200), 4096},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_TRUE(Found(c.image, c.bytes).empty());
  }
}

TEST(LoaderSections, MoreThanSixteenBeforeTheResourcesAreRefused) {
  std::vector<Named> sections;
  for (uint32_t i = 0; i < 17; ++i) sections.push_back({".data", 0x400 + i * 0x200, 0x200});
  sections.push_back({".rsrc", 0x400 + 17 * 0x200, 0x200});
  EXPECT_TRUE(Found(Image(sections)).empty());
  sections.erase(sections.begin());
  EXPECT_EQ(16u, Found(Image(sections)).size());
}
