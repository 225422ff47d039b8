// The container reader on synthetic images: where it looks, what it accepts.
#include <gtest/gtest.h>

#include "base/handle_guard.h"
#include "launcher/container.h"
#include "tests/launcher/synthetic_image.h"
#include "tests/support/seven_zip_writer.h"
#include "tests/support/test_files.h"

using namespace kxtest;

namespace {

const std::vector<SectionSpec> kTwoSections = {{0x400, 0x1000}, {0x1400, 0x600}};  // ends at 0x1A00

std::string SmallArchive(const char* content) { return BuildSevenZip({ArchiveItem::File(L"f.txt", content)}); }

struct Located {
  bool ok;
  ContainerInfo info;
};

Located Locate(const ScratchFolder& folder, const std::string& bytes) {
  std::wstring path = folder / L"package.exe";
  EXPECT_TRUE(WriteBytes(path, bytes));
  Located result = {};
  result.ok = LocateContainer(path.c_str(), &result.info);
  return result;
}

// Runs the runtime archive search on a file; returns the found position or -1.
int64_t Search(const ScratchFolder& folder, const std::string& bytes, uint32_t offset, uint64_t payloadLength) {
  std::wstring path = folder / L"search.bin";
  EXPECT_TRUE(WriteBytes(path, bytes));
  FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  uint64_t position = 0;
  if (!FindRuntimeArchive(file.get(), offset, payloadLength, &position)) return -1;
  return static_cast<int64_t>(position);
}

}  // namespace

TEST(LocateContainer, ReadsTheHeaderBehindTheLastSection) {
  ScratchFolder folder;
  std::string payload = SmallArchive("payload");
  std::string runtime = SmallArchive("runtime");
  std::string file = SyntheticImage(kTwoSections) + ContainerHeader(payload.size(), 12345) + payload + runtime;

  Located located = Locate(folder, file);
  ASSERT_TRUE(located.ok);
  EXPECT_EQ(0x1A00u, located.info.offset);
  EXPECT_EQ(payload.size(), located.info.payloadLength);
  EXPECT_EQ(12345u, located.info.fileSizeField);  // stored value, not the real size
  EXPECT_EQ(static_cast<int64_t>(0x1A00 + 18 + payload.size()),
            Search(folder, file, located.info.offset, located.info.payloadLength));
}

TEST(LocateContainer, IgnoresTheMagicAndKeepsAZeroFileSizeFieldForTheCaller) {
  ScratchFolder folder;
  std::string runtime = SmallArchive("runtime");
  Located other = Locate(folder, SyntheticImage(kTwoSections) + ContainerHeader(0, 99, "ZZ") + runtime);
  ASSERT_TRUE(other.ok);
  EXPECT_EQ(0u, other.info.payloadLength);

  Located zero = Locate(folder, SyntheticImage(kTwoSections) + ContainerHeader(0, 0) + runtime);
  ASSERT_TRUE(zero.ok);
  EXPECT_EQ(0u, zero.info.fileSizeField);
}

TEST(LocateContainer, RejectsFilesWithoutAContainer) {
  ScratchFolder folder;
  // Nothing appended: the header fields cannot be read.
  EXPECT_FALSE(Locate(folder, SyntheticImage(kTwoSections)).ok);
  // Cut inside the file size field.
  EXPECT_FALSE(Locate(folder, SyntheticImage(kTwoSections) + ContainerHeader(5, 5).substr(0, 14)).ok);
  // Not an image at all.
  EXPECT_FALSE(Locate(folder, std::string(8192, 'x')).ok);
  // No section with raw data.
  EXPECT_FALSE(Locate(folder, SyntheticImage({{0, 0x200}}) + ContainerHeader(1, 1)).ok);
}

TEST(LocateContainer, NeverReadsBeyondTheHeaderBuffer) {
  ScratchFolder folder;
  std::string tail = ContainerHeader(1, 1) + SmallArchive("x");
  // PE signature too far in for its section table to start in the buffer.
  EXPECT_FALSE(Locate(folder, SyntheticImage(kTwoSections, 3832) + tail).ok);
  // A section count whose table would run past 4096 bytes.
  EXPECT_FALSE(Locate(folder, SyntheticImage(kTwoSections, 0x80, 200) + tail).ok);
  // A file shorter than its own headers.
  std::string image = SyntheticImage(kTwoSections);
  EXPECT_FALSE(Locate(folder, image.substr(0, 0x80 + 100)).ok);
  // The largest table that fits is still read.
  std::vector<SectionSpec> many(92, SectionSpec{0x200, 0x200});  // 392 + 92 * 40 <= 4096
  many.back() = {0x1000, 0x800};
  Located fits = Locate(folder, SyntheticImage(many) + tail);
  ASSERT_TRUE(fits.ok);
  EXPECT_EQ(0x1800u, fits.info.offset);
}

TEST(LocateContainer, RefusesAnImageThatEndsBeyondWhatAnOffsetReaches) {
  ScratchFolder folder;
  std::string tail = ContainerHeader(0, 1) + SmallArchive("x");
  // Raw data from 0xFFFFFF00 on would end past 4 GiB; the end wrapped to
  // 0x100 and the header fields were read from inside the image.
  std::string image = SyntheticImage({{0x400, 0x200}});
  PutU32(&image, 0x80 + 264 + 20, 0xFFFFFF00);
  EXPECT_FALSE(Locate(folder, image + tail).ok);
  // An end whose container header would reach past 4 GiB is refused alike.
  PutU32(&image, 0x80 + 264 + 20, 0xFFFFFFFF - 0x200 - 17);
  EXPECT_FALSE(Locate(folder, image + tail).ok);
}

TEST(LocateContainer, EqualPointersKeepTheFirstSectionListed) {
  ScratchFolder folder;
  std::string image = SyntheticImage({{0x400, 0x200}, {0x1000, 0x100}, {0x1000, 0x800}});
  Located located = Locate(folder, image + ContainerHeader(1, 1));
  ASSERT_TRUE(located.ok);
  EXPECT_EQ(0x1100u, located.info.offset);
}

TEST(FindRuntimeArchive, StartsBehindTheStatedPayloadLength) {
  ScratchFolder folder;
  std::string payload = SmallArchive("payload data");
  std::string runtime = SmallArchive("runtime data");
  std::string image = SyntheticImage(kTwoSections);
  std::string file = image + ContainerHeader(payload.size(), 1) + payload + runtime;
  const uint32_t offset = static_cast<uint32_t>(image.size());
  const int64_t expected = offset + 18 + payload.size();

  // Too small a length starts inside the payload archive, past its own header.
  EXPECT_EQ(expected, Search(folder, file, offset, payload.size() - 5));
  // Too large a length starts inside the runtime archive: nothing is found.
  EXPECT_EQ(-1, Search(folder, file, offset, payload.size() + 1));
  // Length 0 finds the first header: the payload archive's own.
  EXPECT_EQ(static_cast<int64_t>(offset + 18), Search(folder, file, offset, 0));
}

TEST(FindRuntimeArchive, RefusesAPayloadLengthBeyondTheLastFilePosition) {
  ScratchFolder folder;
  std::string runtime = SmallArchive("runtime");
  std::string image = SyntheticImage(kTwoSections);
  std::string file = image + ContainerHeader(0, 1) + runtime;
  const uint64_t behindHeader = image.size() + 18;
  // A length that wrapped the start to the file's first byte found the
  // archive all the same; one that makes it negative never seeks.
  EXPECT_EQ(-1, Search(folder, file, static_cast<uint32_t>(image.size()), 0 - behindHeader));
  EXPECT_EQ(-1, Search(folder, file, static_cast<uint32_t>(image.size()), 0x8000000000000000ull - behindHeader));
  EXPECT_EQ(-1, Search(folder, file, static_cast<uint32_t>(image.size()), 0x7FFFFFFFFFFFFFFFull - behindHeader));
}

TEST(FindRuntimeArchive, TakesTheFirstPositionWhoseSignatureAndCrcMatch) {
  ScratchFolder folder;
  std::string runtime = SmallArchive("runtime");
  std::string badCrc = runtime.substr(0, 32);
  badCrc[8] ^= 0x01;
  std::string image = SyntheticImage(kTwoSections);
  std::string file = image + ContainerHeader(0, 1) + badCrc + "junk" + runtime;
  EXPECT_EQ(static_cast<int64_t>(image.size() + 18 + 32 + 4), Search(folder, file, static_cast<uint32_t>(image.size()), 0));
}

TEST(FindRuntimeArchive, FindsAHeaderAcrossTheSearchWindowEdge) {
  ScratchFolder folder;
  std::string runtime = SmallArchive("runtime");
  std::string image = SyntheticImage(kTwoSections);
  for (size_t before : {32768u - 10u, 32768u - 32u, 32768u - 31u, 2u * 32768u - 40u}) {
    std::string file = image + ContainerHeader(0, 1) + std::string(before, '\0') + runtime;
    EXPECT_EQ(static_cast<int64_t>(image.size() + 18 + before), Search(folder, file, static_cast<uint32_t>(image.size()), 0))
        << before;
  }
}

TEST(FindRuntimeArchive, NeedsOneMoreByteBehindTheStartHeader) {
  ScratchFolder folder;
  std::string image = SyntheticImage(kTwoSections);
  std::string empty = BuildSevenZip({});  // a bare 32-byte start header
  ASSERT_EQ(32u, empty.size());
  EXPECT_EQ(-1, Search(folder, image + ContainerHeader(0, 1) + empty, static_cast<uint32_t>(image.size()), 0));
  EXPECT_EQ(static_cast<int64_t>(image.size() + 18),
            Search(folder, image + ContainerHeader(0, 1) + empty + "!", static_cast<uint32_t>(image.size()), 0));
}
