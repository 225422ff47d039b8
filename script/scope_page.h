// The scope page of a package that offers both scopes (install.scope =
// "both"): install for anyone who uses the computer, or only for the current
// user. It stands before the destination page, whose default folder follows
// the choice, as the Start-menu folder does.
//
// Without an administrator's rights the run cannot install for all users:
// the page says so, offers that choice disabled and starts on "only for me";
// a silent run for all users (/ALLUSERS, or the default of an earlier
// installation for all users) ends before anything is changed with the
// message "#scopeneedsadmin" and kExitNeedsAdministrator.
#ifndef KX_SCRIPT_SCOPE_PAGE_H
#define KX_SCRIPT_SCOPE_PAGE_H

#include <windows.h>

// Control ids of "dlgwizscope".
enum ScopePageControl {
  kControlAllUsers = 30,
  kControlCurrentUser = 32,
  kControlNoAdministrator = 34
};

// Before the first page: false, after the message, when a silent run is to
// install for all users without an administrator's rights.
bool ScopeAllowedBeforePages();

// Shows the page for a package that offers both scopes (skipped silently
// otherwise and in a silent run, counting as Next). Returns the page result;
// on Next the choice is the run's scope and *changed says whether it differs
// from the scope before the page.
int ShowScopePage(bool* changed);

// "dlgwizscope": the two choices as the run's scope is (KXSCOPE); Next
// stores the one checked in KXSCOPECHOSEN ("allusers" or "currentuser").
int ScopePageHandler(UINT event, HWND page, WPARAM param, LPARAM extra);

#endif
