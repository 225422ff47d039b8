// DLLs planted beside setup.exe (a Downloads folder) and beside the installed
// Uninst.exe are never loaded, in silent and wizard runs, with Wine's default
// order and with every planted name native-first, as Windows searches a
// program's folder for any DLL that is not a KnownDLL. Each planted file is
// one marker DLL that leaves "<its path>.loaded" when loaded. Wine reads
// WINEDLLOVERRIDES only from the Unix environment a process starts with, so
// native-first is set as Wine's per-program overrides in the registry.
#include <gtest/gtest.h>

#include "base/handle_guard.h"
#include "tests/driver/ui_driver.h"
#include "tests/e2e/install_e2e_fixture.h"
#include "tests/support/process_runner.h"

namespace kxtest {
namespace {

// KnownDLLs on no Windows from 7 to 11: what the programs and the core
// library use, what system DLLs load for them, common planting targets. Not
// msimg32: Wine's uxtheme delay-loads it (Windows' does not import it) with
// the standard search order, whatever the process set with
// SetDefaultDllDirectories.
const wchar_t* const kPlanted[] = {
    L"version",  L"uxtheme",  L"comctl32", L"msftedit", L"riched20", L"riched32", L"dwmapi",   L"propsys",
    L"profapi",  L"userenv",  L"winmm",    L"netapi32", L"secur32",  L"sspicli",  L"cryptbase", L"cryptsp",
    L"bcrypt",   L"crypt32",  L"wintrust", L"msasn1",   L"dbghelp",  L"apphelp",  L"oleacc",   L"windowscodecs",
    L"dwrite",   L"mpr",      L"ntmarta",  L"wtsapi32", L"iphlpapi", L"dnsapi",   L"winhttp",  L"msi",
    L"cabinet",  L"xmllite",  L"linkinfo", L"shdocvw",  L"hid",      L"dxgi",     L"textshaping", L"cfgmgr32",
    L"powrprof"};

enum { kNext = 1 };

class DllPlanting : public InstallEndToEnd {
 protected:
  void SetUp() override {
    InstallEndToEnd::SetUp();
    downloads_ = work_ / L"downloads";
    ASSERT_TRUE(CreateDirectoryW(downloads_.c_str(), nullptr));
    ASSERT_TRUE(CopyFileW(setup_.c_str(), (downloads_ + L"\\setup.exe").c_str(), FALSE));
    Plant(downloads_);
  }
  void TearDown() override {
    SetNativeFirst(false);
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager",
                       L"PendingFileRenameOperations");
    InstallEndToEnd::TearDown();
  }

  static void Plant(const std::wstring& folder) {
    const std::wstring marker = TestDataPath("KX_TEST_PACKAGES") + L"\\planted\\kxcore64.dll";
    for (const wchar_t* name : kPlanted)
      ASSERT_TRUE(CopyFileW(marker.c_str(), (folder + L"\\" + name + L".dll").c_str(), FALSE));
  }

  static std::vector<std::wstring> Loaded(const std::wstring& folder) {
    std::vector<std::wstring> loaded;
    for (const std::wstring& name : ListFolder(folder))
      if (name.size() > 7 && name.compare(name.size() - 7, 7, L".loaded") == 0) loaded.push_back(name);
    return loaded;
  }

  static void SetNativeFirst(bool on) {
    for (const wchar_t* program : {L"setup.exe", L"Uninst.exe", L"plain_loader.exe"}) {
      const std::wstring key = L"Software\\Wine\\AppDefaults\\" + std::wstring(program);
      RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
      HKEY created = nullptr;
      if (!on || RegCreateKeyExW(HKEY_CURRENT_USER, (key + L"\\DllOverrides").c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                 nullptr, &created, nullptr) != ERROR_SUCCESS)
        continue;
      RegKey overrides(created);
      static const wchar_t kOrder[] = L"native,builtin";
      for (const wchar_t* name : kPlanted)
        RegSetValueExW(created, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(kOrder), sizeof kOrder);
    }
  }

  // After an installation: nothing planted beside setup.exe was loaded; then
  // the same beside Uninst.exe for the uninstall that uninstall() runs.
  template <typename Uninstall>
  void ExpectNoneLoaded(Uninstall uninstall) {
    ProductStartedFrom(defaultFolder_);
    ExpectInstalled(defaultFolder_, startMenuRoot_ + L"\\Quillmark");
    EXPECT_EQ(Loaded(downloads_), std::vector<std::wstring>{});
    Plant(defaultFolder_);
    uninstall(defaultFolder_ + L"\\Uninst.exe");
    EXPECT_FALSE(FileExists(defaultFolder_ + L"\\Quillmark Toolkit.exe")) << "the uninstall did not run";
    EXPECT_EQ(Loaded(defaultFolder_), std::vector<std::wstring>{});
    RemoveInstallation();
  }

  std::wstring downloads_;
};

// Without this the other tests could pass for the wrong reason.
TEST_F(DllPlanting, AProgramThatLoadsByNameFromItsFolderLoadsTheMarker) {
  const std::wstring loader = downloads_ + L"\\plain_loader.exe";
  ASSERT_TRUE(CopyFileW((TestDataPath("KX_TEST_PACKAGES") + L"\\plain_loader.exe").c_str(), loader.c_str(), FALSE));
  SetNativeFirst(true);
  EXPECT_EQ(RunToExit(loader, LaunchOptions{L"uxtheme.dll", L"", {}}), 0u);
  EXPECT_EQ(Loaded(downloads_), std::vector<std::wstring>{L"uxtheme.dll.loaded"});
}

TEST_F(DllPlanting, SilentAndWizardRunsLoadNoPlantedDll) {
  for (bool nativeFirst : {false, true}) {
    SCOPED_TRACE(nativeFirst ? "native first" : "Wine's default order");
    SetNativeFirst(nativeFirst);
    ASSERT_EQ(RunToExit(downloads_ + L"\\setup.exe", LaunchOptions{L"/S", L"", Environment()}, 180000), 0u);
    ExpectNoneLoaded([&](const std::wstring& uninstaller) {
      EXPECT_EQ(RunToExit(uninstaller, LaunchOptions{L"/S", L"", Environment()}, 180000), 0u);
    });

    kxdrive::Session setup(nativeFirst ? L"planting-wizard-native" : L"planting-wizard");
    ASSERT_TRUE(setup.Start(downloads_ + L"\\setup.exe", L"", Environment()));
    // Welcome, licence (rich text), destination, Start menu, final page.
    for (const wchar_t* page : {L"dlgwizwelc", L"dlgwizlicag", L"dlgwizseldir", L"dlgwizselgroup", L"dlgwizfinal"}) {
      HWND shown = setup.WaitForPage(page, 120000);
      ASSERT_TRUE(shown != nullptr) << Narrow(page);
      setup.Press(shown, kNext);
    }
    EXPECT_EQ(setup.WaitForExit(60000), 0u);
    ExpectNoneLoaded([&](const std::wstring& uninstaller) {
      kxdrive::Session session(nativeFirst ? L"planting-uninstall-native" : L"planting-uninstall");
      ASSERT_TRUE(session.Start(uninstaller, L"", Environment()));
      EXPECT_TRUE(session.Answer(L"Do you really want to uninstall", IDYES));
      EXPECT_TRUE(session.Answer(L"were successfully removed", IDOK, 120000));
      EXPECT_EQ(session.WaitForExit(), 0u);
    });
  }
}

}  // namespace
}  // namespace kxtest
