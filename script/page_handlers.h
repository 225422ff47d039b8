// Handlers of the wizard pages the core library draws. Each is called as
// (event, page window, parameter, extra) from inside ShowDialogBox and returns
// KX_PAGE_STAY to keep the page open or the page result that closes it
// (core/kxcore.h): KX_PAGE_NEXT (Yes, Close), KX_PAGE_CANCEL (No), KX_PAGE_BACK.
#ifndef KX_SCRIPT_PAGE_HANDLERS_H
#define KX_SCRIPT_PAGE_HANDLERS_H

#include <windows.h>

// Control ids shared by the pages.
enum PageControl {
  kControlNext = 1,      // Next, Yes or Close
  kControlCancel = 2,    // Cancel or No
  kControlBack = 3,
  kControlTask1 = 6,     // final page check boxes
  kControlTask2 = 7,
  kControlField = 20,    // folder pages: the folder; licence page: its text
  kControlBrowse = 21
};

// "dlgwizwelc": Back disabled on the first page.
// The common buttons' answers: Next, Cancel and Back; any other control stays.
int PageButtonResult(WPARAM control);

int WelcomePageHandler(UINT event, HWND page, WPARAM param, LPARAM extra);

// "dlgwizlicag": as the welcome page, with the focus on the licence text.
int LicensePageHandler(UINT event, HWND page, WPARAM param, LPARAM extra);

// "dlgwizseldir": the destination folder. Next hands the field's text back
// in DLGSELPATH; an empty field, one of blanks only, or a folder that is not
// a full path ("X:\..." or "\\server\...") is refused with "#FolderWarning".
// KXDISABDIR "1" locks the field and Browse.
// Below the field, the space the product needs (KXSPACENEEDED) and the space
// free on the field's drive, followed as the field changes
// (script/destination_space.h).
int DestinationPageHandler(UINT event, HWND page, WPARAM param, LPARAM extra);

// "dlgwizselgroup": the Start-menu folder, shown as its own name only and
// put back under KXSHORTCUTROOT in DLGSELPATH on Next.
int StartMenuPageHandler(UINT event, HWND page, WPARAM param, LPARAM extra);

// "dlgwizfinal": shows the task check boxes KXRUNTASK1V/2V ask for, checked
// as KXRUNTASK1S/2S say, hides Cancel; Close stores the boxes' states back
// in KXRUNTASK1S/2S.
int FinalPageHandler(UINT event, HWND page, WPARAM param, LPARAM extra);

#endif
