// What kxpack makes of a package's files and names: page texts turned into
// RTF, images and icons checked as the programs use them, names Windows
// would refuse, the default uninstall key that installed entries rely on,
// and the package data file the programs read.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tools/kxpack/artwork.h"
#include "base/name_rules.h"
#include "base/package_format.h"
#include "tools/kxpack/name_rules.h"
#include "tools/kxpack/package_data_file.h"
#include "tools/kxpack/package_description.h"
#include "tools/kxpack/page_text.h"

namespace {

std::vector<unsigned char> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

// The RTF body kxpack makes of a plain text, without the document's head.
std::string Body(const std::string& text) {
  std::vector<unsigned char> rtf;
  std::string error;
  EXPECT_TRUE(PlainTextToRtf(Bytes(text), &rtf, &error)) << error;
  std::string document(rtf.begin(), rtf.end());
  size_t start = document.find("\\fs18 ");
  return start == std::string::npos ? document : document.substr(start + 6);
}

TEST(PageText, EscapesWhatRtfGivesMeaningAndKeepsVariables) {
  EXPECT_EQ(Body("\xEF\xBB\xBF{a}\\b\tc %DESTPATH%"), "\\{a\\}\\\\b\\tab c %DESTPATH%\\par\r\n}\r\n");
  EXPECT_EQ(Body("one\r\ntwo\rthree\n\nfour"), "one\\par\r\ntwo\\par\r\nthree\\par\r\n\\par\r\nfour\\par\r\n}\r\n");
  // U+00E9, U+20AC and U+1F600 (a surrogate pair, each half signed).
  EXPECT_EQ(Body("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"), "\\u233?\\u8364?\\u-10179?\\u-8704?\\par\r\n}\r\n");

  std::vector<unsigned char> rtf;
  std::string error;
  EXPECT_FALSE(PlainTextToRtf(Bytes("fine\nfine\n\xC0\xAF overlong\n"), &rtf, &error));
  EXPECT_EQ(error, "line 3 is not UTF-8 text");
  ShippedLanguages english(1);
  const std::string table = "[KXLang]\r\nEnglish\r\n1033\r\n#pkgfinishinstalled=%NAME% has been installed\r\n";
  ASSERT_TRUE(ParseShippedLanguage(Bytes(table), "kxlng.dat", &english[0], &error)) << error;
  EXPECT_TRUE(LooksLikeRtf(DefaultFinishPage(english, english[0], "50% Tools")));
  std::vector<unsigned char> finish = DefaultFinishPage(english, english[0], "50% Tools");
  EXPECT_NE(std::string(finish.begin(), finish.end()).find("50%% Tools has been installed"), std::string::npos);
}

TEST(Artwork, DrawnImagesPassTheChecksAndNoCutOfThemDoes) {
  struct Image {
    std::vector<unsigned char> bytes;
    int width, height;
  };
  for (const Image& image : {Image{DrawWatermark(), kWatermarkWidth, kWatermarkHeight},
                             Image{DrawHeader(), kHeaderWidth, kHeaderHeight}, Image{DrawIcon(), 0, 0}}) {
    std::string error;
    auto check = [&](const std::vector<unsigned char>& bytes) {
      return image.width ? CheckBitmap(bytes, image.width, image.height, &error) : CheckIcon(bytes, &error);
    };
    EXPECT_TRUE(check(image.bytes)) << error;
    for (size_t size : {size_t{0}, size_t{5}, size_t{60}, image.bytes.size() / 2, image.bytes.size() - 1}) {
      SCOPED_TRACE(size);
      EXPECT_FALSE(check(std::vector<unsigned char>(image.bytes.begin(), image.bytes.begin() + size)));
    }
  }
  std::string error;
  EXPECT_FALSE(CheckBitmap(DrawHeader(), kWatermarkWidth, kWatermarkHeight, &error));
  EXPECT_EQ(error, "is 90 x 58 pixels; the dialogs show it at 175 x 345");
}

TEST(NameRules, RefusesWhatWindowsRefuses) {
  for (const char* name : {"CON", "con.txt", "Lpt9", "NUL .log", "a<b", "a?", "tab\there", "dot.", "blank "})
    EXPECT_NE(FileNameProblem(name), "") << name;
  for (const char* name : {"CONSOLE", "COM0", "Quillmark Toolkit812953", ".profile", "r\xC3\xA9sum\xC3\xA9"})
    EXPECT_EQ(FileNameProblem(name), "") << name;
  // What setup's own device rule refuses, so that no package is built that
  // setup would stop halfway.
  for (const char* name : {"CONIN$", "conout$.txt", "CONOUT$ .txt", "COM\xC2\xB9", "lpt\xC2\xB3.log"})
    EXPECT_EQ(FileNameProblem(name), "is a device name that Windows reserves") << name;
  for (const char* name : {"CONIN", "CONOUT$X", "COM\xC2\xB4", "$CONIN"}) EXPECT_EQ(FileNameProblem(name), "") << name;
  // Control characters are code points, not bytes: C1 ones come as two
  // bytes of UTF-8, and bytes that are no UTF-8 name nothing on Windows.
  for (const char* name : {"next\xC2\x85line", "csi\xC2\x9B", "del\x7F"})
    EXPECT_EQ(FileNameProblem(name), "holds a control character") << name;
  for (const char* name : {"latin1 \xE9", "\xC0\xAF", "\xED\xA0\x80", "cut \xE2\x82"})
    EXPECT_EQ(FileNameProblem(name).rfind("is not UTF-8 text", 0), 0u) << name;
  EXPECT_EQ(FileNameProblem("nbsp\xC2\xA0 and \xC2\xA9"), "");

  std::vector<std::string> parts;
  const std::string folder(100, 'f');
  EXPECT_EQ(RelativePathProblem(folder + "/" + folder + "/" + std::string(56, 'n'), &parts), "");  // 258 units
  EXPECT_EQ(RelativePathProblem(folder + "/" + folder + "/" + folder + "/" + std::string(255, 'n'), &parts), "");
  EXPECT_NE(RelativePathProblem(folder + "/" + std::string(256, 'n'), &parts), "");
  // Beyond the BMP a character takes two units.
  EXPECT_NE(RelativePathProblem(folder + "/" + std::string(254, 'n') + "\xF0\x9F\x98\x80", &parts), "");
  for (const char* text : {"%PROGFILESDIR%", "C:", "C:\\", "%WINDIR%\\x", "Tools\\x", "%PROGFILESDIR%\\a\\%X%",
                           "%PROGFILESDIR%\\a\\\\b"})
    EXPECT_NE(FolderTextProblem(text), "") << text;
  for (const char* text : {"%PROGFILESDIR%\\Tidewater\\Charts", "%COMPROGMENUDIR%\\Tide Charts", "D:\\Tools"})
    EXPECT_EQ(FolderTextProblem(text), "") << text;
}

TEST(NameRules, NamesWindowsTakesForOneHaveOneCaseKey) {
  const std::pair<const char*, const char*> same[] = {
      {"Readme.TXT", "README.txt"},
      {"\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89"},              // été, ÉTÉ
      {"\xC5\x9Bl\xC4\x85ski", "\xC5\x9AL\xC4\x84SKI"},        // śląski
      {"\xC8\x99i", "\xC8\x98I"},                                  // și (Latin Extended-B)
      {"\xCF\x83\xCF\x82", "\xCE\xA3\xCE\xA3"},                // σς, ΣΣ
      {"\xD1\x84\xD0\xB0\xD0\xB9\xD0\xBB", "\xD0\xA4\xD0\x90\xD0\x99\xD0\x9B"},  // файл
      {"\xC3\xBF", "\xC5\xB8"},                                    // ÿ, Ÿ
      {"\xEF\xBD\x81", "\xEF\xBC\xA1"},                          // fullwidth a, A
  };
  for (const auto& [a, b] : same) EXPECT_EQ(NameCaseKey(a), NameCaseKey(b)) << a << " " << b;
  const std::pair<const char*, const char*> different[] = {
      {"a", "b"}, {"\xC3\x9F", "SS"}, {"\xC4\xB1", "I"}, {"\xC3\xB7", "\xC3\x97"}, {"a.txt", "a.txt "}};
  for (const auto& [a, b] : different) EXPECT_NE(NameCaseKey(a), NameCaseKey(b)) << a << " " << b;
}

TEST(DefaultUninstallKey, StaysTheSameForEveryVersionOfAProduct) {
  // Installed entries are found by this key: it must never change for the
  // same publisher and name.
  EXPECT_EQ(DefaultUninstallKey("Sample App", "Sample Publisher"), "Sample App_512E85E2");
  EXPECT_NE(DefaultUninstallKey("Sample App", "Other Publisher"), DefaultUninstallKey("Sample App", "Sample Publisher"));
}

// The bytes every package so far carries: the format line, then each key
// once, in the format's order. Installed packages' runtimes hold such files,
// and the build is reproducible only while they stay the same.
TEST(PackageDataFile, WritesTheFormatLineThenEveryKeyInTheFormatsOrder) {
  PackageDescription d;
  d.name = "Quillmark Toolkit";
  d.version = "2020.01.15.01";
  d.publisher = "Quillmark";
  d.url = "";
  d.uninstallKey = DefaultUninstallKey(d.name, d.publisher);
  d.wizardLabel = d.name + " Setup";
  d.windowTitle = d.name + " Setup (64-bit)";
  d.installFolder = "%PROGFILESDIR%\\Quillmark";
  d.startMenuFolder = "%COMPROGMENUDIR%\\Quillmark";
  d.program = "bin\\quill.exe";
  d.shortcut = d.name;
  d.openFolderSilent = true;
  const std::string text = PackageDataText(d);
  EXPECT_EQ(text,
            "kxpackage 1\n"
            "product.name=Quillmark Toolkit\n"
            "product.version=2020.01.15.01\n"
            "product.publisher=Quillmark\n"
            "product.url=\n"
            "product.uninstall_key=" + d.uninstallKey + "\n"
            "product.wizard_label=Quillmark Toolkit Setup\n"
            "product.window_title=Quillmark Toolkit Setup (64-bit)\n"
            "install.folder=%PROGFILESDIR%\\Quillmark\n"
            "install.start_menu_folder=%COMPROGMENUDIR%\\Quillmark\n"
            "install.program=bin\\quill.exe\n"
            "install.shortcut=Quillmark Toolkit\n"
            "tasks.start_program=1\n"
            "tasks.open_folder=1\n"
            "tasks.start_program_silent=0\n"
            "tasks.open_folder_silent=1\n");

  // What kxpack writes from its defaults passes the rule each key is read
  // by at start-up (ASCII here, so one byte is one unit).
  size_t start = text.find('\n') + 1;
  for (const kxformat::PackageKeyRule& rule : kxformat::kPackageKeys) {
    const size_t end = text.find('\n', start);
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    ASSERT_EQ(line.compare(0, std::strlen(rule.key) + 1, std::string(rule.key) + "="), 0) << line;
    const std::u16string value(line.begin() + std::strlen(rule.key) + 1, line.end());
    SCOPED_TRACE(line);
    EXPECT_LE(value.size(), rule.maxUnits);
    switch (rule.kind) {
      case kxformat::PackageValueKind::kFileName:
        EXPECT_EQ(kxnames::CheckFileName(value.data(), value.size()).problem, kxnames::NameProblem::kNone);
        break;
      case kxformat::PackageValueKind::kFolderText:
        EXPECT_EQ(kxnames::CheckFolderText(value.data(), value.size()).problem, kxnames::FolderProblem::kNone);
        break;
      case kxformat::PackageValueKind::kRelativePath:
        EXPECT_EQ(kxnames::CheckRelativePath(value.data(), value.size()).problem, kxnames::PathProblem::kNone);
        break;
      case kxformat::PackageValueKind::kFlag:
        EXPECT_TRUE(value == u"0" || value == u"1");
        break;
      case kxformat::PackageValueKind::kText:
        EXPECT_FALSE(value.empty());
        break;
      case kxformat::PackageValueKind::kOptionalText:
        break;
    }
  }
  EXPECT_EQ(start, text.size());
  EXPECT_LE(text.size(), kxformat::kPackageDataMaxBytes);
}

}  // namespace
