// The payload archive's header read in parts (extract/archive_header.h,
// extract/payload_archive.h) against the LZMA SDK's SzArEx_Open of the same
// file: archives 7-Zip wrote in every layout and archives built here with
// empty files, folders and without times or attributes list the same
// entries; damaged ones are refused with the same code; a header too large
// for memory goes to a temporary file that is gone after Close.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "base/crc32.h"
#include "extract/entry_cursor.h"
#include "extract/payload_archive.h"
#include "launcher/archive_reader.h"
#include "tests/support/seven_zip_writer.h"
#include "tests/support/test_files.h"

using namespace kxtest;

namespace {

std::wstring ArchivePath(const char* name) {
  return TestDataPath("KX_TEST_PACKAGES") + L"\\archives\\" + Widen(name) + L".7z";
}

struct BothReaders {
  explicit BothReaders(const std::wstring& path) {
    ArchiveReaderInit(&sdk);
    PayloadArchiveInit(&ours);
    sdkResult = ArchiveReaderOpenFile(&sdk, path.c_str()) == 0 ? ArchiveReaderOpenDatabase(&sdk) : SZ_ERROR_READ;
    ourResult = PayloadArchiveOpenFile(&ours, path.c_str()) == 0 ? PayloadArchiveOpen(&ours, 0) : SZ_ERROR_READ;
  }
  ~BothReaders() {
    ArchiveReaderClose(&sdk);
    PayloadArchiveClose(&ours);
  }
  ArchiveReader sdk;
  PayloadArchive ours;
  SRes sdkResult;
  SRes ourResult;
};

// Every entry as the SDK lists it, read with a cursor (and, from the middle
// on, with a copy of it). Returns how many entries the first cursor read.
uint32_t ExpectSameEntries(const BothReaders& readers) {
  const CSzArEx& db = readers.sdk.db;
  const ArchiveHeader& header = readers.ours.header;
  EXPECT_EQ(db.NumFiles, header.entryCount);
  EXPECT_EQ(db.db.NumFolders, header.blocks.db.NumFolders);
  EXPECT_EQ(db.dataPos, header.blocks.dataPos);
  std::vector<char16_t> name(4096);
  EntryCursor cursor;
  StartEntryCursor(&cursor, &header, true);
  EntryCursor half = cursor;
  uint32_t compared = 0;
  for (uint32_t pass = 0; pass < 2; ++pass) {
    EntryCursor* walking = pass == 0 ? &cursor : &half;
    for (uint32_t i = pass == 0 ? 0 : db.NumFiles / 2; i < db.NumFiles; ++i) {
      if (pass == 0 && i == db.NumFiles / 2) half = cursor;
      SCOPED_TRACE(i);
      ArchiveEntry entry;
      if (pass == 0) ++compared;
      EXPECT_TRUE(EntriesLeft(walking));
      if (NextEntry(walking, &entry, name.data(), name.size()) != SZ_OK) {
        ADD_FAILURE() << "entry " << i << " unreadable";
        return compared;
      }
      std::vector<wchar_t> expected(ArchiveEntryNameLength(&readers.sdk, i));
      ArchiveEntryName(&readers.sdk, i, expected.data());
      EXPECT_EQ(expected.size(), entry.nameUnits);
      EXPECT_EQ(std::wstring(expected.data()), std::wstring(reinterpret_cast<const wchar_t*>(name.data())));
      EXPECT_EQ(ArchiveEntryIsDir(&readers.sdk, i), entry.isDir);
      EXPECT_EQ(ArchiveEntrySize(&readers.sdk, i), entry.size);
      EXPECT_EQ(db.FileToFolder[i], entry.block);
      if (entry.block != kNoBlock) {
        EXPECT_EQ(db.UnpackPositions[i] - db.UnpackPositions[db.FolderToFile[entry.block]], entry.offset);
      }
      const bool hasCrc = SzBitWithVals_Check(&db.CRCs, i);
      EXPECT_EQ(hasCrc, entry.hasCrc);
      if (hasCrc) {
        EXPECT_EQ(db.CRCs.Vals[i], entry.crc);
      }
      uint32_t high = 0, low = 0, attributes = 0;
      EXPECT_EQ(ArchiveEntryTime(&readers.sdk, i, &high, &low), entry.hasTime);
      if (entry.hasTime) {
        EXPECT_EQ(uint64_t{high} << 32 | low, uint64_t{entry.timeHigh} << 32 | entry.timeLow);
      }
      EXPECT_EQ(ArchiveEntryAttributes(&readers.sdk, i, &attributes), entry.hasAttributes);
      if (entry.hasAttributes) {
        EXPECT_EQ(attributes, entry.attributes);
      }
    }
    EXPECT_FALSE(EntriesLeft(walking));
  }
  return compared;
}

std::wstring WriteArchive(const ScratchFolder& scratch, const wchar_t* name, const std::string& bytes) {
  std::wstring path = scratch / name;
  EXPECT_TRUE(WriteBytes(path, bytes));
  return path;
}

uint64_t Le64(const char* at) {
  uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(at[i]);
  return value;
}

void PutLe32(std::string* bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*bytes)[at + i] = static_cast<char>(value >> (8 * i));
}

// Makes the start header's CRCs match the (changed) header again.
void FixHeaderCrcs(std::string* archive) {
  const uint64_t offset = 32 + Le64(archive->data() + 12);
  const uint64_t size = Le64(archive->data() + 20);
  PutLe32(archive, 28, kxcrc::Crc32(archive->data() + offset, static_cast<size_t>(size)));
  PutLe32(archive, 8, kxcrc::Crc32(archive->data() + 12, 20));
}

// The header store's files in the temporary folder.
size_t StoreFiles() {
  wchar_t folder[MAX_PATH + 1];
  GetTempPathW(MAX_PATH + 1, folder);
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((std::wstring(folder) + L"kxh*.tmp").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  size_t count = 0;
  do ++count;
  while (FindNextFileW(search, &found));
  FindClose(search);
  return count;
}

// About 3 MiB of names: more than the store keeps in memory.
std::vector<ArchiveItem> ManyLongNames() {
  std::vector<ArchiveItem> items;
  for (int i = 0; i < 12000; ++i)
    items.push_back(ArchiveItem::File(L"folder " + std::to_wstring(i % 97) + L"/" + std::wstring(100, L'n') +
                                          std::to_wstring(i) + L".txt",
                                      std::string(i % 5, 'x')));
  return items;
}

// Points TMP and TEMP (where the store's file goes) elsewhere for a scope.
class TemporaryFolderAs {
 public:
  explicit TemporaryFolderAs(const std::wstring& folder) {
    for (int i = 0; i < 2; ++i) {
      wchar_t value[MAX_PATH + 1] = {};
      had_[i] = GetEnvironmentVariableW(kNames[i], value, MAX_PATH + 1) != 0;
      saved_[i] = value;
      SetEnvironmentVariableW(kNames[i], folder.c_str());
    }
  }
  ~TemporaryFolderAs() {
    for (int i = 0; i < 2; ++i) SetEnvironmentVariableW(kNames[i], had_[i] ? saved_[i].c_str() : nullptr);
  }

 private:
  static constexpr const wchar_t* kNames[2] = {L"TMP", L"TEMP"};
  bool had_[2] = {};
  std::wstring saved_[2];
};

}  // namespace

TEST(ArchiveHeader, ListsWhatTheSdkListsForEveryLayout7ZipWrites) {
  for (const char* name : {"lzma2_bcj", "lzma_bcj", "lzma2", "copy", "blocks", "bcj2", "long", "no_times",
                           "plain_header"}) {
    SCOPED_TRACE(name);
    BothReaders readers(ArchivePath(name));
    ASSERT_EQ(SZ_OK, readers.sdkResult);
    ASSERT_EQ(SZ_OK, readers.ourResult);
    EXPECT_GT(ExpectSameEntries(readers), 0u);
  }
}

TEST(ArchiveHeader, ListsFoldersEmptyFilesAndEntriesWithoutTimesOrAttributes) {
  ScratchFolder scratch;
  ArchiveItem stamped = ArchiveItem::File(L"bin/app.exe", "MZ code");
  stamped.hasTime = true;
  stamped.time = 0x01D9000011112222ull;
  stamped.hasAttributes = true;
  stamped.attributes = FILE_ATTRIBUTE_READONLY;
  ArchiveItem halfStamped = ArchiveItem::File(L"docs/readme.txt", "read me");
  halfStamped.hasTime = true;
  halfStamped.time = 7;
  const std::vector<std::vector<ArchiveItem>> archives = {
      {ArchiveItem::Folder(L"bin"), stamped, ArchiveItem::File(L"bin/empty.dat", ""), halfStamped,
       ArchiveItem::Folder(L"empty folder")},
      {ArchiveItem::File(L"one.txt", "1")},
      {ArchiveItem::File(L"empty.dat", ""), ArchiveItem::Folder(L"only folders")},
  };
  for (size_t a = 0; a < archives.size(); ++a) {
    SCOPED_TRACE(a);
    BothReaders readers(WriteArchive(scratch, (L"a" + std::to_wstring(a) + L".7z").c_str(), BuildSevenZip(archives[a])));
    ASSERT_EQ(SZ_OK, readers.sdkResult);
    ASSERT_EQ(SZ_OK, readers.ourResult);
    EXPECT_EQ(archives[a].size(), ExpectSameEntries(readers));
  }
  // No entries at all: an empty header, and no header.
  for (bool headerWhenEmpty : {true, false}) {
    ArchiveOptions options;
    options.headerWhenEmpty = headerWhenEmpty;
    BothReaders readers(WriteArchive(scratch, L"empty.7z", BuildSevenZip({}, options)));
    EXPECT_EQ(readers.sdkResult, readers.ourResult);
    EXPECT_EQ(0u, readers.ours.header.entryCount);
  }
}

TEST(ArchiveHeader, KeepsALargeHeaderInATemporaryFileGoneAfterClose) {
  ScratchFolder scratch;
  const std::vector<ArchiveItem> items = ManyLongNames();
  const std::wstring path = WriteArchive(scratch, L"many.7z", BuildSevenZip(items));
  const size_t before = StoreFiles();
  {
    BothReaders readers(path);
    ASSERT_EQ(SZ_OK, readers.sdkResult);
    ASSERT_EQ(SZ_OK, readers.ourResult);
    EXPECT_NE(INVALID_HANDLE_VALUE, readers.ours.kept.file);
    EXPECT_GT(readers.ours.kept.size, uint64_t{kHeaderMemoryBytes});
    EXPECT_EQ(before + 1, StoreFiles());
    EXPECT_EQ(items.size(), ExpectSameEntries(readers));
  }
  EXPECT_EQ(before, StoreFiles());
}

// Every cut of the archive's end and a flipped byte at every place of its
// header (a compressed one and a plain one), with the header's CRC made to
// match again so that the damage reaches the parser: the reader answers as
// the SDK does.
TEST(ArchiveHeader, RefusesTruncatedAndForgedHeadersWithTheSdksCodes) {
  ScratchFolder scratch;
  size_t refused = 0;
  for (const char* name : {"blocks", "plain_header"}) {
    SCOPED_TRACE(name);
    const std::string intact = ReadBytes(ArchivePath(name));
    ASSERT_GT(intact.size(), 32u);
    const uint64_t headerOffset = 32 + Le64(intact.data() + 12);
    const size_t headerSize = static_cast<size_t>(Le64(intact.data() + 20));
    std::vector<std::string> variants;
    for (size_t cut = 1; cut <= headerSize + 8 && cut < intact.size(); cut += 1 + cut / 16)
      variants.push_back(intact.substr(0, intact.size() - cut));
    // Each byte of the header changed once: its low bit, its high bit or
    // all of it in turn.
    const unsigned char flips[] = {0x01, 0x80, 0xFF};
    for (size_t at = 0; at < headerSize; ++at) {
      std::string forged = intact;
      forged[headerOffset + at] = static_cast<char>(forged[headerOffset + at] ^ flips[at % 3]);
      FixHeaderCrcs(&forged);
      variants.push_back(forged);
    }
    for (size_t v = 0; v < variants.size(); ++v) {
      SCOPED_TRACE(v);
      BothReaders readers(WriteArchive(scratch, L"variant.7z", variants[v]));
      if (readers.sdkResult == SZ_ERROR_MEM) continue;
      EXPECT_EQ(readers.sdkResult, readers.ourResult);
      if (readers.sdkResult == SZ_OK && readers.ourResult == SZ_OK) ExpectSameEntries(readers);
      if (readers.sdkResult != SZ_OK) ++refused;
    }
  }
  EXPECT_GT(refused, 100u);
}

// Without a temporary folder to keep it in, a header larger than the store's
// memory is refused (never read into memory whole), and the file handle and
// memory go with Close; a header that fits in memory needs no file and reads.
TEST(ArchiveHeader, AHeaderPastMemoryWithoutATemporaryFolderIsRefusedAndASmallOneStillReads) {
  ScratchFolder scratch;
  const std::wstring large = WriteArchive(scratch, L"many.7z", BuildSevenZip(ManyLongNames()));
  const std::wstring small = WriteArchive(scratch, L"one.7z", BuildSevenZip({ArchiveItem::File(L"one.txt", "1")}));
  TemporaryFolderAs missing(scratch / L"no such folder");
  {
    BothReaders readers(large);
    EXPECT_EQ(SZ_OK, readers.sdkResult);
    EXPECT_EQ(SZ_ERROR_WRITE, readers.ourResult);
    EXPECT_EQ(INVALID_HANDLE_VALUE, readers.ours.kept.file);
  }
  BothReaders readers(small);
  ASSERT_EQ(SZ_OK, readers.ourResult);
  EXPECT_EQ(1u, ExpectSameEntries(readers));
}
