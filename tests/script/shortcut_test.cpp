// CreateShortcut writing real link files, read back through IShellLinkW.
#include <gtest/gtest.h>

#include "core/kxcore.h"
#include "script/shortcut.h"
#include "tests/script/script_test_support.h"
#include "tests/support/fake_core.h"
#include "tests/support/test_files.h"

namespace {

using kxtest::ReadShortcut;
using kxtest::ShortcutInfo;

class CreateShortcutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kxtest::ResetFake();
    ASSERT_TRUE(kxtest::WriteBytes(folder_ / L"app.exe", "MZ"));
    ASSERT_TRUE(kxtest::WriteBytes(folder_ / L"other.exe", "MZ"));
    SetVar(L"DIR", folder_.path().substr(0, folder_.path().size() - 1).c_str());
  }
  std::wstring Link() const { return folder_ / L"App.lnk"; }

  kxtest::ComScope com_;
  kxtest::ScratchFolder folder_;
};

TEST_F(CreateShortcutTest, EveryPropertyGivenIsStored) {
  HRESULT result = CreateShortcut(L"%DIR%\\app.exe", L"--open %DIR%", L"%DIR%\\App.lnk", L"Quillmark's app", 3,
                                  L"%DIR%", L"%DIR%\\other.exe", 2);
  ASSERT_EQ(result, S_OK);
  ShortcutInfo info = ReadShortcut(Link());
  ASSERT_TRUE(info.loaded);
  EXPECT_EQ(info.target, folder_ / L"app.exe");
  EXPECT_EQ(info.arguments, L"--open " + folder_.path().substr(0, folder_.path().size() - 1));
  EXPECT_EQ(info.description, L"Quillmark's app");
  EXPECT_EQ(info.showCommand, 3);
  EXPECT_EQ(info.workingFolder, folder_.path().substr(0, folder_.path().size() - 1));
  EXPECT_EQ(info.iconFile, folder_ / L"other.exe");
  EXPECT_EQ(info.iconIndex, 2);
}

TEST_F(CreateShortcutTest, NullAndEmptyPropertiesAreLeftUnset) {
  ASSERT_EQ(CreateShortcut(L"%DIR%\\app.exe", nullptr, L"%DIR%\\App.lnk", nullptr, 0, nullptr, nullptr, 0), S_OK);
  ShortcutInfo bare = ReadShortcut(Link());
  ASSERT_TRUE(bare.loaded);
  EXPECT_EQ(bare.target, folder_ / L"app.exe");
  EXPECT_EQ(bare.arguments, L"");
  EXPECT_EQ(bare.description, L"");
  EXPECT_EQ(bare.workingFolder, L"");
  EXPECT_EQ(bare.iconFile, L"");
  EXPECT_EQ(bare.showCommand, SW_SHOWNORMAL);

  std::wstring second = folder_ / L"Empty.lnk";
  ASSERT_EQ(CreateShortcut(L"%DIR%\\app.exe", L"", L"%DIR%\\Empty.lnk", L"", -2, L"", L"", 0), S_OK);
  ShortcutInfo empty = ReadShortcut(second);
  ASSERT_TRUE(empty.loaded);
  EXPECT_EQ(empty.arguments, L"");
  EXPECT_EQ(empty.description, L"");
  EXPECT_EQ(empty.workingFolder, L"");
  EXPECT_EQ(empty.iconFile, L"");
  EXPECT_EQ(empty.showCommand, SW_SHOWNORMAL);

  // A negative index skips the icon although a file is named.
  std::wstring third = folder_ / L"NoIcon.lnk";
  ASSERT_EQ(CreateShortcut(L"%DIR%\\app.exe", L"", L"%DIR%\\NoIcon.lnk", L"", 1, L"", L"%DIR%\\other.exe", -1), S_OK);
  EXPECT_EQ(ReadShortcut(third).iconFile, L"");
}

TEST_F(CreateShortcutTest, AnExistingLinkIsOverwritten) {
  ASSERT_EQ(CreateShortcut(L"%DIR%\\other.exe", L"--old", L"%DIR%\\App.lnk", L"old", 7, L"", nullptr, 0), S_OK);
  ASSERT_EQ(CreateShortcut(L"%DIR%\\app.exe", L"", L"%DIR%\\App.lnk", L"", 1, L"", nullptr, 0), S_OK);
  ShortcutInfo info = ReadShortcut(Link());
  ASSERT_TRUE(info.loaded);
  EXPECT_EQ(info.target, folder_ / L"app.exe");
  EXPECT_EQ(info.arguments, L"");
  EXPECT_EQ(info.showCommand, SW_SHOWNORMAL);
}

TEST_F(CreateShortcutTest, FailuresWriteNothing) {
  std::wstring missingFolder = folder_ / L"missing\\App.lnk";
  EXPECT_TRUE(FAILED(CreateShortcut(L"%DIR%\\app.exe", L"", L"%DIR%\\missing\\App.lnk", L"", 1, L"", nullptr, 0)));
  EXPECT_FALSE(kxtest::FileExists(missingFolder));

  EXPECT_EQ(CreateShortcut(nullptr, L"", L"%DIR%\\App.lnk", L"", 1, L"", nullptr, 0), E_INVALIDARG);
  EXPECT_EQ(CreateShortcut(L"%DIR%\\app.exe", L"", nullptr, L"", 1, L"", nullptr, 0), E_INVALIDARG);

  // A target that does not fit the buffer would be cut to another path.
  SetVar(L"LONGNAME", std::wstring(kShortcutTextCapacity, L'a').c_str());
  EXPECT_EQ(CreateShortcut(L"%DIR%\\%LONGNAME%", L"", L"%DIR%\\App.lnk", L"", 1, L"", nullptr, 0),
            HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE));
  EXPECT_FALSE(kxtest::FileExists(Link()));
}

}  // namespace
