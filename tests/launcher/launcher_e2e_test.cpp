// The real launcher and the real core library in packages built by kxpack:
// start-up, the variables a script sees, exit codes, fatal messages and
// clean-up, read with full 32-bit exit codes.
#include <gtest/gtest.h>

#include <map>

#include "tests/driver/ui_driver.h"
#include "tests/support/package_files.h"
#include "tests/support/process_runner.h"
#include "tests/support/seven_zip_writer.h"
#include "tests/support/test_files.h"

using namespace kxtest;

namespace {

constexpr wchar_t kTitle[] = L"Quillmark Toolkit Setup (64-bit)";
constexpr wchar_t kCorrupted[] =
    L"Fatal Error\r\nThis program has got corrupted internal data: it will exit. Please obtain a new copy.";

class LauncherEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    packages = TestDataPath("KX_TEST_PACKAGES");
    ASSERT_FALSE(packages.empty());
    temp = work / L"temp";
    ASSERT_TRUE(CreateDirectoryW(temp.c_str(), nullptr));
  }

  // A copy of a package in the test's folder, optionally rewritten.
  std::wstring Place(const std::wstring& name, const std::string& bytes) {
    std::wstring path = work / name;
    EXPECT_TRUE(WriteBytes(path, bytes));
    return path;
  }

  std::string ProbeBytes() { return ReadBytes(packages + L"\\probe_setup.exe"); }

  LaunchOptions Options(std::map<std::wstring, std::wstring> environment = {}) {
    LaunchOptions options;
    options.environment = std::move(environment);
    // A private temporary folder shows exactly what a run leaves behind.
    options.environment[L"TMP"] = temp;
    options.environment[L"TEMP"] = temp;
    return options;
  }

  std::map<std::wstring, std::wstring> ReadProbe(const std::wstring& path) {
    std::map<std::wstring, std::wstring> values;
    std::wstring text = Widen(ReadBytes(path));
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find(L'\n', start);
      if (end == std::wstring::npos) end = text.size();
      std::wstring line = text.substr(start, end - start);
      if (!line.empty() && line.back() == L'\r') line.pop_back();
      size_t equals = line.find(L'=');
      if (equals != std::wstring::npos) values[line.substr(0, equals)] = line.substr(equals + 1);
      start = end + 1;
    }
    return values;
  }

  // Runs a program that is expected to show one fatal message box; answers
  // it and returns the exit code, storing the box's text and caption.
  DWORD RunExpectingBox(const std::wstring& program, const LaunchOptions& options, std::wstring* text,
                        std::wstring* caption) {
    ChildProcess child;
    EXPECT_TRUE(child.Start(program, options)) << "Windows error " << child.startError();
    HWND box = kxdrive::WaitForMessageBox(child.id(), child.handle());
    EXPECT_TRUE(box != nullptr) << "no message box appeared";
    if (box) {
      *text = kxdrive::MessageBoxText(box);
      *caption = kxdrive::WindowText(box);
      kxdrive::AnswerMessageBox(box, IDOK);
    }
    DWORD code = child.Wait(60000);
    if (code == STILL_ACTIVE) child.Kill();
    return code;
  }

  ScratchFolder work;
  std::wstring packages;
  std::wstring temp;
};

}  // namespace

TEST_F(LauncherEndToEnd, RunsTheScriptWithTheLauncherVariablesAndCleansUp) {
  std::wstring program = Place(L"setup.exe", ProbeBytes());
  std::wstring start = work / L"start";
  ASSERT_TRUE(CreateDirectoryW(start.c_str(), nullptr));
  LaunchOptions options = Options({{L"KX_PROBE_OUT", work / L"probe.txt"}, {L"KX_PROBE_EXIT", L"7"}});
  options.workingFolder = start;

  EXPECT_EQ(7u, RunToExit(program, options));
  auto seen = ReadProbe(work / L"probe.txt");
  EXPECT_EQ(kTitle, seen[L"APPTITLE"]);
  EXPECT_EQ(program, seen[L"ARCNAME"]);
  EXPECT_EQ(work.path().substr(0, work.path().size() - 1), seen[L"ARCPATH"]);
  EXPECT_EQ(start, seen[L"CUR"]);
  const std::wstring runtime = seen[L"KXSFXPATH"];
  ASSERT_GT(runtime.size(), temp.size() + 11);
  EXPECT_EQ(temp + L"\\kx", runtime.substr(0, temp.size() + 3));
  EXPECT_EQ(L'\\', runtime.back());
  // The script runs beside the runtime folder, never in it: a process it
  // starts inherits the current directory. The library is bound from it.
  EXPECT_EQ(temp, seen[L"CURRENTDIR"]);
  EXPECT_EQ(runtime + L"kxcore64.dll", seen[L"LIBRARY"]);
  EXPECT_TRUE(ListFolder(temp).empty()) << "runtime folder left behind";
}

TEST_F(LauncherEndToEnd, TheExitCodeIsTheScriptsNumberInFull) {
  std::wstring program = Place(L"setup.exe", ProbeBytes());
  EXPECT_EQ(0u, RunToExit(program, Options({{L"KX_PROBE_EXIT", L"0"}})));
  EXPECT_EQ(static_cast<DWORD>(-5), RunToExit(program, Options({{L"KX_PROBE_EXIT", L"-5"}})));
  EXPECT_EQ(70000u, RunToExit(program, Options({{L"KX_PROBE_EXIT", L"70000"}})));
  EXPECT_EQ(0u, RunToExit(program, Options({{L"KX_PROBE_EXIT", L"not a number"}})));
  EXPECT_TRUE(ListFolder(temp).empty());
}

TEST_F(LauncherEndToEnd, AnAccessViolationInTheScriptIsReportedAndEndsWithItsCode) {
  std::wstring program = Place(L"setup.exe", ProbeBytes());
  std::wstring text, caption;
  DWORD code = RunExpectingBox(program, Options({{L"KX_PROBE_CRASH", L"1"}}), &text, &caption);
  EXPECT_EQ(L"Unexpected error in script: code c0000005.\nPackage execution aborted.", text);
  EXPECT_EQ(kTitle, caption);
  EXPECT_EQ(0xC0000005u, code);
  EXPECT_TRUE(ListFolder(temp).empty());
}

TEST_F(LauncherEndToEnd, ATruncatedPackageIsCorruptedAndCreatesNothing) {
  std::string bytes = ProbeBytes();
  uint32_t offset = ContainerOffsetOf(bytes);
  ASSERT_GT(offset, 0u);
  int cut = 0;
  for (size_t keep : {size_t{offset}, size_t{offset} + 10, bytes.size() - 100}) {
    // A new name for every cut (and every damaged package below): Wine may
    // still hold the image of the program that just ended, and rewriting it
    // in place once made the next start fail.
    std::wstring program = Place(L"cut" + std::to_wstring(++cut) + L".exe", bytes.substr(0, keep));
    std::wstring text, caption;
    EXPECT_EQ(static_cast<DWORD>(-3), RunExpectingBox(program, Options(), &text, &caption)) << keep;
    EXPECT_EQ(kCorrupted, text);
    EXPECT_EQ(kTitle, caption);
    EXPECT_TRUE(ListFolder(temp).empty()) << keep;
  }
}

TEST_F(LauncherEndToEnd, ASetupWithoutPayloadIsCorrupted) {
  PackageParts parts;
  ASSERT_TRUE(SplitPackage(ProbeBytes(), &parts));
  parts.payloadArchive.clear();
  std::wstring text, caption;
  EXPECT_EQ(static_cast<DWORD>(-3), RunExpectingBox(Place(L"nopayload.exe", ComposePackage(parts)), Options(), &text, &caption));
  EXPECT_EQ(kCorrupted, text);
}

// The decoder's own numbers overlap the launcher's (its data error is 1, "no
// temporary folder"): every damaged runtime archive ends as corrupted data.
TEST_F(LauncherEndToEnd, ADamagedRuntimeArchiveIsCorruptedDataAndLeavesNoFolder) {
  PackageParts parts;
  ASSERT_TRUE(SplitPackage(ProbeBytes(), &parts));
  const std::string runtime = parts.runtimeArchive;
  std::vector<std::string> damaged;
  ArchiveOptions ppmd;
  ppmd.coderId = 0x030401;
  damaged.push_back(BuildSevenZip({ArchiveItem::File(L"KXCore64.dll", "unreadable")}, ppmd));
  // Flipped bytes early in the packed stream: a data or CRC error of the decoder.
  for (size_t at : {size_t{0}, size_t{1}, size_t{200}}) {
    damaged.push_back(runtime);
    damaged.back()[kSevenZipDataOffset + at] ^= 0x5A;
  }
  damaged.push_back(BuildSevenZip({ArchiveItem::File(L"NUL", "a device, not a file")}));
  for (size_t i = 0; i < damaged.size(); ++i) {
    parts.runtimeArchive = damaged[i];
    std::wstring text, caption;
    const std::wstring program = Place(L"damaged" + std::to_wstring(i) + L".exe", ComposePackage(parts));
    EXPECT_EQ(static_cast<DWORD>(-3), RunExpectingBox(program, Options(), &text, &caption)) << i;
    EXPECT_EQ(kCorrupted, text) << i;
    EXPECT_TRUE(ListFolder(temp).empty()) << i;
  }
}

// Folder names that look like a variable reference or a language key reach
// the script as they are.
TEST_F(LauncherEndToEnd, TheLauncherPathsStayLiteral) {
  const std::wstring folder = work / L"50% off #Next %TEMP%";
  const std::wstring start = work / L"#Cancel %%";
  const std::wstring oddTemp = work / L"t%CUR% #Back";
  for (const std::wstring& path : {folder, start, oddTemp}) ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr));
  const std::wstring program = folder + L"\\setup.exe";
  ASSERT_TRUE(WriteBytes(program, ProbeBytes()));
  LaunchOptions options = Options({{L"KX_PROBE_OUT", work / L"probe.txt"}});
  options.environment[L"TMP"] = options.environment[L"TEMP"] = oddTemp;
  options.workingFolder = start;

  EXPECT_EQ(0u, RunToExit(program, options));
  auto seen = ReadProbe(work / L"probe.txt");
  EXPECT_EQ(program, seen[L"ARCNAME"]);
  EXPECT_EQ(folder, seen[L"ARCPATH"]);
  EXPECT_EQ(start, seen[L"CUR"]);
  EXPECT_EQ(oddTemp + L"\\kx", seen[L"KXSFXPATH"].substr(0, oddTemp.size() + 3));
  EXPECT_EQ(seen[L"KXSFXPATH"] + L"kxcore64.dll", seen[L"LIBRARY"]);
  EXPECT_TRUE(ListFolder(oddTemp).empty());
}

TEST_F(LauncherEndToEnd, ARuntimeWithoutTheCoreLibraryStopsInOrder) {
  PackageParts parts;
  ASSERT_TRUE(SplitPackage(ProbeBytes(), &parts));
  parts.runtimeArchive = BuildSevenZip({ArchiveItem::File(L"kxlng.dat", "[KXLang]\r\nEnglish\r\n1033\r\n")});
  std::wstring text, caption;
  EXPECT_EQ(static_cast<DWORD>(-2), RunExpectingBox(Place(L"nocore.exe", ComposePackage(parts)), Options(), &text, &caption));
  EXPECT_EQ(L"Fatal Error\r\nCannot create temporary runtime: the program will exit.", text);
  EXPECT_TRUE(ListFolder(temp).empty());
}

TEST_F(LauncherEndToEnd, ARuntimeWithoutValidPackageDataIsCorruptedAndRunsNoScript) {
  PackageParts parts;
  ASSERT_TRUE(SplitPackage(ProbeBytes(), &parts));
  const std::wstring runtime = TestDataPath("KX_TEST_RUNTIME") + L"\\";
  for (const char* data : {"", "kxpackage 2\n"}) {
    std::vector<ArchiveItem> items = {ArchiveItem::File(L"KXCore64.dll", ReadBytes(runtime + L"KXCore64.dll")),
                                      ArchiveItem::File(L"kxlng.dat", ReadBytes(runtime + L"kxlng.dat"))};
    if (*data) items.push_back(ArchiveItem::File(L"kxpackage.dat", data));
    parts.runtimeArchive = BuildSevenZip(items);
    std::wstring text, caption;
    const std::wstring probe = work / L"probe.txt";
    EXPECT_EQ(static_cast<DWORD>(-3), RunExpectingBox(Place(L"nodata.exe", ComposePackage(parts)),
                                                      Options({{L"KX_PROBE_OUT", probe}}), &text, &caption));
    EXPECT_EQ(kCorrupted, text);
    EXPECT_FALSE(FileExists(probe)) << "the script ran";
    EXPECT_TRUE(ListFolder(temp).empty());
  }
}

TEST_F(LauncherEndToEnd, ACoreLibraryBesideTheProgramIsNeverLoaded) {
  std::wstring program = Place(L"setup.exe", ProbeBytes());
  std::wstring planted = work / L"kxcore64.dll";
  ASSERT_TRUE(CopyFileW((packages + L"\\planted\\kxcore64.dll").c_str(), planted.c_str(), FALSE));
  LaunchOptions options = Options({{L"KX_PROBE_OUT", work / L"probe.txt"}, {L"KX_PROBE_EXIT", L"3"}});
  options.workingFolder = work.path();
  EXPECT_EQ(3u, RunToExit(program, options));
  EXPECT_FALSE(FileExists(planted + L".loaded"));
  auto seen = ReadProbe(work / L"probe.txt");
  EXPECT_EQ(seen[L"KXSFXPATH"] + L"kxcore64.dll", seen[L"LIBRARY"]);
}

TEST_F(LauncherEndToEnd, TheUninstallerStartsFromItsOwnContainerAndCleansUp) {
  std::wstring program = Place(L"Uninst.exe", ReadBytes(TestDataPath("KX_TEST_OUT") + L"\\Uninst.exe"));
  PackageParts parts;
  ASSERT_TRUE(SplitPackage(ReadBytes(program), &parts));
  EXPECT_TRUE(parts.payloadArchive.empty());
  // Not installed beside an uninstall log: the core library declines to run
  // the uninstall (telling an interactive user why), and nothing is
  // scheduled or left behind.
  LaunchOptions silent = Options();
  silent.arguments = L"/S";
  EXPECT_EQ(0u, RunToExit(program, silent));
  std::wstring text, caption;
  EXPECT_EQ(0u, RunExpectingBox(program, Options(), &text, &caption));
  EXPECT_EQ(0u, text.find(L"The uninstall log of this package is missing")) << text;
  EXPECT_NE(std::wstring::npos, text.find(work / L"Uninst.dat"));
  EXPECT_TRUE(FileExists(program));
  EXPECT_TRUE(ListFolder(temp).empty());
}

TEST_F(LauncherEndToEnd, ThePackagesOwnTitleCaptionsTheLaunchersMessages) {
  std::string bytes = ReadBytes(packages + L"\\signed\\setup.exe");
  uint32_t offset = ContainerOffsetOf(bytes);
  ASSERT_GT(offset, 0u);
  std::wstring program = Place(L"cut.exe", bytes.substr(0, offset + 10));
  std::wstring text, caption;
  EXPECT_EQ(static_cast<DWORD>(-3), RunExpectingBox(program, Options(), &text, &caption));
  EXPECT_EQ(kCorrupted, text);
  EXPECT_EQ(L"Signed Sample Setup", caption);
}
