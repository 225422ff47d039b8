#include "extract/engine_state.h"

#include <commctrl.h>
#include <wchar.h>

#include "launcher/script_flags.h"

namespace {

bool IsCancelAvailable(HWND box) {
  HWND cancel = KXDlgGetDlgItem(box, kItemCancel);
  return cancel && IsWindowVisible(cancel);
}

}  // namespace

int ProgressBoxHandler(UINT event, HWND box, WPARAM item, LPARAM) {
  switch (event) {
    case KX_EVENT_CREATED: {
      g_extract.bar = KXDlgGetDlgItem(box, kItemBar);
      g_extract.text = KXDlgGetDlgItem(box, kItemText);
      g_extract.box = box;
      EnableWindow(KXDlgGetDlgItem(box, kItemBack), FALSE);
      EnableWindow(KXDlgGetDlgItem(box, kItemNext), FALSE);
      if (FlagIsSet(L"%KXEXTHC%")) ShowWindow(KXDlgGetDlgItem(box, kItemCancel), SW_HIDE);
      break;
    }
    case KX_EVENT_COMMAND:
      if (item == kItemCancel && AskCancelExtraction(box)) g_extractCancelled = true;
      break;
    case KX_EVENT_ENTER:
      // Enter stands for the Cancel button, the box's only live button; with
      // Cancel hidden there is nothing to ask, and a Yes counts like one
      // given through the button.
      if (IsCancelAvailable(box) && AskCancelExtraction(box)) g_extractCancelled = true;
      break;
    default:
      break;
  }
  return KX_PAGE_STAY;
}

bool AskCancelExtraction(HWND owner) {
  wchar_t question[520];
  EvalVarBuf(L"#askcancelext", question, sizeof(question));
  return ShowExtractMessage(owner, question, MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES;
}

void SetExtractLabel(const wchar_t* entryName) {
  SetVarLiteral(L"EXTNAME", entryName);
  // Set by the extraction's thread only; a name may take Windows' full length.
  static wchar_t label[kExtractPathCapacity];
  EvalVarBuf(L"%KXEXTTEXT%", label, sizeof(label));
  HWND text = g_extract.text;
  if (text) SendMessageW(text, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(label));
}

void UpdateExtractProgress(void) {
  HWND bar = g_extract.bar;
  if (g_extract.unitsTotal == 0 || !bar) return;
  uint64_t percent = g_extract.unitsDone * 100 / g_extract.unitsTotal;
  SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
}

void AdvanceExtractProgress(uint64_t units) {
  g_extract.unitsDone += units;
  if (!g_extract.silent) UpdateExtractProgress();
}
