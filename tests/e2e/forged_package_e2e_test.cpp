// Packages changed after kxpack built them, and an uninstall entry changed
// after setup wrote it: the real setup.exe refuses package data kxpack would
// refuse and an uninstaller that could not run before it writes anything,
// and a genuine package does not follow a forged entry's folder.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/driver/ui_driver.h"
#include "tests/e2e/install_e2e_fixture.h"
#include "tests/support/package_files.h"
#include "tests/support/process_runner.h"
#include "tests/support/seven_zip_writer.h"

namespace kxtest {
namespace {

constexpr DWORD kCorruptedPackage = static_cast<DWORD>(-3);

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

// setup.exe's runtime archive with one file's bytes replaced.
std::string RuntimeWith(const std::wstring& name, const std::string& bytes) {
  const std::wstring runtime = TestDataPath("KX_TEST_RUNTIME") + L"\\";
  std::vector<ArchiveItem> items;
  for (const std::wstring& file : ListFolder(runtime))
    items.push_back(ArchiveItem::File(file, file == name ? bytes : ReadBytes(runtime + file)));
  return BuildSevenZip(items);
}

std::wstring WindowsFolder() {
  wchar_t folder[MAX_PATH];
  UINT length = GetWindowsDirectoryW(folder, MAX_PATH);
  return std::wstring(folder, length);
}

class ForgedPackageEndToEnd : public InstallEndToEnd {
 protected:
  void SetUp() override {
    InstallEndToEnd::SetUp();
    packageData_ = ReadBytes(TestDataPath("KX_TEST_RUNTIME") + L"\\kxpackage.dat");
    ASSERT_FALSE(packageData_.empty());
    const std::wstring programData = KnownFolder(FOLDERID_ProgramData);
    watched_ = {L"C:\\", programData, programData + L"\\Microsoft", programData + L"\\Microsoft\\Windows",
                KnownFolder(FOLDERID_ProgramFiles), startMenuRoot_, WindowsFolder() + L"\\system32"};
  }

  // setup.exe with its runtime archive replaced.
  std::wstring Package(const std::wstring& name, const std::string& runtimeArchive) {
    const std::string package = WithRuntimeArchive(ReadBytes(setup_), runtimeArchive);
    EXPECT_FALSE(package.empty());
    const std::wstring path = work_ / (name + L".exe");
    EXPECT_TRUE(WriteBytes(path, package));
    return path;
  }

  // A deployment tool's run: no box, the log beside the package.
  DWORD RunUnattended(const std::wstring& program, const std::wstring& log) {
    LaunchOptions options;
    options.arguments = L"/S /SUPPRESSMSGBOXES /LOG=" + Quoted(log);
    options.environment = Environment();
    return RunToExit(program, options, 180000);
  }

  // The names in the folders a forged package aims at.
  std::vector<std::vector<std::wstring>> WatchedListings() const {
    std::vector<std::vector<std::wstring>> listings;
    for (const std::wstring& folder : watched_) listings.push_back(ListFolder(folder));
    return listings;
  }

  std::string packageData_;
  std::vector<std::wstring> watched_;
};

TEST_F(ForgedPackageEndToEnd, PackageDataKxpackWouldRefuseStopsTheRunBeforeAnythingIsWritten) {
  const std::string folder = "install.folder=%PROGFILESDIR%\\Quillmark";
  const std::string menu = "install.start_menu_folder=%COMPROGMENUDIR%\\Quillmark";
  const std::string name = "product.name=Quillmark Toolkit";
  const std::string windows = Narrow(WindowsFolder());
  const struct {
    const char* what;
    std::string from;
    std::string to;
  } cases[] = {
      {"a drive", folder, "install.folder=C:\\"},
      {"Program Files itself", folder, "install.folder=%PROGFILESDIR%"},
      {"Program Files itself, written out", folder, "install.folder=" + Narrow(KnownFolder(FOLDERID_ProgramFiles))},
      {"a folder beside Program Files", folder, "install.folder=%PROGFILESDIR%\\..\\x"},
      {"a long-path prefix", folder, "install.folder=\\\\?\\C:\\x"},
      {"a stream", folder, "install.folder=C:\\x:stream"},
      {"the system folder", folder, "install.folder=" + windows + "\\system32"},
      {"the Windows folder in other letters", folder, "install.folder=C:\\WINDOWS"},
      {"the folder holding the Start menu", folder,
       "install.folder=" + Narrow(KnownFolder(FOLDERID_ProgramData)) + "\\Microsoft"},
      {"a Start menu above its root", menu, "install.start_menu_folder=%COMPROGMENUDIR%\\..\\..\\.."},
      {"the Start menu's root", menu, "install.start_menu_folder=%COMPROGMENUDIR%\\.."},
      {"the Start menu's root, written out", menu,
       "install.start_menu_folder=" + Narrow(startMenuRoot_.substr(0, startMenuRoot_.rfind(L'\\')))},
      {"a shortcut climbing out", "install.shortcut=Quillmark Toolkit", "install.shortcut=..\\..\\..\\..\\x"},
      {"a NUL in the name", name, std::string("product.name=Quill\0mark Toolkit", 31)},
      {"a C0 control in the name", name, "product.name=Quill\x1Bmark Toolkit"},
      {"NEL (C1) in the name", name, "product.name=Quill\xC2\x85mark Toolkit"},
      {"APC (C1) in the name", name, "product.name=Quillmark Toolkit\xC2\x9F"},
  };
  const auto before = WatchedListings();
  int index = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::wstring log = work_ / L"forged.log";
    DeleteFileW(log.c_str());
    // Each case its own program file: rewriting one that has just run can
    // fail on Windows (the image may still be mapped), and under load Wine
    // then starts a process that dies before our code runs.
    const std::wstring forged = Package(L"forged-" + std::to_wstring(++index), RuntimeWith(L"kxpackage.dat", Replaced(packageData_, c.from, c.to)));
    EXPECT_EQ(RunUnattended(forged, log), kCorruptedPackage);
    std::vector<std::wstring> steps = RunLogSteps(log);
    EXPECT_TRUE(HasStep(steps, L"Message box [error], answered OK without being shown: Fatal Error"))
        << StepsText(steps);
    EXPECT_FALSE(HasStep(steps, L"Page ")) << StepsText(steps);
    ExpectNothingInstalled();
    EXPECT_FALSE(FolderExists(L"C:\\x"));
    EXPECT_EQ(WatchedListings(), before);
  }
}

TEST_F(ForgedPackageEndToEnd, AForgedFolderIsReportedAsADamagedPackage) {
  const std::wstring forged = Package(
      L"forged", RuntimeWith(L"kxpackage.dat", Replaced(packageData_, "install.folder=%PROGFILESDIR%\\Quillmark",
                                                         "install.folder=" + Narrow(WindowsFolder()) + "\\system32")));
  kxdrive::Session session(L"forged-folder");
  ASSERT_TRUE(session.Start(forged, L"", Environment()));
  EXPECT_TRUE(session.Answer(L"This program has got corrupted internal data", IDOK));
  EXPECT_EQ(session.WaitForExit(60000), kCorruptedPackage);
  ExpectNothingInstalled();
}

namespace {

// The uninstaller with a library's bytes left out as kxpack leaves them in
// the setup's runtime, but for one byte: neither whole nor left out.
std::string WithLibraryHalfLeftOut(std::string uninstaller, const std::string& library) {
  const size_t at = uninstaller.find(library);
  EXPECT_NE(at, std::string::npos);
  if (at == std::string::npos) return uninstaller;
  std::fill(uninstaller.begin() + static_cast<std::ptrdiff_t>(at),
            uninstaller.begin() + static_cast<std::ptrdiff_t>(at + library.size()), '\0');
  uninstaller[at + library.size() / 2] = library[library.size() / 2] ? library[library.size() / 2] : '\x01';
  return uninstaller;
}

}  // namespace

TEST_F(ForgedPackageEndToEnd, AnUninstallerThatCouldNotRunIsNeverInstalled) {
  const std::string uninstaller = ReadBytes(TestDataPath("KX_TEST_RUNTIME") + L"\\kxremove.dat");
  const std::string library = ReadBytes(TestDataPath("KX_TEST_RUNTIME") + L"\\KXCore64.dll");
  const std::string programLibrary = ReadBytes(TestDataPath("KX_TEST_RUNTIME") + L"\\kxprogram64.dll");
  const struct {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"seven bytes of garbage", "MZ\x90junk"},
      {"the program without its container", uninstaller.substr(0, ContainerOffsetOf(uninstaller))},
      {"its runtime archive cut short", uninstaller.substr(0, uninstaller.size() - 100)},
      {"its core library neither whole nor left out", WithLibraryHalfLeftOut(uninstaller, library)},
      {"its program library neither whole nor left out", WithLibraryHalfLeftOut(uninstaller, programLibrary)},
  };
  const std::wstring folder = work_ / L"Quillmark";
  int index = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::wstring log = work_ / L"uninstaller.log";
    DeleteFileW(log.c_str());
    const std::wstring broken = Package(L"broken-uninstaller-" + std::to_wstring(++index), RuntimeWith(L"kxremove.dat", c.bytes));
    LaunchOptions options;
    options.arguments = L"/S /SUPPRESSMSGBOXES /LOG=" + Quoted(log) + L" /D=" + folder;
    options.environment = Environment();
    EXPECT_EQ(RunToExit(broken, options, 180000), 4u);
    std::vector<std::wstring> steps = RunLogSteps(log);
    EXPECT_TRUE(HasStep(steps, L"Message box [message], answered OK without being shown: Error: could not generate "
                               L"uninstaller. 193"))
        << StepsText(steps);
    EXPECT_FALSE(FolderExists(folder));
    ExpectNothingInstalled();
  }
}

TEST_F(ForgedPackageEndToEnd, AGenuinePackageDoesNotFollowAForgedEntryOutOfBounds) {
  const std::wstring systemFolder = WindowsFolder() + L"\\system32";
  for (const std::wstring& location : {std::wstring(L"C:\\"), systemFolder, startMenuRoot_}) {
    SCOPED_TRACE(Narrow(location));
    RemoveInstallation();
    // What a forged package of the same product, installed before, left.
    ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, kUninstallKey, L"InstallLocation", REG_SZ, location.c_str(),
                              static_cast<DWORD>((location.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
    const auto before = WatchedListings();
    const std::wstring log = work_ / L"genuine.log";
    DeleteFileW(log.c_str());
    ASSERT_EQ(RunUnattended(setup_, log), 0u);
    EXPECT_TRUE(ProductStartedFrom(defaultFolder_));
    ExpectInstalled(defaultFolder_, startMenuRoot_ + L"\\Quillmark");
    EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kUninstallKey, L"InstallLocation"), defaultFolder_);
    std::vector<std::wstring> steps = RunLogSteps(log);
    EXPECT_TRUE(HasStep(steps, L"Installed before into " + location + L": that folder is not offered"))
        << StepsText(steps);
    EXPECT_FALSE(FileExists(location + L"\\Uninst.exe"));
    EXPECT_FALSE(FileExists(location + L"\\README.txt"));
    // The genuine installation's folders appeared; nothing else did.
    auto after = WatchedListings();
    for (size_t i = 0; i < watched_.size(); ++i) {
      auto& names = after[i];
      names.erase(std::remove_if(names.begin(), names.end(),
                                 [&](const std::wstring& entry) {
                                   return watched_[i] + L"\\" + entry == defaultFolder_ ||
                                          watched_[i] + L"\\" + entry == startMenuRoot_ + L"\\Quillmark";
                                 }),
                  names.end());
    }
    EXPECT_EQ(after, before);
  }
}

}  // namespace
}  // namespace kxtest
