#include "core/dialog_data.h"

#include "core/decimal_text.h"
#include "core/module_files.h"
#include "core/utf16_text.h"

namespace kxcore {
namespace {

// The records as the library keeps them, with texts of its own.
ControlSpec Kept(const ControlRecord& record) {
  ControlSpec control;
  control.kind = record.kind;
  control.x = record.x;
  control.y = record.y;
  control.width = record.width;
  control.height = record.height;
  control.id = record.id;
  control.text = WideText(record.text);
  control.colour = record.colour;
  control.flags = record.flags;
  control.line = record.line;
  for (const ControlRecord& child : record.children) control.children.push_back(Kept(child));
  return control;
}

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text)
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  return text;
}

const ControlSpec* FindIn(const std::vector<ControlSpec>& controls, int id) {
  for (const ControlSpec& control : controls) {
    if (control.id == id) return &control;
    if (const ControlSpec* inner = FindIn(control.children, id)) return inner;
  }
  return nullptr;
}

}  // namespace

bool ParseDialogData(std::string_view bytes, std::vector<DialogSpec>* dialogs, std::wstring* error) {
  // Each line is decoded in the system's code page on its own; the lines
  // are read by the portable reader (core/dialog_data_format.h).
  std::vector<std::wstring> decoded;
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find('\n', start);
    if (end == std::string_view::npos) end = bytes.size();
    std::string_view line = bytes.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    decoded.push_back(DecodeAnsi(line));
    start = end + 1;
  }
  std::vector<std::u16string_view> lines;
  lines.reserve(decoded.size());
  for (const std::wstring& line : decoded) lines.push_back(Utf16View(line));

  std::vector<DialogRecord> records;
  DialogDataFault fault;
  if (!ReadDialogLines(lines, &records, &fault)) {
    *error = L"kxdlg.dat, line " + DecimalText(fault.line) + L": " + WideText(fault.message);
    return false;
  }
  std::vector<DialogSpec> parsed;
  for (const DialogRecord& record : records) {
    DialogSpec dialog;
    dialog.name = WideText(record.name);
    dialog.flags = record.flags;
    dialog.width = record.width;
    dialog.height = record.height;
    dialog.caption = WideText(record.caption);
    dialog.line = record.line;
    for (const ControlRecord& control : record.controls) dialog.controls.push_back(Kept(control));
    parsed.push_back(std::move(dialog));
  }
  *dialogs = std::move(parsed);
  return true;
}

const DialogSpec* FindDialog(const std::vector<DialogSpec>& dialogs, std::wstring_view name) {
  std::wstring wanted = Lower(std::wstring(name));
  for (const DialogSpec& dialog : dialogs)
    if (Lower(dialog.name) == wanted) return &dialog;
  return nullptr;
}

const ControlSpec* FindControl(const DialogSpec& dialog, int id) { return FindIn(dialog.controls, id); }

}  // namespace kxcore
