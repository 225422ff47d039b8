#include "core/dialog_data_format.h"

#include <map>

namespace kxcore {
namespace {

constexpr int kMaxControlId = 0xFFFF;  // WM_COMMAND carries ids in 16 bits
constexpr int kMaxColour = 0xFFFFFF;

using View = std::u16string_view;

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

View Trimmed(View text) {
  size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

char16_t LowerAscii(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; }

// Dialog names compare without regard to the case of ASCII letters.
struct NameLess {
  bool operator()(View a, View b) const {
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
      if (LowerAscii(a[i]) != LowerAscii(b[i])) return LowerAscii(a[i]) < LowerAscii(b[i]);
    return a.size() < b.size();
  }
};

std::u16string Decimal(long long value) {
  char16_t digits[24];
  char16_t* const end = digits + sizeof(digits) / sizeof(digits[0]);
  char16_t* start = end;
  unsigned long long rest = value < 0 ? 0ull - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
  do {
    *--start = static_cast<char16_t>(u'0' + rest % 10);
    rest /= 10;
  } while (rest != 0);
  if (value < 0) *--start = u'-';
  return std::u16string(start, end);
}

// A message from its parts, each appended once.
std::u16string Message(std::initializer_list<View> parts) {
  std::u16string message;
  for (View part : parts) message.append(part.data(), part.size());
  return message;
}

struct RecordType {
  View keyword;
  ControlKind kind;
};

constexpr RecordType kRecordTypes[] = {
    {u"#KX.But", ControlKind::kButton},   {u"#KX.Chk", ControlKind::kCheckBox},
    {u"#KX.Edit", ControlKind::kEdit},    {u"#KX.Lab", ControlKind::kLabel},
    {u"#KX.Rich", ControlKind::kRichText}, {u"#KX.Img", ControlKind::kImage},
    {u"#KX.Prog", ControlKind::kProgress}, {u"#KX.Cont", ControlKind::kPanel},
    {u"#KX.Radio", ControlKind::kRadio},
};

bool IsKeyword(View line) {
  if (line == u"#KX.Dlg" || line == u"#EndCont" || line == u"#EndDlg") return true;
  for (const RecordType& type : kRecordTypes)
    if (line == type.keyword) return true;
  return false;
}

// Reads the lines one by one and turns every fault into one message.
class Parser {
 public:
  Parser(const std::vector<View>& lines, DialogDataFault* fault) : lines_(lines), fault_(fault) {}

  bool Parse(std::vector<DialogRecord>* dialogs) {
    std::map<View, int, NameLess> seen;  // name -> line
    while (next_ < lines_.size()) {
      if (Trimmed(lines_[next_]).empty()) {
        ++next_;
        continue;
      }
      DialogRecord dialog;
      if (!ParseDialog(&dialog)) return false;
      auto found = seen.find(dialog.name);
      if (found != seen.end())
        return Fail(dialog.line, Message({u"dialog [", dialog.name, u"] is defined twice (first at line ",
                                          Decimal(found->second), u")"}));
      seen[dialog.name] = dialog.line;
      dialogs->push_back(std::move(dialog));
    }
    return true;
  }

 private:
  bool Fail(int line, std::u16string message) {
    fault_->line = line;
    fault_->message = std::move(message);
    return false;
  }

  int LineNumber() const { return static_cast<int>(next_) + 1; }

  // The next line, or a failure that names what was expected.
  bool Take(View what, View* line) {
    if (next_ >= lines_.size())
      return Fail(LineNumber(), Message({u"the file ends where ", what, u" was expected"}));
    *line = lines_[next_++];
    return true;
  }

  bool TakeNumber(View what, int minimum, int maximum, int* value) {
    View line;
    if (!Take(what, &line)) return false;
    const int number = LineNumber() - 1;
    View digits = Trimmed(line);
    size_t i = 0;
    bool negative = false;
    if (i < digits.size() && digits[i] == u'-') {
      negative = true;
      ++i;
    }
    if (i == digits.size()) return Fail(number, Message({u"expected ", what, u", found \"", line, u"\""}));
    long long parsed = 0;
    for (; i < digits.size(); ++i) {
      if (digits[i] < u'0' || digits[i] > u'9')
        return Fail(number, Message({u"expected ", what, u" as a decimal number, found \"", line, u"\""}));
      parsed = parsed * 10 + (digits[i] - u'0');
      if (parsed > 0x7FFFFFFFLL + 1) break;
    }
    if (negative) parsed = -parsed;
    if (parsed < minimum || parsed > maximum)
      return Fail(number, Message({u"the ", what, u" ", digits, u" is out of range (", Decimal(minimum), u" to ",
                                   Decimal(maximum), u")"}));
    *value = static_cast<int>(parsed);
    return true;
  }

  bool TakeText(View what, View* text) {
    if (!Take(what, text)) return false;
    // A record type where a text belongs means a field is missing above.
    if (IsKeyword(*text))
      return Fail(LineNumber() - 1, Message({u"expected ", what, u", found the record type ", *text}));
    return true;
  }

  bool TakeFlags(unsigned* flags) {
    View line;
    if (!Take(u"the flag letters", &line)) return false;
    const int number = LineNumber() - 1;
    View letters = Trimmed(line);
    if (letters.empty()) return Fail(number, u"expected flag letters (N for none), found an empty line");
    unsigned parsed = 0;
    for (size_t i = 0; i < letters.size(); ++i) {
      switch (letters[i]) {
        case u'N': break;
        case u'C': parsed |= kFlagColour; break;
        case u'B': parsed |= kFlagBold; break;
        case u'H': parsed |= kFlagHeading; break;
        case u'R': parsed |= kFlagReadOnly; break;
        case u'F': parsed |= kFlagFlat; break;
        case u'D': parsed |= kFlagDisabled; break;
        case u'G': parsed |= kFlagGrey; break;
        default:
          return Fail(number, Message({u"unknown flag letter '", letters.substr(i, 1), u"' in \"", line, u"\""}));
      }
    }
    *flags = parsed;
    return true;
  }

  bool ParseDialog(DialogRecord* dialog) {
    dialog->line = LineNumber();
    View header = Trimmed(lines_[next_++]);
    if (header.size() < 3 || header.front() != u'[' || header.back() != u']')
      return Fail(dialog->line, Message({u"expected a dialog name in brackets, found \"", header, u"\""}));
    dialog->name = header.substr(1, header.size() - 2);
    if (!TakeFlags(&dialog->flags)) return false;
    View keyword;
    if (!Take(u"#KX.Dlg", &keyword)) return false;
    if (keyword != u"#KX.Dlg") return Fail(LineNumber() - 1, Message({u"expected #KX.Dlg, found \"", keyword, u"\""}));
    if (!TakeNumber(u"dialog width", 1, 10000, &dialog->width) ||
        !TakeNumber(u"dialog height", 1, 10000, &dialog->height) ||
        !TakeText(u"the dialog caption", &dialog->caption))
      return false;

    // Open panels, innermost last, with the line each was opened on.
    std::vector<std::vector<ControlRecord>*> open = {&dialog->controls};
    std::vector<int> openLines;
    std::map<int, int> ids;  // id -> line
    for (;;) {
      if (next_ >= lines_.size())
        return Fail(LineNumber(), Message({u"the file ends inside dialog [", dialog->name, u"] (begun at line ",
                                           Decimal(dialog->line), u"); #EndDlg is missing"}));
      const int typeLine = LineNumber();
      const View type = lines_[next_++];
      if (type == u"#EndDlg") {
        if (!openLines.empty())
          return Fail(typeLine, Message({u"#EndDlg while the panel begun at line ", Decimal(openLines.back()),
                                         u" is still open; #EndCont is missing"}));
        return true;
      }
      if (type == u"#EndCont") {
        if (openLines.empty()) return Fail(typeLine, u"#EndCont without an open panel");
        open.pop_back();
        openLines.pop_back();
        continue;
      }
      ControlRecord control;
      if (!ParseControl(type, typeLine, &control)) return false;
      auto previous = ids.find(control.id);
      if (previous != ids.end())
        return Fail(typeLine, Message({u"control id ", Decimal(control.id), u" is already used at line ",
                                       Decimal(previous->second)}));
      ids[control.id] = typeLine;
      open.back()->push_back(std::move(control));
      if (open.back()->back().kind == ControlKind::kPanel) {
        open.push_back(&open.back()->back().children);
        openLines.push_back(typeLine);
      }
    }
  }

  bool ParseControl(View type, int typeLine, ControlRecord* control) {
    const RecordType* record = nullptr;
    for (const RecordType& candidate : kRecordTypes)
      if (type == candidate.keyword) record = &candidate;
    if (!record) return Fail(typeLine, Message({u"unknown record type \"", type, u"\""}));
    control->kind = record->kind;
    control->line = typeLine;
    if (!TakeNumber(u"x position", -10000, 10000, &control->x) ||
        !TakeNumber(u"y position", -10000, 10000, &control->y) ||
        !TakeNumber(u"width", 0, 10000, &control->width) ||
        !TakeNumber(u"height", 0, 10000, &control->height))
      return false;
    switch (control->kind) {
      case ControlKind::kButton:
      case ControlKind::kCheckBox:
      case ControlKind::kRadio:
      case ControlKind::kEdit:
        if (!TakeText(control->kind == ControlKind::kEdit ? u"the text" : u"the caption", &control->text) ||
            !TakeNumber(u"control id", 0, kMaxControlId, &control->id) || !TakeFlags(&control->flags))
          return false;
        break;
      case ControlKind::kLabel:
        if (!TakeText(u"the text", &control->text) || !TakeNumber(u"control id", 0, kMaxControlId, &control->id) ||
            !TakeNumber(u"background colour", -1, kMaxColour, &control->colour) || !TakeFlags(&control->flags))
          return false;
        break;
      case ControlKind::kRichText:
      case ControlKind::kImage:
        if (!TakeNumber(u"control id", 0, kMaxControlId, &control->id) ||
            !TakeText(control->kind == ControlKind::kImage ? u"the BMP file" : u"the RTF file", &control->text) ||
            !TakeFlags(&control->flags))
          return false;
        break;
      case ControlKind::kProgress:
        if (!TakeNumber(u"control id", 0, kMaxControlId, &control->id)) return false;
        break;
      case ControlKind::kPanel:
        if (!TakeNumber(u"control id", 0, kMaxControlId, &control->id) ||
            !TakeNumber(u"background colour", -1, kMaxColour, &control->colour) || !TakeFlags(&control->flags))
          return false;
        break;
    }
    if ((control->flags & kFlagColour) && control->colour < 0)
      return Fail(typeLine, Message({type, u" with flag C needs a background colour, not -1"}));
    return true;
  }

  const std::vector<View>& lines_;
  DialogDataFault* fault_;
  size_t next_ = 0;
};

}  // namespace

bool ReadDialogLines(const std::vector<std::u16string_view>& lines, std::vector<DialogRecord>* dialogs,
                     DialogDataFault* fault) {
  Parser parser(lines, fault);
  std::vector<DialogRecord> parsed;
  if (!parser.Parse(&parsed)) return false;
  *dialogs = std::move(parsed);
  return true;
}

}  // namespace kxcore
