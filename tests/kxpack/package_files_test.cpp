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
  for (const char* text : {"%PROGFILESDIR%", "C:", "C:\\", "%WINDIR%\\x", "Tools\\x", "%PROGFILESDIR%\\a\\%X%",
                           "%PROGFILESDIR%\\a\\\\b"})
    EXPECT_NE(FolderTextProblem(text), "") << text;
  for (const char* text : {"%PROGFILESDIR%\\Tidewater\\Charts", "%COMPROGMENUDIR%\\Tide Charts", "D:\\Tools"})
    EXPECT_EQ(FolderTextProblem(text), "") << text;
}

TEST(DefaultUninstallKey, StaysTheSameForEveryVersionOfAProduct) {
  // Installed entries are found by this key: it must never change for the
  // same publisher and name.
  EXPECT_EQ(DefaultUninstallKey("Sample App", "Sample Publisher"), "Sample App_512E85E2");
  EXPECT_NE(DefaultUninstallKey("Sample App", "Other Publisher"), DefaultUninstallKey("Sample App", "Sample Publisher"));
}

}  // namespace
