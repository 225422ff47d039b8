#include "core/dialog_data.h"

#include "core/decimal_text.h"
#include "core/module_files.h"

#include <windows.h>

#include <map>

namespace kxcore {
namespace {

constexpr int kMaxControlId = 0xFFFF;  // WM_COMMAND carries ids in 16 bits
constexpr int kMaxColour = 0xFFFFFF;

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

std::wstring Trimmed(const std::wstring& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

struct RecordType {
  const wchar_t* keyword;
  ControlKind kind;
};

const RecordType kRecordTypes[] = {
    {L"#KX.But", ControlKind::kButton},   {L"#KX.Chk", ControlKind::kCheckBox},
    {L"#KX.Edit", ControlKind::kEdit},    {L"#KX.Lab", ControlKind::kLabel},
    {L"#KX.Rich", ControlKind::kRichText}, {L"#KX.Img", ControlKind::kImage},
    {L"#KX.Prog", ControlKind::kProgress}, {L"#KX.Cont", ControlKind::kPanel},
};

bool IsKeyword(const std::wstring& line) {
  if (line == L"#KX.Dlg" || line == L"#EndCont" || line == L"#EndDlg") return true;
  for (const RecordType& type : kRecordTypes)
    if (line == type.keyword) return true;
  return false;
}

// Reads the file line by line and turns every fault into one message.
class Parser {
 public:
  explicit Parser(std::string_view bytes) {
    size_t start = 0;
    while (start < bytes.size()) {
      size_t end = bytes.find('\n', start);
      if (end == std::string_view::npos) end = bytes.size();
      std::string_view line = bytes.substr(start, end - start);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      lines_.push_back(DecodeAnsi(line));
      start = end + 1;
    }
  }

  bool Parse(std::vector<DialogSpec>* dialogs) {
    std::map<std::wstring, int> seen;  // lower-case name -> line
    while (next_ < lines_.size()) {
      if (Trimmed(lines_[next_]).empty()) {
        ++next_;
        continue;
      }
      DialogSpec dialog;
      if (!ParseDialog(&dialog)) return false;
      std::wstring key = Lower(dialog.name);
      auto found = seen.find(key);
      if (found != seen.end())
        return Fail(dialog.line, L"dialog [" + dialog.name + L"] is defined twice (first at line " +
                                     DecimalText(found->second) + L")");
      seen[key] = dialog.line;
      dialogs->push_back(std::move(dialog));
    }
    return true;
  }

  const std::wstring& error() const { return error_; }

  static std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text)
      if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    return text;
  }

 private:
  bool Fail(int line, const std::wstring& message) {
    error_ = L"kxdlg.dat, line " + DecimalText(line) + L": " + message;
    return false;
  }

  int LineNumber() const { return static_cast<int>(next_) + 1; }

  // The next line, or a failure that names what was expected.
  bool Take(const wchar_t* what, std::wstring* line) {
    if (next_ >= lines_.size()) return Fail(LineNumber(), std::wstring(L"the file ends where ") + what + L" was expected");
    *line = lines_[next_++];
    return true;
  }

  bool TakeNumber(const wchar_t* what, int minimum, int maximum, int* value) {
    std::wstring line;
    if (!Take(what, &line)) return false;
    const int number = LineNumber() - 1;
    std::wstring digits = Trimmed(line);
    size_t i = 0;
    bool negative = false;
    if (i < digits.size() && digits[i] == L'-') {
      negative = true;
      ++i;
    }
    if (i == digits.size()) return Fail(number, std::wstring(L"expected ") + what + L", found \"" + line + L"\"");
    long long parsed = 0;
    for (; i < digits.size(); ++i) {
      if (digits[i] < L'0' || digits[i] > L'9')
        return Fail(number, std::wstring(L"expected ") + what + L" as a decimal number, found \"" + line + L"\"");
      parsed = parsed * 10 + (digits[i] - L'0');
      if (parsed > 0x7FFFFFFFLL + 1) break;
    }
    if (negative) parsed = -parsed;
    if (parsed < minimum || parsed > maximum)
      return Fail(number, std::wstring(L"the ") + what + L" " + digits + L" is out of range (" +
                              DecimalText(minimum) + L" to " + DecimalText(maximum) + L")");
    *value = static_cast<int>(parsed);
    return true;
  }

  bool TakeText(const wchar_t* what, std::wstring* text) {
    if (!Take(what, text)) return false;
    // A record type where a text belongs means a field is missing above.
    if (IsKeyword(*text))
      return Fail(LineNumber() - 1, std::wstring(L"expected ") + what + L", found the record type " + *text);
    return true;
  }

  bool TakeFlags(unsigned* flags) {
    std::wstring line;
    if (!Take(L"the flag letters", &line)) return false;
    const int number = LineNumber() - 1;
    std::wstring letters = Trimmed(line);
    if (letters.empty()) return Fail(number, L"expected flag letters (N for none), found an empty line");
    unsigned parsed = 0;
    for (wchar_t letter : letters) {
      switch (letter) {
        case L'N': break;
        case L'C': parsed |= kFlagColour; break;
        case L'B': parsed |= kFlagBold; break;
        case L'H': parsed |= kFlagHeading; break;
        case L'R': parsed |= kFlagReadOnly; break;
        case L'F': parsed |= kFlagFlat; break;
        case L'D': parsed |= kFlagDisabled; break;
        case L'G': parsed |= kFlagGrey; break;
        default:
          return Fail(number, L"unknown flag letter '" + std::wstring(1, letter) + L"' in \"" + line + L"\"");
      }
    }
    *flags = parsed;
    return true;
  }

  bool ParseDialog(DialogSpec* dialog) {
    dialog->line = LineNumber();
    std::wstring header = Trimmed(lines_[next_++]);
    if (header.size() < 3 || header.front() != L'[' || header.back() != L']')
      return Fail(dialog->line, L"expected a dialog name in brackets, found \"" + header + L"\"");
    dialog->name = header.substr(1, header.size() - 2);
    if (!TakeFlags(&dialog->flags)) return false;
    std::wstring keyword;
    if (!Take(L"#KX.Dlg", &keyword)) return false;
    if (keyword != L"#KX.Dlg") return Fail(LineNumber() - 1, L"expected #KX.Dlg, found \"" + keyword + L"\"");
    if (!TakeNumber(L"dialog width", 1, 10000, &dialog->width) ||
        !TakeNumber(L"dialog height", 1, 10000, &dialog->height) ||
        !TakeText(L"the dialog caption", &dialog->caption))
      return false;

    // Open panels, innermost last, with the line each was opened on.
    std::vector<std::vector<ControlSpec>*> open = {&dialog->controls};
    std::vector<int> openLines;
    std::map<int, int> ids;  // id -> line
    for (;;) {
      std::wstring type;
      if (next_ >= lines_.size())
        return Fail(LineNumber(), L"the file ends inside dialog [" + dialog->name + L"] (begun at line " +
                                      DecimalText(dialog->line) + L"); #EndDlg is missing");
      const int typeLine = LineNumber();
      type = lines_[next_++];
      if (type == L"#EndDlg") {
        if (!openLines.empty())
          return Fail(typeLine, L"#EndDlg while the panel begun at line " + DecimalText(openLines.back()) +
                                    L" is still open; #EndCont is missing");
        return true;
      }
      if (type == L"#EndCont") {
        if (openLines.empty()) return Fail(typeLine, L"#EndCont without an open panel");
        open.pop_back();
        openLines.pop_back();
        continue;
      }
      ControlSpec control;
      if (!ParseControl(type, typeLine, &control)) return false;
      auto previous = ids.find(control.id);
      if (previous != ids.end())
        return Fail(typeLine, L"control id " + DecimalText(control.id) + L" is already used at line " +
                                  DecimalText(previous->second));
      ids[control.id] = typeLine;
      open.back()->push_back(std::move(control));
      if (open.back()->back().kind == ControlKind::kPanel) {
        open.push_back(&open.back()->back().children);
        openLines.push_back(typeLine);
      }
    }
  }

  bool ParseControl(const std::wstring& type, int typeLine, ControlSpec* control) {
    const RecordType* record = nullptr;
    for (const RecordType& candidate : kRecordTypes)
      if (type == candidate.keyword) record = &candidate;
    if (!record) return Fail(typeLine, L"unknown record type \"" + type + L"\"");
    control->kind = record->kind;
    control->line = typeLine;
    if (!TakeNumber(L"x position", -10000, 10000, &control->x) ||
        !TakeNumber(L"y position", -10000, 10000, &control->y) ||
        !TakeNumber(L"width", 0, 10000, &control->width) ||
        !TakeNumber(L"height", 0, 10000, &control->height))
      return false;
    switch (control->kind) {
      case ControlKind::kButton:
      case ControlKind::kCheckBox:
      case ControlKind::kEdit:
        if (!TakeText(control->kind == ControlKind::kEdit ? L"the text" : L"the caption", &control->text) ||
            !TakeNumber(L"control id", 0, kMaxControlId, &control->id) || !TakeFlags(&control->flags))
          return false;
        break;
      case ControlKind::kLabel:
        if (!TakeText(L"the text", &control->text) || !TakeNumber(L"control id", 0, kMaxControlId, &control->id) ||
            !TakeNumber(L"background colour", -1, kMaxColour, &control->colour) || !TakeFlags(&control->flags))
          return false;
        break;
      case ControlKind::kRichText:
      case ControlKind::kImage:
        if (!TakeNumber(L"control id", 0, kMaxControlId, &control->id) ||
            !TakeText(control->kind == ControlKind::kImage ? L"the BMP file" : L"the RTF file", &control->text) ||
            !TakeFlags(&control->flags))
          return false;
        break;
      case ControlKind::kProgress:
        if (!TakeNumber(L"control id", 0, kMaxControlId, &control->id)) return false;
        break;
      case ControlKind::kPanel:
        if (!TakeNumber(L"control id", 0, kMaxControlId, &control->id) ||
            !TakeNumber(L"background colour", -1, kMaxColour, &control->colour) || !TakeFlags(&control->flags))
          return false;
        break;
    }
    if ((control->flags & kFlagColour) && control->colour < 0)
      return Fail(typeLine, type + L" with flag C needs a background colour, not -1");
    return true;
  }

  std::vector<std::wstring> lines_;
  size_t next_ = 0;
  std::wstring error_;
};

const ControlSpec* FindIn(const std::vector<ControlSpec>& controls, int id) {
  for (const ControlSpec& control : controls) {
    if (control.id == id) return &control;
    if (const ControlSpec* inner = FindIn(control.children, id)) return inner;
  }
  return nullptr;
}

}  // namespace

bool ParseDialogData(std::string_view bytes, std::vector<DialogSpec>* dialogs, std::wstring* error) {
  Parser parser(bytes);
  std::vector<DialogSpec> parsed;
  if (!parser.Parse(&parsed)) {
    *error = parser.error();
    return false;
  }
  *dialogs = std::move(parsed);
  return true;
}

const DialogSpec* FindDialog(const std::vector<DialogSpec>& dialogs, std::wstring_view name) {
  std::wstring wanted = Parser::Lower(std::wstring(name));
  for (const DialogSpec& dialog : dialogs)
    if (Parser::Lower(dialog.name) == wanted) return &dialog;
  return nullptr;
}

const ControlSpec* FindControl(const DialogSpec& dialog, int id) { return FindIn(dialog.controls, id); }

}  // namespace kxcore
