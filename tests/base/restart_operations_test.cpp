// Deferred moves: the start-up rename list edited on real files, Wine's
// pending rename operations, and the shutdown privilege (never the restart).
#include "base/restart_operations.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/fake_core.h"
#include "tests/support/pending_renames.h"
#include "tests/support/test_files.h"

namespace {

using kxtest::ReadBytes;
using kxtest::WriteBytes;

std::string ShortAnsiName(const std::wstring& path) {
  wchar_t shortName[kRenameNameChars];
  DWORD length = GetShortPathNameW(path.c_str(), shortName, kRenameNameChars);
  EXPECT_GT(length, 0u) << kxtest::Narrow(path);
  char ansi[2 * kRenameNameChars];
  WideCharToMultiByte(CP_ACP, 0, shortName, -1, ansi, sizeof ansi, nullptr, nullptr);
  return ansi;
}

class RenameListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    list_ = folder_ / L"wininit.ini";
    // A long name, so that the short name differs from it.
    source_ = folder_ / L"Scheduled for removal.dat";
    ASSERT_TRUE(WriteBytes(source_, "x"));
    deleteLine_ = "NUL=" + ShortAnsiName(source_) + "\r\n";
  }

  std::string AfterAdding(const std::string& before) {
    EXPECT_TRUE(WriteBytes(list_, before));
    EXPECT_TRUE(AddRenameEntry(source_.c_str(), nullptr, list_.c_str()));
    return ReadBytes(list_);
  }

  kxtest::ScratchFolder folder_;
  std::wstring list_;
  std::wstring source_;
  std::string deleteLine_;
};

TEST_F(RenameListTest, NewListGetsHeaderAndEntry) {
  ASSERT_FALSE(kxtest::FileExists(list_));
  EXPECT_TRUE(AddRenameEntry(source_.c_str(), nullptr, list_.c_str()));
  EXPECT_EQ(ReadBytes(list_), "[Rename]\r\n" + deleteLine_);
}

TEST_F(RenameListTest, EntryLandsAtTheEndOfTheRenameSection) {
  // Followed by another section: the entry goes just before its header.
  EXPECT_EQ(AfterAdding("[Rename]\r\nNUL=C:\\A.TXT\r\n[Other]\r\nkey=value\r\n"),
            "[Rename]\r\nNUL=C:\\A.TXT\r\n" + deleteLine_ + "[Other]\r\nkey=value\r\n");
  // An empty section directly followed by another.
  EXPECT_EQ(AfterAdding("[Rename]\r\n[Other]\r\nkey=value\r\n"),
            "[Rename]\r\n" + deleteLine_ + "[Other]\r\nkey=value\r\n");
  // The last section: appended at the end of the file.
  EXPECT_EQ(AfterAdding("[Boot]\r\na=b\r\n[Rename]\r\nNUL=C:\\A.TXT\r\n"),
            "[Boot]\r\na=b\r\n[Rename]\r\nNUL=C:\\A.TXT\r\n" + deleteLine_);
  // Other letter case: the section is used, no second header.
  EXPECT_EQ(AfterAdding("[rename]\r\nNUL=C:\\A.TXT\r\n[boot]\r\n"),
            "[rename]\r\nNUL=C:\\A.TXT\r\n" + deleteLine_ + "[boot]\r\n");
}

TEST_F(RenameListTest, EntriesKeepTheirOrder) {
  std::wstring second = folder_ / L"Second scheduled file.dat";
  ASSERT_TRUE(WriteBytes(second, ""));
  ASSERT_TRUE(WriteBytes(list_, "[Rename]\r\n[Boot]\r\n"));
  EXPECT_TRUE(AddRenameEntry(source_.c_str(), nullptr, list_.c_str()));
  EXPECT_TRUE(AddRenameEntry(second.c_str(), nullptr, list_.c_str()));
  EXPECT_EQ(ReadBytes(list_), "[Rename]\r\n" + deleteLine_ + "NUL=" + ShortAnsiName(second) + "\r\n[Boot]\r\n");
}

TEST_F(RenameListTest, UnrecognisedHeaderGetsAFreshSection) {
  // A header ended by LF alone is not the section.
  EXPECT_EQ(AfterAdding("[Rename]\nNUL=C:\\A.TXT\n"), "[Rename]\nNUL=C:\\A.TXT\n[Rename]\r\n" + deleteLine_);
}

TEST_F(RenameListTest, LastLineWithoutLineBreakStaysApart) {
  EXPECT_EQ(AfterAdding("[Boot]\r\na=b"), "[Boot]\r\na=b\r\n[Rename]\r\n" + deleteLine_);
  EXPECT_EQ(AfterAdding("[Rename]\r\nNUL=C:\\A.TXT"), "[Rename]\r\nNUL=C:\\A.TXT\r\n" + deleteLine_);
  EXPECT_EQ(AfterAdding("[Boot]\r\na=b\r"), "[Boot]\r\na=b\r\n[Rename]\r\n" + deleteLine_);
}

TEST_F(RenameListTest, RenameCreatesAMissingTargetFirst) {
  std::wstring target = folder_ / L"Replacement target.dat";
  ASSERT_FALSE(kxtest::FileExists(target));
  EXPECT_TRUE(AddRenameEntry(source_.c_str(), target.c_str(), list_.c_str()));
  ASSERT_TRUE(kxtest::FileExists(target));
  EXPECT_EQ(ReadBytes(target), "");
  EXPECT_EQ(ReadBytes(list_), "[Rename]\r\n" + ShortAnsiName(target) + "=" + ShortAnsiName(source_) + "\r\n");
}

TEST_F(RenameListTest, RefusalsLeaveTheListAlone) {
  // A source that does not exist has no short name; the list is not created.
  EXPECT_FALSE(AddRenameEntry((folder_ / L"missing.dat").c_str(), nullptr, list_.c_str()));
  EXPECT_FALSE(kxtest::FileExists(list_));

  // Deep folders of 8.3 names, so that the short names stay long.
  std::vector<std::wstring> folders;
  std::wstring deep = L"\\\\?\\" + folder_.path();
  std::wstring shortSource, longSource;
  while (longSource.empty()) {
    deep += L"DEEPDIR" + std::to_wstring(folders.size() % 10) + L"\\";
    ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr)) << deep.size();
    folders.push_back(deep);
    if (shortSource.empty() && deep.size() > 600) shortSource = deep + L"F.DAT";
    if (deep.size() > 1100) longSource = deep + L"F.DAT";
  }
  ASSERT_TRUE(WriteBytes(shortSource, "x"));
  ASSERT_TRUE(WriteBytes(longSource, "x"));

  const std::string before = "[Rename]\r\nNUL=C:\\A.TXT\r\n[Boot]\r\n";
  ASSERT_TRUE(WriteBytes(list_, before));
  // Each name fits its buffer, the line "name=name\r\n" does not.
  EXPECT_FALSE(AddRenameEntry(shortSource.c_str(), shortSource.c_str(), list_.c_str()));
  // The short name alone is longer than its buffer.
  EXPECT_FALSE(AddRenameEntry(longSource.c_str(), nullptr, list_.c_str()));
  EXPECT_EQ(ReadBytes(list_), before);
  // The placeholder step met an existing file and changed nothing.
  EXPECT_EQ(ReadBytes(shortSource), "x");

  // Removed here: the scratch folder's clean-up does not reach this deep.
  DeleteFileW(shortSource.c_str());
  DeleteFileW(longSource.c_str());
  for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder) RemoveDirectoryW(folder->c_str());
}

TEST(FindTextNoCaseTest, FindsAnywhereWithoutRegardToCase) {
  const char text[] = "key=[RENAME]\r\nrest";
  EXPECT_EQ(FindTextNoCase(text, "[rename]\r\n"), text + 4);
  EXPECT_EQ(FindTextNoCase(text, "REST"), text + 14);
  EXPECT_EQ(FindTextNoCase(text, "rest!"), nullptr);
  EXPECT_EQ(FindTextNoCase("abc", "abcd"), nullptr);
  EXPECT_EQ(FindTextNoCase("", "\n["), nullptr);
}

TEST(ToAnsiExactlyTest, RefusesLookalikesAndWhatDoesNotFit) {
  char out[16];
  if (GetACP() != 1252) GTEST_SKIP() << "the cases below are written for the Western code page";
  EXPECT_EQ(8, ToAnsiExactly(L"C:\\A.TXT", out, sizeof out));
  EXPECT_STREQ("C:\\A.TXT", out);
  EXPECT_EQ(3, ToAnsiExactly(L"\u00e9t\u00e9", out, sizeof out));  // each letter has its own byte
  // Best fit would write "L\xf3dz": another file's name.
  EXPECT_EQ(-1, ToAnsiExactly(L"\u0141\u00f3d\u017a", out, sizeof out));
  EXPECT_EQ(-1, ToAnsiExactly(L"\u65e5\u672c", out, sizeof out));
  EXPECT_EQ(-1, ToAnsiExactly(L"0123456789ABCDEF", out, sizeof out));
}

using kxtest::PendingRenamesGuard;

TEST_F(RenameListTest, MoveFileOnRestartAsksWindowsFirst) {
  PendingRenamesGuard guard;
  std::wstring target = folder_ / L"Replacement target.dat";
  EXPECT_TRUE(MoveFileOnRestart(source_.c_str(), nullptr, list_.c_str()));
  EXPECT_TRUE(MoveFileOnRestart(source_.c_str(), target.c_str(), list_.c_str()));

  std::wstring pending;
  ASSERT_TRUE(PendingRenamesGuard::Read(&pending));
  const std::wstring source = L"\\??\\" + source_;
  // Deletion: the source and an empty destination.
  EXPECT_NE(pending.find(source + std::wstring(L"\0\0", 2)), std::wstring::npos);
  // Replacement: "!" marks MOVEFILE_REPLACE_EXISTING.
  EXPECT_NE(pending.find(source + std::wstring(L"\0!\\??\\", 6) + target + L'\0'), std::wstring::npos);
  // Windows took both: the rename list was not touched, nor the target made.
  EXPECT_FALSE(kxtest::FileExists(list_));
  EXPECT_FALSE(kxtest::FileExists(target));
}

bool ShutdownPrivilegeEnabled(HANDLE token) {
  LUID shutdown;
  if (!LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &shutdown)) return false;
  alignas(TOKEN_PRIVILEGES) BYTE buffer[4096];
  DWORD size = 0;
  if (!GetTokenInformation(token, TokenPrivileges, buffer, sizeof buffer, &size)) return false;
  const TOKEN_PRIVILEGES* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer);
  for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
    const LUID_AND_ATTRIBUTES& entry = privileges->Privileges[i];
    if (entry.Luid.LowPart == shutdown.LowPart && entry.Luid.HighPart == shutdown.HighPart) {
      return (entry.Attributes & SE_PRIVILEGE_ENABLED) != 0;
    }
  }
  return false;
}

// RestartSystem itself is never called: it would end the Wine session.
TEST(ShutdownPrivilegeTest, EnabledWhenHeldRefusedWhenNot) {
  HANDLE processToken = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY | TOKEN_DUPLICATE,
                               &processToken));
  // A stale error must not pass for a failure.
  SetLastError(ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(EnableShutdownPrivilege(processToken), 0u);
  EXPECT_TRUE(ShutdownPrivilegeEnabled(processToken));

  LUID_AND_ATTRIBUTES removed = {};
  ASSERT_TRUE(LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &removed.Luid));
  HANDLE restricted = nullptr;
  ASSERT_TRUE(CreateRestrictedToken(processToken, 0, 0, nullptr, 1, &removed, 0, nullptr, &restricted));
  EXPECT_EQ(EnableShutdownPrivilege(restricted), static_cast<DWORD>(ERROR_NOT_ALL_ASSIGNED));
  EXPECT_FALSE(ShutdownPrivilegeEnabled(restricted));
  CloseHandle(restricted);
  CloseHandle(processToken);
}

}  // namespace
