// setup.exe /S: the whole installation without a page, its uninstall log,
// and a payload that cannot be unpacked.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/driver/ui_driver.h"
#include "tests/e2e/install_e2e_fixture.h"
#include "tests/support/package_files.h"
#include "tests/support/seven_zip_writer.h"

namespace kxtest {
namespace {

using kxcore::UninstallRecord;

TEST_F(InstallEndToEnd, SilentInstallationPutsEverythingInPlaceAndStartsTheProduct) {
  EXPECT_EQ(RunSetup(L"/S"), 0u);
  ExpectInstalled(defaultFolder_, startMenuRoot_ + L"\\Quillmark");
  EXPECT_TRUE(ProductStartedFrom(defaultFolder_));
}

TEST_F(InstallEndToEnd, SilentInstallationGoesWhereDestinationSwitchSays) {
  std::wstring folder = work_ / L"Chosen Folder\\Quillmark";
  EXPECT_EQ(RunSetup(L"/S /D=" + folder), 0u);
  ExpectInstalled(folder, startMenuRoot_ + L"\\Quillmark");
  EXPECT_FALSE(FolderExists(defaultFolder_));
  EXPECT_TRUE(ProductStartedFrom(folder));
}

TEST_F(InstallEndToEnd, TheUninstallLogRecordsTheInstallationInOrder) {
  ASSERT_EQ(RunSetup(L"/S"), 0u);
  ProductStartedFrom(defaultFolder_);
  std::vector<UninstallRecord> records = ReadLog(defaultFolder_);
  const std::wstring destination = defaultFolder_ + L"\\";
  const std::wstring shortcutFolder = startMenuRoot_ + L"\\Quillmark";

  // First the payload: the destination folder, then folders and files, each
  // folder before the files in it and every file exactly once.
  size_t end = 0;
  auto inPayload = [&](const UninstallRecord& record) {
    return record.text == defaultFolder_ || (record.text.compare(0, destination.size(), destination) == 0 &&
                                             record.text != destination + L"Uninst.exe");
  };
  while (end < records.size() && inPayload(records[end])) ++end;
  ASSERT_GT(records.size(), end + 3 + 22);
  ASSERT_FALSE(records.empty());
  EXPECT_EQ(records[0], (UninstallRecord{1, defaultFolder_}));
  for (const PayloadFile& file : payload_) {
    const std::wstring path = destination + file.relative;
    auto isFile = [&](const UninstallRecord& record) { return record.kind == 0 && record.text == path; };
    auto at = std::find_if(records.begin(), records.begin() + end, isFile);
    ASSERT_NE(at, records.begin() + end) << Narrow(path) << " not logged";
    EXPECT_EQ(std::count_if(records.begin(), records.begin() + end, isFile), 1);
    size_t slash = file.relative.rfind(L'\\');
    if (slash != std::wstring::npos) {
      const std::wstring folder = destination + file.relative.substr(0, slash);
      EXPECT_TRUE(std::any_of(records.begin(), at, [&](const UninstallRecord& record) {
        return record.kind == 1 && record.text == folder;
      })) << Narrow(folder) << " not logged before its file";
    }
  }
  for (size_t i = 1; i < end; ++i) EXPECT_TRUE(records[i].kind == 0 || records[i].kind == 1);

  // The shortcut's folder (by the folder service and by the script), the
  // shortcut, the uninstall entry's twenty-four records, the uninstaller and log.
  EXPECT_EQ(records[end], (UninstallRecord{1, shortcutFolder}));
  EXPECT_EQ(records[end + 1], (UninstallRecord{1, shortcutFolder}));
  EXPECT_EQ(records[end + 2], (UninstallRecord{0, shortcutFolder + L"\\Quillmark Toolkit.lnk"}));
  const std::wstring key = std::wstring(L"HKEY_LOCAL_MACHINE\\") + kUninstallKey;
  const wchar_t* names[] = {L"DisplayName",     L"DisplayVersion", L"UninstallString",      L"Publisher",
                            L"URLInfoAbout",    L"DisplayIcon",    L"InstallLocation",      L"EstimatedSize",
                            L"QuietUninstallString", L"NoModify", L"NoRepair", L"Language"};
  for (int i = 0; i < 12; ++i) {
    EXPECT_EQ(records[end + 3 + 2 * i], (UninstallRecord{3, L"\"" + key + L"\" \"" + names[i] + L"\""}));
    EXPECT_EQ(records[end + 4 + 2 * i], (UninstallRecord{2, key}));
  }
  std::vector<UninstallRecord> rest(records.begin() + end + 27, records.end());
  EXPECT_EQ(rest, (std::vector<UninstallRecord>{{0, destination + L"Uninst.exe"}, {0, destination + L"Uninst.dat"}}));
}

TEST_F(InstallEndToEnd, APayloadThatFailsToUnpackEndsWithOneAfterBothMessages) {
  PackageParts parts;
  ASSERT_TRUE(SplitPackage(ReadBytes(setup_), &parts));
  // A name of 259 units (260 with its terminating zero) is one too long.
  parts.payloadArchive = BuildSevenZip({ArchiveItem::File(L"README.txt", "read me"),
                                        ArchiveItem::File(std::wstring(259, L'n'), "too long")});
  std::wstring broken = work_ / L"setup.exe";
  ASSERT_TRUE(WriteBytes(broken, ComposePackage(parts)));

  kxdrive::Session session(L"install-payload-fails");
  ASSERT_TRUE(session.Start(broken, L"/S", Environment()));
  EXPECT_TRUE(session.Answer(L"Error while unpacking archive", IDOK));
  EXPECT_TRUE(session.Answer(L"An unexpected error occurred while unpacking file(s). Error code: 11", IDOK));
  EXPECT_EQ(session.WaitForExit(60000), 1u);
  HKEY key = nullptr;
  EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ, &key), ERROR_SUCCESS);
  EXPECT_FALSE(FileExists(defaultFolder_ + L"\\Uninst.exe"));
  EXPECT_TRUE(ListFolder(temp_).empty());
}

}  // namespace
}  // namespace kxtest
