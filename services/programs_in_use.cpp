#include "services/programs_in_use.h"

#include <wchar.h>

#include "base/message_box.h"
#include "base/run_log.h"
#include "core/kxcore.h"

namespace {

constexpr size_t kBoxTextCapacity = 8192;

bool VariableIs(const wchar_t* reference, const wchar_t* value) {
  wchar_t text[8];
  int length = EvalVarBuf(reference, text, sizeof text);
  return length >= 0 && static_cast<size_t>(length) < sizeof text / sizeof text[0] && wcscmp(text, value) == 0;
}

void Append(wchar_t* text, const wchar_t* more) {
  size_t length = wcslen(text);
  if (length + 1 < kBoxTextCapacity) lstrcpynW(text + length, more, static_cast<int>(kBoxTextCapacity - length));
}

// The box: the programs by name, one a line, and the three choices.
int AskUser(const RunningPrograms& programs) {
  static wchar_t text[kBoxTextCapacity];
  EvalVarBuf(L"#appsinuse", text, sizeof text);
  Append(text, L"\r\n");
  for (size_t i = 0; i < programs.count; ++i) {
    Append(text, L"\r\n    ");
    Append(text, programs.programs[i].name);
  }
  if (programs.more) {
    wchar_t more[32];
    _snwprintf(more, 31, L"\r\n    (+%u)", static_cast<unsigned>(programs.more));
    more[31] = L'\0';
    Append(text, more);
  }
  Append(text, L"\r\n\r\n");
  static wchar_t choices[kBoxTextCapacity];
  EvalVarBuf(L"#appsinusechoice", choices, sizeof choices);
  // The choices are one line of the language table; '|' marks its breaks.
  for (wchar_t* c = choices; *c; ++c)
    if (*c == L'|') *c = L'\n';
  Append(text, choices);
  static wchar_t title[512];
  EvalVarBuf(L"%APPTITLE%", title, sizeof title);
  return ShowMessageBox(nullptr, text, title, MB_YESNOCANCEL | MB_ICONWARNING | MB_TOPMOST);
}

const wchar_t* StateText(ProgramState state) {
  switch (state) {
    case ProgramState::kClosed: return L"closed";
    case ProgramState::kEnded: return L"ended by force after the wait";
    case ProgramState::kStillRunning: return L"still running";
    case ProgramState::kRunning: break;
  }
  return L"running";
}

}  // namespace

ProgramsInUse DealWithProgramsInUse(const wchar_t* folder, RunningPrograms* programs) {
  programs->count = 0;
  programs->more = 0;
  DWORD attributes = GetFileAttributesW(folder);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return ProgramsInUse::kNone;
  FindProgramsInFolder(folder, programs);
  if (programs->count == 0) {
    LogLine(L"No program holds files of %ls", folder);
    return ProgramsInUse::kNone;
  }
  for (size_t i = 0; i < programs->count; ++i)
    LogLine(L"Program holding files of the installation: %ls (process %lu, %ls)", programs->programs[i].name,
            static_cast<unsigned long>(programs->programs[i].processId),
            programs->programs[i].image[0] ? programs->programs[i].image : L"program file not known");
  if (programs->more) LogLine(L"... and %u more", static_cast<unsigned>(programs->more));

  if (VariableIs(L"%KXCLOSEAPPS%", L"1")) {
    LogLine(L"Closing them (/CLOSEAPPLICATIONS)");
  } else if (VariableIs(L"%KXCLOSEAPPS%", L"0") || VariableIs(L"%SILENT%", L"1")) {
    LogLine(L"Leaving them running (%ls): what they hold is replaced or removed at the next restart",
            VariableIs(L"%KXCLOSEAPPS%", L"0") ? L"/NOCLOSEAPPLICATIONS" : L"the default of a silent run");
    return ProgramsInUse::kLeft;
  } else {
    switch (AskUser(*programs)) {
      case IDYES:
        break;
      case IDNO:
        LogLine(L"Leaving them running, as the user chose: what they hold is replaced or removed at the next restart");
        return ProgramsInUse::kLeft;
      default:
        // Only a clear answer is consent: a box that could not be shown
        // changes nothing either.
        LogLine(L"Cancelled: nothing is changed");
        return ProgramsInUse::kCancelled;
    }
  }
  ClosePrograms(programs);
  for (size_t i = 0; i < programs->count; ++i)
    LogLine(L"Program %ls: %ls", programs->programs[i].name, StateText(programs->programs[i].state));
  return ProgramsInUse::kClosed;
}

void RestartClosedPrograms(const RunningPrograms& programs) {
  if (!VariableIs(L"%KXRESTARTAPPS%", L"1")) return;
  size_t started = RestartPrograms(programs);
  if (started > 0) LogLine(L"Programs started again (/RESTARTAPPLICATIONS): %u", static_cast<unsigned>(started));
}
