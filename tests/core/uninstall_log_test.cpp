// The uninstall log: recording, writing with the uninstaller, and reading
// back, including damaged and truncated files.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "core/uninstall_log.h"
#include "core/uninstall_log_format.h"
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

}  // namespace
