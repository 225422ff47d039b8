// The command line the core library reads at start-up.
#include <gtest/gtest.h>

#include "core/command_line.h"

using kxcore::CommandLineOptions;
using kxcore::ParseCommandLine;

TEST(CommandLine, SilentAndDestination) {
  CommandLineOptions options = ParseCommandLine(L"\"C:\\dl\\setup.exe\" /S /D=C:\\Program Files\\My Quill  ");
  EXPECT_TRUE(options.silent);
  EXPECT_FALSE(options.usage);
  EXPECT_EQ(L"C:\\Program Files\\My Quill", options.destination);
}

TEST(CommandLine, SwitchesCompareWithoutRegardToCase) {
  CommandLineOptions options = ParseCommandLine(L"setup.exe /s /d=\"D:\\Quill\"");
  EXPECT_TRUE(options.silent);
  EXPECT_EQ(L"D:\\Quill", options.destination);
}

TEST(CommandLine, NothingButTheProgram) {
  for (const wchar_t* line : {L"setup.exe", L"\"C:\\a b\\setup.exe\"", L"\"C:\\a b\\setup.exe\"   ", L""}) {
    CommandLineOptions options = ParseCommandLine(line);
    EXPECT_FALSE(options.silent) << line;
    EXPECT_FALSE(options.usage) << line;
    EXPECT_TRUE(options.destination.empty()) << line;
  }
}

TEST(CommandLine, UsageAndUnknownSwitches) {
  EXPECT_TRUE(ParseCommandLine(L"setup.exe /?").usage);
  CommandLineOptions unknown = ParseCommandLine(L"setup.exe /S /quiet");
  EXPECT_TRUE(unknown.usage);
  EXPECT_EQ(L"/quiet", unknown.unknownArgument);
  // /D= is only recognised as the last option: anything after it is the folder.
  CommandLineOptions last = ParseCommandLine(L"setup.exe /D=C:\\x /S");
  EXPECT_FALSE(last.silent);
  EXPECT_EQ(L"C:\\x /S", last.destination);
}

TEST(CommandLine, LogAndSuppressedMessageBoxes) {
  CommandLineOptions options =
      ParseCommandLine(L"setup.exe /s /SuppressMsgBoxes /LOG=\"C:\\my logs\\setup.log\" /D=C:\\Quill");
  EXPECT_TRUE(options.silent);
  EXPECT_TRUE(options.suppressMessageBoxes);
  EXPECT_TRUE(options.log);
  EXPECT_EQ(L"C:\\my logs\\setup.log", options.logFile);
  EXPECT_EQ(L"C:\\Quill", options.destination);
  EXPECT_FALSE(options.usage);

  CommandLineOptions plain = ParseCommandLine(L"Uninst.exe /log /S");
  EXPECT_TRUE(plain.log);
  EXPECT_TRUE(plain.logFile.empty());
  EXPECT_EQ(L"C:\\x.log", ParseCommandLine(L"setup.exe /LOG=C:\\x.log /S").logFile);

  // A log switch without its file, or a value on a switch that takes none, is
  // not understood.
  for (const wchar_t* line : {L"setup.exe /LOG=", L"setup.exe /S=1", L"setup.exe /LOGFILE=x"}) {
    CommandLineOptions bad = ParseCommandLine(line);
    EXPECT_TRUE(bad.usage) << line;
    EXPECT_FALSE(bad.log) << line;
  }
}

TEST(CommandLine, VersionAndRunningProgramSwitches) {
  CommandLineOptions options =
      ParseCommandLine(L"setup.exe /S /allowdowngrade /CloseApplications /RESTARTAPPLICATIONS /D=C:\\Quill");
  EXPECT_FALSE(options.usage);
  EXPECT_TRUE(options.allowDowngrade);
  EXPECT_TRUE(options.closeApplications);
  EXPECT_FALSE(options.noCloseApplications);
  EXPECT_TRUE(options.restartApplications);
  EXPECT_EQ(L"C:\\Quill", options.destination);

  CommandLineOptions plain = ParseCommandLine(L"setup.exe /S /NOCLOSEAPPLICATIONS");
  EXPECT_FALSE(plain.usage);
  EXPECT_TRUE(plain.noCloseApplications);
  EXPECT_FALSE(plain.allowDowngrade || plain.closeApplications || plain.restartApplications);

  // Both at once is no choice; a value or a near miss is unknown.
  CommandLineOptions both = ParseCommandLine(L"setup.exe /CLOSEAPPLICATIONS /NOCLOSEAPPLICATIONS");
  EXPECT_TRUE(both.usage);
  EXPECT_FALSE(both.unknownArgument.empty());
  for (const wchar_t* line : {L"setup.exe /ALLOWDOWNGRADE=1", L"setup.exe /CLOSEAPPS", L"setup.exe /ALLOWDOWNGRADES"}) {
    CommandLineOptions bad = ParseCommandLine(line);
    EXPECT_TRUE(bad.usage) << line;
    EXPECT_FALSE(bad.allowDowngrade || bad.closeApplications) << line;
  }
}

TEST(CommandLine, ScopeSwitchesAgainstTheScopesThePackageOffers) {
  CommandLineOptions all = ParseCommandLine(L"setup.exe /S /allusers");
  EXPECT_TRUE(all.allUsers && !all.currentUser && !all.usage);
  CommandLineOptions user = ParseCommandLine(L"setup.exe /CurrentUser /S");
  EXPECT_TRUE(user.currentUser && !user.allUsers && !user.usage);
  // Both at once, or with a value, is no choice.
  CommandLineOptions both = ParseCommandLine(L"setup.exe /ALLUSERS /CURRENTUSER");
  EXPECT_TRUE(both.usage);
  EXPECT_EQ(L"/ALLUSERS /CURRENTUSER", both.unknownArgument);
  for (const wchar_t* line : {L"setup.exe /ALLUSERS=1", L"setup.exe /ALLUSER", L"setup.exe /CURRENTUSERS"})
    EXPECT_TRUE(ParseCommandLine(line).usage) << line;

  // What the package offers decides: a contradicting switch is refused as
  // an unknown one, an agreeing one taken.
  struct Case {
    const wchar_t* packageScope;
    const wchar_t* line;
    const wchar_t* refused;  // nullptr: accepted
  } cases[] = {
      {L"both", L"setup.exe /ALLUSERS", nullptr},
      {L"both", L"setup.exe /CURRENTUSER", nullptr},
      {L"all_users", L"setup.exe /ALLUSERS", nullptr},
      {L"all_users", L"setup.exe /CURRENTUSER", L"/CURRENTUSER"},
      {L"current_user", L"setup.exe /CURRENTUSER", nullptr},
      {L"current_user", L"setup.exe /S /ALLUSERS", L"/ALLUSERS"},
      {L"all_users", L"setup.exe /S", nullptr},
      // A damaged package's run stops for it anyway.
      {L"", L"setup.exe /CURRENTUSER", nullptr},
  };
  for (const Case& c : cases) {
    CommandLineOptions options = ParseCommandLine(c.line);
    JudgeScopeSwitch(c.packageScope, &options);
    EXPECT_EQ(c.refused != nullptr, options.usage) << c.packageScope << " " << c.line;
    if (c.refused) {
      EXPECT_EQ(c.refused, options.unknownArgument) << c.line;
    }
  }
  // An earlier mistake is the one the usage names.
  CommandLineOptions typo = ParseCommandLine(L"setup.exe /X /CURRENTUSER");
  JudgeScopeSwitch(L"all_users", &typo);
  EXPECT_EQ(L"/X", typo.unknownArgument);
}
