// The dialog definitions kxdlg.dat read from their lines once decoded
// (core/dialog_data.h gives the layout): portable (UTF-16 as char16_t, no
// Windows header), so that the fuzz targets run the very reader the core
// library runs. Splitting and decoding the file's bytes and keeping the
// texts stay in core/dialog_data.cpp.
#ifndef KX_CORE_DIALOG_DATA_FORMAT_H
#define KX_CORE_DIALOG_DATA_FORMAT_H

#include <string>
#include <string_view>
#include <vector>

namespace kxcore {

enum class ControlKind { kButton, kCheckBox, kEdit, kLabel, kRichText, kImage, kProgress, kPanel, kRadio };

// Flag letters. "N" sets none of them; it stands where a record needs no flag.
enum ControlFlag : unsigned {
  kFlagColour = 1u << 0,    // C: paint the record's background colour
  kFlagBold = 1u << 1,      // B: bold text
  kFlagHeading = 1u << 2,   // H: heading font (larger, bold)
  kFlagReadOnly = 1u << 3,  // R: read-only text; on a panel: an etched rule
  kFlagFlat = 1u << 4,      // F: no border
  kFlagDisabled = 1u << 5,  // D: created disabled
  kFlagGrey = 1u << 6,      // G: secondary (grey) text
};

// One control record; Text is how its texts are held (views into the lines
// while they are read, the core library's own strings afterwards).
template <class Text>
struct BasicControlSpec {
  ControlKind kind = ControlKind::kLabel;
  int x = 0, y = 0, width = 0, height = 0;
  int id = 0;
  Text text;           // caption, text, or file name, as written
  int colour = -1;     // labels and panels; -1: none given
  unsigned flags = 0;
  int line = 0;        // line of the record's type, for messages
  std::vector<BasicControlSpec> children;  // panels only
};

template <class Text>
struct BasicDialogSpec {
  Text name;           // without the brackets, as written
  unsigned flags = 0;
  int width = 0, height = 0;
  Text caption;
  int line = 0;
  std::vector<BasicControlSpec<Text>> controls;
};

using ControlRecord = BasicControlSpec<std::u16string_view>;
using DialogRecord = BasicDialogSpec<std::u16string_view>;

// The first fault found: its line (1 for the first) and what is wrong.
struct DialogDataFault {
  int line = 0;
  std::u16string message;
};

// Reads every dialog from the file's lines (without their line ends). The
// records' texts are views into lines. False, with *fault set and *dialogs
// as it was, on malformed data.
bool ReadDialogLines(const std::vector<std::u16string_view>& lines, std::vector<DialogRecord>* dialogs,
                     DialogDataFault* fault);

}  // namespace kxcore

#endif
