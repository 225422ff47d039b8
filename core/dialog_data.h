// The dialog definitions kxdlg.dat: 8-bit ANSI text, one field per line.
//
//   [dlgname]            a dialog begins with its name in brackets,
//   N                    then its flag letters,
//   #KX.Dlg              then its size and caption,
//   550 / 400 / caption
//   <control records>    each a type line followed by one line per field,
//   #EndDlg              and it ends here.
//
//   #KX.But   x y w h caption id flags      push button
//   #KX.Chk   x y w h caption id flags      check box
//   #KX.Radio x y w h caption id flags      option button (the radios of a
//                                           dialog are one group)
//   #KX.Edit  x y w h text id flags         edit field
//   #KX.Lab   x y w h text id colour flags  text label
//   #KX.Rich  x y w h id rtf-file flags     rich-text view
//   #KX.Img   x y w h id bmp-file flags     image
//   #KX.Prog  x y w h id                    progress bar
//   #KX.Cont  x y w h id colour flags       panel; the records up to the
//   #EndCont                                matching #EndCont lie inside it
//
// Numbers are decimal and may be negative; colours are 0xBBGGRR values as
// decimal (16777215 white). Texts and file names are script texts, kept here
// as written and evaluated when the dialog is drawn; they may be empty.
// Positions and sizes are in dialog units: one unit is one pixel at 96 DPI.
// docs/dialogs.md describes the flag letters.
#ifndef KX_CORE_DIALOG_DATA_H
#define KX_CORE_DIALOG_DATA_H

#include <string>
#include <string_view>
#include <vector>

#include "core/dialog_data_format.h"

namespace kxcore {

// The records with the library's own texts (core/dialog_data_format.h
// defines the fields).
using ControlSpec = BasicControlSpec<std::wstring>;
using DialogSpec = BasicDialogSpec<std::wstring>;

// Parses a whole kxdlg.dat. On malformed data returns false and sets *error
// to a message naming the line ("kxdlg.dat, line 12: ..."); *dialogs is then
// left unchanged.
bool ParseDialogData(std::string_view bytes, std::vector<DialogSpec>* dialogs, std::wstring* error);

// The dialog of that name (compared without regard to case), or null.
const DialogSpec* FindDialog(const std::vector<DialogSpec>& dialogs, std::wstring_view name);

// The control with that id anywhere in the dialog (inside panels too), or null.
const ControlSpec* FindControl(const DialogSpec& dialog, int id);

}  // namespace kxcore

#endif
