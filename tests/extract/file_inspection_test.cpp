// The file-inspection services for hooks that decide by the target file.
#include <gmock/gmock.h>

#include "core/variables.h"
#include "tests/extract/extract_fixture.h"

using namespace kxtest;

namespace {

std::wstring Variable(const wchar_t* name) { return EvalVar((std::wstring(L"%") + name + L"%").c_str()); }

void SetWriteTime(const std::wstring& path, uint64_t time) {
  HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  FILETIME stamp = {static_cast<DWORD>(time), static_cast<DWORD>(time >> 32)};
  SetFileTime(file, nullptr, nullptr, &stamp);
  CloseHandle(file);
}

// The local calendar time the description must show for a UTC file time.
std::wstring LocalStamp(uint64_t time) {
  FILETIME stamp = {static_cast<DWORD>(time), static_cast<DWORD>(time >> 32)};
  SYSTEMTIME utc, local;
  FileTimeToSystemTime(&stamp, &utc);
  SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local);
  wchar_t text[64];
  swprintf(text, 64, L"%02d/%02d/%d %02d:%02d", local.wMonth, local.wDay, local.wYear, local.wHour, local.wMinute);
  return text;
}

constexpr uint64_t kMarch17 = 0x01D71B4C6A5F3E00ull;  // 2021-03-17 20:33:xx UTC

TEST_F(ExtractTest, PrepareOverwriteTextsDescribesBothCopies) {
  const std::wstring path = scratch_ / L"report.txt";
  ASSERT_TRUE(WriteBytes(path, std::string(1024, 'r')));
  SetWriteTime(path, kMarch17);
  const uint64_t archived = kMarch17 + 36000000000ull;  // one hour later
  uint32_t high = static_cast<uint32_t>(archived >> 32), low = static_cast<uint32_t>(archived);

  PrepareOverwriteTexts(path.c_str(), 77, &high, &low);

  EXPECT_EQ(L"report.txt", Variable(L"CURFILENAME"));
  EXPECT_EQ(L"report.txt (1024 bytes), modified: " + LocalStamp(kMarch17), Variable(L"KXDLGOVERFILE1"));
  EXPECT_EQ(L"report.txt (77 bytes), modified: " + LocalStamp(archived), Variable(L"KXDLGOVERFILE3"));
}

TEST_F(ExtractTest, PrepareOverwriteTextsKeepsPercentSignsInNamesLiteral) {
  // The name goes into a printf format; conversions in it must stay text.
  const std::wstring name = L"100%s%n%d.txt";
  const std::wstring path = scratch_ / name;
  ASSERT_TRUE(WriteBytes(path, "abc"));
  uint32_t high = 0, low = 0;

  PrepareOverwriteTexts(path.c_str(), 5, &high, &low);

  EXPECT_EQ(name, Variable(L"CURFILENAME"));
  EXPECT_THAT(Variable(L"KXDLGOVERFILE1"), ::testing::StartsWith(name + L" (3 bytes), modified: "));
  EXPECT_THAT(Variable(L"KXDLGOVERFILE3"), ::testing::StartsWith(name + L" (5 bytes), modified: "));
}

TEST_F(ExtractTest, PrepareOverwriteTextsForAMissingTargetSetsOnlyTheName) {
  SetVar(L"KXDLGOVERFILE1", L"before1");
  SetVar(L"KXDLGOVERFILE3", L"before3");
  uint32_t high = 0, low = 0;
  PrepareOverwriteTexts((scratch_ / L"missing.dat").c_str(), 1, &high, &low);
  EXPECT_EQ(L"missing.dat", Variable(L"CURFILENAME"));
  EXPECT_EQ(L"before1", Variable(L"KXDLGOVERFILE1"));
  EXPECT_EQ(L"before3", Variable(L"KXDLGOVERFILE3"));

  // The name is what follows the last backslash, else the last '/', else ':'.
  PrepareOverwriteTexts(L"C:\\dir\\sub/missing.dat", 1, &high, &low);
  EXPECT_EQ(L"sub/missing.dat", Variable(L"CURFILENAME"));
  PrepareOverwriteTexts(L"C:/dir/missing.dat", 1, &high, &low);
  EXPECT_EQ(L"missing.dat", Variable(L"CURFILENAME"));
  EXPECT_EQ(L"before1", Variable(L"KXDLGOVERFILE1"));
  EXPECT_EQ(L"before3", Variable(L"KXDLGOVERFILE3"));

  PrepareOverwriteTexts(L"C:name.txt", 1, &high, &low);
  EXPECT_EQ(L"name.txt", Variable(L"CURFILENAME"));
}

TEST_F(ExtractTest, TargetNotNewerComparesToTheTick) {
  const std::wstring file = scratch_ / L"t.bin";
  ASSERT_TRUE(WriteBytes(file, "t"));
  SetWriteTime(file, kMarch17);
  uint32_t high = static_cast<uint32_t>(kMarch17 >> 32), low = static_cast<uint32_t>(kMarch17);
  EXPECT_TRUE(TargetNotNewer(file.c_str(), &high, &low));
  SetWriteTime(file, kMarch17 + 1);
  EXPECT_FALSE(TargetNotNewer(file.c_str(), &high, &low));
  SetWriteTime(file, kMarch17 - 1);
  EXPECT_TRUE(TargetNotNewer(file.c_str(), &high, &low));

  EXPECT_TRUE(TargetNotNewer((scratch_ / L"absent").c_str(), &high, &low));
  const std::wstring folder = scratch_ / L"folder";
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  EXPECT_FALSE(TargetNotNewer(folder.c_str(), &high, &low));
}

std::string PeImage(uint16_t machine, int32_t peOffset, size_t size) {
  std::string image(size, '\0');
  image[0] = 'M';
  image[1] = 'Z';
  memcpy(&image[0x3C], &peOffset, 4);
  if (peOffset >= 0 && static_cast<size_t>(peOffset) + 6 <= size) {
    memcpy(&image[peOffset], "PE\0\0", 4);
    memcpy(&image[peOffset + 4], &machine, 2);
  }
  return image;
}

TEST_F(ExtractTest, IsX86ExecutableReadsTheMachineField) {
  struct Case {
    const char* what;
    std::string bytes;
    bool expected;
  };
  const Case kCases[] = {
      {"x86", PeImage(0x14C, 0x80, 512), true},
      {"x64", PeImage(0x8664, 0x80, 512), false},
      {"header at the end of the first 4096 bytes", PeImage(0x14C, 4090, 8192), true},
      {"header beyond the first 4096 bytes", PeImage(0x14C, 4092, 8192), false},
      {"negative header position", PeImage(0x14C, -4, 512), false},
      {"shorter than 64 bytes", PeImage(0x14C, 0x30, 63), false},
      {"no MZ", "ZM" + PeImage(0x14C, 0x80, 512).substr(2), false},
  };
  for (const Case& c : kCases) {
    const std::wstring path = scratch_ / L"image.exe";
    ASSERT_TRUE(WriteBytes(path, c.bytes));
    EXPECT_EQ(c.expected, IsX86Executable(path.c_str())) << c.what;
  }
  EXPECT_FALSE(IsX86Executable((scratch_ / L"absent.exe").c_str()));
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  EXPECT_FALSE(IsX86Executable(self));
}

TEST_F(ExtractTest, PathHelpers) {
  wchar_t path[16] = L"C:\\a";
  AddTrailingBackslash(path);
  EXPECT_STREQ(L"C:\\a\\", path);
  AddTrailingBackslash(path);
  EXPECT_STREQ(L"C:\\a\\", path);
  wcscpy(path, L"C:/a/");
  AddTrailingBackslash(path);
  EXPECT_STREQ(L"C:/a/\\", path);
  path[0] = L'\0';
  AddTrailingBackslash(path);
  EXPECT_STREQ(L"\\", path);

  EXPECT_TRUE(DirectoryExists(scratch_.path().c_str()));
  ASSERT_TRUE(WriteBytes(scratch_ / L"f", "f"));
  EXPECT_FALSE(DirectoryExists((scratch_ / L"f").c_str()));
  EXPECT_FALSE(DirectoryExists((scratch_ / L"none").c_str()));
}

}  // namespace
