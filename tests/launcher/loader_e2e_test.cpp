// The real loaders (out/Uninst.exe, out/setup.exe) and their program library:
// a runtime whose program library is missing or unusable stops in order, a
// program library beside the program is never loaded, and the program library
// is released before the runtime folder goes.
#include <gtest/gtest.h>

#include <map>

#include "tests/driver/ui_driver.h"
#include "tests/support/package_files.h"
#include "tests/support/process_runner.h"
#include "tests/support/seven_zip_writer.h"
#include "tests/support/test_files.h"

using namespace kxtest;

namespace {

constexpr wchar_t kNoRuntime[] = L"Fatal Error\r\nCannot create temporary runtime: the program will exit.";

class LoaderEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    packages = TestDataPath("KX_TEST_PACKAGES");
    runtime = TestDataPath("KX_TEST_RUNTIME_UNINST") + L"\\";
    ASSERT_FALSE(packages.empty());
    temp = work / L"temp";
    ASSERT_TRUE(CreateDirectoryW(temp.c_str(), nullptr));
  }

  LaunchOptions Options(const std::wstring& arguments) {
    LaunchOptions options;
    options.arguments = arguments;
    options.environment[L"TMP"] = temp;
    options.environment[L"TEMP"] = temp;
    options.workingFolder = work.path();
    return options;
  }

  // The uninstaller with a runtime of the files of its own runtime named in
  // names, and the files given.
  std::wstring Uninstaller(const std::wstring& name, std::vector<const wchar_t*> names,
                           std::vector<ArchiveItem> extra) {
    PackageParts parts;
    EXPECT_TRUE(SplitPackage(ReadBytes(TestDataPath("KX_TEST_OUT") + L"\\Uninst.exe"), &parts));
    for (const wchar_t* file : names) extra.push_back(ArchiveItem::File(file, ReadBytes(runtime + file)));
    parts.runtimeArchive = BuildSevenZip(extra);
    std::wstring path = work / name;
    EXPECT_TRUE(WriteBytes(path, ComposePackage(parts)));
    return path;
  }

  ScratchFolder work;
  std::wstring packages;
  std::wstring runtime;
  std::wstring temp;
};

}  // namespace

// Missing, without its export, of another build: the same stop as a core library that cannot
// be bound, with the reason in the run log and nothing left behind.
TEST_F(LoaderEndToEnd, AProgramLibraryThatCannotRunStopsInOrder) {
  const std::string planted = ReadBytes(packages + L"\\planted\\kxcore64.dll");
  const std::string otherBuild = ReadBytes(packages + L"\\refusing\\kxprogram64.dll");
  ASSERT_FALSE(planted.empty());
  ASSERT_FALSE(otherBuild.empty());
  const struct {
    const char* what;
    std::vector<ArchiveItem> library;
    const char* logged;
  } cases[] = {
      {"missing", {}, "Error 126: the program library could not be loaded"},
      {"without its export", {ArchiveItem::File(L"kxprogram64.dll", planted)},
       "Error 127: the program library could not be loaded"},
      {"of another build", {ArchiveItem::File(L"kxprogram64.dll", otherBuild)},
       "Error 1306: the program library could not be loaded"},
      {"not a program library at all", {ArchiveItem::File(L"kxprogram64.dll", "MZ but nothing else")},
       "the program library could not be loaded"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::wstring program =
        Uninstaller(L"Uninst.exe", {L"KXCore64.dll", L"kxlng.dat", L"kxpackage.dat"}, c.library);
    const std::wstring log = work / L"run.log";
    DeleteFileW(log.c_str());
    ChildProcess child;
    ASSERT_TRUE(child.Start(program, Options(L"/LOG=\"" + log + L"\"")));
    HWND box = kxdrive::WaitForMessageBox(child.id(), child.handle());
    ASSERT_TRUE(box != nullptr) << "no message box appeared";
    EXPECT_EQ(kNoRuntime, kxdrive::MessageBoxText(box));
    kxdrive::AnswerMessageBox(box, IDOK);
    EXPECT_EQ(static_cast<DWORD>(-2), child.Wait(60000));
    const std::string logged = ReadBytes(log);
    EXPECT_NE(std::string::npos, logged.find(c.logged)) << logged;
    EXPECT_NE(std::string::npos, logged.find("Exit code -2")) << logged;
    EXPECT_TRUE(ListFolder(temp).empty()) << "runtime folder left behind";
  }
}

// The library the loader runs is the runtime's: one planted beside the
// program, or in the folder it was started from, is never loaded, and the
// runtime's is released before its folder is removed.
TEST_F(LoaderEndToEnd, OnlyTheRuntimesProgramLibraryRuns) {
  const std::wstring program = work / L"Uninst.exe";
  ASSERT_TRUE(WriteBytes(program, ReadBytes(TestDataPath("KX_TEST_OUT") + L"\\Uninst.exe")));
  const std::wstring planted = work / L"kxprogram64.dll";
  ASSERT_TRUE(CopyFileW((packages + L"\\planted\\kxcore64.dll").c_str(), planted.c_str(), FALSE));
  // Not installed beside an uninstall log: the flow declines silently, but
  // only the real program library gets that far.
  const std::wstring log = work / L"run.log";
  EXPECT_EQ(0u, RunToExit(program, Options(L"/S /LOG=\"" + log + L"\"")));
  EXPECT_FALSE(FileExists(planted + L".loaded"));
  const std::string logged = ReadBytes(log);
  EXPECT_EQ(std::string::npos, logged.find("program library could not be loaded")) << logged;
  EXPECT_NE(std::string::npos, logged.find("Exit code 0")) << logged;
  EXPECT_TRUE(ListFolder(temp).empty()) << "runtime folder left behind";
}
