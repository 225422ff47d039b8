// DLLs planted beside setup.exe (a Downloads folder) and beside the installed
// Uninst.exe are never loaded, in silent and wizard runs, with Wine's
// default order (builtin first) and with every planted name native-first,
// as Windows searches a program's own folder for any DLL that is not one of
// its KnownDLLs. Each planted file is one marker DLL that leaves
// "<its path>.loaded" when anything loads it. Wine reads WINEDLLOVERRIDES
// only from the Unix environment a process starts with, so native-first is
// set as Wine's per-program overrides in the registry.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "handle_guard.h"
#include "install_e2e_fixture.h"
#include "process_runner.h"
#include "ui_driver.h"

namespace kxtest {
namespace {

// System DLLs that are KnownDLLs on no Windows version the programs run on
// (7 to 11), so Windows itself would look for them beside the program: those
// the programs and the core library use, those Windows' and Wine's system
// DLLs load for them, and common planting targets. Not among them: msimg32.
// Wine's uxtheme delay-loads it (Windows' does not import it) and Wine
// resolves that import with the standard search order, the program's folder
// first, whatever the process set with SetDefaultDllDirectories.
const wchar_t* const kPlantedNames[] = {
    L"version",   L"uxtheme",  L"comctl32", L"msftedit",      L"riched20", L"riched32", L"dwmapi",
    L"propsys",   L"profapi",  L"userenv",  L"winmm",         L"netapi32", L"secur32",  L"sspicli",
    L"cryptbase", L"cryptsp",  L"bcrypt",   L"crypt32",       L"wintrust", L"msasn1",   L"dbghelp",
    L"apphelp",   L"oleacc",   L"windowscodecs", L"dwrite",   L"mpr",      L"ntmarta",
    L"wtsapi32",  L"iphlpapi", L"dnsapi",   L"winhttp",       L"msi",      L"cabinet",  L"xmllite",
    L"linkinfo",  L"shdocvw",  L"hid",      L"dxgi",          L"textshaping", L"cfgmgr32", L"powrprof"};

const wchar_t* const kPrograms[] = {L"setup.exe", L"Uninst.exe", L"plain_loader.exe"};
constexpr wchar_t kAppDefaults[] = L"Software\\Wine\\AppDefaults\\";
constexpr wchar_t kSessionManager[] = L"System\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kReallyUninstall[] = L"Do you really want to uninstall";
constexpr wchar_t kUninstalled[] = L"were successfully removed";
enum { kNext = 1 };

class DllPlanting : public InstallEndToEnd {
 protected:
  void SetUp() override {
    InstallEndToEnd::SetUp();
    downloads_ = work_ / L"downloads";
    ASSERT_TRUE(CreateDirectoryW(downloads_.c_str(), nullptr));
    plantedSetup_ = downloads_ + L"\\setup.exe";
    ASSERT_TRUE(CopyFileW(setup_.c_str(), plantedSetup_.c_str(), FALSE));
    Plant(downloads_);
  }
  void TearDown() override {
    SetNativeFirst(false);
    // The uninstaller schedules itself for deletion at the next restart.
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSessionManager, L"PendingFileRenameOperations");
    InstallEndToEnd::TearDown();
  }

  void Plant(const std::wstring& folder) {
    const std::wstring marker = TestDataPath("KX_TEST_PACKAGES") + L"\\planted\\kxcore64.dll";
    for (const wchar_t* name : kPlantedNames)
      ASSERT_TRUE(CopyFileW(marker.c_str(), (folder + L"\\" + name + L".dll").c_str(), FALSE)) << Narrow(name);
  }

  // The planted DLLs of folder that something loaded.
  static std::vector<std::wstring> Loaded(const std::wstring& folder) {
    std::vector<std::wstring> loaded;
    for (const std::wstring& name : ListFolder(folder))
      if (name.size() > 7 && name.compare(name.size() - 7, 7, L".loaded") == 0) loaded.push_back(name);
    return loaded;
  }

  // Native-first makes Wine search a program's folder for every planted name
  // first, as Windows does; off, the programs have Wine's default order.
  static void SetNativeFirst(bool on) {
    for (const wchar_t* program : kPrograms) {
      const std::wstring key = kAppDefaults + std::wstring(program) + L"\\DllOverrides";
      RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
      if (!on) {
        RegDeleteKeyW(HKEY_CURRENT_USER, (kAppDefaults + std::wstring(program)).c_str());
        continue;
      }
      RegKey overrides;
      HKEY created = nullptr;
      ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &created, nullptr),
                ERROR_SUCCESS);
      overrides.reset(created);
      static const wchar_t kOrder[] = L"native,builtin";
      for (const wchar_t* name : kPlantedNames)
        RegSetValueExW(created, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(kOrder), sizeof kOrder);
    }
  }

  std::wstring Uninstaller() const { return defaultFolder_ + L"\\Uninst.exe"; }

  std::wstring downloads_;
  std::wstring plantedSetup_;
};

// Without this the other tests could pass for the wrong reason: the marker
// reports a load, and the native-first override makes Wine take it.
TEST_F(DllPlanting, APlainProgramBesideTheMarkersLoadsThem) {
  const std::wstring loader = downloads_ + L"\\plain_loader.exe";
  ASSERT_TRUE(CopyFileW((TestDataPath("KX_TEST_PACKAGES") + L"\\plain_loader.exe").c_str(), loader.c_str(), FALSE));
  SetNativeFirst(true);
  LaunchOptions options;
  options.arguments = L"uxtheme.dll";
  EXPECT_EQ(RunToExit(loader, options), 0u);
  EXPECT_EQ(Loaded(downloads_), std::vector<std::wstring>{L"uxtheme.dll.loaded"});
}

TEST_F(DllPlanting, SilentInstallAndUninstallLoadNoPlantedDll) {
  for (bool nativeFirst : {false, true}) {
    SCOPED_TRACE(nativeFirst ? "native first" : "Wine's default order");
    SetNativeFirst(nativeFirst);
    LaunchOptions options;
    options.arguments = L"/S";
    options.environment = Environment();
    ASSERT_EQ(RunToExit(plantedSetup_, options, 180000), 0u);
    ProductStartedFrom(defaultFolder_);
    ExpectInstalled(defaultFolder_, startMenuRoot_ + L"\\Quillmark");
    EXPECT_EQ(Loaded(downloads_), std::vector<std::wstring>{});

    Plant(defaultFolder_);
    EXPECT_EQ(RunToExit(Uninstaller(), options, 180000), 0u);
    EXPECT_TRUE(FileExists(defaultFolder_ + L"\\version.dll"));
    EXPECT_FALSE(FileExists(defaultFolder_ + L"\\Quillmark Toolkit.exe")) << "the uninstall did not run";
    EXPECT_EQ(Loaded(defaultFolder_), std::vector<std::wstring>{});
    RemoveInstallation();
  }
}

TEST_F(DllPlanting, WizardInstallAndUninstallLoadNoPlantedDll) {
  for (bool nativeFirst : {false, true}) {
    SCOPED_TRACE(nativeFirst ? "native first" : "Wine's default order");
    {
      kxdrive::Session session(nativeFirst ? L"planting-wizard-native" : L"planting-wizard");
      SetNativeFirst(nativeFirst);
      ASSERT_TRUE(session.Start(plantedSetup_, L"", Environment()));
      // Welcome, licence (rich text), destination, Start menu, then the
      // progress box and the final page.
      for (const wchar_t* page : {L"dlgwizwelc", L"dlgwizlicag", L"dlgwizseldir", L"dlgwizselgroup", L"dlgwizfinal"}) {
        HWND shown = session.WaitForPage(page, 120000);
        ASSERT_TRUE(shown != nullptr) << Narrow(page);
        session.Press(shown, kNext);
      }
      EXPECT_EQ(session.WaitForExit(60000), 0u);
    }
    ProductStartedFrom(defaultFolder_);
    ExpectInstalled(defaultFolder_, startMenuRoot_ + L"\\Quillmark");
    EXPECT_EQ(Loaded(downloads_), std::vector<std::wstring>{});

    Plant(defaultFolder_);
    {
      kxdrive::Session session(nativeFirst ? L"planting-uninstall-native" : L"planting-uninstall");
      ASSERT_TRUE(session.Start(Uninstaller(), L"", Environment()));
      EXPECT_TRUE(session.Answer(kReallyUninstall, IDYES));
      EXPECT_TRUE(session.Answer(kUninstalled, IDOK, 120000));
      EXPECT_EQ(session.WaitForExit(), 0u);
    }
    EXPECT_FALSE(FileExists(defaultFolder_ + L"\\Quillmark Toolkit.exe")) << "the uninstall did not run";
    EXPECT_EQ(Loaded(defaultFolder_), std::vector<std::wstring>{});
    RemoveInstallation();
  }
}

}  // namespace
}  // namespace kxtest
