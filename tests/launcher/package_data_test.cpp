// The package data reader: a good file from kxpack's format, and every way a
// damaged one is refused without leaving half-read values behind.
#include <gtest/gtest.h>

#include <string>
#include <vector>

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

// The languages' lines of a package that offers more than English.
const std::string kLanguages =
    "languages=1031,1033,1041\n"
    "product.window_title.1033=Tide Charts Setup (64-bit)\n"
    "product.wizard_label.1041=Tide Charts \xE3\x82\xBB\xE3\x83\x83\xE3\x83\x88\xE3\x82\xA2\xE3\x83\x83\xE3\x83\x97\n"
    "languages.ask=1\n";

TEST(PackageData, ReadsTheLanguagesOfferedAndTheirTexts) {
  PackageData english;
  ASSERT_EQ(Parse(kGood, &english), kPackageDataOk);
  EXPECT_EQ(english.languages.count, 1u);
  EXPECT_EQ(english.languages.ids[0], kEnglishLanguageId);
  EXPECT_EQ(english.languages.ask, 0);
  EXPECT_STREQ(PackageWindowTitle(english, 1031), L"Tide Charts Setup (64-bit)");

  PackageData data;
  ASSERT_EQ(Parse(Replace(kGood, "product.window_title=Tide Charts Setup (64-bit)",
                          "product.window_title=Tide Charts Setup (64-Bit)") + kLanguages,
                  &data),
            kPackageDataOk);
  ASSERT_EQ(data.languages.count, 3u);
  EXPECT_EQ(std::vector<unsigned short>(data.languages.ids, data.languages.ids + 3),
            (std::vector<unsigned short>{1031, 1033, 1041}));
  EXPECT_EQ(data.languages.ask, 1);
  // A language's own text where it has one, else the first language's.
  EXPECT_STREQ(PackageWindowTitle(data, 1031), L"Tide Charts Setup (64-Bit)");
  EXPECT_STREQ(PackageWindowTitle(data, 1033), L"Tide Charts Setup (64-bit)");
  EXPECT_STREQ(PackageWizardLabel(data, 1041), L"Tide Charts \u30BB\u30C3\u30C8\u30A2\u30C3\u30D7");
  EXPECT_STREQ(PackageWizardLabel(data, 1033), L"Tide Charts Setup");
  PackageData noQuestion;
  ASSERT_EQ(Parse(Replace(kGood + kLanguages, "languages.ask=1", "languages.ask=0"), &noQuestion), kPackageDataOk);
  EXPECT_EQ(noQuestion.languages.ask, 0);
}

TEST(PackageData, RefusesDamagedLanguageLines) {
  const struct {
    const char* what;
    std::string text;
  } cases[] = {
      {"empty list", Replace(kLanguages, "1031,1033,1041", "")},
      {"trailing comma", Replace(kLanguages, "1031,1033,1041", "1031,1033,")},
      {"id with a sign", Replace(kLanguages, "1031,1033,1041", "+1031")},
      {"id with a leading zero", Replace(kLanguages, "1031,1033,1041", "01031")},
      {"id zero", Replace(kLanguages, "1031,1033,1041", "0")},
      {"id beyond 16 bits", Replace(kLanguages, "1031,1033,1041", "65536")},
      {"repeated id", Replace(kLanguages, "1031,1033,1041", "1031,1033,1031")},
      {"more than the capacity", Replace(kLanguages, "1031,1033,1041", [] {
         std::string ids = "1";
         for (int id = 2; id <= static_cast<int>(kPackageLanguageCapacity) + 1; ++id) ids += "," + std::to_string(id);
         return ids;
       }())},
      {"list given twice", kLanguages + "languages=1031\n"},
      {"ask given twice", kLanguages + "languages.ask=0\n"},
      {"ask not 0 or 1", Replace(kLanguages, "languages.ask=1", "languages.ask=yes")},
      {"text of a language not offered", kLanguages + "product.window_title.1036=Tide Charts\n"},
      {"texts without a list", Replace(kLanguages, "languages=1031,1033,1041\n", "")},
      {"text given twice", kLanguages + "product.window_title.1033=Again\n"},
      {"empty text", Replace(kLanguages, "=Tide Charts Setup (64-bit)", "=")},
      {"text with a control character", Replace(kLanguages, "Tide Charts Setup (64-bit)", "Tide\tCharts")},
      {"text without an id", kLanguages + "product.window_title.=Tide\n"},
      {"text with a bad id", kLanguages + "product.window_title.10x1=Tide\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    PackageData data;
    EXPECT_EQ(Parse(kGood + c.text, &data), kPackageDataDamaged);
    EXPECT_EQ(data.languages.count, 0u);
  }
}

// Values kxpack never writes, as a forged kxpackage.dat could hold them:
// each is refused by the rule kxpack judges its key by.
TEST(PackageData, TheScopeLineIsOptionalOnceAndOneOfThree) {
  PackageData data;
  ASSERT_EQ(Parse(kGood, &data), kPackageDataOk);
  EXPECT_EQ(data.scope.scope, PackageScope::kAllUsers);
  ASSERT_EQ(Parse(kGood + "install.scope=current_user\n", &data), kPackageDataOk);
  EXPECT_EQ(data.scope.scope, PackageScope::kCurrentUser);
  ASSERT_EQ(Parse(kGood + "install.scope=both\n", &data), kPackageDataOk);
  EXPECT_EQ(data.scope.scope, PackageScope::kChoice);
  // Anywhere among the lines, as every other key.
  ASSERT_EQ(Parse(Replace(kGood, "kxpackage 1\n", "kxpackage 1\ninstall.scope=all_users\n"), &data), kPackageDataOk);
  EXPECT_EQ(data.scope.scope, PackageScope::kAllUsers);
  for (const char* bad : {"install.scope=current_user\ninstall.scope=current_user\n", "install.scope=Both\n",
                          "install.scope=\n", "install.scope=CURRENT_USER\n", "install.scope=current_user \n",
                          "install.scope.extra=1\n"}) {
    EXPECT_EQ(Parse(kGood + bad, &data), kPackageDataDamaged) << bad;
    EXPECT_EQ(data.scope.scope, PackageScope::kAllUsers) << "a refused file leaves nothing behind";
  }
}

TEST(PackageData, RefusesWhatKxpackWouldRefuse) {
  const struct {
    const char* what;
    std::string from;
    std::string to;
  } cases[] = {
      {"a drive as the folder", "=%PROGFILESDIR%\\Tidewater\\Charts", "=C:\\"},
      {"a drive without a folder", "=%PROGFILESDIR%\\Tidewater\\Charts", "=C:"},
      {"the variable's folder itself", "=%PROGFILESDIR%\\Tidewater\\Charts", "=%PROGFILESDIR%"},
      {"a folder climbing out", "=%PROGFILESDIR%\\Tidewater\\Charts", "=%PROGFILESDIR%\\..\\x"},
      {"a long-path prefix", "=%PROGFILESDIR%\\Tidewater\\Charts", "=\\\\?\\C:\\x"},
      {"a share", "=%PROGFILESDIR%\\Tidewater\\Charts", "=\\\\server\\share\\x"},
      {"a stream", "=%PROGFILESDIR%\\Tidewater\\Charts", "=C:\\x:stream"},
      {"a relative folder", "=%PROGFILESDIR%\\Tidewater\\Charts", "=Tidewater"},
      {"another variable", "=%PROGFILESDIR%\\Tidewater\\Charts", "=%WINDIR%\\x"},
      {"a '%' inside", "=%PROGFILESDIR%\\Tidewater\\Charts", "=%PROGFILESDIR%\\%TEMP%"},
      {"a Start menu climbing out", "=%COMPROGMENUDIR%\\Tide Charts", "=%COMPROGMENUDIR%\\..\\..\\.."},
      {"a device as a folder", "=%COMPROGMENUDIR%\\Tide Charts", "=%COMPROGMENUDIR%\\CON"},
      {"a shortcut climbing out", "install.shortcut=Tide Charts", "install.shortcut=..\\..\\..\\..\\x"},
      {"a shortcut with a stream", "install.shortcut=Tide Charts", "install.shortcut=x:y"},
      {"a shortcut too long for .lnk", "install.shortcut=Tide Charts", "install.shortcut=" + std::string(256, 's')},
      {"a name with a NUL", "product.name=Tide Charts 100%", std::string("product.name=Tide\0Charts", 24)},
      {"a name with a C0 control", "product.name=Tide Charts 100%", "product.name=Tide\x01" "Charts"},
      {"a name with NEL (C1)", "product.name=Tide Charts 100%", "product.name=Tide\xC2\x85" "Charts"},
      {"a title with APC (C1)", "Tide Charts Setup (64-bit)", "Tide Charts\xC2\x9F Setup"},
      {"a URL with a C1 control", "product.url=", "product.url=https://x\xC2\x80"},
      {"a name with a slash", "product.name=Tide Charts 100%", "product.name=Tide/Charts"},
      {"a name ending in a dot", "product.name=Tide Charts 100%", "product.name=Tide Charts."},
      {"a device as the name", "product.name=Tide Charts 100%", "product.name=AUX"},
      {"a key with a stream", "=TideCharts_0A1B2C3D", "=Tide:Charts"},
      {"a program with '/'", "bin\\tidecharts.exe", "bin/tidecharts.exe"},
      {"a program in a device", "bin\\tidecharts.exe", "NUL\\tidecharts.exe"},
      {"a program with a trailing dot", "bin\\tidecharts.exe", "bin\\tidecharts.exe."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    PackageData data;
    EXPECT_EQ(Parse(Replace(kGood, c.from, c.to), &data), kPackageDataDamaged);
    EXPECT_EQ(data.productName[0], L'\0');
  }
  // What kxpack accepts is read: a folder on another drive, names beyond
  // ASCII, the longest shortcut name.
  PackageData data;
  EXPECT_EQ(Parse(Replace(kGood, "=%PROGFILESDIR%\\Tidewater\\Charts", "=D:\\Tools\\Tide \xC3\x85sa"), &data),
            kPackageDataOk);
  EXPECT_STREQ(data.installFolder, L"D:\\Tools\\Tide \u00C5sa");
  EXPECT_EQ(Parse(Replace(kGood, "install.shortcut=Tide Charts", "install.shortcut=" + std::string(255, 's')), &data),
            kPackageDataOk);
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

namespace {

// The two optional flags: absent is 0, "1" once is 1, anything else is a
// damaged file (kxpack writes neither "0" nor a second line).
TEST(PackageData, ReadsTheOptionalDowngradeAndExitCodeFlagsStrictly) {
  PackageData plain;
  ASSERT_EQ(Parse(kGood, &plain), kPackageDataOk);
  EXPECT_EQ(plain.allowDowngrade + plain.msiExitCodes, 0);
  PackageData both;
  ASSERT_EQ(Parse(kGood + "install.msi_exit_codes=1\ninstall.allow_downgrade=1\n", &both), kPackageDataOk);
  EXPECT_EQ(both.allowDowngrade, 1);
  EXPECT_EQ(both.msiExitCodes, 1);
  PackageData one;
  ASSERT_EQ(Parse(kGood + "install.allow_downgrade=1\n", &one), kPackageDataOk);
  EXPECT_EQ(one.allowDowngrade, 1);
  EXPECT_EQ(one.msiExitCodes, 0);
  for (const char* bad : {"install.allow_downgrade=0\n", "install.allow_downgrade=\n", "install.msi_exit_codes=yes\n",
                          "install.msi_exit_codes=1\ninstall.msi_exit_codes=1\n", "install.allow_downgrade=11\n"}) {
    PackageData data;
    EXPECT_EQ(Parse(kGood + bad, &data), kPackageDataDamaged) << bad;
    EXPECT_EQ(data.allowDowngrade, 0);
  }
}

}  // namespace
