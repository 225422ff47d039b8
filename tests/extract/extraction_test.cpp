// The extraction pass on archives built in the test: folders, files, times,
// attributes, name limits, damaged archives and the uninstall log records.
#include "tests/extract/extract_fixture.h"

#include <gmock/gmock.h>

#include "launcher/archive_reader.h"

using namespace kxtest;
using ::testing::ElementsAre;

namespace {

constexpr uint64_t kStoredTime = 0x01D71B4C6A5F3E00ull;  // 2021-03-17 20:33 UTC

ArchiveItem WithTime(ArchiveItem item, uint64_t time) {
  item.hasTime = true;
  item.time = time;
  return item;
}

ArchiveItem WithAttributes(ArchiveItem item, uint32_t attributes) {
  item.hasAttributes = true;
  item.attributes = attributes;
  return item;
}

std::wstring Repeat(wchar_t c, size_t count) { return std::wstring(count, c); }

TEST_F(ExtractTest, CreatesFoldersAlongTheNameAndLogsEachOnce) {
  g_uninstallLogging = true;
  std::wstring package = WritePackage({ArchiveItem::File(L"a/b/c.txt", "hello"), ArchiveItem::File(L"a/d.txt", "x")});
  const std::wstring dest = Destination();

  ASSERT_EQ(kExtractDone, Extract(package, dest, InstallFileHook));

  EXPECT_EQ("hello", ReadBytes(dest + L"\\a\\b\\c.txt"));
  EXPECT_EQ("x", ReadBytes(dest + L"\\a\\d.txt"));
  EXPECT_THAT(Fake().log, ElementsAre(LogRecord{KX_LOG_FOLDER, dest}, LogRecord{KX_LOG_FOLDER, dest + L"\\a"},
                                      LogRecord{KX_LOG_FOLDER, dest + L"\\a\\b"},
                                      LogRecord{KX_LOG_FILE, dest + L"\\a\\b\\c.txt"},
                                      LogRecord{KX_LOG_FILE, dest + L"\\a\\d.txt"}));
  EXPECT_EQ(2, g_extractedFileCount);
  EXPECT_TRUE(Messages().empty());
}

TEST_F(ExtractTest, DirectoryEntriesAreLoggedEvenWhenTheFolderExisted) {
  const std::wstring dest = Destination();
  ASSERT_TRUE(CreateDirectoryW(dest.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((dest + L"\\old").c_str(), nullptr));
  g_uninstallLogging = true;
  std::wstring package = WritePackage(
      {ArchiveItem::Folder(L"old"), ArchiveItem::Folder(L"new"), ArchiveItem::Folder(L"new/sub")});

  ASSERT_EQ(kExtractDone, Extract(package, dest));

  EXPECT_TRUE(FolderExists(dest + L"\\new\\sub"));
  // A folder the entry itself created is logged by the folder service and
  // again for the entry.
  EXPECT_THAT(Fake().log, ElementsAre(LogRecord{KX_LOG_FOLDER, dest + L"\\old"}, LogRecord{KX_LOG_FOLDER, dest + L"\\new"},
                                      LogRecord{KX_LOG_FOLDER, dest + L"\\new"},
                                      LogRecord{KX_LOG_FOLDER, dest + L"\\new\\sub"},
                                      LogRecord{KX_LOG_FOLDER, dest + L"\\new\\sub"}));
}

TEST_F(ExtractTest, NothingIsLoggedWhileTheLoggingFlagIsClear) {
  std::wstring package = WritePackage({ArchiveItem::Folder(L"f"), ArchiveItem::File(L"g/h.txt", "h")});
  ASSERT_EQ(kExtractDone, Extract(package, Destination()));
  EXPECT_TRUE(Fake().log.empty());
  EXPECT_EQ("h", ReadBytes(Destination() + L"\\g\\h.txt"));
}

TEST_F(ExtractTest, AppliesStoredTimesAndAttributesReadOnlyLast) {
  std::wstring package = WritePackage(
      {WithAttributes(WithTime(ArchiveItem::File(L"empty.txt", ""), kStoredTime), FILE_ATTRIBUTE_READONLY),
       WithAttributes(WithTime(ArchiveItem::File(L"data.txt", "data"), kStoredTime + 1),
                      FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN),
       WithTime(ArchiveItem::File(L"plain.txt", "p"), kStoredTime + 2)});
  const std::wstring dest = Destination();

  ASSERT_EQ(kExtractDone, Extract(package, dest));

  EXPECT_TRUE(FileExists(dest + L"\\empty.txt"));
  EXPECT_EQ("", ReadBytes(dest + L"\\empty.txt"));
  EXPECT_EQ(kStoredTime, AsNumber(LastWriteTime(dest + L"\\empty.txt")));
  EXPECT_EQ(kStoredTime + 1, AsNumber(LastWriteTime(dest + L"\\data.txt")));
  EXPECT_EQ(kStoredTime + 2, AsNumber(LastWriteTime(dest + L"\\plain.txt")));
  EXPECT_TRUE(GetFileAttributesW((dest + L"\\empty.txt").c_str()) & FILE_ATTRIBUTE_READONLY);
  DWORD attributes = GetFileAttributesW((dest + L"\\data.txt").c_str());
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_READONLY);
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_HIDDEN);
  EXPECT_FALSE(GetFileAttributesW((dest + L"\\plain.txt").c_str()) & FILE_ATTRIBUTE_READONLY);
}

TEST_F(ExtractTest, UnixModeBitsOfArchivesMadeOnLinuxAreNotApplied) {
  // 7-Zip on Linux: FILE_ATTRIBUTE_UNIX_EXTENSION and the mode (0100644,
  // 0100444) in the high 16 bits, beside the Windows bits.
  std::wstring package = WritePackage({WithAttributes(ArchiveItem::File(L"rw.txt", "a"), 0x81A48020),
                                       WithAttributes(ArchiveItem::File(L"ro.txt", "b"), 0x81248021)});
  const std::wstring dest = Destination();

  ASSERT_EQ(kExtractDone, Extract(package, dest));

  DWORD rw = GetFileAttributesW((dest + L"\\rw.txt").c_str());
  DWORD ro = GetFileAttributesW((dest + L"\\ro.txt").c_str());
  EXPECT_FALSE(rw & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
  EXPECT_TRUE(ro & FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(ro & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
}

struct HookCall {
  std::wstring path;
  uint64_t size;
  uint32_t high, low;
};
std::vector<HookCall> g_hookCalls;

ExtractHookAnswer RecordingHook(wchar_t* path, uint64_t size, const uint32_t* high, const uint32_t* low) {
  g_hookCalls.push_back({path, size, *high, *low});
  return kHookWrite;
}

TEST_F(ExtractTest, FileWithoutStoredTimeKeepsItsWriteTimeAndTheHookSeesZero) {
  g_hookCalls.clear();
  FILETIME before;
  GetSystemTimeAsFileTime(&before);
  std::wstring package = WritePackage({WithTime(ArchiveItem::File(L"t.txt", "12"), kStoredTime),
                                       ArchiveItem::File(L"n.txt", "123")});
  const std::wstring dest = Destination();

  ASSERT_EQ(kExtractDone, Extract(package, dest, RecordingHook));

  ASSERT_EQ(2u, g_hookCalls.size());
  EXPECT_EQ(dest + L"\\t.txt", g_hookCalls[0].path);
  EXPECT_EQ(2u, g_hookCalls[0].size);
  EXPECT_EQ(kStoredTime, (uint64_t{g_hookCalls[0].high} << 32) | g_hookCalls[0].low);
  EXPECT_EQ(3u, g_hookCalls[1].size);
  EXPECT_EQ(0u, g_hookCalls[1].high);
  EXPECT_EQ(0u, g_hookCalls[1].low);
  // File times have coarser steps than the clock on some file systems.
  EXPECT_GE(AsNumber(LastWriteTime(dest + L"\\n.txt")) + 20000000, AsNumber(before));
}

TEST_F(ExtractTest, NamesPastMaxPathAreUnpackedAndALevelOver255FailsBeforeAnythingIsWritten) {
  // Three levels of 255 units: far past MAX_PATH, each level as long as a
  // file system allows.
  const std::wstring fits = Repeat(L'd', 255) + L"/" + Repeat(L'e', 255) + L"/" + Repeat(L'f', 255);
  std::wstring package = WritePackage({ArchiveItem::File(fits, "ok")});
  ASSERT_EQ(kExtractDone, Extract(package, Destination()));
  EXPECT_EQ("ok", ReadBytes(Destination() + L"\\" + Repeat(L'd', 255) + L"\\" + Repeat(L'e', 255) + L"\\" +
                            Repeat(L'f', 255)));

  const std::wstring tooLong = L"ddd/" + Repeat(L'f', 256);
  const std::wstring other = scratch_ / L"other";
  package = WritePackage({ArchiveItem::File(L"first.txt", "no"), ArchiveItem::File(tooLong, "no")});
  EXPECT_EQ(kExtractFailed, Extract(package, other));
  EXPECT_TRUE(ListFolder(other).empty());
  EXPECT_THAT(MessageTexts(), ElementsAre(L"Error while unpacking archive"));
}

TEST_F(ExtractTest, DestinationAndNameBeyondThePathBufferFailWithoutOverrun) {
  // The destination alone nearly fills the buffer of Windows' longest path.
  // Long levels: Wine resolves every level of every call, so thousands of
  // short ones would take minutes.
  std::wstring dest = scratch_.path() + L"\\";
  while (dest.size() + 251 <= 32700) dest += Repeat(L'd', 250) + L"\\";
  dest += Repeat(L'e', 32700 - dest.size()) + L"\\";
  std::wstring package = WritePackage({ArchiveItem::File(Repeat(L'n', 100), "x")});

  EXPECT_EQ(kExtractFailed, Extract(package, dest));
  EXPECT_THAT(MessageTexts(), ElementsAre(L"Error while unpacking archive"));
}

TEST_F(ExtractTest, UnsafeNamesAreRefusedAndNothingIsWritten) {
  const wchar_t* const kUnsafe[] = {L"../evil.txt", L"a/../../evil.txt", L"/rooted.txt", L"\\rooted.txt",
                                    L"C:/drive.txt", L"C:drive.txt", L"a/..", L"a/ .. /evil.txt",
                                    L"file.txt:stream", L"nul", L"a/CON.txt", L"com1"};
  for (const wchar_t* name : kUnsafe) {
    SCOPED_TRACE(Narrow(name));
    Messages().clear();
    ScratchFolder area;
    const std::wstring dest = area / L"dest";
    // Every name is checked before the first file is written.
    std::wstring package = WritePackage({ArchiveItem::File(L"good/first.txt", "good"), ArchiveItem::File(name, "evil"),
                                         ArchiveItem::File(L"good.txt", "good")});

    EXPECT_EQ(kExtractFailed, Extract(package, dest));

    EXPECT_EQ(std::vector<std::wstring>{L"dest"}, ListFolder(area.path()));
    EXPECT_TRUE(ListFolder(dest).empty());
    ASSERT_EQ(2u, Messages().size());
    EXPECT_EQ(std::wstring(L"The archive holds an entry with an unsafe name: ") + name, Messages()[0].text);
    EXPECT_EQ(L"Error while unpacking archive", Messages()[1].text);
  }
}

TEST_F(ExtractTest, NamesThatOnlyLookUnusualAreUnpacked) {
  std::wstring package = WritePackage({ArchiveItem::File(L"..data", "1"), ArchiveItem::File(L"a..b/c", "2"),
                                       ArchiveItem::File(L"console.txt", "3"), ArchiveItem::File(L"%DESTPATH%#next.txt", "4")});
  ASSERT_EQ(kExtractDone, Extract(package, Destination()));
  EXPECT_EQ("1", ReadBytes(Destination() + L"\\..data"));
  EXPECT_EQ("2", ReadBytes(Destination() + L"\\a..b\\c"));
  EXPECT_EQ("3", ReadBytes(Destination() + L"\\console.txt"));
  EXPECT_EQ("4", ReadBytes(Destination() + L"\\%DESTPATH%#next.txt"));
}

TEST_F(ExtractTest, ArchiveFailuresShowTheirMessageAndCode) {
  std::string good = BuildSevenZip({ArchiveItem::File(L"a.txt", "abcdef")});

  // No 7z start header at the offset, and a file too short to hold one.
  EXPECT_EQ(ExtractResultOfSdk(SZ_ERROR_NO_ARCHIVE), Extract(WritePackage(std::string(64, 'x')), Destination()));
  EXPECT_EQ(ExtractResultOfSdk(SZ_ERROR_NO_ARCHIVE), Extract(WritePackage(good.substr(0, 20)), Destination()));
  // A CRC mismatch in the data: the file is not written.
  std::string flipped = good;
  flipped[kSevenZipDataOffset] ^= 0x01;
  EXPECT_EQ(ExtractResultOfSdk(SZ_ERROR_CRC), Extract(WritePackage(flipped), Destination()));
  EXPECT_FALSE(FileExists(Destination() + L"\\a.txt"));
  // A method the decoder does not have.
  ArchiveOptions ppmd;
  ppmd.coderId = 0x030401;
  EXPECT_EQ(ExtractResultOfSdk(SZ_ERROR_UNSUPPORTED),
            Extract(WritePackage(BuildSevenZip({ArchiveItem::File(L"a.txt", "abc")}, ppmd)), Destination()));
  // The archive file missing altogether.
  EXPECT_EQ(kExtractFailed, Extract(scratch_ / L"missing.bin", Destination()));

  EXPECT_THAT(MessageTexts(),
              ElementsAre(L"Invalid or corrupted archive", L"Invalid or corrupted archive",
                          L"CRC error: corrupted archive", L"Archive format not supported",
                          L"Error while unpacking archive"));
  for (const ShownMessage& message : Messages()) {
    EXPECT_EQ(nullptr, message.owner);
    EXPECT_EQ(L"Extraction Test", message.caption);
    EXPECT_EQ(static_cast<UINT>(MB_TOPMOST | MB_ICONERROR), message.style);
  }
}

TEST_F(ExtractTest, AFileWhoseDataTurnsOutDamagedIsRemovedAndTheFilesBeforeItStay) {
  std::string archive = BuildSevenZip({ArchiveItem::File(L"1.txt", "first"), ArchiveItem::File(L"2.txt", "second"),
                                       ArchiveItem::File(L"3.txt", "third")});
  archive[kSevenZipDataOffset + 5 + 2] ^= 0x01;  // inside 2.txt
  const std::wstring dest = Destination();

  EXPECT_EQ(ExtractResultOfSdk(SZ_ERROR_CRC), Extract(WritePackage(archive), dest));

  EXPECT_EQ("first", ReadBytes(dest + L"\\1.txt"));
  EXPECT_THAT(ListFolder(dest), ElementsAre(L"1.txt"));
  EXPECT_THAT(MessageTexts(), ElementsAre(L"CRC error: corrupted archive"));
}

TEST_F(ExtractTest, ArchiveErrorTextsForEveryCode) {
  const ExtractResult kCloseFailedPathNotFound = {ExtractOutcome::kCloseFailed, ERROR_PATH_NOT_FOUND};
  const std::pair<ExtractResult, const wchar_t*> kTexts[] = {
      {ExtractResultOfSdk(SZ_ERROR_MEM), L"Memory error while decompressing archive"},
      {ExtractResultOfSdk(SZ_ERROR_CRC), L"CRC error: corrupted archive"},
      {ExtractResultOfSdk(SZ_ERROR_UNSUPPORTED), L"Archive format not supported"},
      {ExtractResultOfSdk(SZ_ERROR_INPUT_EOF), L"Unexpected end of file"},
      {kExtractFailed, L"Error while unpacking archive"},
      {ExtractResultOfSdk(SZ_ERROR_FAIL), L"Error while unpacking archive"},
      {ExtractResultOfSdk(SZ_ERROR_ARCHIVE), L"Unexpected error in archive"},
      {ExtractResultOfSdk(SZ_ERROR_NO_ARCHIVE), L"Invalid or corrupted archive"},
      {ExtractResultOfSdk(SZ_ERROR_DATA), L"Unknown error"},
      {ExtractResultOfSdk(SZ_ERROR_PARAM), L"Unknown error"},
      {ExtractResultOfSdk(SZ_ERROR_THREAD), L"Unknown error"},
      {ExtractResultOfSdk(18), L"Unknown error"},
      {ExtractResultOfSdk(-1), L"Unknown error"},
      // A Windows code from a close is no SDK code, whatever its number.
      {kCloseFailedPathNotFound, L"Unknown error"},
      {{ExtractOutcome::kCloseFailed, ERROR_ACCESS_DENIED}, L"Unknown error"}};
  for (const auto& [result, text] : kTexts) {
    Messages().clear();
    ShowArchiveError(result);
    ASSERT_EQ(1u, Messages().size()) << ::testing::PrintToString(result);
    EXPECT_EQ(text, Messages()[0].text) << ::testing::PrintToString(result);
  }
  // A cancellation and a full disk (whose own message came first) add none.
  for (const ExtractResult& quiet : {kExtractDone, kExtractCancelled, kExtractDiskFull}) {
    Messages().clear();
    ShowArchiveError(quiet);
    EXPECT_TRUE(Messages().empty()) << ::testing::PrintToString(quiet);
  }
}

TEST_F(ExtractTest, AnEmptyArchiveIsRefused) {
  EXPECT_EQ(ExtractResultOfSdk(SZ_ERROR_NO_ARCHIVE), Extract(WritePackage(std::vector<ArchiveItem>{}), Destination()));
  EXPECT_TRUE(ListFolder(Destination()).empty());
  EXPECT_THAT(MessageTexts(), ElementsAre(L"Invalid or corrupted archive"));
}

TEST_F(ExtractTest, APayloadLargerThanTheFreeSpaceIsRefusedBeforeAnythingIsWritten) {
  // Far beyond any disk of the test machine; only the header claims it.
  ArchiveOptions huge;
  huge.extraUnpackSize = uint64_t{1} << 50;
  std::wstring package = WritePackage(BuildSevenZip(
      {ArchiveItem::File(L"first.txt", "1"), ArchiveItem::File(L"sub/huge.bin", "2")}, huge));

  EXPECT_EQ(kExtractDiskFull, Extract(package, Destination()));

  EXPECT_TRUE(ListFolder(Destination()).empty());
  ASSERT_EQ(1u, Messages().size());
  const std::wstring text = Messages()[0].text;
  EXPECT_EQ(0u, text.find(L"There is not enough free space on the destination drive.\r\n\r\nSpace required: "
                          L"1048576.0 GB\r\nSpace available: "))
      << Narrow(text);
  EXPECT_EQ(static_cast<UINT>(MB_TOPMOST | MB_ICONERROR), Messages()[0].style);
}

TEST_F(ExtractTest, StartOffsetNullMeansTheFileStart) {
  std::wstring archive = scratch_ / L"bare.7z";
  ASSERT_TRUE(WriteBytes(archive, BuildSevenZip({ArchiveItem::File(L"a.txt", "a")})));
  EXPECT_EQ(kExtractDone,
            ExtractArchive(archive.c_str(), Destination().c_str(), nullptr, 1, ProgressBoxHandler, AcceptAll));
  EXPECT_EQ("a", ReadBytes(Destination() + L"\\a.txt"));
}

TEST_F(ExtractTest, DestinationSeparatorsAreJoinedOnce) {
  std::wstring package = WritePackage({ArchiveItem::File(L"a.txt", "a")});
  g_hookCalls.clear();
  const std::wstring dest = Destination();
  ASSERT_EQ(kExtractDone, Extract(package, dest + L"\\", RecordingHook));
  ASSERT_EQ(kExtractDone, Extract(package, dest + L"/", RecordingHook));
  ASSERT_EQ(2u, g_hookCalls.size());
  EXPECT_EQ(dest + L"\\a.txt", g_hookCalls[0].path);
  EXPECT_EQ(dest + L"/\\a.txt", g_hookCalls[1].path);
}

TEST_F(ExtractTest, EntriesWithoutDataKeepTheDecodedBlock) {
  // Folders and empty files lie between the files of a block in archives
  // made by 7-Zip; the block must stay decoded across them.
  std::wstring package = WritePackage({ArchiveItem::File(L"1.txt", "11"), ArchiveItem::Folder(L"d"),
                                       ArchiveItem::File(L"e.txt", ""), ArchiveItem::File(L"2.txt", "22")});
  ArchiveReader reader;
  ArchiveReaderInit(&reader);
  ASSERT_EQ(0, ArchiveReaderOpenFile(&reader, package.c_str()));
  ASSERT_EQ(0, ArchiveReaderSeek(&reader, kArchiveOffset));
  ASSERT_EQ(SZ_OK, ArchiveReaderOpenDatabase(&reader));
  size_t offset = 0, size = 0;
  ASSERT_EQ(SZ_OK, ArchiveExtractEntry(&reader, 0, &offset, &size));
  const unsigned char* block = reader.blockBuffer;
  ASSERT_NE(nullptr, block);
  for (uint32_t empty : {1u, 2u}) {
    ASSERT_EQ(SZ_OK, ArchiveExtractEntry(&reader, empty, &offset, &size));
    EXPECT_EQ(0u, size);
    EXPECT_EQ(block, reader.blockBuffer);
    EXPECT_EQ(0u, reader.blockIndex);
  }
  ASSERT_EQ(SZ_OK, ArchiveExtractEntry(&reader, 3, &offset, &size));
  EXPECT_EQ("22", std::string(reinterpret_cast<const char*>(reader.blockBuffer + offset), size));
  ArchiveReaderClose(&reader);
}

}  // namespace
