// The dialog definitions' reader (core/dialog_data_format.h) over any bytes,
// split into lines as the core library splits kxdlg.dat (LF, a CR before it
// dropped) with each byte standing for the character of the same number. A
// file that reads holds only what the program can draw (ids once per
// dialog, numbers in range, known flags); written out again it reads back
// alike. A file that does not names a line of the file.
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/dialog_data_format.h"

namespace {

using kxcore::ControlKind;
using kxcore::ControlRecord;
using kxcore::DialogRecord;

constexpr unsigned kAllFlags = 0x7F;

std::u16string Number(int value) {
  std::string digits = std::to_string(value);
  return std::u16string(digits.begin(), digits.end());
}

std::u16string Flags(unsigned flags) {
  std::u16string letters;
  const char16_t kLetters[] = u"CBHRFDG";
  for (int bit = 0; bit < 7; ++bit)
    if (flags & (1u << bit)) letters += kLetters[bit];
  return letters.empty() ? u"N" : letters;
}

const char16_t* Keyword(ControlKind kind) {
  switch (kind) {
    case ControlKind::kButton: return u"#KX.But";
    case ControlKind::kCheckBox: return u"#KX.Chk";
    case ControlKind::kEdit: return u"#KX.Edit";
    case ControlKind::kLabel: return u"#KX.Lab";
    case ControlKind::kRichText: return u"#KX.Rich";
    case ControlKind::kImage: return u"#KX.Img";
    case ControlKind::kProgress: return u"#KX.Prog";
    case ControlKind::kPanel: return u"#KX.Cont";
    case ControlKind::kRadio: return u"#KX.Radio";
  }
  abort();
}

// The lines of a control record in the file's layout, panels with what they hold.
void Write(const ControlRecord& c, std::vector<std::u16string>* out) {
  out->push_back(Keyword(c.kind));
  for (int value : {c.x, c.y, c.width, c.height}) out->push_back(Number(value));
  switch (c.kind) {
    case ControlKind::kButton:
    case ControlKind::kCheckBox:
    case ControlKind::kRadio:
    case ControlKind::kEdit:
      out->insert(out->end(), {std::u16string(c.text), Number(c.id), Flags(c.flags)});
      break;
    case ControlKind::kLabel:
      out->insert(out->end(), {std::u16string(c.text), Number(c.id), Number(c.colour), Flags(c.flags)});
      break;
    case ControlKind::kRichText:
    case ControlKind::kImage:
      out->insert(out->end(), {Number(c.id), std::u16string(c.text), Flags(c.flags)});
      break;
    case ControlKind::kProgress:
      out->push_back(Number(c.id));
      break;
    case ControlKind::kPanel:
      out->insert(out->end(), {Number(c.id), Number(c.colour), Flags(c.flags)});
      for (const ControlRecord& child : c.children) Write(child, out);
      out->push_back(u"#EndCont");
      break;
  }
}

void Check(const ControlRecord& c, std::set<int>* ids) {
  if (!ids->insert(c.id).second || c.id < 0 || c.id > 0xFFFF) abort();
  if (c.x < -10000 || c.x > 10000 || c.y < -10000 || c.y > 10000) abort();
  if (c.width < 0 || c.width > 10000 || c.height < 0 || c.height > 10000) abort();
  if ((c.flags & ~kAllFlags) || c.colour < -1 || c.colour > 0xFFFFFF) abort();
  if ((c.flags & kxcore::kFlagColour) && c.colour < 0) abort();
  if (!c.children.empty() && c.kind != ControlKind::kPanel) abort();
  for (const ControlRecord& child : c.children) Check(child, ids);
}

bool Same(const ControlRecord& a, const ControlRecord& b) {
  if (a.kind != b.kind || a.x != b.x || a.y != b.y || a.width != b.width || a.height != b.height || a.id != b.id ||
      a.text != b.text || a.colour != b.colour || a.flags != b.flags || a.children.size() != b.children.size())
    return false;
  for (size_t i = 0; i < a.children.size(); ++i)
    if (!Same(a.children[i], b.children[i])) return false;
  return true;
}

std::vector<std::u16string_view> Views(const std::vector<std::u16string>& lines) {
  return std::vector<std::u16string_view>(lines.begin(), lines.end());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::u16string> lines;
  for (size_t start = 0; start < size;) {
    size_t end = start;
    while (end < size && data[end] != '\n') ++end;
    size_t stop = end > start && data[end - 1] == '\r' ? end - 1 : end;
    lines.emplace_back(data + start, data + stop);
    start = end + 1;
  }

  std::vector<DialogRecord> dialogs;
  kxcore::DialogDataFault fault;
  if (!kxcore::ReadDialogLines(Views(lines), &dialogs, &fault)) {
    if (fault.line < 1 || static_cast<size_t>(fault.line) > lines.size() + 1 || fault.message.empty()) abort();
    if (!dialogs.empty()) abort();
    return 0;
  }
  std::vector<std::u16string> written;
  for (const DialogRecord& dialog : dialogs) {
    if (dialog.width < 1 || dialog.width > 10000 || dialog.height < 1 || dialog.height > 10000) abort();
    if (dialog.flags & ~kAllFlags) abort();
    std::set<int> ids;
    for (const ControlRecord& control : dialog.controls) Check(control, &ids);
    written.insert(written.end(), {u"[" + std::u16string(dialog.name) + u"]", Flags(dialog.flags), u"#KX.Dlg",
                                   Number(dialog.width), Number(dialog.height), std::u16string(dialog.caption)});
    for (const ControlRecord& control : dialog.controls) Write(control, &written);
    written.push_back(u"#EndDlg");
  }

  // Written out again, the file reads back alike.
  std::vector<DialogRecord> again;
  if (!kxcore::ReadDialogLines(Views(written), &again, &fault) || again.size() != dialogs.size()) abort();
  for (size_t i = 0; i < dialogs.size(); ++i) {
    const DialogRecord& a = dialogs[i];
    const DialogRecord& b = again[i];
    if (a.name != b.name || a.flags != b.flags || a.width != b.width || a.height != b.height ||
        a.caption != b.caption || a.controls.size() != b.controls.size())
      abort();
    for (size_t k = 0; k < a.controls.size(); ++k)
      if (!Same(a.controls[k], b.controls[k])) abort();
  }
  return 0;
}
