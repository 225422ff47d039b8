// An in-memory dialog template for the few boxes the library builds in code
// (the replace question, the language box), so that they depend on no
// dialog data. Units are dialog units of the template's font, MS Shell Dlg
// 8 pt.
#ifndef KX_CORE_DIALOG_TEMPLATE_H
#define KX_CORE_DIALOG_TEMPLATE_H

#include <windows.h>

#include <vector>

namespace kxcore {

// Window classes of dialog items by their predefined atoms.
constexpr WORD kButtonClass = 0x0080;
constexpr WORD kStaticClass = 0x0082;
constexpr WORD kComboBoxClass = 0x0085;

// An in-memory dialog template (DLGTEMPLATE followed by DLGITEMTEMPLATEs),
// every item DWORD-aligned. Texts are set when the dialog is created.
class DialogTemplate {
 public:
  DialogTemplate(DWORD style, DWORD extendedStyle, short cx, short cy) {
    Align();
    Put32(style | DS_SETFONT);
    Put32(extendedStyle);
    countAt_ = words_.size();
    Put16(0);  // item count, filled in by AddItem
    Put16(0);  // x
    Put16(0);  // y
    Put16(static_cast<WORD>(cx));
    Put16(static_cast<WORD>(cy));
    Put16(0);  // no menu
    Put16(0);  // default class
    Put16(0);  // empty caption
    Put16(8);  // font size
    PutText(L"MS Shell Dlg");
  }

  void AddItem(WORD classAtom, DWORD style, WORD id, short x, short y, short cx, short cy) {
    Align();
    Put32(style | WS_CHILD | WS_VISIBLE);
    Put32(0);
    Put16(static_cast<WORD>(x));
    Put16(static_cast<WORD>(y));
    Put16(static_cast<WORD>(cx));
    Put16(static_cast<WORD>(cy));
    Put16(id);
    Put16(0xFFFF);
    Put16(classAtom);
    Put16(0);  // empty title
    Put16(0);  // no creation data
    ++words_[countAt_];
  }

  const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

 private:
  void Put16(WORD value) { words_.push_back(value); }
  void Put32(DWORD value) {
    Put16(LOWORD(value));
    Put16(HIWORD(value));
  }
  void PutText(const wchar_t* text) {
    for (; *text; ++text) Put16(static_cast<WORD>(*text));
    Put16(0);
  }
  void Align() {
    if (words_.size() % 2) Put16(0);
  }

  std::vector<WORD> words_;
  size_t countAt_ = 0;
};

}  // namespace kxcore

#endif
