// The uninstall log: recording, writing with the uninstaller, and reading
// back, including damaged and truncated files.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "core/uninstall_log.h"
#include "core/uninstall_log_format.h"
#include "base/crc32.h"
#include <algorithm>
#include <string.h>
#include "tests/support/fake_core.h"
#include "tests/support/test_files.h"

using namespace kxcore;
using kxtest::ReadBytes;
using kxtest::ScratchFolder;
using kxtest::WriteBytes;

namespace {

const std::vector<UninstallRecord> kSample = {
    {kRecordFolder, L"C:\\Program Files\\Quillmark"},
    {kRecordFile, L"C:\\Program Files\\Quillmark\\100% sure\tname\r\n.txt"},
    {kRecordFile, L"C:\\Program Files\\Quillmark\\\u00e9t\u00e9 \u6587\u5b57 %25.txt"},
    {kRecordRegistryValue, L"\"HKEY_LOCAL_MACHINE\\Software\\Q\" \"DisplayName\""},
    {kRecordRegistryKey, L"HKEY_LOCAL_MACHINE\\Software\\Q"},
    {kRecordRegistryKey, L"HKEY_LOCAL_MACHINE\\Software\\Q"},
};

std::string Hex(const std::string& bytes) {
  std::string hex;
  for (unsigned char c : bytes) hex += "0123456789ABCDEF"[c >> 4], hex += "0123456789ABCDEF"[c & 15], hex += ' ';
  return hex;
}

TEST(UninstallLogFormat, RoundTripsEveryKindAndAwkwardTexts) {
  std::string bytes = FormatUninstallLog(kSample);
  std::vector<UninstallRecord> read;
  ASSERT_EQ(LogFileStatus::kOk, ParseUninstallLog(bytes, &read));
  EXPECT_EQ(kSample, read);

  ASSERT_EQ(LogFileStatus::kOk, ParseUninstallLog(FormatUninstallLog({}), &read));
  EXPECT_TRUE(read.empty());
}

TEST(UninstallLogFormat, LaysOutHeaderRecordsAndTrailer) {
  std::string bytes = FormatUninstallLog({{kRecordFile, L"a%\tb"}, {kRecordFolder, L"\u00e9"}});
  const std::string body = "KXUNINSTALLLOG 1\r\n0\ta%25%09b\r\n1\t\xC3\xA9\r\n";
  ASSERT_EQ(0u, bytes.find(body));
  std::string trailer = bytes.substr(body.size());
  ASSERT_EQ(16u, trailer.size());
  EXPECT_EQ("END 2 ", trailer.substr(0, 6));
  EXPECT_EQ(std::string::npos, trailer.substr(6, 8).find_first_not_of("0123456789ABCDEF"));
  EXPECT_EQ("\r\n", trailer.substr(14));
}

TEST(UninstallLogFormat, DetectsDamagedAndTruncatedFiles) {
  const std::string good = FormatUninstallLog(kSample);
  std::vector<UninstallRecord> read;

  // Every cut short of the full file, including inside the trailer.
  for (size_t length = 0; length < good.size(); ++length)
    EXPECT_EQ(LogFileStatus::kDamaged, ParseUninstallLog(good.substr(0, length), &read)) << length;
  // Any single flipped bit.
  for (size_t i = 0; i < good.size(); ++i) {
    std::string flipped = good;
    flipped[i] ^= 0x04;
    EXPECT_EQ(LogFileStatus::kDamaged, ParseUninstallLog(flipped, &read)) << i;
    EXPECT_TRUE(read.empty());
  }
  // Extra bytes behind the trailer, and a trailer whose count is wrong.
  EXPECT_EQ(LogFileStatus::kDamaged, ParseUninstallLog(good + "0\tmore\r\n", &read));
  std::string wrongCount = good;
  wrongCount.replace(wrongCount.find("END 6"), 5, "END 5");
  EXPECT_EQ(LogFileStatus::kDamaged, ParseUninstallLog(wrongCount, &read));
}

// The uninstaller reads a log a piece at a time: pieces of any size give
// the records the whole-file reader gives, and every damage the whole-file
// reader refuses is refused too.
struct PieceSource : LogByteSource {
  std::string bytes;
  size_t piece = 1;
  size_t at = 0;
  bool failAtEnd = false;
  long long Read(char* buffer, size_t capacity) override {
    if (at == bytes.size() && failAtEnd) return -1;
    size_t n = std::min({piece, capacity, bytes.size() - at});
    memcpy(buffer, bytes.data() + at, n);
    at += n;
    return static_cast<long long>(n);
  }
};

struct Collected : LogRecordSink {
  std::vector<UninstallRecord> records;
  void Add(int kind, std::u16string_view text) override {
    records.push_back({kind, std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size())});
  }
};

uint32_t TestCrcUpdate(uint32_t sum, const void* data, size_t size) { return kxcrc::Crc32(data, size, sum); }

LogStreamResult Stream(const std::string& bytes, size_t piece, std::vector<UninstallRecord>* records) {
  PieceSource source;
  source.bytes = bytes;
  source.piece = piece;
  Collected sink;
  LogStreamResult result = ParseLogStream(&source, TestCrcUpdate, &sink);
  *records = sink.records;
  return result;
}

TEST(UninstallLogFormat, TheStreamingReaderAgreesWithTheWholeFileReader) {
  const std::string good = FormatUninstallLog(kSample);
  std::vector<UninstallRecord> read;
  for (size_t piece : {1, 2, 7, 64, 1 << 20}) {
    ASSERT_EQ(LogStreamResult::kOk, Stream(good, piece, &read)) << piece;
    EXPECT_EQ(kSample, read);
  }
  std::vector<UninstallRecord> many;
  // Every kind a log may hold, the last one included.
  for (int i = 0; i < 30000; ++i) many.push_back({i % (kRecordKindLast + 1), L"C:\\app\\\u00e9%\t" + std::to_wstring(i)});
  ASSERT_EQ(LogStreamResult::kOk, Stream(FormatUninstallLog(many), 100000, &read));
  EXPECT_EQ(many, read);

  for (size_t length = 0; length < good.size(); ++length)
    EXPECT_EQ(LogStreamResult::kDamaged, Stream(good.substr(0, length), 5, &read)) << length;
  for (size_t i = 0; i < good.size(); ++i) {
    std::string flipped = good;
    flipped[i] ^= 0x04;
    EXPECT_EQ(LogStreamResult::kDamaged, Stream(flipped, 3, &read)) << i;
  }
  EXPECT_EQ(LogStreamResult::kDamaged, Stream(good + "0\tmore\r\n", 1, &read));
  EXPECT_EQ(LogStreamResult::kDamaged, Stream(good + "0\tmore\r\n", 1 << 20, &read));
  // A line that never ends is refused without being held whole.
  EXPECT_EQ(LogStreamResult::kDamaged, Stream("KXUNINSTALLLOG 1\r\n0\t" + std::string(2 << 20, 'a'), 1 << 16, &read));
  PieceSource failing;
  failing.bytes = good.substr(0, 20);
  failing.failAtEnd = true;
  Collected sink;
  EXPECT_EQ(LogStreamResult::kUnreadable, ParseLogStream(&failing, TestCrcUpdate, &sink));
}

// The log's UTF-8 is converted by portable code now (core/uninstall_log_format.h);
// it must take and give exactly what Windows' own conversion did.
TEST(UninstallLogFormat, Utf8IsReadAndWrittenAsWindowsConvertsIt) {
  const std::string bytes[] = {
      "plain",          "\xC3\xA9t\xC3\xA9",     "\xE6\x96\x87",       "\xF0\x9F\x98\x80",  // ASCII, 2, 3, 4 bytes
      std::string(1, '\0'), "\xEF\xBB\xBF",      "\xEF\xBF\xBF",       "\xF4\x8F\xBF\xBF",  // NUL, BOM, U+FFFF, U+10FFFF
      "\xC0\x80",       "\xC1\xBF",           "\xE0\x9F\xBF",       "\xF0\x8F\xBF\xBF",  // overlong forms
      "\xED\xA0\x80",    "\xED\xBF\xBF",        "\xED\xA0\xBD\xED\xB8\x80",                  // surrogates
      "\xF4\x90\x80\x80", "\xF5\x80\x80\x80",     "\xFE",             "\xFF",          // beyond U+10FFFF
      "\xC3",           "\xE6\x96",           "\xF0\x9F\x98",       "a\x80" "b",    // cut, stray continuation
      "\xC3\x28",       "\xE6\x28\x87",        "\xF0\x9F\x28\x80",
  };
  for (const std::string& utf8 : bytes) {
    const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                                          nullptr, 0);
    std::wstring windows(static_cast<size_t>(units > 0 ? units : 0), L'\0');
    if (units > 0)
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), &windows[0], units);
    std::u16string ours;
    const bool read = DecodeUtf8(utf8, &ours);
    EXPECT_EQ(units > 0, read) << Hex(utf8);
    if (read && units > 0) {
      EXPECT_EQ(windows, std::wstring(ours.begin(), ours.end())) << Hex(utf8);
    }
  }

  const std::wstring texts[] = {L"plain", L"\u00e9\u6587", L"\U0001F600", L"\xD800", L"a\xDC00" L"b", L"\xDC00\xD800",
                                L"\xD83D", L"\xD83D\xDE00\xD83D", L"\xFFFF"};
  for (const std::wstring& text : texts) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                         nullptr);
    std::string windows(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &windows[0], size, nullptr, nullptr);
    std::string ours;
    AppendUtf8(std::u16string(text.begin(), text.end()), &ours);
    EXPECT_EQ(Hex(windows), Hex(ours)) << kxtest::Narrow(text);
  }
}

TEST(UninstallLogFile, TellsMissingFromDamaged) {
  ScratchFolder folder;
  std::vector<UninstallRecord> read;
  EXPECT_EQ(LogFileStatus::kMissing, ReadUninstallLog(folder / L"Uninst.dat", &read));
  EXPECT_EQ(LogFileStatus::kMissing, ReadUninstallLog(folder / L"gone\\Uninst.dat", &read));

  const std::wstring path = folder / L"Uninst.dat";
  ASSERT_TRUE(WriteBytes(path, ""));
  EXPECT_EQ(LogFileStatus::kDamaged, ReadUninstallLog(path, &read));
  std::string good = FormatUninstallLog(kSample);
  ASSERT_TRUE(WriteBytes(path, good.substr(0, good.size() / 2)));
  EXPECT_EQ(LogFileStatus::kDamaged, ReadUninstallLog(path, &read));
  ASSERT_TRUE(WriteBytes(path, good));
  EXPECT_EQ(LogFileStatus::kOk, ReadUninstallLog(path, &read));
  EXPECT_EQ(kSample, read);

  // The uninstaller's piecewise reader says the same of the same files.
  std::vector<UninstallRecord> streamed;
  auto collect = [&streamed](int kind, std::wstring&& text) { streamed.push_back({kind, std::move(text)}); };
  EXPECT_EQ(LogFileStatus::kOk, ReadUninstallLogStream(path, collect));
  EXPECT_EQ(kSample, streamed);
  ASSERT_TRUE(WriteBytes(path, good.substr(0, good.size() - 1)));
  EXPECT_EQ(LogFileStatus::kDamaged, ReadUninstallLogStream(path, collect));
  EXPECT_EQ(LogFileStatus::kMissing, ReadUninstallLogStream(folder / L"gone\\Uninst.dat", collect));
}

class UninstallLogRun : public ::testing::Test {
 protected:
  void SetUp() override {
    kxtest::ResetFake();
    BeginUninstallLog();
  }
  void TearDown() override { DiscardUninstallLog(); }
  ScratchFolder folder_;
};

TEST_F(UninstallLogRun, RecordsInOrderFromSeveralThreadsAndDropsInvalidOnes) {
  AddUninstallRecord(kRecordFolder, L"first");
  AddUninstallRecord(kRecordKindLast + 1, L"unknown kind");
  AddUninstallRecord(-1, L"negative kind");
  AddUninstallRecord(kRecordFile, L"");
  AddUninstallRecord(kRecordFile, nullptr);
  auto adder = [](int kind) {
    for (int i = 0; i < 500; ++i) AddUninstallRecord(kind, (L"item " + std::to_wstring(i)).c_str());
  };
  std::thread a(adder, kRecordFile), b(adder, kRecordRegistryKey);
  a.join();
  b.join();
  std::vector<UninstallRecord> records = UninstallLogRecords();
  ASSERT_EQ(1001u, records.size());
  EXPECT_EQ((UninstallRecord{kRecordFolder, L"first"}), records[0]);
  int files = 0;
  for (const UninstallRecord& record : records) files += record.kind == kRecordFile;
  EXPECT_EQ(500, files);

  BeginUninstallLog();
  EXPECT_TRUE(UninstallLogRecords().empty());
  AddUninstallRecord(kRecordFile, L"x");
  DiscardUninstallLog();
  EXPECT_TRUE(UninstallLogRecords().empty());
}

TEST_F(UninstallLogRun, CommitWritesTheUninstallerAndTheLogNamingBoth) {
  const std::wstring dest = folder_ / L"app";
  ASSERT_TRUE(CreateDirectoryW(dest.c_str(), nullptr));
  std::string program = "MZ";
  for (int i = 0; i < 70000; ++i) program += static_cast<char>(i * 7);
  const std::wstring source = folder_ / L"kxremove.dat";
  ASSERT_TRUE(WriteBytes(source, program));
  AddUninstallRecord(kRecordFolder, dest.c_str());
  AddUninstallRecord(kRecordFile, (dest + L"\\tool.exe").c_str());

  ASSERT_EQ(0u, CommitUninstallLog(dest + L"\\", source));

  EXPECT_EQ(program, ReadBytes(dest + L"\\Uninst.exe"));
  std::vector<UninstallRecord> read;
  ASSERT_EQ(LogFileStatus::kOk, ReadUninstallLog(dest + L"\\Uninst.dat", &read));
  EXPECT_EQ((std::vector<UninstallRecord>{{kRecordFolder, dest},
                                          {kRecordFile, dest + L"\\tool.exe"},
                                          {kRecordFile, dest + L"\\Uninst.exe"},
                                          {kRecordFile, dest + L"\\Uninst.dat"}}),
            read);
  EXPECT_EQ((std::vector<std::wstring>{L"Uninst.dat", L"Uninst.exe"}), kxtest::ListFolder(dest));

  // A second commit replaces both files and does not record them again.
  AddUninstallRecord(kRecordFile, (dest + L"\\late.txt").c_str());
  ASSERT_EQ(0u, CommitUninstallLog(dest, source));
  ASSERT_EQ(LogFileStatus::kOk, ReadUninstallLog(dest + L"\\Uninst.dat", &read));
  EXPECT_EQ(5u, read.size());
  EXPECT_EQ((std::vector<std::wstring>{L"Uninst.dat", L"Uninst.exe"}), kxtest::ListFolder(dest));
}

TEST_F(UninstallLogRun, CommitReportsWindowsErrorsAndLeavesNoTemporaryFile) {
  const std::wstring source = folder_ / L"kxremove.dat";
  ASSERT_TRUE(WriteBytes(source, "MZ"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), CommitUninstallLog(folder_ / L"missing", source));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), CommitUninstallLog(folder_.path(), folder_ / L"none.dat"));
  EXPECT_NE(0u, CommitUninstallLog(L"", source));

  // Something that cannot be replaced where the log goes: nothing is left
  // half written, and no temporary file stays behind.
  const std::wstring dest = folder_ / L"app";
  ASSERT_TRUE(CreateDirectoryW(dest.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((dest + L"\\Uninst.dat").c_str(), nullptr));
  EXPECT_NE(0u, CommitUninstallLog(dest, source));
  EXPECT_TRUE(kxtest::FolderExists(dest + L"\\Uninst.dat"));
  EXPECT_EQ((std::vector<std::wstring>{L"Uninst.dat", L"Uninst.exe"}), kxtest::ListFolder(dest));
}

// A log far larger than the spill's buffer goes through temporary files and
// comes out byte for byte as the whole-buffer writer makes it, so that
// uninstallers of every version read it.
TEST_F(UninstallLogRun, ALogSpilledInChunksIsWrittenAsTheWholeLogWouldBe) {
  const std::wstring dest = folder_ / L"app";
  ASSERT_TRUE(CreateDirectoryW(dest.c_str(), nullptr));
  const std::wstring source = folder_ / L"kxremove.dat";
  ASSERT_TRUE(WriteBytes(source, "MZ"));
  std::vector<UninstallRecord> expected = {{kRecordFolder, dest}};
  AddUninstallRecord(kRecordFolder, dest.c_str());
  for (int i = 0; i < 20000; ++i) {
    std::wstring path = dest + L"\\d" + std::to_wstring(i / 100) + L"\\f\u00e9%" + std::to_wstring(i) + L".txt";
    const int kind = i % 100 == 0 ? kRecordFolder : kRecordFile;
    if (kind == kRecordFolder) path = path.substr(0, path.rfind(L'\\'));
    AddUninstallRecord(kind, path.c_str());
    expected.push_back({kind, path});
  }
  EXPECT_EQ(expected.size(), UninstallRecordCount());
  ASSERT_EQ(0u, CommitUninstallLog(dest, source));
  expected.push_back({kRecordFile, dest + L"\\Uninst.exe"});
  expected.push_back({kRecordFile, dest + L"\\Uninst.dat"});
  const std::string written = ReadBytes(dest + L"\\Uninst.dat");
  EXPECT_GT(written.size(), 1000000u);
  EXPECT_TRUE(written == FormatUninstallLog(expected)) << "the chunked writer differs from the whole log";
  std::vector<UninstallRecord> read;
  ASSERT_EQ(LogFileStatus::kOk, ParseUninstallLog(written, &read));
  EXPECT_EQ(expected, read);
}

// On a reinstall the earlier installation's records go in front, each once:
// those the run made again and the earlier log's own repeats are left out,
// and a later batch goes in front of an earlier one.
std::vector<UninstallRecord> EarlierRecords() {
  std::vector<UninstallRecord> earlier;
  for (int i = 0; i < 8000; i += 2) earlier.push_back({kRecordFile, L"C:\\app\\new" + std::to_wstring(i)});
  earlier.push_back({kRecordFile, L"C:\\app\\old"});
  earlier.push_back({kRecordFolder, L"C:\\app"});
  earlier.push_back({kRecordFolder, L"C:\\app\\old folder"});
  earlier.push_back({kRecordFile, L"C:\\app\\old"});
  earlier.push_back({kRecordFolder, L"C:\\app\\new0"});  // same text, other kind: kept
  // Repeats far apart: the first is kept, whichever slice the second is in.
  for (int i = 7000; i < 8000; i += 2) earlier.push_back({kRecordFile, L"C:\\app\\new" + std::to_wstring(i)});
  return earlier;
}

void AddThisRunsRecords() {
  for (int i = 0; i < 5000; ++i) AddUninstallRecord(kRecordFile, (L"C:\\app\\new" + std::to_wstring(i)).c_str());
  AddUninstallRecord(kRecordFolder, L"C:\\app");
}

std::vector<UninstallRecord> ExpectedAfterReinstall() {
  std::vector<UninstallRecord> expected = {{kRecordFolder, L"C:\\rescued"},
                                           {kRecordFile, L"C:\\app\\new5000"}};
  for (int i = 5002; i < 8000; i += 2) expected.push_back({kRecordFile, L"C:\\app\\new" + std::to_wstring(i)});
  expected.push_back({kRecordFile, L"C:\\app\\old"});
  expected.push_back({kRecordFolder, L"C:\\app\\old folder"});
  expected.push_back({kRecordFolder, L"C:\\app\\new0"});
  for (int i = 0; i < 5000; ++i) expected.push_back({kRecordFile, L"C:\\app\\new" + std::to_wstring(i)});
  expected.push_back({kRecordFolder, L"C:\\app"});
  return expected;
}

TEST_F(UninstallLogRun, EarlierRecordsGoInFrontOnceAcrossAReinstall) {
  AddThisRunsRecords();
  PrependUninstallRecords(EarlierRecords());
  PrependUninstallRecords({{kRecordFolder, L"C:\\rescued"}, {kRecordFolder, L"C:\\app\\old folder"}});
  PrependUninstallRecords({});
  EXPECT_EQ(ExpectedAfterReinstall(), UninstallLogRecords());

  // A visitor that stops early sees the log's first records only.
  std::vector<std::wstring> firstTwo;
  EXPECT_TRUE(ForEachUninstallRecord([&firstTwo](int, const std::wstring& text) {
    firstTwo.push_back(text);
    return firstTwo.size() < 2;
  }));
  EXPECT_EQ((std::vector<std::wstring>{L"C:\\rescued", L"C:\\app\\new5000"}), firstTwo);
}

// An earlier log of any size is compared with the run's a slice at a time:
// in slices of 7 records (the repeats and the run's records fall into other
// slices than their first) the log comes out as in one slice.
TEST_F(UninstallLogRun, EarlierRecordsFromATemporaryFileInSlicesComeOutAsInOne) {
  AddThisRunsRecords();
  RecordSpill earlier;
  for (const UninstallRecord& record : EarlierRecords())
    ASSERT_EQ(0u, AppendSpilledRecord(&earlier, record.kind, record.text));
  EXPECT_EQ(EarlierRecords().size(), earlier.count);
  PrependUninstallSpill(&earlier, 7);
  EXPECT_EQ(0u, earlier.count) << "the list is taken";
  RecordSpill rescued;
  ASSERT_EQ(0u, AppendSpilledRecord(&rescued, kRecordFolder, L"C:\\rescued"));
  ASSERT_EQ(0u, AppendSpilledRecord(&rescued, kRecordFolder, L"C:\\rescued"));
  PrependUninstallSpill(&rescued, 1);
  EXPECT_EQ(ExpectedAfterReinstall(), UninstallLogRecords());

  // The records read back from the list as they went in, and a visitor
  // that stops early stops the reading.
  RecordSpill list;
  for (int i = 0; i < 3; ++i) ASSERT_EQ(0u, AppendSpilledRecord(&list, i, L"text " + std::to_wstring(i)));
  std::vector<UninstallRecord> read;
  EXPECT_TRUE(ForEachSpilledRecord(list, [&read](int kind, const std::wstring& text) {
    read.push_back({kind, text});
    return read.size() < 2;
  }));
  EXPECT_EQ((std::vector<UninstallRecord>{{0, L"text 0"}, {1, L"text 1"}}), read);
  ReleaseSpill(&list);
}

}  // namespace
