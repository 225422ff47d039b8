// The wizard and the uninstaller in the user's language: the real setup.exe,
// Uninst.exe and core library under Wine, read through the UI driver.
// Quillmark Toolkit offers every language kxpack ships; Lingua Demo
// (tests/e2e/language_package) offers five, French first, asks with the
// language box and gives German pages of its own.
//
// Wine takes a process's language from the Unix environment it starts with
// (LANG), which the programs a test starts inherit; a Windows environment
// block does not change it. So CTest runs this program once per locale
// (tests/e2e/CMakeLists.txt), each run the tests named after its language.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "core/language_table.h"
#include "tests/driver/ui_driver.h"
#include "tests/e2e/install_e2e_fixture.h"

namespace kxtest {
namespace {

using kxdrive::Control;
using kxdrive::ControlText;

enum { kNext = 1, kCancel = 2, kBack = 3, kWelcomeText = 5, kLicenceCaption = 5, kHeaderImage = 7, kLicenceText = 20 };
enum { kLanguageList = 101 };
constexpr DWORD kInstallTimeoutMs = 120000;

bool Mirrored(HWND window) { return (GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_LAYOUTRTL) != 0; }

RECT ScreenRect(HWND window) {
  RECT rect = {};
  GetWindowRect(window, &rect);
  return rect;
}

class LanguageEndToEnd : public InstallEndToEnd {
 protected:
  // An uninstaller leaves itself to be deleted at the next restart; the
  // prefix's next start must not act on it, nor the next test see it.
  void SetUp() override {
    InstallEndToEnd::SetUp();
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSessionManager, kPending);
    lingua_ = TestDataPath("KX_TEST_PACKAGES") + L"\\lingua\\setup.exe";
  }
  void TearDown() override {
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSessionManager, kPending);
    InstallEndToEnd::TearDown();
  }

  // The run's locale is the one the test's name asks for: a locale the C
  // library lacks leaves Wine in English (scripts/bootstrap.sh makes them).
  void ExpectUserLanguage(unsigned short id) {
    ASSERT_EQ(GetUserDefaultUILanguage(), id) << "run this test with its locale (tests/e2e/CMakeLists.txt)";
  }

  // Starts a program and waits for the named page.
  HWND StartAt(kxdrive::Session& session, const std::wstring& program, const std::wstring& arguments,
               const wchar_t* page) {
    EXPECT_TRUE(session.Start(program, arguments, Environment()));
    HWND shown = session.WaitForPage(page);
    EXPECT_TRUE(shown != nullptr) << Narrow(page) << " not shown";
    return shown;
  }

  // Cancels on the welcome page: nothing installed, exit code 2.
  void CancelOn(kxdrive::Session& session, HWND welcome) {
    session.Press(welcome, kCancel);
    EXPECT_EQ(session.WaitForExit(), 2u);
  }

  // The language box's list: the id of the language selected, and selects
  // the one with that id.
  static unsigned SelectedLanguage(HWND box) {
    HWND list = Control(box, kLanguageList);
    const LRESULT item = SendMessageW(list, CB_GETCURSEL, 0, 0);
    return item == CB_ERR ? 0 : static_cast<unsigned>(SendMessageW(list, CB_GETITEMDATA, item, 0));
  }
  static bool SelectLanguage(HWND box, unsigned id) {
    HWND list = Control(box, kLanguageList);
    const LRESULT count = SendMessageW(list, CB_GETCOUNT, 0, 0);
    for (LRESULT item = 0; item < count; ++item)
      if (static_cast<unsigned>(SendMessageW(list, CB_GETITEMDATA, item, 0)) == id)
        return SendMessageW(list, CB_SETCURSEL, item, 0) == item;
    return false;
  }

  std::wstring lingua_;
};

// German: every page in German through to the end, and the uninstaller's
// question and message.
TEST_F(LanguageEndToEnd, German_WizardAndUninstaller) {
  ExpectUserLanguage(1031);
  {
    kxdrive::Session session(L"language-de-install");
    HWND welcome = StartAt(session, setup_, L"", L"dlgwizwelc");
    ASSERT_TRUE(welcome);
    EXPECT_EQ(ControlText(welcome, kNext), L"&Weiter >");
    EXPECT_EQ(ControlText(welcome, kCancel), L"&Abbrechen");
    EXPECT_EQ(ControlText(welcome, kBack), L"< &Zur\u00FCck");
    EXPECT_FALSE(Mirrored(welcome));
    session.Press(welcome, kNext);
    HWND licence = session.WaitForPage(L"dlgwizlicag");
    ASSERT_TRUE(licence);
    EXPECT_EQ(ControlText(licence, kLicenceCaption), L"Lizenzvertrag");
    EXPECT_EQ(ControlText(licence, kNext), L"&Ja");
    session.Press(licence, kNext);
    for (const wchar_t* page : {L"dlgwizseldir", L"dlgwizselgroup"}) {
      HWND shown = session.WaitForPage(page);
      ASSERT_TRUE(shown) << Narrow(page);
      session.Press(shown, kNext);
    }
    HWND final = session.WaitForPage(L"dlgwizfinal", kInstallTimeoutMs);
    ASSERT_TRUE(final);
    EXPECT_EQ(ControlText(final, kNext), L"&Schlie\u00DFen");
    session.Press(final, kNext);
    EXPECT_EQ(session.WaitForExit(60000), 0u);
  }
  ProductStartedFrom(defaultFolder_);
  EXPECT_EQ(RegDword(HKEY_LOCAL_MACHINE, kUninstallKey, L"Language"), 1031u);

  kxdrive::Session session(L"language-de-uninstall");
  ASSERT_TRUE(session.Start(defaultFolder_ + L"\\Uninst.exe", L"", Environment()));
  EXPECT_TRUE(session.Answer(L"M\u00F6chten Sie das Paket \u201EQuillmark Toolkit Setup (64-bit)\u201C wirklich deinstallieren?",
                             IDYES));
  EXPECT_TRUE(session.Answer(L"erfolgreich entfernt", IDOK, 60000));
  EXPECT_EQ(session.WaitForExit(60000), 0u);
  EXPECT_EQ(RegDword(HKEY_LOCAL_MACHINE, kUninstallKey, L"Language"), 0xDEADBEEFu);
}

// An installation made in Japanese is removed in Japanese, though the user
// removing it reads German.
TEST_F(LanguageEndToEnd, German_TheUninstallerSpeaksTheInstallationsLanguage) {
  ExpectUserLanguage(1031);
  ASSERT_EQ(RunSetup(L"/S /LANG=Japanese"), 0u);
  ProductStartedFrom(defaultFolder_);
  EXPECT_EQ(RegDword(HKEY_LOCAL_MACHINE, kUninstallKey, L"Language"), 1041u);
  kxdrive::Session session(L"language-ja-uninstall-by-de");
  ASSERT_TRUE(session.Start(defaultFolder_ + L"\\Uninst.exe", L"", Environment()));
  // "Do you really want to uninstall the ... package?" in Japanese.
  HWND question = session.WaitForMessageBox(L"\u3092\u30A2\u30F3\u30A4\u30F3\u30B9\u30C8\u30FC\u30EB\u3057\u307E\u3059\u304B");
  ASSERT_TRUE(question);
  ASSERT_TRUE(kxdrive::AnswerMessageBox(question, IDNO));
  EXPECT_EQ(session.WaitForExit(), 2u);
  // /LANG= wins over the recorded language.
  kxdrive::Session again(L"language-ja-uninstall-lang-de");
  ASSERT_TRUE(again.Start(defaultFolder_ + L"\\Uninst.exe", L"/LANG=German", Environment()));
  EXPECT_TRUE(again.Answer(L"wirklich deinstallieren?", IDNO));
  EXPECT_EQ(again.WaitForExit(), 2u);
}

// /LANG= wins over the user's language, by name or id; a /LANG= that names
// no language is an unknown switch.
TEST_F(LanguageEndToEnd, German_LangOverridesTheUsersLanguage) {
  ExpectUserLanguage(1031);
  for (const wchar_t* value : {L"/LANG=Japanese", L"/lang=1041"}) {
    kxdrive::Session session(std::wstring(L"language-de-lang-") + (value[6] == L'J' ? L"name" : L"id"));
    HWND welcome = StartAt(session, setup_, value, L"dlgwizwelc");
    ASSERT_TRUE(welcome);
    EXPECT_EQ(ControlText(welcome, kNext), L"\u6B21\u3078(&N) >") << Narrow(value);
    CancelOn(session, welcome);
  }
  EXPECT_EQ(RunSetup(L"/S /SUPPRESSMSGBOXES /LANG=Klingon"), 2u);
  ExpectNothingInstalled();
}

// The box preselects the user's German; the user picks Japanese instead.
// With /LANG=German there is no box, and German's own pages show; Japanese
// shows kxpack's welcome in Japanese and the package's licence.
TEST_F(LanguageEndToEnd, German_TheLanguageBoxChoosesAndALanguagesOwnPagesShow) {
  ExpectUserLanguage(1031);
  {
    kxdrive::Session session(L"language-de-lingua-box");
    HWND box = StartAt(session, lingua_, L"", L"dlglanguage");
    ASSERT_TRUE(box);
    EXPECT_EQ(SelectedLanguage(box), 1031u);
    EXPECT_EQ(kxdrive::WindowText(box), L"Setup-Sprache ausw\u00E4hlen");
    ASSERT_TRUE(SelectLanguage(box, 1041));
    session.Press(box, IDOK);
    HWND welcome = session.WaitForPage(L"dlgwizwelc");
    ASSERT_TRUE(welcome);
    EXPECT_EQ(ControlText(welcome, kNext), L"\u6B21\u3078(&N) >");
    EXPECT_EQ(kxdrive::WindowText(welcome), L"Lingua Demo \u30BB\u30C3\u30C8\u30A2\u30C3\u30D7 (64 \u30D3\u30C3\u30C8)");
    EXPECT_NE(ControlText(welcome, kWelcomeText).find(L"\u30BB\u30C3\u30C8\u30A2\u30C3\u30D7 \u30A6\u30A3\u30B6\u30FC\u30C9"),
              std::wstring::npos);
    session.Press(welcome, kNext);
    HWND licence = session.WaitForPage(L"dlgwizlicag");
    ASSERT_TRUE(licence);
    EXPECT_NE(ControlText(licence, kLicenceText).find(L"Lingua Demo licence"), std::wstring::npos);
    session.Press(licence, kCancel);
    EXPECT_EQ(session.WaitForExit(), 2u);
  }
  kxdrive::Session session(L"language-de-lingua-own-pages");
  HWND welcome = StartAt(session, lingua_, L"/LANG=German", L"dlgwizwelc");
  ASSERT_TRUE(welcome);
  EXPECT_NE(ControlText(welcome, kWelcomeText).find(L"Willkommen bei Lingua Demo"), std::wstring::npos);
  session.Press(welcome, kNext);
  HWND licence = session.WaitForPage(L"dlgwizlicag");
  ASSERT_TRUE(licence);
  EXPECT_NE(ControlText(licence, kLicenceText).find(L"Lizenz f\u00FCr Lingua Demo"), std::wstring::npos);
  session.Press(licence, kCancel);
  EXPECT_EQ(session.WaitForExit(), 2u);
}

// Cancel in the language box ends the run before anything happens.
TEST_F(LanguageEndToEnd, German_CancelInTheLanguageBoxEndsTheRun) {
  ExpectUserLanguage(1031);
  kxdrive::Session session(L"language-de-box-cancel");
  HWND box = StartAt(session, lingua_, L"", L"dlglanguage");
  ASSERT_TRUE(box);
  EXPECT_EQ(ControlText(box, IDCANCEL), L"&Abbrechen");
  session.Press(box, IDCANCEL);
  EXPECT_EQ(session.WaitForExit(), 2u);
}

// The screen at 200 % (Wine reads LogPixels when a program starts), for
// the life of the object.
class ScreenAt200Percent {
 public:
  ScreenAt200Percent() {
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_,
                        nullptr) != ERROR_SUCCESS)
      key_ = nullptr;
    const DWORD dpi = 192;
    if (key_) RegSetValueExW(key_, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi), sizeof dpi);
  }
  ~ScreenAt200Percent() {
    if (!key_) return;
    RegDeleteValueW(key_, L"LogPixels");
    RegCloseKey(key_);
  }
  bool Set() const { return key_ != nullptr; }

 private:
  HKEY key_ = nullptr;
};

// A file of the runtime folder of the setup that runs in temp
// (temp\kx...\name), or an empty text.
std::wstring RunningRuntimeFile(std::wstring temp, const wchar_t* name) {
  if (!temp.empty() && temp.back() != L'\\') temp += L'\\';
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((temp + L"kx*").c_str(), &found);
  std::wstring path;
  if (search == INVALID_HANDLE_VALUE) return path;
  do {
    const std::wstring candidate = temp + found.cFileName + L"\\" + name;
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && GetFileAttributesW(candidate.c_str()) != INVALID_FILE_ATTRIBUTES)
      path = candidate;
  } while (path.empty() && FindNextFileW(search, &found));
  FindClose(search);
  return path;
}

// At 200 %, Lingua Demo (kxpack's neutral artwork, at 100 % and 200 %)
// shows its watermark made for 200 %, pixel for pixel as the runtime
// carries it: a 100 % image grown to the size would differ.
TEST_F(LanguageEndToEnd, German_At200PercentTheWizardShowsItsSharpArtwork) {
  ExpectUserLanguage(1031);
  ScreenAt200Percent screen;
  ASSERT_TRUE(screen.Set());
  kxdrive::Session session(L"language-de-lingua-200percent");
  HWND welcome = StartAt(session, lingua_, L"/LANG=German", L"dlgwizwelc");
  ASSERT_TRUE(welcome);
  RECT client;
  GetClientRect(welcome, &client);
  EXPECT_EQ(client.right, 1100);
  EXPECT_EQ(client.bottom, 800);
  const std::wstring sharp = RunningRuntimeFile(Environment().at(L"TEMP"), L"kxwaterm200.bmp");
  ASSERT_FALSE(sharp.empty()) << "no kxwaterm200.bmp in the running setup's runtime folder";
  HBITMAP bitmap = static_cast<HBITMAP>(LoadImageW(nullptr, sharp.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION));
  ASSERT_TRUE(bitmap);
  DIBSECTION dib;
  ASSERT_TRUE(GetObjectW(bitmap, sizeof dib, &dib));
  ASSERT_EQ(dib.dsBm.bmWidth, 350);
  ASSERT_EQ(dib.dsBm.bmBitsPixel, 24);
  HWND watermark = Control(welcome, 6);
  POINT origin = {0, 0};
  ClientToScreen(watermark, &origin);
  HDC desktop = GetDC(nullptr);
  int differing = 0;
  // A grid across the emblem and the bands, where a grown image would blur.
  for (int y = 60; y < 690; y += 37) {
    for (int x = 3; x < 350; x += 23) {
      const BYTE* pixel = static_cast<const BYTE*>(dib.dsBm.bmBits) + (689 - y) * dib.dsBm.bmWidthBytes + 3 * x;
      if (GetPixel(desktop, origin.x + x, origin.y + y) != RGB(pixel[2], pixel[1], pixel[0])) ++differing;
    }
  }
  ReleaseDC(nullptr, desktop);
  DeleteObject(bitmap);
  EXPECT_EQ(differing, 0);
  CancelOn(session, welcome);
}

// A key's text in the shipped table of a language (kxlngNNNN.dat of the
// runtime, English's kxlng.dat), read as the core library reads it; empty
// when it has none.
std::wstring ShippedText(unsigned id, const std::string& key) {
  const std::wstring name = id == 1033 ? L"kxlng.dat" : L"kxlng" + std::to_wstring(id) + L".dat";
  const std::string bytes = ReadBytes(TestDataPath("KX_TEST_RUNTIME") + L"\\" + name);
  kxcore::LanguageTable table;
  std::wstring error;
  const bool read = id == 1033 ? kxcore::ParseLanguageTable(bytes, &table, &error)
                               : kxcore::ParseTranslatedLanguageTable(bytes, &table, &error);
  if (!read) return L"";
  const auto text = table.texts.find(Widen(key));
  return text == table.texts.end() ? L"" : text->second;
}

// Each further shipped language: CTest runs this in the language's locale
// and names the Windows language it must give (KX_EXPECTED_LANGUAGE,
// tests/e2e/CMakeLists.txt). The user's language alone chooses the table:
// the welcome and licence pages show its buttons, as the table words them,
// and the uninstaller of what was installed asks and reports in it.
TEST_F(LanguageEndToEnd, Each_TheWizardSpeaksTheUsersLanguage) {
  wchar_t expected[16] = L"";
  ASSERT_GT(GetEnvironmentVariableW(L"KX_EXPECTED_LANGUAGE", expected, 16), 0u) << "run from CTest";
  const unsigned id = static_cast<unsigned>(_wtoi(expected));
  ExpectUserLanguage(static_cast<unsigned short>(id));
  const std::wstring next = ShippedText(id, "#next"), cancel = ShippedText(id, "#cancel"), back = ShippedText(id, "#back");
  ASSERT_FALSE(next.empty() || cancel.empty() || back.empty()) << "no table for " << id;
  ASSERT_NE(next, ShippedText(1033, "#next")) << "the table is English";
  kxdrive::Session session(L"language-" + std::wstring(expected));
  HWND welcome = StartAt(session, setup_, L"", L"dlgwizwelc");
  ASSERT_TRUE(welcome);
  EXPECT_EQ(ControlText(welcome, kNext), next);
  EXPECT_EQ(ControlText(welcome, kCancel), cancel);
  session.Press(welcome, kNext);
  HWND licence = session.WaitForPage(L"dlgwizlicag");
  ASSERT_TRUE(licence);
  EXPECT_EQ(ControlText(licence, kBack), back);
  session.Press(licence, kCancel);
  EXPECT_EQ(session.WaitForExit(), 2u);

  // Installed in the user's language, the product is removed in it: the
  // question and the closing message as the table words them.
  ASSERT_EQ(RunSetup(L"/S"), 0u);
  ProductStartedFrom(defaultFolder_);
  EXPECT_EQ(RegDword(HKEY_LOCAL_MACHINE, kUninstallKey, L"Language"), id);
  const auto withTitle = [&](const char* key) {
    std::wstring text = ShippedText(id, key);
    const size_t at = text.find(L"%APPTITLE%");
    if (at != std::wstring::npos) text.replace(at, 10, L"Quillmark Toolkit Setup (64-bit)");
    return text;
  };
  const std::wstring prompt = withTitle("#uninstallprompt"), done = withTitle("#uninstallfinal");
  ASSERT_FALSE(prompt.empty() || done.empty());
  ASSERT_NE(ShippedText(id, "#uninstallprompt"), ShippedText(1033, "#uninstallprompt"));
  kxdrive::Session uninstall(L"language-" + std::wstring(expected) + L"-uninstall");
  ASSERT_TRUE(uninstall.Start(defaultFolder_ + L"\\Uninst.exe", L"", Environment()));
  EXPECT_TRUE(uninstall.Answer(prompt, IDYES));
  EXPECT_TRUE(uninstall.Answer(done, IDOK, 60000));
  EXPECT_EQ(uninstall.WaitForExit(60000), 0u);
  EXPECT_FALSE(FolderExists(defaultFolder_ + L"\\docs"));
}

TEST_F(LanguageEndToEnd, Japanese_TheWizardSpeaksJapanese) {
  ExpectUserLanguage(1041);
  kxdrive::Session session(L"language-ja");
  HWND welcome = StartAt(session, setup_, L"", L"dlgwizwelc");
  ASSERT_TRUE(welcome);
  EXPECT_EQ(ControlText(welcome, kNext), L"\u6B21\u3078(&N) >");
  EXPECT_EQ(ControlText(welcome, kCancel), L"\u30AD\u30E3\u30F3\u30BB\u30EB(&C)");
  session.Press(welcome, kNext);
  HWND licence = session.WaitForPage(L"dlgwizlicag");
  ASSERT_TRUE(licence);
  EXPECT_EQ(ControlText(licence, kLicenceCaption), L"\u4F7F\u7528\u8A31\u8AFE\u5951\u7D04");
  session.Press(licence, kCancel);
  EXPECT_EQ(session.WaitForExit(), 2u);
}

// Arabic: the wizard mirrored, its texts Arabic; the header picture moves
// to the left of the header's texts. The user reads the Arabic of Egypt
// (3073), which gets the package's Arabic (1025) as its base language.
TEST_F(LanguageEndToEnd, Arabic_TheWizardIsMirrored) {
  ExpectUserLanguage(3073);
  kxdrive::Session session(L"language-ar");
  HWND welcome = StartAt(session, setup_, L"", L"dlgwizwelc");
  ASSERT_TRUE(welcome);
  EXPECT_TRUE(Mirrored(welcome));
  EXPECT_EQ(ControlText(welcome, kNext), L"\u0627\u0644&\u062A\u0627\u0644\u064A >");
  EXPECT_GT(ScreenRect(Control(welcome, kBack)).left, ScreenRect(Control(welcome, kNext)).left);
  session.Press(welcome, kNext);
  HWND licence = session.WaitForPage(L"dlgwizlicag");
  ASSERT_TRUE(licence);
  EXPECT_TRUE(Mirrored(licence));
  EXPECT_LT(ScreenRect(Control(licence, kHeaderImage)).left, ScreenRect(Control(licence, kLicenceCaption)).left);
  session.Press(licence, kCancel);
  EXPECT_EQ(session.WaitForExit(), 2u);

  // kxpack's own welcome page in Arabic, with the title it made.
  kxdrive::Session lingua(L"language-ar-lingua");
  welcome = StartAt(lingua, lingua_, L"", L"dlglanguage");
  ASSERT_TRUE(welcome);
  EXPECT_TRUE(Mirrored(welcome));
  lingua.Press(welcome, IDOK);
  welcome = lingua.WaitForPage(L"dlgwizwelc");
  ASSERT_TRUE(welcome);
  EXPECT_EQ(kxdrive::WindowText(welcome), L"\u0625\u0639\u062F\u0627\u062F Lingua Demo (64 \u0628\u062A)");
  EXPECT_NE(ControlText(welcome, kWelcomeText).find(L"\u0645\u0639\u0627\u0644\u062C \u0625\u0639\u062F\u0627\u062F Lingua Demo"),
            std::wstring::npos);
  CancelOn(lingua, welcome);
}

// A Korean user of a package without Korean: the language box offers the
// package's first language, French, and the wizard speaks it, with the
// title kxpack made in French.
TEST_F(LanguageEndToEnd, Korean_APackageWithoutTheUsersLanguageOffersItsFirst) {
  ExpectUserLanguage(1042);
  kxdrive::Session session(L"language-ko-lingua");
  HWND box = StartAt(session, lingua_, L"", L"dlglanguage");
  ASSERT_TRUE(box);
  EXPECT_EQ(SelectedLanguage(box), 1036u);
  EXPECT_EQ(kxdrive::WindowText(Control(box, kLanguageList)).substr(0, 4), L"Fran");
  EXPECT_EQ(SendMessageW(Control(box, kLanguageList), CB_GETCOUNT, 0, 0), 5);
  session.Press(box, IDOK);
  HWND welcome = session.WaitForPage(L"dlgwizwelc");
  ASSERT_TRUE(welcome);
  EXPECT_EQ(ControlText(welcome, kNext), L"&Suivant >");
  EXPECT_EQ(kxdrive::WindowText(welcome), L"Installation de Lingua Demo (64 bits)");
  EXPECT_NE(ControlText(welcome, kWelcomeText).find(L"Bienvenue dans l'Assistant Installation de Lingua Demo"),
            std::wstring::npos);
  CancelOn(session, welcome);
}

}  // namespace
}  // namespace kxtest
