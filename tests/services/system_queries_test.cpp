// Environment, disk space and version queries against the real process
// environment, disk and a program built with a known version resource.
#include "services/system_queries.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>

#include "tests/support/fake_core.h"
#include "tests/support/test_files.h"

namespace {

std::wstring Var(const wchar_t* name) { return EvalVar((std::wstring(L"%") + name + L"%").c_str()); }

// A text whose every position shows, so that a cut or shift is seen.
std::wstring Pattern(size_t length) {
  std::wstring text(length, L'\0');
  for (size_t i = 0; i < length; ++i) text[i] = static_cast<wchar_t>(L'A' + i % 26);
  return text;
}

class SystemQueriesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kxtest::ResetFake();
    SetVar(L"OUT", L"before");
  }
  void TearDown() override { SetEnvironmentVariableW(L"KX_TEST_ENV", nullptr); }
};

TEST_F(SystemQueriesTest, EnvMissingOrEmpty) {
  SetEnvironmentVariableW(L"KX_TEST_ENV", nullptr);
  EXPECT_FALSE(EnvToVar(L"KX_TEST_ENV", L"OUT"));
  EXPECT_EQ(Var(L"OUT"), L"before");

  ASSERT_TRUE(SetEnvironmentVariableW(L"KX_TEST_ENV", L""));
  // A stale "not found" must not make the empty value look missing.
  SetLastError(ERROR_ENVVAR_NOT_FOUND);
  EXPECT_FALSE(EnvToVar(L"KX_TEST_ENV", L"OUT"));
  EXPECT_EQ(Var(L"OUT"), L"");
}

TEST_F(SystemQueriesTest, EnvValuesArriveWholeAtAnyLength) {
  for (size_t length : {size_t(1), size_t(4095), size_t(4096), size_t(5000)}) {
    std::wstring value = Pattern(length);
    ASSERT_TRUE(SetEnvironmentVariableW(L"KX_TEST_ENV", value.c_str()));
    SetVar(L"OUT", L"before");
    EXPECT_TRUE(EnvToVar(L"KX_TEST_ENV", L"OUT")) << length;
    EXPECT_EQ(Var(L"OUT"), value) << length;
  }
}

TEST_F(SystemQueriesTest, DiskSpaceByKind) {
  wchar_t temp[MAX_PATH];
  ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
  ULARGE_INTEGER available, total, freeBytes;
  ASSERT_TRUE(GetDiskFreeSpaceExW(temp, &available, &total, &freeBytes));

  DiskSpaceToVar(temp, L"OUT", kDiskTotalBytes);
  EXPECT_EQ(Var(L"OUT"), std::to_wstring(total.QuadPart));

  // Free space moves while other programs write; 64 MB of slack is plenty.
  auto closeTo = [](const std::wstring& text, ULONGLONG expected) {
    wchar_t* end = nullptr;
    ULONGLONG value = wcstoull(text.c_str(), &end, 10);
    ULONGLONG difference = value > expected ? value - expected : expected - value;
    return !text.empty() && *end == L'\0' && difference < (64ULL << 20);
  };
  DiskSpaceToVar(temp, L"OUT", kDiskAvailableBytes);
  EXPECT_PRED2(closeTo, Var(L"OUT"), available.QuadPart);
  for (int kind : {0, 3, -1, 100}) {
    DiskSpaceToVar(temp, L"OUT", kind);
    EXPECT_PRED2(closeTo, Var(L"OUT"), freeBytes.QuadPart) << kind;
  }

  // The cluster-based fallback computes in 64 bits.
  DiskSpace byClusters;
  ASSERT_TRUE(QueryDiskSpaceByClusters(temp, &byClusters));
  EXPECT_EQ(byClusters.totalBytes, total.QuadPart);
  EXPECT_EQ(byClusters.availableToCaller, byClusters.totalFree);
}

TEST_F(SystemQueriesTest, DiskSpaceOfAMissingPathIsEmpty) {
  kxtest::ScratchFolder folder;
  DiskSpaceToVar((folder / L"no\\such\\folder\\").c_str(), L"OUT", kDiskTotalBytes);
  EXPECT_EQ(Var(L"OUT"), L"");
}

TEST_F(SystemQueriesTest, FileVersionParts) {
  std::wstring sample = kxtest::TestDataPath("KX_TEST_VERSIONED_EXE");
  ASSERT_FALSE(sample.empty());
  const wchar_t* expected[] = {L"10", L"0", L"19041", L"1", L"0"};
  for (int part = 0; part <= 4; ++part) {
    SetVar(L"OUT", L"before");
    EXPECT_TRUE(FileVersionToVar(sample.c_str(), part, L"OUT")) << part;
    EXPECT_EQ(Var(L"OUT"), expected[part]) << part;
  }
  EXPECT_TRUE(FileVersionToVar(sample.c_str(), -1, L"OUT"));
  EXPECT_EQ(Var(L"OUT"), L"0");
}

TEST_F(SystemQueriesTest, FileWithoutVersionKeepsTheVariable) {
  kxtest::ScratchFolder folder;
  ASSERT_TRUE(kxtest::WriteBytes(folder / L"plain.txt", "no resources here"));
  EXPECT_FALSE(FileVersionToVar((folder / L"plain.txt").c_str(), 0, L"OUT"));
  EXPECT_FALSE(FileVersionToVar((folder / L"missing.exe").c_str(), 0, L"OUT"));
  EXPECT_EQ(Var(L"OUT"), L"before");
}

}  // namespace
