// The name rules kxpack shares with the programs (base/name_rules.h), on the
// UTF-16 text both hand them: each case names the problem it must be found
// to have, so that a rule that drifts between the two shows here.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/name_rules.h"
#include "tools/kxpack/name_rules.h"

namespace {

using kxnames::FolderProblem;
using kxnames::NameProblem;
using kxnames::PathProblem;

std::string Shown(const std::u16string& text) {
  std::string shown;
  for (char16_t c : text) {
    if (c >= 0x20 && c < 0x7F) {
      shown += static_cast<char>(c);
    } else {
      char escaped[12];
      snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(c));
      shown += escaped;
    }
  }
  return shown;
}

TEST(SharedNameRules, FileNames) {
  const struct {
    std::u16string name;
    NameProblem problem;
    char16_t character;
  } cases[] = {
      {u"Quillmark Toolkit", NameProblem::kNone, 0},
      {u".profile", NameProblem::kNone, 0},
      {u"r\u00E9sum\u00E9 \u00A0\u00A9", NameProblem::kNone, 0},  // NBSP and © are no controls
      {u"\U0001F600 smile", NameProblem::kNone, 0},
      {u"COM0", NameProblem::kNone, 0},
      {u"CONIN", NameProblem::kNone, 0},
      {u"", NameProblem::kEmpty, 0},
      {std::u16string(u"Quill\0mark", 10), NameProblem::kControlCharacter, 0},
      {u"tab\there", NameProblem::kControlCharacter, u'\t'},
      {u"del\u007F", NameProblem::kControlCharacter, 0x7F},
      {u"next\u0085line", NameProblem::kControlCharacter, 0x85},
      {u"csi\u009B", NameProblem::kControlCharacter, 0x9B},
      {u"apc\u009F", NameProblem::kControlCharacter, 0x9F},
      {u"..\\..\\x", NameProblem::kForbiddenCharacter, u'\\'},
      {u"a/b", NameProblem::kForbiddenCharacter, u'/'},
      {u"x:stream", NameProblem::kForbiddenCharacter, u':'},
      {u"a<b>", NameProblem::kForbiddenCharacter, u'<'},
      {u"what?", NameProblem::kForbiddenCharacter, u'?'},
      {u"..", NameProblem::kTrailingBlankOrDot, 0},
      {u"dot.", NameProblem::kTrailingBlankOrDot, 0},
      {u"blank ", NameProblem::kTrailingBlankOrDot, 0},
      {u"nul", NameProblem::kDeviceName, 0},
      {u"CON .txt", NameProblem::kDeviceName, 0},
      {u"conout$.log", NameProblem::kDeviceName, 0},
      {u"COM\u00B9", NameProblem::kDeviceName, 0},
      {u"Lpt9", NameProblem::kDeviceName, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Shown(c.name));
    const kxnames::NameVerdict verdict = kxnames::CheckFileName(c.name.data(), c.name.size());
    EXPECT_EQ(verdict.problem, c.problem);
    if (c.character) {
      EXPECT_EQ(verdict.character, c.character);
    }
  }
}

TEST(SharedNameRules, RelativePaths) {
  const std::u16string folder(100, u'f');
  const struct {
    std::u16string path;
    PathProblem problem;
    NameProblem component;
  } cases[] = {
      {u"bin\\tool.exe", PathProblem::kNone, NameProblem::kNone},
      {u"bin/tool.exe", PathProblem::kNone, NameProblem::kNone},
      {folder + u"\\" + folder + u"\\" + std::u16string(56, u'n'), PathProblem::kNone, NameProblem::kNone},
      {u"", PathProblem::kEmpty, NameProblem::kNone},
      {u"\\tool.exe", PathProblem::kNotRelative, NameProblem::kNone},
      {u"/tool.exe", PathProblem::kNotRelative, NameProblem::kNone},
      {u"C:\\tool.exe", PathProblem::kNotRelative, NameProblem::kNone},
      {u"C:tool.exe", PathProblem::kNotRelative, NameProblem::kNone},
      {u"..\\tool.exe", PathProblem::kDotComponent, NameProblem::kNone},
      {u"bin\\.\\tool.exe", PathProblem::kDotComponent, NameProblem::kNone},
      {u"bin\\\\tool.exe", PathProblem::kBadComponent, NameProblem::kEmpty},
      {u"bin\\", PathProblem::kBadComponent, NameProblem::kEmpty},
      {u"bin\\tool.exe:stream", PathProblem::kBadComponent, NameProblem::kForbiddenCharacter},
      {u"bin\\AUX\\tool.exe", PathProblem::kBadComponent, NameProblem::kDeviceName},
      {u"bin\\to\u0085ol.exe", PathProblem::kBadComponent, NameProblem::kControlCharacter},
      // Past MAX_PATH is fine; a level past 255 units is not.
      {folder + u"\\" + folder + u"\\" + folder + u"\\" + std::u16string(255, u'n'), PathProblem::kNone,
       NameProblem::kNone},
      {folder + u"\\" + std::u16string(256, u'n'), PathProblem::kTooLong, NameProblem::kNone},
      // Beyond the BMP a character takes two units.
      {folder + u"\\" + std::u16string(254, u'n') + u"\U0001F600", PathProblem::kTooLong, NameProblem::kNone},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Shown(c.path));
    const kxnames::PathVerdict verdict = kxnames::CheckRelativePath(c.path.data(), c.path.size());
    EXPECT_EQ(verdict.problem, c.problem);
    EXPECT_EQ(verdict.name.problem, c.component);
  }
}

TEST(SharedNameRules, FolderTexts) {
  const struct {
    std::u16string text;
    FolderProblem problem;
    NameProblem component;
  } cases[] = {
      {u"%PROGFILESDIR%\\Quillmark", FolderProblem::kNone, NameProblem::kNone},
      {u"%COMPROGMENUDIR%\\Tools\\Quillmark", FolderProblem::kNone, NameProblem::kNone},
      {u"D:\\Tools", FolderProblem::kNone, NameProblem::kNone},
      {u"C:\\windows\\system32", FolderProblem::kNone, NameProblem::kNone},  // setup's start-up judges that one
      {u"Tools\\x", FolderProblem::kNoRoot, NameProblem::kNone},
      {u"\\\\?\\C:\\x", FolderProblem::kNoRoot, NameProblem::kNone},
      {u"\\\\server\\share\\x", FolderProblem::kNoRoot, NameProblem::kNone},
      {u"%WINDIR%\\x", FolderProblem::kNoRoot, NameProblem::kNone},
      {u"%progfilesdir%\\x", FolderProblem::kNoRoot, NameProblem::kNone},
      {u"CC:\\x", FolderProblem::kNoRoot, NameProblem::kNone},
      {u"%PROGFILESDIR%", FolderProblem::kRootOnly, NameProblem::kNone},
      {u"C:", FolderProblem::kRootOnly, NameProblem::kNone},
      {u"C:\\", FolderProblem::kBadComponent, NameProblem::kEmpty},
      {u"C:\\x\\", FolderProblem::kBadComponent, NameProblem::kEmpty},
      {u"%PROGFILESDIR%\\a\\\\b", FolderProblem::kBadComponent, NameProblem::kEmpty},
      {u"%PROGFILESDIR%\\..\\x", FolderProblem::kBadComponent, NameProblem::kTrailingBlankOrDot},
      {u"%COMPROGMENUDIR%\\..\\..\\..", FolderProblem::kBadComponent, NameProblem::kTrailingBlankOrDot},
      {u"C:\\x:stream", FolderProblem::kBadComponent, NameProblem::kForbiddenCharacter},
      {u"C:\\x/y", FolderProblem::kBadComponent, NameProblem::kForbiddenCharacter},
      {u"C:\\Tools\\NUL", FolderProblem::kBadComponent, NameProblem::kDeviceName},
      {u"C:\\To\u0090ols", FolderProblem::kBadComponent, NameProblem::kControlCharacter},
      {u"%PROGFILESDIR%\\a\\%X%", FolderProblem::kPercentInside, NameProblem::kNone},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Shown(c.text));
    const kxnames::FolderVerdict verdict = kxnames::CheckFolderText(c.text.data(), c.text.size());
    EXPECT_EQ(verdict.problem, c.problem);
    EXPECT_EQ(verdict.name.problem, c.component);
  }
}

// kxpack words the shared verdicts for its users, reading UTF-8.
TEST(SharedNameRules, KxpackNamesTheProblemItFinds) {
  EXPECT_EQ(FileNameProblem("a:b"), "holds ':', which Windows forbids in file names");
  EXPECT_EQ(FileNameProblem("Quill\xC2\x9Fmark"), "holds a control character");
  EXPECT_EQ(FolderTextProblem("C:"), "must name a folder below C:\\");
  EXPECT_EQ(FolderTextProblem("%PROGFILESDIR%"), "must name a folder below %PROGFILESDIR%");
  EXPECT_EQ(FolderTextProblem("Tools"), "must begin with a drive (C:\\) or one of %PROGFILESDIR%, %COMPROGMENUDIR%");
  EXPECT_EQ(FolderTextProblem("%PROGFILESDIR%\\..\\x"),
            "has a folder name that ends with a blank or a dot, which Windows drops from file names");
  std::vector<std::string> parts;
  EXPECT_EQ(RelativePathProblem("bin/l\xE9gacy.exe", &parts), "has a component that is not UTF-8 text (at byte 1)");
  EXPECT_EQ(RelativePathProblem("bin/../x.exe", &parts), "must not contain \".\" or \"..\"");
  EXPECT_EQ(RelativePathProblem("bin/tool.exe", &parts), "");
  EXPECT_EQ(parts, (std::vector<std::string>{"bin", "tool.exe"}));
}

}  // namespace
