#include "script/scope_page.h"

#include <wchar.h>

#include "base/message_box.h"
#include "base/run_log.h"
#include "core/kxcore.h"
#include "launcher/install_scope.h"
#include "launcher/launcher_main.h"
#include "launcher/script_flags.h"
#include "script/page_handlers.h"
#include "script/script_state.h"

namespace {

HWND Item(HWND page, int id) { return KXDlgGetDlgItem(page, id); }

bool Checked(HWND page, int id) { return SendMessageW(Item(page, id), BM_GETCHECK, 0, 0) == BST_CHECKED; }

void Check(HWND page, int id, bool checked) {
  SendMessageW(Item(page, id), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void OpenScopePage(HWND page) {
  if (g_pageCounter == 0) EnableWindow(Item(page, kControlBack), FALSE);
  const bool mayAllUsers = MayInstallForAllUsers();
  // Without the rights the choice is shown, not offered, and the page says
  // why; the run starts on the one it can do.
  const bool allUsers = mayAllUsers && RunScope() == InstallScope::kAllUsers;
  EnableWindow(Item(page, kControlAllUsers), mayAllUsers ? TRUE : FALSE);
  ShowWindow(Item(page, kControlNoAdministrator), mayAllUsers ? SW_HIDE : SW_SHOWNA);
  Check(page, kControlAllUsers, allUsers);
  Check(page, kControlCurrentUser, !allUsers);
  SetFocus(Item(page, allUsers ? kControlAllUsers : kControlCurrentUser));
}

int ScopeCommand(HWND page, WPARAM control) {
  switch (control) {
    case kControlAllUsers:
    case kControlCurrentUser:
      // The dialog's radios are one group; a click checks the one clicked.
      Check(page, kControlAllUsers, control == kControlAllUsers);
      Check(page, kControlCurrentUser, control == kControlCurrentUser);
      return KX_PAGE_STAY;
    case kControlNext: {
      const bool allUsers = Checked(page, kControlAllUsers);
      if (allUsers && !MayInstallForAllUsers()) {
        ShowMessageBox(page, EvalVar(L"#scopeneedsadmin"), nullptr, MB_ICONERROR);
        return KX_PAGE_STAY;
      }
      SetVar(L"KXSCOPECHOSEN", allUsers ? L"allusers" : L"currentuser");
      return KX_PAGE_NEXT;
    }
    default:
      return PageButtonResult(control);
  }
}

}  // namespace

bool ScopeAllowedBeforePages() {
  if (!PackageOffersBothScopes() || RunScope() != InstallScope::kAllUsers || MayInstallForAllUsers()) return true;
  // An interactive run chooses on the page, which knows the rights.
  if (!FlagIsSet(L"%SILENT%")) return true;
  LogLine(L"Error: installing for all users needs administrator rights, which this run does not have; "
          L"nothing was changed (/CURRENTUSER installs for the current user)");
  ShowMessageBox(nullptr, EvalVar(L"#scopeneedsadmin"), g_launcher.title, MB_OK | MB_ICONERROR);
  return false;
}

int ShowScopePage(bool* changed) {
  *changed = false;
  if (!PackageOffersBothScopes()) return KX_PAGE_NEXT;
  if (FlagIsSet(L"%SILENT%")) {
    LogLine(L"Page dlgwizscope: skipped in a silent run");
    return KX_PAGE_NEXT;
  }
  const InstallScope before = RunScope();
  const int result = ShowDialogBox(L"dlgwizscope", ScopePageHandler);
  if (result != KX_PAGE_NEXT) return result;
  const InstallScope chosen =
      wcscmp(EvalVar(L"%KXSCOPECHOSEN%"), L"allusers") == 0 ? InstallScope::kAllUsers : InstallScope::kCurrentUser;
  if (!ChooseRunScope(chosen)) return KX_PAGE_ABORT;
  *changed = chosen != before;
  LogLine(L"Scope chosen: %ls", chosen == InstallScope::kAllUsers ? L"all users" : L"the current user");
  return KX_PAGE_NEXT;
}

int ScopePageHandler(UINT event, HWND page, WPARAM param, LPARAM) {
  switch (event) {
    case KX_EVENT_CREATED:
      OpenScopePage(page);
      return KX_PAGE_STAY;
    case KX_EVENT_COMMAND:
      return ScopeCommand(page, param);
    case KX_EVENT_ENTER:
      return ScopeCommand(page, kControlNext);
    default:
      return KX_PAGE_STAY;
  }
}
