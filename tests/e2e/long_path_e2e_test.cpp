// Paths past MAX_PATH under the installation folder: the real setup.exe
// installs them (with their times and attributes), the installed Uninst.exe
// removes them, and a failing run rolls them back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/driver/ui_driver.h"
#include "tests/e2e/install_e2e_fixture.h"
#include "tests/support/package_files.h"
#include "tests/support/process_runner.h"
#include "tests/support/seven_zip_writer.h"

namespace kxtest {
namespace {

constexpr uint64_t kStoredTime = 132000000000000000ull;  // 2019-04-15

// "long/" and levels of 60 characters down to a file whose full path under
// folder is at least 400 characters.
std::wstring DeepName(const std::wstring& folder) {
  std::wstring name = L"long";
  int level = 0;
  while (folder.size() + 1 + name.size() + 10 < 400) name += L"/level" + std::to_wstring(level++) + std::wstring(52, L'x');
  return name + L"/deep.txt";
}

std::wstring Backslashed(std::wstring name) {
  for (wchar_t& c : name)
    if (c == L'/') c = L'\\';
  return name;
}

class LongPathEndToEnd : public InstallEndToEnd {
 protected:
  // setup.exe with its own payload and one more file deep below the folder,
  // read-only and with a stored time; `broken` appends an entry whose data
  // fails its CRC, so that the run fails after writing the deep file.
  std::wstring Package(bool broken) {
    PackageParts parts;
    EXPECT_TRUE(SplitPackage(ReadBytes(setup_), &parts));
    std::vector<ArchiveItem> items;
    for (const std::wstring& folder : payloadFolders_) items.push_back(ArchiveItem::Folder(folder));
    for (const PayloadFile& file : payload_) items.push_back(ArchiveItem::File(file.relative, file.bytes));
    ArchiveItem deep = ArchiveItem::File(DeepName(defaultFolder_), "deep down");
    deep.hasTime = true;
    deep.time = kStoredTime;
    deep.hasAttributes = true;
    deep.attributes = FILE_ATTRIBUTE_READONLY;
    items.push_back(deep);
    if (broken) items.push_back(ArchiveItem::File(L"zz-last.txt", "damaged"));
    std::string archive = BuildSevenZip(items);
    if (broken) archive[archive.find("damaged")] ^= 0x01;
    parts.payloadArchive = archive;
    const std::wstring path = work_ / (broken ? L"long-broken.exe" : L"long.exe");
    EXPECT_TRUE(WriteBytes(path, ComposePackage(parts)));
    return path;
  }

  std::wstring DeepFile() const { return defaultFolder_ + L"\\" + Backslashed(DeepName(defaultFolder_)); }
};

TEST_F(LongPathEndToEnd, A400CharacterPathInstallsWithItsTimeAndAttributesAndUninstalls) {
  ASSERT_GE(DeepFile().size(), 400u);
  setup_ = Package(false);
  ASSERT_EQ(RunSetup(L"/S"), 0u);
  ProductStartedFrom(defaultFolder_);

  EXPECT_EQ(ReadBytes(DeepFile()), "deep down");
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  ASSERT_TRUE(GetFileAttributesExW((L"\\\\?\\" + DeepFile()).c_str(), GetFileExInfoStandard, &data));
  EXPECT_TRUE(data.dwFileAttributes & FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ((uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) | data.ftLastWriteTime.dwLowDateTime, kStoredTime);
  // The uninstall log names it whole, and every folder on the way.
  bool logged = false;
  for (const kxcore::UninstallRecord& record : ReadLog(defaultFolder_))
    if (record.kind == 0 && record.text == DeepFile()) logged = true;
  EXPECT_TRUE(logged);
  EXPECT_FALSE(FileExists(defaultFolder_ + L"\\~kxsetup.jnl"));

  EXPECT_EQ(RunInstalledUninstaller(defaultFolder_, L"/S"), 0u);
  EXPECT_FALSE(FolderExists(defaultFolder_ + L"\\long"));
  EXPECT_EQ((std::vector<std::wstring>{L"Uninst.exe"}), ListFolder(defaultFolder_));
}

TEST_F(LongPathEndToEnd, AFailingRunRollsBackTheLongPathsAndNamesTheFailureInTheLog) {
  const std::wstring log = work_ / L"run.log";
  kxdrive::Session session(L"long-path-rollback");
  ASSERT_TRUE(session.Start(Package(true), L"/S /LOG=" + log, Environment()));
  EXPECT_TRUE(session.Answer(L"CRC error: corrupted archive", IDOK));
  EXPECT_TRUE(session.Answer(L"Error code: 3", IDOK));
  EXPECT_EQ(session.WaitForExit(120000), 1u);

  EXPECT_FALSE(FolderExists(defaultFolder_));
  ExpectNothingInstalled();
  // The deep file was written, then removed by the rollback.
  const std::vector<std::wstring> steps = RunLogSteps(log);
  EXPECT_TRUE(HasStep(steps, L"File written: " + DeepFile())) << StepsText(steps);
}

}  // namespace
}  // namespace kxtest
