// The rules both kxpack and the programs judge a package's declarations by,
// and the PATH list edits setup and the uninstaller make.
#include <gtest/gtest.h>

#include <string>

#include "base/declaration_rules.h"
#include "base/path_list.h"

using kxdecl::DeclProblem;
using kxformat::DeclValueKind;

namespace {

DeclProblem Judge(DeclValueKind kind, const std::u16string& text) {
  return kxdecl::CheckDeclValue(kind, text.data(), text.size());
}

std::wstring Appended(const wchar_t* list, const wchar_t* entry) {
  wchar_t out[256];
  EXPECT_TRUE(PathListAppend(list, entry, out, 256));
  return out;
}

// The list without the entry; "!" + the list when it did not hold it.
std::wstring Removed(const wchar_t* list, const wchar_t* entry) {
  wchar_t out[256];
  bool removed = PathListRemove(list, entry, out, 256);
  return removed ? std::wstring(out) : L"!" + std::wstring(out);
}

}  // namespace

TEST(DeclaredRegistryKeys, OnlyTheUsersHiveMachineSoftwareAndTheScopesRoot) {
  struct Case {
    const char16_t* key;
    DeclProblem problem;
  } cases[] = {
      {u"HKLM\\Software\\Acme", DeclProblem::kNone},
      {u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Acme\\Tool", DeclProblem::kNone},
      {u"HKCU\\Acme", DeclProblem::kNone},
      {u"HKEY_CURRENT_USER\\Software\\Acme", DeclProblem::kNone},
      {u"HKA\\Software\\Acme", DeclProblem::kNone},
      {u"hklm\\software\\acme", DeclProblem::kNone},
      {u"HKLM\\System\\CurrentControlSet", DeclProblem::kKeyOutsideSoftware},
      {u"HKLM\\Software", DeclProblem::kKeyOutsideSoftware},
      {u"HKLM\\SoftwareX\\Acme", DeclProblem::kKeyOutsideSoftware},
      {u"HKA\\Acme", DeclProblem::kKeyOutsideSoftware},
      {u"HKLM", DeclProblem::kKeyOutsideSoftware},
      {u"HKCU", DeclProblem::kKeyBadComponent},
      {u"HKCR\\.txt", DeclProblem::kKeyRoot},
      {u"HKEY_USERS\\.DEFAULT\\Software\\Acme", DeclProblem::kKeyRoot},
      {u"HKLMX\\Software\\Acme", DeclProblem::kKeyRoot},
      {u"Software\\Acme", DeclProblem::kKeyRoot},
      {u"HKLM\\Software\\Classes\\.txt", DeclProblem::kKeyClasses},
      {u"HKCU\\Software\\classes", DeclProblem::kKeyClasses},
      {u"HKCU\\Environment", DeclProblem::kKeyEnvironment},
      {u"HKCU\\Software\\\\Acme", DeclProblem::kKeyBadComponent},
      {u"HKCU\\Software\\Acme\\", DeclProblem::kKeyBadComponent},
      {u"HKCU\\\\Acme", DeclProblem::kKeyBadComponent},
  };
  for (const Case& c : cases) {
    std::u16string key = c.key;
    kxdecl::KeyRoot root;
    size_t start = 0;
    EXPECT_EQ(c.problem, kxdecl::CheckDeclaredKey(key.data(), key.size(), &root, &start))
        << std::string(key.begin(), key.end());
  }
  std::u16string scoped = u"HKA\\Software\\Acme";
  kxdecl::KeyRoot root;
  size_t start = 0;
  ASSERT_EQ(DeclProblem::kNone, kxdecl::CheckDeclaredKey(scoped.data(), scoped.size(), &root, &start));
  EXPECT_EQ(kxdecl::KeyRoot::kScope, root);
  EXPECT_EQ(4u, start);
}

TEST(DeclaredValues, EachKindRefusesWhatItsUseCannotTake) {
  struct Case {
    DeclValueKind kind;
    const char16_t* text;
    bool good;
  } cases[] = {
      {DeclValueKind::kExtension, u".qmk", true},       {DeclValueKind::kExtension, u".tar-gz_2", true},
      {DeclValueKind::kExtension, u"qmk", false},       {DeclValueKind::kExtension, u".", false},
      {DeclValueKind::kExtension, u".a.b", false},      {DeclValueKind::kExtension, u".a b", false},
      {DeclValueKind::kProgId, u"Acme.Widget.1", true}, {DeclValueKind::kProgId, u"1Acme", false},
      {DeclValueKind::kProgId, u"Acme..W", false},      {DeclValueKind::kProgId, u"Acme.", false},
      {DeclValueKind::kProgId, u"A234567890123456789012345678901234567890", false},
      {DeclValueKind::kVariableName, u"ACME_HOME", true}, {DeclValueKind::kVariableName, u"path", false},
      {DeclValueKind::kVariableName, u"A=B", false},    {DeclValueKind::kVariableName, u"%A%", false},
      {DeclValueKind::kVariableName, u"{install_folder}", false},
      {DeclValueKind::kPayloadPath, u"bin\\tool.exe", true}, {DeclValueKind::kPayloadPath, u"bin/tool.exe", false},
      {DeclValueKind::kPayloadPath, u"..\\x.exe", false}, {DeclValueKind::kPayloadPath, u"C:\\x.exe", false},
      {DeclValueKind::kPayloadFolder, u".", true},      {DeclValueKind::kPayloadPath, u".", false},
      {DeclValueKind::kRegistryType, u"Expand", true},  {DeclValueKind::kRegistryType, u"sz", false},
      {DeclValueKind::kUninstall, u"keep", true},       {DeclValueKind::kUninstall, u"no", false},
      {DeclValueKind::kWhen, u"before_uninstall", true}, {DeclValueKind::kWhen, u"before", false},
      {DeclValueKind::kIconIndex, u"9999", true},       {DeclValueKind::kIconIndex, u"10000", false},
      {DeclValueKind::kIconIndex, u"01", false},        {DeclValueKind::kTaskName, u"add_to_path", true},
      {DeclValueKind::kTaskName, u"add to path", false}, {DeclValueKind::kFlag, u"1", true},
      {DeclValueKind::kFlag, u"true", false},           {DeclValueKind::kText, u"", false},
      {DeclValueKind::kText, u"a\tb", false},           {DeclValueKind::kOptionalText, u"", true},
      {DeclValueKind::kValueName, u"", true},           {DeclValueKind::kValueName, u"a\"b", false},
  };
  for (const Case& c : cases) {
    std::u16string text = c.text;
    EXPECT_EQ(c.good, Judge(c.kind, text) == DeclProblem::kNone) << std::string(text.begin(), text.end());
  }
  EXPECT_EQ(DeclProblem::kTooLong, Judge(DeclValueKind::kOptionalText, std::u16string(260, u'a')));
}

// A shortcut's name is one file name in its folder: it may hold what file
// names hold (blanks, dots, '%', '#'), but nothing that leaves the folder or
// names a device, and with ".lnk" it fits 255 units.
TEST(DeclaredShortcuts, TheNameNeverLeavesItsFolderAndTheLocationIsOneOfTwo) {
  for (const char16_t* good : {u"Quillmark", u"Quill 50% #1", u"a.b", u"T\u00e4glich", u".hidden"})
    EXPECT_EQ(DeclProblem::kNone, Judge(DeclValueKind::kShortcutName, good)) << std::u16string(good).size();
  for (const char16_t* bad : {u"..", u".", u"a\\b", u"a/b", u"..\\..\\Startup\\x", u"C:x", u"CON", u"nul.txt",
                              u"COM1", u"x.", u"x ", u"a|b", u"a*b", u"a?b", u"a\"b", u"a<b"})
    EXPECT_EQ(DeclProblem::kBadShortcutName, Judge(DeclValueKind::kShortcutName, bad)) << std::u16string(bad).size();
  EXPECT_EQ(DeclProblem::kEmpty, Judge(DeclValueKind::kShortcutName, u""));
  EXPECT_EQ(DeclProblem::kControlCharacter, Judge(DeclValueKind::kShortcutName, u"a\nb"));
  EXPECT_EQ(DeclProblem::kTokenInName, Judge(DeclValueKind::kShortcutName, u"{install_folder}"));
  EXPECT_EQ(DeclProblem::kNone, Judge(DeclValueKind::kShortcutName, std::u16string(251, u'a')));
  EXPECT_EQ(DeclProblem::kBadShortcutName, Judge(DeclValueKind::kShortcutName, std::u16string(252, u'a')));
  for (const char16_t* good : {u"start_menu", u"Desktop"})
    EXPECT_EQ(DeclProblem::kNone, Judge(DeclValueKind::kLocation, good));
  for (const char16_t* bad : {u"startmenu", u"desktop ", u"", u"quick_launch"})
    EXPECT_EQ(DeclProblem::kBadLocation, Judge(DeclValueKind::kLocation, bad));
}

TEST(DeclaredData, FitsItsType) {
  using kxdecl::RegistryType;
  struct Case {
    RegistryType type;
    const char16_t* data;
    bool good;
  } cases[] = {
      {RegistryType::kDword, u"0", true},           {RegistryType::kDword, u"4294967295", true},
      {RegistryType::kDword, u"4294967296", false}, {RegistryType::kDword, u"", false},
      {RegistryType::kDword, u"-1", false},         {RegistryType::kDword, u"007", false},
      {RegistryType::kQword, u"18446744073709551615", true}, {RegistryType::kQword, u"18446744073709551616", false},
      {RegistryType::kBinary, u"00ffA0", true},     {RegistryType::kBinary, u"", true},
      {RegistryType::kBinary, u"0", false},         {RegistryType::kBinary, u"0g", false},
      {RegistryType::kString, u"%SystemRoot%", true}, {RegistryType::kMulti, u"a|b", true},
  };
  for (const Case& c : cases) {
    std::u16string data = c.data;
    EXPECT_EQ(c.good, kxdecl::CheckRegistryData(c.type, data.data(), data.size()) == DeclProblem::kNone)
        << std::string(data.begin(), data.end());
  }
  std::u16string big = u"18446744073709551615";
  EXPECT_EQ(~0ull, kxdecl::DecimalValue(big.data(), big.size()));
}

TEST(PathList, AnEntryAddedAtTheEndComesOutWhereverItStandsAndNothingElseChanges) {
  EXPECT_EQ(L"C:\\A;C:\\Tool\\bin", Appended(L"C:\\A", L"C:\\Tool\\bin"));
  EXPECT_EQ(L"C:\\A;C:\\Tool\\bin", Appended(L"C:\\A;", L"C:\\Tool\\bin"));
  EXPECT_EQ(L"C:\\Tool\\bin", Appended(L"", L"C:\\Tool\\bin"));

  // Others added entries before and after it since: only ours goes.
  EXPECT_EQ(L"C:\\A;D:\\B;E:\\C", Removed(L"C:\\A;D:\\B;C:\\Tool\\bin;E:\\C", L"C:\\Tool\\bin"));
  EXPECT_EQ(L"D:\\B;C:\\A", Removed(L"C:\\Tool\\bin;D:\\B;C:\\A", L"C:\\Tool\\bin"));
  EXPECT_EQ(L"C:\\A", Removed(L"C:\\A;C:\\Tool\\bin", L"C:\\Tool\\bin"));
  EXPECT_EQ(L"C:\\A;", Removed(L"C:\\A;C:\\Tool\\bin;", L"C:\\Tool\\bin"));
  EXPECT_EQ(L"", Removed(L"C:\\Tool\\bin", L"C:\\Tool\\bin"));
  // Letter case and a trailing backslash make no other folder; the first of
  // two copies goes, the other stays for whoever added it.
  EXPECT_EQ(L"%SystemRoot%;C:\\TOOL\\BIN", Removed(L"%SystemRoot%;c:\\tool\\bin\\;C:\\TOOL\\BIN", L"C:\\Tool\\bin"));
  // A folder whose name only begins like ours is another folder.
  EXPECT_EQ(L"!C:\\Tool\\bin2;C:\\Tool", Removed(L"C:\\Tool\\bin2;C:\\Tool", L"C:\\Tool\\bin"));
  EXPECT_EQ(L"!", Removed(L"", L"C:\\Tool\\bin"));
  EXPECT_TRUE(PathListHolds(L"x;C:\\Tool\\Bin\\", L"c:\\tool\\bin"));
  EXPECT_FALSE(PathListHolds(L"x;;y", L""));

  wchar_t small[8];
  EXPECT_FALSE(PathListAppend(L"C:\\A", L"C:\\Tool", small, 8));
}
