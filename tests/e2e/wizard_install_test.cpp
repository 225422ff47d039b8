// setup.exe through its wizard, driven page by page on the Xvfb display.
#include <gtest/gtest.h>
#include <wchar.h>

#include "tests/driver/ui_driver.h"
#include "tests/e2e/install_e2e_fixture.h"

namespace kxtest {
namespace {

using kxdrive::Control;
using kxdrive::ControlText;
using kxdrive::IsEnabled;
using kxdrive::IsVisible;

enum { kNext = 1, kCancel = 2, kBack = 3, kSpaceNeeded = 14, kSpaceFree = 15, kField = 20 };

constexpr wchar_t kWelcome[] = L"dlgwizwelc";
constexpr wchar_t kLicence[] = L"dlgwizlicag";
constexpr wchar_t kDestination[] = L"dlgwizseldir";
constexpr wchar_t kStartMenu[] = L"dlgwizselgroup";
constexpr wchar_t kFinal[] = L"dlgwizfinal";
constexpr DWORD kInstallTimeoutMs = 120000;

// Types into a page's field as a user would leave it.
void SetField(HWND page, const std::wstring& text) {
  SendMessageW(Control(page, kField), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

class WizardEndToEnd : public InstallEndToEnd {
 protected:
  // Starts the wizard and presses Next until the named page shows.
  HWND StartAndNextTo(kxdrive::Session& session, const wchar_t* page) {
    EXPECT_TRUE(session.Start(setup_, L"", Environment()));
    for (const wchar_t* name : {kWelcome, kLicence, kDestination, kStartMenu}) {
      HWND shown = session.WaitForPage(name);
      EXPECT_TRUE(shown != nullptr) << Narrow(name) << " not shown";
      if (!shown || wcscmp(name, page) == 0) return shown;
      session.Press(shown, kNext);
    }
    return session.WaitForPage(page, kInstallTimeoutMs);
  }
};

TEST_F(WizardEndToEnd, NextThroughEveryPageGivesTheSilentResult) {
  std::vector<kxcore::UninstallRecord> wizardLog;
  {
    kxdrive::Session session(L"install-wizard-next");
    ASSERT_TRUE(session.Start(setup_, L"", Environment()));
    HWND welcome = session.WaitForPage(kWelcome);
    ASSERT_TRUE(welcome);
    EXPECT_FALSE(IsEnabled(Control(welcome, kBack)));
    session.Press(welcome, kNext);
    HWND licence = session.WaitForPage(kLicence);
    ASSERT_TRUE(licence);
    EXPECT_TRUE(IsEnabled(Control(licence, kBack)));
    session.Press(licence, kNext);
    HWND destination = session.WaitForPage(kDestination);
    ASSERT_TRUE(destination);
    EXPECT_EQ(ControlText(destination, kField), defaultFolder_);
    session.Press(destination, kNext);
    HWND startMenu = session.WaitForPage(kStartMenu);
    ASSERT_TRUE(startMenu);
    EXPECT_EQ(ControlText(startMenu, kField), L"Quillmark");
    session.Press(startMenu, kNext);
    HWND final = session.WaitForPage(kFinal, kInstallTimeoutMs);
    ASSERT_TRUE(final);
    EXPECT_FALSE(IsVisible(Control(final, kCancel)));
    EXPECT_FALSE(IsEnabled(Control(final, kBack)));
    session.Press(final, kNext);
    EXPECT_EQ(session.WaitForExit(60000), 0u);
  }
  ExpectInstalled(defaultFolder_, startMenuRoot_ + L"\\Quillmark");
  // Close leads to the tasks: the installed product runs.
  EXPECT_TRUE(ProductStartedFrom(defaultFolder_));
  wizardLog = ReadLog(defaultFolder_);

  RemoveInstallation();
  ASSERT_EQ(RunSetup(L"/S"), 0u);
  ProductStartedFrom(defaultFolder_);
  EXPECT_EQ(ReadLog(defaultFolder_), wizardLog);
}

TEST_F(WizardEndToEnd, BackFromTheLicenceShowsTheWelcomePageAndCancelEndsWithTwo) {
  kxdrive::Session session(L"install-wizard-back-cancel");
  HWND licence = StartAndNextTo(session, kLicence);
  ASSERT_TRUE(licence);
  session.Press(licence, kBack);
  HWND welcome = session.WaitForPage(kWelcome);
  ASSERT_TRUE(welcome);
  EXPECT_FALSE(IsEnabled(Control(welcome, kBack)));
  session.Press(welcome, kCancel);
  EXPECT_EQ(session.WaitForExit(), 2u);
  ExpectNothingInstalled();
}

TEST_F(WizardEndToEnd, NoOnTheLicenceEndsWithTwo) {
  kxdrive::Session session(L"install-wizard-licence-no");
  HWND licence = StartAndNextTo(session, kLicence);
  ASSERT_TRUE(licence);
  session.Press(licence, kCancel);
  EXPECT_EQ(session.WaitForExit(), 2u);
  ExpectNothingInstalled();
}

TEST_F(WizardEndToEnd, TheDestinationFieldMustNotBeEmptyAndIsKeptOnBack) {
  kxdrive::Session session(L"install-wizard-destination");
  HWND destination = StartAndNextTo(session, kDestination);
  ASSERT_TRUE(destination);
  SetField(destination, L"");
  session.Press(destination, kNext);
  EXPECT_TRUE(session.Answer(L"You must specify a destination folder before continuing!", IDOK));
  EXPECT_EQ(session.WaitForPage(kDestination), destination);

  // The space lines: what the payload and the uninstaller take, and what the
  // drive of the typed folder has free, nothing for a drive that is not there.
  const std::wstring needed = ControlText(destination, kSpaceNeeded);
  EXPECT_EQ(needed.rfind(L"Space required: ", 0), 0u) << Narrow(needed);
  EXPECT_NE(needed, L"Space required: 0 KB");
  SetField(destination, L"Q:\\Nowhere\\Quillmark");
  EXPECT_EQ(ControlText(destination, kSpaceFree), L"Space available: ");
  const std::wstring chosen = work_ / L"Picked\\Quillmark";
  SetField(destination, chosen);
  const std::wstring available = ControlText(destination, kSpaceFree);
  EXPECT_EQ(available.rfind(L"Space available: ", 0), 0u) << Narrow(available);
  EXPECT_GT(available.size(), wcslen(L"Space available: ")) << "nothing shown for " << Narrow(chosen);
  EXPECT_EQ(ControlText(destination, kSpaceNeeded), needed);
  session.Press(destination, kNext);
  HWND startMenu = session.WaitForPage(kStartMenu);
  ASSERT_TRUE(startMenu);
  session.Press(startMenu, kBack);
  destination = session.WaitForPage(kDestination);
  ASSERT_TRUE(destination);
  EXPECT_EQ(ControlText(destination, kField), chosen);
  session.Press(destination, kCancel);
  EXPECT_EQ(session.WaitForExit(), 2u);
  EXPECT_FALSE(FolderExists(chosen));
  ExpectNothingInstalled();
}

TEST_F(WizardEndToEnd, AStartMenuNameWithTwoLevelsEndsUnderTheStartMenuRoot) {
  kxdrive::Session session(L"install-wizard-start-menu");
  HWND startMenu = StartAndNextTo(session, kStartMenu);
  ASSERT_TRUE(startMenu);
  SetField(startMenu, L"Tools\\Quillmark");
  session.Press(startMenu, kNext);
  HWND final = session.WaitForPage(kFinal, kInstallTimeoutMs);
  ASSERT_TRUE(final);
  session.Press(final, kNext);
  EXPECT_EQ(session.WaitForExit(60000), 0u);
  ExpectInstalled(defaultFolder_, startMenuRoot_ + L"\\Tools\\Quillmark");
  EXPECT_FALSE(FolderExists(startMenuRoot_ + L"\\Quillmark"));
  ProductStartedFrom(defaultFolder_);
}

}  // namespace
}  // namespace kxtest
