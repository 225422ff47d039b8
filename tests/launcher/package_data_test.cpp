// The package data reader: a good file from kxpack's format, and every way a
// damaged one is refused without leaving half-read values behind.
#include <gtest/gtest.h>

#include <string>

#include "launcher/package_data.h"
#include "tests/support/test_files.h"

using namespace kxtest;

namespace {

const std::string kGood =
    "kxpackage 1\n"
    "product.name=Tide Charts 100%\n"
    "product.version=3.4.1\n"
    "product.publisher=Tidewater \xC3\x85sa\n"  // "Åsa": UTF-8 turns into one unit
    "product.url=\n"
    "product.uninstall_key=TideCharts_0A1B2C3D\n"
    "product.wizard_label=Tide Charts Setup\n"
    "product.window_title=Tide Charts Setup (64-bit)\n"
    "install.folder=%PROGFILESDIR%\\Tidewater\\Charts\n"
    "install.start_menu_folder=%COMPROGMENUDIR%\\Tide Charts\n"
    "install.program=bin\\tidecharts.exe\n"
    "install.shortcut=Tide Charts\n"
    "tasks.start_program=1\n"
    "tasks.open_folder=0\n"
    "tasks.start_program_silent=0\n"
    "tasks.open_folder_silent=1\n";

int Parse(const std::string& text, PackageData* data) { return ParsePackageData(text.data(), text.size(), data); }

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return text.replace(at, from.size(), to);
}

TEST(PackageData, ReadsEveryValueAndDerivesTheRegistryKey) {
  PackageData data;
  ASSERT_EQ(Parse(kGood, &data), kPackageDataOk);
  EXPECT_STREQ(data.productName, L"Tide Charts 100%");
  EXPECT_STREQ(data.publisher, L"Tidewater \u00C5sa");
  EXPECT_STREQ(data.publisherUrl, L"");
  EXPECT_STREQ(data.installFolder, L"%PROGFILESDIR%\\Tidewater\\Charts");
  EXPECT_STREQ(data.programFile, L"bin\\tidecharts.exe");
  EXPECT_EQ(data.startProgram + 2 * data.openFolder + 4 * data.startProgramSilent + 8 * data.openFolderSilent, 9);
  EXPECT_STREQ(data.uninstallRegistryKey,
               L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TideCharts_0A1B2C3D");
  // CR LF line ends read the same.
  std::string crlf;
  for (char c : kGood) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  PackageData again;
  ASSERT_EQ(Parse(crlf, &again), kPackageDataOk);
  EXPECT_STREQ(again.windowTitle, data.windowTitle);
}

TEST(PackageData, RefusesDamagedFilesAndLeavesNothingBehind) {
  const std::string longName(kPackageTextCapacity, 'x');
  const struct {
    const char* what;
    std::string text;
  } cases[] = {
      {"empty file", ""},
      {"other format", Replace(kGood, "kxpackage 1", "kxpackage 2")},
      {"last line without LF", kGood.substr(0, kGood.size() - 1)},
      {"unknown key", kGood + "product.colour=red\n"},
      {"repeated key", kGood + "product.name=Again\n"},
      {"missing key", Replace(kGood, "install.shortcut=Tide Charts\n", "")},
      {"line without '='", kGood + "product.name\n"},
      {"empty required text", Replace(kGood, "product.name=Tide Charts 100%", "product.name=")},
      {"flag not 0 or 1", Replace(kGood, "tasks.open_folder=0", "tasks.open_folder=yes")},
      {"text too long", Replace(kGood, "product.name=Tide Charts 100%", "product.name=" + longName)},
      {"bad UTF-8", Replace(kGood, "\xC3\x85", "\xC3(")},
      {"control character", Replace(kGood, "Tide Charts Setup\n", "Tide\tCharts Setup\n")},
      {"key below another key", Replace(kGood, "=TideCharts_0A1B2C3D", "=Tide\\Charts")},
      {"program outside the folder", Replace(kGood, "bin\\tidecharts.exe", "..\\tidecharts.exe")},
      {"program with a drive", Replace(kGood, "bin\\tidecharts.exe", "C:\\tidecharts.exe")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    PackageData data;
    EXPECT_EQ(Parse(c.text, &data), kPackageDataDamaged);
    EXPECT_EQ(data.productName[0], L'\0');
    EXPECT_EQ(data.uninstallRegistryKey[0], L'\0');
  }
}

TEST(PackageData, LoadsFromTheRuntimeFolderIntoTheProcessValues) {
  ScratchFolder folder;
  const std::wstring runtime = folder / L"";
  EXPECT_EQ(LoadPackageData(runtime.c_str()), kPackageDataNotRead);
  ASSERT_TRUE(WriteBytes(folder / L"kxpackage.dat", kGood));
  ASSERT_EQ(LoadPackageData(runtime.c_str()), kPackageDataOk);
  EXPECT_STREQ(g_package.shortcutName, L"Tide Charts");
  ASSERT_TRUE(WriteBytes(folder / L"kxpackage.dat", std::string(kPackageDataMaxBytes + 1, '\n')));
  EXPECT_EQ(LoadPackageData(runtime.c_str()), kPackageDataNotRead);
  EXPECT_EQ(g_package.shortcutName[0], L'\0');
}

}  // namespace
