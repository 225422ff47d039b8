// What kxpack makes of a package's files and names: page texts turned into
// RTF, images and icons checked as the programs use them, names Windows
// would refuse, and the default uninstall key that installed entries rely on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/kxpack/artwork.h"
#include "tools/kxpack/name_rules.h"
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
  EXPECT_TRUE(LooksLikeRtf(DefaultFinishPage("50% Tools")));
  std::vector<unsigned char> finish = DefaultFinishPage("50% Tools");
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
  EXPECT_NE(RelativePathProblem(folder + "/" + folder + "/" + std::string(57, 'n'), &parts), "");
  // Beyond the BMP a character takes two units.
  EXPECT_NE(RelativePathProblem(folder + "/" + folder + "/" + std::string(55, 'n') + "\xF0\x9F\x98\x80", &parts), "");
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

}  // namespace
