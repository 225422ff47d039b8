// The winget manifest kxpack writes: YAML texts that read back as written,
// the values winget's 1.6.0 schemas take, our exit codes as winget's
// responses, and the package data read back from a built package
// (tests/kxpack_cli/kxpack_manifest_test.sh validates whole manifests
// against the schemas).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/exit_codes.h"
#include "tools/kxpack/package_data_file.h"
#include "tools/kxpack/winget_manifest.h"

namespace {

std::string Repeat(const std::string& text, size_t times) {
  std::string result;
  while (times--) result += text;
  return result;
}

TEST(WingetManifest, QuotedTextsReadBackAsWritten) {
  const struct {
    std::string text, quoted;
  } cases[] = {
      {"Quillmark: #1 \"best\" 'tools'", "\"Quillmark: #1 \\\"best\\\" 'tools'\""},
      {"C:\\Tools\\", "\"C:\\\\Tools\\\\\""},
      // What YAML would take for another type, or for nothing, stays a text.
      {"1.10", "\"1.10\""}, {"yes", "\"yes\""}, {"~", "\"~\""}, {"", "\"\""}, {"- [a]: {b}", "\"- [a]: {b}\""},
      // Characters beyond ASCII as they are, in UTF-8.
      {"Caf\xC3\xA9 \xE2\x9C\x93 \xF0\x9F\x98\x80", "\"Caf\xC3\xA9 \xE2\x9C\x93 \xF0\x9F\x98\x80\""},
      // Control characters, and what YAML reads as line breaks or drops.
      {"a\tb\nc\x7F" "d\xC2\x85" "e\xC2\x9F", "\"a\\x09b\\x0Ac\\x7Fd\\x85e\\x9F\""},
      {"a\xE2\x80\xA8" "b\xE2\x80\xA9" "c\xEF\xBB\xBF" "d\xEF\xBF\xBF", "\"a\\u2028b\\u2029c\\uFEFFd\\uFFFF\""},
  };
  for (const auto& c : cases) EXPECT_EQ(YamlQuoted(c.text), c.quoted) << c.text;
}

TEST(WingetManifest, IdentifiersAreTwoToEightNamesOfAtMost32Characters) {
  const std::string name32 = Repeat("n", 32);
  for (const std::string& good : {std::string("Quillmark.Toolkit"), std::string("A.B.C.D.E.F.G.H"),
                                  name32 + "." + name32, std::string("Tide-Water_2.Charts+(x64)"),
                                  std::string("\xC3\x9C" "ber.Caf\xC3\xA9")})
    EXPECT_EQ(PackageIdentifierProblem(good), "") << good;
  const struct {
    std::string id, problem;
  } bad[] = {
      {"", "is empty"},
      {"Quillmark", "must be 2 to 8 names joined by dots, such as Publisher.Product"},
      {"A.B.C.D.E.F.G.H.I", "must be 2 to 8 names joined by dots, such as Publisher.Product"},
      {".A.B", "has an empty name between its dots; write Publisher.Product"},
      {"A.B.", "has an empty name between its dots; write Publisher.Product"},
      {"A..B", "has an empty name between its dots; write Publisher.Product"},
      {name32 + "n.B", "has a name longer than 32 characters between its dots"},
      {Repeat(name32 + ".", 4) + "x", "is longer than 128 characters"},
      {"Quill mark.Toolkit", "holds U+0020, which a winget package identifier must not"},
      {"Quill\xC2\xA0mark.Toolkit", "holds U+00A0, which a winget package identifier must not"},
      {"Quill\xE3\x80\x80mark.Toolkit", "holds U+3000, which a winget package identifier must not"},
      {"Quillmark.Tool\x01kit", "holds U+0001, which a winget package identifier must not"},
      {"Quillmark:Tools.Kit", "holds ':', which a winget package identifier must not"},
      {"Quillmark.Tool/kit", "holds '/', which a winget package identifier must not"},
      {"Quillmark.Tool|kit", "holds '|', which a winget package identifier must not"},
      {"Quillmark.\xC0\xAF", "is not UTF-8 text"},
  };
  for (const auto& c : bad) EXPECT_EQ(PackageIdentifierProblem(c.id), c.problem) << c.id;
}

TEST(WingetManifest, VersionsUrlsAndTextsMeetTheSchemasBounds) {
  for (const char* good : {"2020.01.15.01", "3.4.1 beta", "1.0-rc+2"}) EXPECT_EQ(PackageVersionProblem(good), "");
  EXPECT_EQ(PackageVersionProblem("1.0:beta"), "holds ':', which a winget package version must not");
  EXPECT_EQ(PackageVersionProblem("1/2"), "holds '/', which a winget package version must not");
  EXPECT_EQ(PackageVersionProblem(""), "is empty");
  EXPECT_EQ(PackageVersionProblem(Repeat("1", 129)), "is longer than the 128 characters of a winget version");

  for (const char* good : {"https://example.com/setup.exe", "HTTPS://Example.com/a%20b?x=1#y",
                                  "https://example.com:8443/caf\xC3\xA9.exe"})
    EXPECT_EQ(InstallerUrlProblem(good), "") << good;
  const struct {
    std::string url, problem;
  } bad[] = {
      {"http://example.com/setup.exe", "is not an https:// address"},
      {"ftp://example.com/setup.exe", "is not an https:// address"},
      {"example.com/setup.exe", "is not an https:// address"},
      {"https://", "names no host after https://"},
      {"https:///setup.exe", "names no host after https://"},
      {"https://example.com/my setup.exe", "holds U+0020; write a blank as %20"},
      {" https://example.com/", "holds U+0020; write a blank as %20"},
      {"https://example.com/\n", "holds U+000A; write a blank as %20"},
      {"https://example.com/" + Repeat("x", 2029), "is longer than the 2048 characters winget takes"},
  };
  for (const auto& c : bad) EXPECT_EQ(InstallerUrlProblem(c.url), c.problem) << c.url;
  EXPECT_TRUE(IsWingetUrl("http://www.quillmark.example"));
  EXPECT_TRUE(IsWingetUrl("HTTPS://x"));
  EXPECT_FALSE(IsWingetUrl("www.quillmark.example"));
  EXPECT_FALSE(IsWingetUrl("mailto:info@quillmark.example"));
  EXPECT_FALSE(IsWingetUrl("https://"));

  // Characters, not bytes: three two-byte letters are three characters.
  EXPECT_EQ(ListingTextProblem("\xC3\x84\xC3\x96\xC3\x9C", 3, 256), "");
  EXPECT_EQ(ListingTextProblem(Repeat("\xC3\xA9", 256), 3, 256), "");
  EXPECT_EQ(ListingTextProblem(Repeat("\xC3\xA9", 257), 3, 256), "is longer than the 256 characters winget takes");
  EXPECT_EQ(ListingTextProblem("ab", 3, 256), "is shorter than the 3 characters winget takes");
  EXPECT_EQ(ListingTextProblem("a\tb c", 3, 256), "holds a control character (a line break or tab, say)");
  EXPECT_EQ(ListingTextProblem("MIT\xFF", 3, 256), "is not UTF-8 text");
}

WingetManifestValues Values();

TEST(WingetManifest, ExitCodesMapToWingetsResponsesOnlyWhereTheyMatch) {
  std::vector<std::pair<int, std::string>> mapped;
  for (const ReturnCodeResponse& entry : WingetReturnCodeResponses()) mapped.push_back({entry.code, entry.response});
  const std::vector<std::pair<int, std::string>> expected = {{kExitCancelled, "cancelledByUser"},
                                                             {kExitAnotherInstance, "installInProgress"},
                                                             {kExitDowngradeRefused, "downgrade"},
                                                             {kExitRestartNeeded, "rebootRequiredToFinish"},
                                                             {kExitFilesInUse, "packageInUse"}};
  EXPECT_EQ(mapped, expected);

  // A package with the Windows Installer's codes never ends with 5 or 7:
  // 1618 and 3010 take their places, and the installer file says so.
  std::vector<std::pair<int, std::string>> msi;
  for (const ReturnCodeResponse& entry : WingetReturnCodeResponses(true)) msi.push_back({entry.code, entry.response});
  EXPECT_EQ(msi, (std::vector<std::pair<int, std::string>>{{2, "cancelledByUser"},
                                                            {1618, "installInProgress"},
                                                            {6, "downgrade"},
                                                            {3010, "rebootRequiredToFinish"},
                                                            {8, "packageInUse"}}));
  WingetManifestValues values = Values();
  values.msiExitCodes = true;
  const std::string installer = WingetManifestFiles(values)[1].text;
  EXPECT_NE(installer.find("  - InstallerReturnCode: 3010\n    ReturnResponse: rebootRequiredToFinish\n"),
            std::string::npos)
      << installer;
  EXPECT_EQ(installer.find("InstallerReturnCode: 7\n"), std::string::npos) << installer;
}

WingetManifestValues Values() {
  WingetManifestValues v;
  v.id = "Tidewater.TideCharts";
  v.version = "3.4.1";
  v.name = "Tide Charts";
  v.publisher = "Tidewater Cartography Ltd";
  v.uninstallKey = "Tide Charts_0123ABCD";
  v.license = "Proprietary";
  v.shortDescription = "Tide tables";
  v.installerUrl = "https://example.com/setup.exe";
  v.installerSha256 = Repeat("0", 64);
  return v;
}

TEST(WingetManifest, ThreeFilesNamedByTheIdentifierEachWithItsSchemaAndType) {
  const std::vector<ManifestFile> files = WingetManifestFiles(Values());
  ASSERT_EQ(files.size(), 3u);
  const char* const names[] = {"Tidewater.TideCharts.yaml", "Tidewater.TideCharts.installer.yaml",
                               "Tidewater.TideCharts.locale.en-US.yaml"};
  const char* const types[] = {"version", "installer", "defaultLocale"};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(files[i].name, names[i]);
    EXPECT_EQ(files[i].type, types[i]);
    EXPECT_EQ(files[i].text.rfind("# yaml-language-server: $schema=https://aka.ms/winget-manifest." +
                                      std::string(types[i]) + ".1.6.0.schema.json\n",
                                  0),
              0u);
    const std::string footer = "ManifestType: " + std::string(types[i]) + "\nManifestVersion: 1.6.0\n";
    EXPECT_EQ(files[i].text.substr(files[i].text.size() - footer.size()), footer);
  }
  // Without a web address the listing names none; with one, both pages.
  EXPECT_EQ(files[2].text.find("Url:"), std::string::npos);
  WingetManifestValues withUrl = Values();
  withUrl.url = "https://tidewater.example";
  const std::string locale = WingetManifestFiles(withUrl)[2].text;
  EXPECT_NE(locale.find("\nPublisherUrl: \"https://tidewater.example\"\n"), std::string::npos);
  EXPECT_NE(locale.find("\nPackageUrl: \"https://tidewater.example\"\n"), std::string::npos);
}

// Text from the first line that starts with start up to the next line that
// starts with a key of the root (or the end).
std::string Section(const std::string& text, const std::string& start) {
  size_t from = text.find("\n" + start);
  if (from == std::string::npos) return "";
  size_t to = from + 1;
  while ((to = text.find('\n', to)) != std::string::npos && to + 1 < text.size() && text[to + 1] == ' ') ++to;
  return text.substr(from + 1, to == std::string::npos ? std::string::npos : to - from);
}

TEST(WingetManifest, EachScopeOfAPackageIsAnInstallerWithItsSwitchAndRights) {
  // One scope: the root says it, and only all users ask for elevation.
  WingetManifestValues machine = Values();
  const std::string forAll = WingetManifestFiles(machine)[1].text;
  EXPECT_NE(forAll.find("\nScope: machine\n"), std::string::npos);
  EXPECT_NE(forAll.find("\nElevationRequirement: elevatesSelf\n"), std::string::npos);
  EXPECT_EQ(Section(forAll, "Installers:"),
            "Installers:\n  - Architecture: x64\n    InstallerUrl: \"https://example.com/setup.exe\"\n"
            "    InstallerSha256: \"" + Repeat("0", 64) + "\"\n");
  WingetManifestValues user = Values();
  user.currentUser = true;
  const std::string forUser = WingetManifestFiles(user)[1].text;
  EXPECT_NE(forUser.find("\nScope: user\n"), std::string::npos);
  EXPECT_EQ(forUser.find("ElevationRequirement"), std::string::npos);

  // Both: no scope at the root, two installers of the same file, each with
  // the switch that makes setup install for that scope; only the machine's
  // asks for elevation. The root's switches stay for both.
  WingetManifestValues both = Values();
  both.bothScopes = true;
  const std::string forBoth = WingetManifestFiles(both)[1].text;
  EXPECT_EQ(forBoth.find("\nScope:"), std::string::npos);
  EXPECT_EQ(forBoth.find("\nElevationRequirement:"), std::string::npos);
  EXPECT_NE(forBoth.find("\n  Silent: \"/S /SUPPRESSMSGBOXES\"\n"), std::string::npos);
  const std::string file = "    InstallerUrl: \"https://example.com/setup.exe\"\n    InstallerSha256: \"" + Repeat("0", 64) + "\"\n";
  EXPECT_EQ(Section(forBoth, "Installers:"),
            "Installers:\n  - Architecture: x64\n    Scope: user\n" + file +
                "    InstallerSwitches:\n      Custom: \"/CURRENTUSER\"\n"
                "  - Architecture: x64\n    Scope: machine\n" + file +
                "    InstallerSwitches:\n      Custom: \"/ALLUSERS\"\n    ElevationRequirement: elevatesSelf\n");
}

TEST(PackageData, ReadsBackWhatKxpackWritesAndNothingElse) {
  PackageDescription written;
  written.name = "Caf\xC3\xA9 = Tools";  // '=' in a value: only the first one separates
  written.version = "1.0";
  written.publisher = "P";
  written.uninstallKey = "K";
  written.program = "bin\\tool.exe";
  written.openFolder = false;
  written.startProgramSilent = true;
  const std::string text = PackageDataText(written);
  PackageDescription read;
  std::string error;
  ASSERT_TRUE(ParsePackageData(text, &read, &error)) << error;
  EXPECT_EQ(read.name, written.name);
  EXPECT_EQ(read.program, written.program);
  EXPECT_EQ(read.url, "");
  EXPECT_FALSE(read.openFolder);
  EXPECT_TRUE(read.startProgramSilent);
  std::string crlf;
  for (char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  EXPECT_TRUE(ParsePackageData(crlf, &read, &error)) << error;

  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string changed = text;
    changed.replace(changed.find(from), from.size(), to);
    return changed;
  };
  const struct {
    std::string text, error;
  } bad[] = {
      {"", "it is empty"},
      {replaced("kxpackage 1", "kxpackage 2"), "it does not begin with \"kxpackage 1\""},
      {text.substr(0, text.size() - 1), "line 16 has no line end"},
      {text + "product.name=again\n", "it gives product.name twice"},
      {text + "product.colour=red\n", "it holds an unknown key, product.colour"},
      {replaced("product.url=\n", ""), "it lacks product.url"},
      {replaced("tasks.open_folder=0", "tasks.open_folder=2"), "tasks.open_folder is neither 0 nor 1"},
      {replaced("product.version=1.0", "product.version"), "line 3 is not a key=value line of UTF-8 text"},
      {replaced("product.version=1.0", "product.version=1.\xC0\xAF"), "line 3 is not a key=value line of UTF-8 text"},
  };
  for (const auto& c : bad) {
    EXPECT_FALSE(ParsePackageData(c.text, &read, &error)) << c.error;
    EXPECT_EQ(error, c.error);
  }
}

TEST(PackageData, OnlyAPackageForTheCurrentUserHasAScopeLine) {
  PackageDescription written;
  written.name = "Tide";
  written.program = "tide.exe";
  const std::string machine = PackageDataText(written);
  EXPECT_EQ(machine.find("install.scope"), std::string::npos);
  written.scope = "current_user";
  const std::string user = PackageDataText(written);
  EXPECT_EQ(user, machine + "install.scope=current_user\n");
  PackageDescription read;
  std::string error;
  ASSERT_TRUE(ParsePackageData(user, &read, &error)) << error;
  EXPECT_EQ(read.scope, "current_user");
  ASSERT_TRUE(ParsePackageData(machine + "install.scope=all_users\n", &read, &error)) << error;
  EXPECT_EQ(read.scope, "all_users");
  ASSERT_TRUE(ParsePackageData(machine + "install.scope=both\n", &read, &error)) << error;
  EXPECT_EQ(read.scope, "both");
  for (const char* scope : {"Both", "Current_User", "", "current_user ", "all"}) {
    EXPECT_FALSE(ParsePackageData(machine + "install.scope=" + scope + "\n", &read, &error)) << scope;
    EXPECT_EQ(error, "install.scope is none of the scopes");
  }
  EXPECT_FALSE(ParsePackageData(user + "install.scope=current_user\n", &read, &error));
  EXPECT_EQ(error, "it gives install.scope twice");
}

}  // namespace
