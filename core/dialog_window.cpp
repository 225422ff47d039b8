#include "core/dialog_window.h"

#include <commctrl.h>
#include <richedit.h>
#include <shellapi.h>

#include <algorithm>
#include <map>
#include <memory>
#include <vector>

#include "base/system_libraries.h"
#include "core/dialog_image.h"
#include "core/dialog_layout.h"
#include "core/module_files.h"
#include "core/srw_guard.h"
#include "core/variables.h"

namespace kxcore {

const wchar_t kDialogNameProperty[] = L"KXDialogName";
const wchar_t kDialogReadyProperty[] = L"KXDialogReady";

namespace {

constexpr wchar_t kPanelClass[] = L"KXPanel";
constexpr wchar_t kImageClass[] = L"KXImage";
constexpr int kRichTextPadding = 6;  // dialog units between a framed text's border and its text
constexpr int kDefaultButtonId = 1;
// Growing controls to fit their texts, in units at 96 DPI: the margin a push
// button keeps on each side of its text (its edge and focus rectangle), the
// check box and its gap before a check box's text, and the least room
// between a grown control and its neighbour.
constexpr int kButtonTextMargin = 4;
constexpr int kCheckBoxTextLead = 20;
constexpr int kGrowthGap = 6;
constexpr int kFitTextCapacity = 512;
constexpr int kCancelButtonId = 2;

// ---- window classes, shared by every dialog of the process ----

// The classes are registered while at least one dialog exists and removed
// with the last one: a class left behind would point into the library after
// the launcher unloads it. The rich-edit library is held for the same span.
struct ClassRegistry {
  SRWLOCK lock = SRWLOCK_INIT;
  int users = 0;
  HMODULE richEdit = nullptr;
  const wchar_t* richEditClass = MSFTEDIT_CLASS;
};

ClassRegistry& Registry() {
  static ClassRegistry registry;
  return registry;
}

LRESULT CALLBACK PanelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK ImageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

void AcquireClasses() {
  ClassRegistry& registry = Registry();
  SrwGuard guard(&registry.lock, SrwGuard::kExclusive);
  if (registry.users++ == 0) {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.hInstance = LibraryModule();
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpfnWndProc = PanelProc;
    windowClass.lpszClassName = kPanelClass;
    RegisterClassExW(&windowClass);
    windowClass.lpfnWndProc = ImageProc;
    windowClass.lpszClassName = kImageClass;
    RegisterClassExW(&windowClass);
    registry.richEdit = LoadSystemLibrary(L"msftedit.dll");
    registry.richEditClass = MSFTEDIT_CLASS;
    if (!registry.richEdit) {
      registry.richEdit = LoadSystemLibrary(L"riched20.dll");
      registry.richEditClass = RICHEDIT_CLASSW;
    }
  }
}

void ReleaseClasses() {
  ClassRegistry& registry = Registry();
  SrwGuard guard(&registry.lock, SrwGuard::kExclusive);
  if (--registry.users == 0) {
    UnregisterClassW(kPanelClass, LibraryModule());
    UnregisterClassW(kImageClass, LibraryModule());
    if (registry.richEdit) FreeLibrary(registry.richEdit);
    registry.richEdit = nullptr;
  }
}

// ---- where the next dialog appears ----

// Wizard pages are separate windows; each opens where the previous one was
// left, so the wizard does not jump about when the user has moved it.
struct LastPlacement {
  SRWLOCK lock = SRWLOCK_INIT;
  bool known = false;
  RECT rect = {};
};

LastPlacement& Placement() {
  static LastPlacement placement;
  return placement;
}

void RememberPlacement(HWND window) {
  RECT rect;
  if (IsIconic(window) || !GetWindowRect(window, &rect)) return;
  LastPlacement& placement = Placement();
  SrwGuard guard(&placement.lock, SrwGuard::kExclusive);
  placement.known = true;
  placement.rect = rect;
}

// ---- per-dialog state ----

struct ControlEntry {
  const ControlSpec* definition = nullptr;
  HWND window = nullptr;
  RECT box = {};  // where it stands in its parent, in pixels: the data's box, grown to fit its text
  COLORREF background = 0;  // what the control stands on, or its own colour
  HBITMAP bitmap = nullptr;
  std::wstring imageFile;   // an image's file at 100 %, which names its other scales
  int imagePercent = 100;   // the scale of the bitmap loaded
};

struct DialogState {
  DialogSpec definition;
  KxDialogHandler handler = nullptr;
  DialogMode mode = DialogMode::kPage;
  bool rightToLeft = false;  // the run's language reads right to left: a mirrored window
  HWND window = nullptr;
  UINT dpi = kDesignDpi;
  DialogFonts fonts;
  std::vector<std::unique_ptr<ControlEntry>> controls;
  std::map<COLORREF, HBRUSH> brushes;
  HWND focusAfterCreate = nullptr;
  HICON icons[2] = {};  // big, small
  ATOM nameAtom = 0;
  bool finished = false;
  int result = 0;
  bool shown = false;
  // Handler calls under way. A handler may end up destroying its own dialog
  // (a progress box closed while the handler's question is open); the state
  // then outlives the window until the call returns.
  int handlerDepth = 0;
  bool windowGone = false;

  ~DialogState() {
    for (HICON icon : icons)
      if (icon) DestroyIcon(icon);
    for (auto& entry : controls)
      if (entry->bitmap) DeleteObject(entry->bitmap);
    for (auto& brush : brushes) DeleteObject(brush.second);
  }

  HBRUSH Brush(COLORREF colour) {
    auto found = brushes.find(colour);
    if (found != brushes.end()) return found->second;
    HBRUSH brush = CreateSolidBrush(colour);
    brushes[colour] = brush;
    return brush;
  }

  ControlEntry* Entry(HWND control) {
    for (auto& entry : controls)
      if (entry->window == control) return entry.get();
    return nullptr;
  }
};

DialogState* StateOf(HWND dialog) { return reinterpret_cast<DialogState*>(GetWindowLongPtrW(dialog, DWLP_USER)); }

COLORREF ToColorRef(int colour) { return static_cast<COLORREF>(colour) & 0xFFFFFF; }

// ---- events ----

// Visible and enabled within its dialog, whether or not the dialog itself is
// shown yet (the close box is set up before the first show).
bool IsUsable(HWND control) {
  if (!control || !IsWindowEnabled(control)) return false;
  for (HWND window = control; window && (GetWindowLongW(window, GWL_STYLE) & WS_CHILD); window = GetParent(window))
    if (!(GetWindowLongW(window, GWL_STYLE) & WS_VISIBLE)) return false;
  return true;
}

void SyncCloseBox(DialogState* state) {
  HMENU menu = GetSystemMenu(state->window, FALSE);
  if (!menu) return;
  bool usable = IsUsable(FindDialogControl(state->window, kCancelButtonId));
  EnableMenuItem(menu, SC_CLOSE, MF_BYCOMMAND | (usable ? MF_ENABLED : MF_GRAYED));
}

void Deliver(DialogState* state, UINT event, WPARAM parameter) {
  if (state->finished || state->windowGone) return;
  int answer;
  ++state->handlerDepth;
  if (state->handler)
    answer = state->handler(event, state->window, parameter, 0);
  else
    answer = event == KX_EVENT_COMMAND && parameter >= 1 && parameter <= 3 ? static_cast<int>(parameter) : 0;
  --state->handlerDepth;
  if (state->windowGone) {
    if (state->handlerDepth == 0) delete state;
    return;
  }
  if (state->mode == DialogMode::kPage && answer != 0) {
    state->finished = true;
    state->result = answer;
  }
  SyncCloseBox(state);
}

void PressCancel(DialogState* state) {
  if (IsUsable(FindDialogControl(state->window, kCancelButtonId))) Deliver(state, KX_EVENT_COMMAND, kCancelButtonId);
}

// ---- painting helpers ----

void PaintBackground(HDC dc, const RECT& rect, const ControlEntry* entry, DialogState* state) {
  FillRect(dc, &rect, state->Brush(entry->background));
  if (entry->definition->kind == ControlKind::kPanel && (entry->definition->flags & kFlagReadOnly)) {
    // A rule: its colour above, a highlight below, like an etched line.
    RECT lower = rect;
    lower.top = rect.top + (rect.bottom - rect.top + 1) / 2;
    if (lower.top < rect.bottom) FillRect(dc, &lower, GetSysColorBrush(COLOR_BTNHIGHLIGHT));
  }
}

LRESULT ForwardToParent(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return SendMessageW(GetParent(window), message, wParam, lParam);
}

LRESULT CALLBACK PanelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_ERASEBKGND: {
      HWND dialog = GetAncestor(window, GA_ROOT);
      DialogState* state = dialog ? StateOf(dialog) : nullptr;
      ControlEntry* entry = state ? state->Entry(window) : nullptr;
      if (!entry) break;
      RECT client;
      GetClientRect(window, &client);
      PaintBackground(reinterpret_cast<HDC>(wParam), client, entry, state);
      return 1;
    }
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT:
      // Controls report to their parent; the dialog answers for all of them.
      return ForwardToParent(window, message, wParam, lParam);
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK ImageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      HWND dialog = GetAncestor(window, GA_ROOT);
      DialogState* state = dialog ? StateOf(dialog) : nullptr;
      ControlEntry* entry = state ? state->Entry(window) : nullptr;
      RECT client;
      GetClientRect(window, &client);
      if (entry)
        DrawImage(dc, client, entry->bitmap, entry->imagePercent, state->dpi, state->rightToLeft,
                  state->Brush(entry->background));
      EndPaint(window, &paint);
      return 0;
    }
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// ---- rich text ----

struct StreamSource {
  const std::string* bytes;
  size_t position;
};

DWORD CALLBACK ReadStream(DWORD_PTR cookie, LPBYTE buffer, LONG wanted, LONG* given) {
  auto* source = reinterpret_cast<StreamSource*>(cookie);
  size_t left = source->bytes->size() - source->position;
  size_t count = std::min(left, static_cast<size_t>(wanted));
  memcpy(buffer, source->bytes->data() + source->position, count);
  source->position += count;
  *given = static_cast<LONG>(count);
  return 0;
}

// A page's paragraphs keep the direction its RTF gives them (kxpack writes
// the pages of a right-to-left language with \rtlpar): a page in another
// language, a package's English licence in an Arabic wizard, stays as it is.
void LoadRichText(HWND rich, const std::wstring& path) {
  std::string bytes;
  if (path.empty() || !ReadWholeFile(path, &bytes)) return;
  StreamSource source = {&bytes, 0};
  EDITSTREAM stream = {};
  stream.dwCookie = reinterpret_cast<DWORD_PTR>(&source);
  stream.pfnCallback = ReadStream;
  const bool rtf = bytes.compare(0, 5, "{\\rtf") == 0;
  SendMessageW(rich, EM_STREAMIN, rtf ? SF_RTF : SF_TEXT, reinterpret_cast<LPARAM>(&stream));
  SendMessageW(rich, EM_SETSEL, 0, 0);
  SendMessageW(rich, WM_VSCROLL, SB_TOP, 0);
}

// Keeps a framed text off its border and sizes its RTF point sizes for the
// window's DPI rather than the system's.
void FitRichText(DialogState* state, ControlEntry* entry) {
  HWND rich = entry->window;
  const UINT system = SystemDpi();
  if (state->dpi != system)
    SendMessageW(rich, EM_SETZOOM, state->dpi, system);
  else
    SendMessageW(rich, EM_SETZOOM, 0, 0);
  if (!(entry->definition->flags & kFlagFlat)) {
    RECT client;
    GetClientRect(rich, &client);
    int padding = ScaleUnits(kRichTextPadding, state->dpi);
    InflateRect(&client, -padding, -padding / 2);
    SendMessageW(rich, EM_SETRECT, 0, reinterpret_cast<LPARAM>(&client));
  }
}

// Read-only texts are for reading: the dialog manager must neither select
// all of the text when the focus arrives nor hand it Tab and Enter.
LRESULT CALLBACK RichTextSubclass(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
  if (message == WM_GETDLGCODE)
    return DefSubclassProc(window, message, wParam, lParam) & ~(DLGC_HASSETSEL | DLGC_WANTALLKEYS | DLGC_WANTTAB);
  if (message == WM_SETFOCUS) {
    // No blinking caret in a text that cannot be edited; the keys still scroll.
    LRESULT result = DefSubclassProc(window, message, wParam, lParam);
    HideCaret(window);
    return result;
  }
  if (message == WM_NCDESTROY) RemoveWindowSubclass(window, RichTextSubclass, 0);
  return DefSubclassProc(window, message, wParam, lParam);
}

void OpenLink(HWND rich, const ENLINK* link) {
  std::wstring url(static_cast<size_t>(link->chrg.cpMax - link->chrg.cpMin) + 1, L'\0');
  TEXTRANGEW range;
  range.chrg = link->chrg;
  range.lpstrText = &url[0];
  SendMessageW(rich, EM_GETTEXTRANGE, 0, reinterpret_cast<LPARAM>(&range));
  url.resize(wcslen(url.c_str()));
  if (!url.empty()) ShellExecuteW(GetAncestor(rich, GA_ROOT), L"open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

// ---- building the window ----

bool IsPushButton(HWND window) {
  if (!window) return false;
  wchar_t name[16];
  if (!GetClassNameW(window, name, 16) || lstrcmpiW(name, L"Button") != 0) return false;
  LONG type = GetWindowLongW(window, GWL_STYLE) & BS_TYPEMASK;
  return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON;
}

HFONT FontFor(const DialogState* state, const ControlSpec& definition) {
  if (definition.flags & kFlagHeading) return state->fonts.Get(FontRole::kHeading);
  if (definition.flags & kFlagBold) return state->fonts.Get(FontRole::kBold);
  return state->fonts.Get(FontRole::kNormal);
}

struct WindowRecipe {
  const wchar_t* className;
  DWORD style;
  DWORD extendedStyle;
};

WindowRecipe RecipeFor(const DialogState* state, const ControlSpec& definition, const std::wstring& text) {
  const DWORD common = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | ((definition.flags & kFlagDisabled) ? WS_DISABLED : 0);
  const DWORD edge = (definition.flags & kFlagFlat) ? 0 : WS_EX_CLIENTEDGE;
  switch (definition.kind) {
    case ControlKind::kButton:
      return {L"BUTTON", common | WS_TABSTOP | (definition.id == kDefaultButtonId ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON), 0};
    case ControlKind::kCheckBox:
      return {L"BUTTON", common | WS_TABSTOP | BS_AUTOCHECKBOX, 0};
    case ControlKind::kRadio:
      // Checking one clears the others of the dialog.
      return {L"BUTTON", common | WS_TABSTOP | BS_AUTORADIOBUTTON, 0};
    case ControlKind::kEdit:
      return {L"EDIT", common | WS_TABSTOP | ES_AUTOHSCROLL | ((definition.flags & kFlagReadOnly) ? ES_READONLY : 0), edge};
    case ControlKind::kLabel: {
      // A label only one line high gets an ellipsis instead of a cut-off
      // second line; one created without an ampersand shows ampersands of
      // texts set later (file names) as written.
      const bool oneLine = 2 * ScaleUnits(definition.height, state->dpi) < 3 * state->fonts.LineHeight();
      DWORD style = common | (oneLine ? (SS_LEFTNOWORDWRAP | SS_ENDELLIPSIS) : SS_LEFT);
      if (text.find(L'&') == std::wstring::npos) style |= SS_NOPREFIX;
      return {L"STATIC", style, 0};
    }
    case ControlKind::kRichText:
      return {Registry().richEditClass,
              common | WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL |
                  ((definition.flags & kFlagReadOnly) ? ES_READONLY : 0),
              edge};
    case ControlKind::kImage:
      return {kImageClass, common, 0};
    case ControlKind::kProgress:
      return {PROGRESS_CLASSW, common | PBS_SMOOTH, 0};
    case ControlKind::kPanel:
      return {kPanelClass, common | WS_CLIPCHILDREN, WS_EX_CONTROLPARENT};
  }
  return {L"STATIC", common, 0};
}

// What a control stands on: its own colour (labels and panels with C, and
// rules, which are drawn in theirs), else its parent's.
COLORREF BackgroundOf(const ControlSpec& definition, COLORREF parentBackground) {
  const bool paints = definition.kind == ControlKind::kLabel || definition.kind == ControlKind::kPanel;
  const bool rule = definition.kind == ControlKind::kPanel && (definition.flags & kFlagReadOnly);
  if (paints && definition.colour >= 0 && ((definition.flags & kFlagColour) || rule)) return ToColorRef(definition.colour);
  return parentBackground;
}

// File names of the data are usually absolute (%KXSFXPATH%\...); a bare
// name means a file of the runtime folder.
std::wstring RuntimeFile(const std::wstring& name) {
  if (name.empty()) return name;
  const bool absolute = name[0] == L'\\' || name[0] == L'/' || (name.size() > 1 && name[1] == L':');
  return absolute ? name : LibraryFolder() + name;
}

// The image's scale for the window's DPI, again after the DPI changed.
void LoadControlImage(DialogState* state, ControlEntry* entry) {
  if (entry->bitmap) DeleteObject(entry->bitmap);
  entry->bitmap = LoadImageForDpi(entry->imageFile, state->dpi, &entry->imagePercent);
}

bool CreateControls(DialogState* state, const std::vector<ControlSpec>& specs, HWND parent, COLORREF parentBackground,
                    DWORD* error) {
  for (const ControlSpec& definition : specs) {
    auto entry = std::make_unique<ControlEntry>();
    entry->definition = &definition;
    entry->background = BackgroundOf(definition, parentBackground);
    const bool isFile = definition.kind == ControlKind::kRichText || definition.kind == ControlKind::kImage;
    std::wstring text = isFile ? RuntimeFile(Evaluate(definition.text)) : Evaluate(definition.text);
    WindowRecipe recipe = RecipeFor(state, definition, text);
    // Rich texts keep the direction of their RTF (LoadRichText).
    if (state->rightToLeft && definition.kind != ControlKind::kImage && definition.kind != ControlKind::kPanel &&
        definition.kind != ControlKind::kProgress && definition.kind != ControlKind::kRichText)
      recipe.extendedStyle |= WS_EX_RTLREADING;
    RECT box = ScaleBox(definition.x, definition.y, definition.width, definition.height, state->dpi);
    HWND control = CreateWindowExW(recipe.extendedStyle, recipe.className, isFile ? L"" : text.c_str(), recipe.style,
                                   box.left, box.top, box.right - box.left, box.bottom - box.top, parent,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(definition.id)), LibraryModule(), nullptr);
    if (!control) {
      *error = GetLastError();
      if (*error == 0) *error = ERROR_CANNOT_MAKE;
      return false;
    }
    entry->window = control;
    ControlEntry* created = entry.get();
    state->controls.push_back(std::move(entry));
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(FontFor(state, definition)), FALSE);

    switch (definition.kind) {
      case ControlKind::kRichText:
        // It stands where the mirrored page puts it, but its text is not
        // mirrored: a mirrored rich text would run every paragraph right to
        // left, English ones included.
        if (state->rightToLeft)
          SetWindowLongW(control, GWL_EXSTYLE, GetWindowLongW(control, GWL_EXSTYLE) & ~WS_EX_LAYOUTRTL);
        SendMessageW(control, EM_SETBKGNDCOLOR, 0,
                     (definition.flags & kFlagFlat) ? created->background : GetSysColor(COLOR_WINDOW));
        SendMessageW(control, EM_AUTOURLDETECT, TRUE, 0);
        SendMessageW(control, EM_SETEVENTMASK, 0, ENM_LINK);
        if (definition.flags & kFlagReadOnly) SetWindowSubclass(control, RichTextSubclass, 0, 0);
        LoadRichText(control, text);
        FitRichText(state, created);
        break;
      case ControlKind::kImage:
        created->imageFile = text;
        LoadControlImage(state, created);
        break;
      case ControlKind::kPanel:
        if (!CreateControls(state, definition.children, control, created->background, error)) return false;
        break;
      default:
        break;
    }
  }
  return true;
}

// ---- controls that grow to fit their texts ----

// The width a push button or check box needs for its one line of text in
// its font: the text, and a button's margins or a check box's box and gap.
int NeededWidth(DialogState* state, const ControlEntry& entry) {
  wchar_t text[kFitTextCapacity];
  const int length = GetWindowTextW(entry.window, text, kFitTextCapacity);
  if (length <= 0) return 0;
  HDC dc = GetDC(entry.window);
  HGDIOBJ old = SelectObject(dc, FontFor(state, *entry.definition));
  RECT needed = {};
  DrawTextW(dc, text, length, &needed, DT_CALCRECT | DT_SINGLELINE);
  SelectObject(dc, old);
  ReleaseDC(entry.window, dc);
  const bool button = entry.definition->kind == ControlKind::kButton;
  return needed.right + (button ? 2 * ScaleUnits(kButtonTextMargin, state->dpi) : ScaleUnits(kCheckBoxTextLead, state->dpi));
}

// The control's leading edge moved to left: what stands before it on its
// row keeps its distance, up to kGrowthGap. A push button moves along (and
// makes room in turn); an edit field or a label gives up width.
void MakeRoom(DialogState* state, const ControlEntry& grown, LONG oldLeft) {
  const int minimumGap = ScaleUnits(kGrowthGap, state->dpi);
  for (auto& other : state->controls) {
    ControlEntry& before = *other;
    if (&before == &grown || GetParent(before.window) != GetParent(grown.window)) continue;
    // On its row and before it in the data (a touching pixel allowed, as
    // the foot's Back and Next have).
    const ControlSpec& a = *before.definition;
    const ControlSpec& g = *grown.definition;
    if (before.box.top >= grown.box.bottom || before.box.bottom <= grown.box.top || a.x + a.width > g.x + 1) continue;
    const LONG gap = std::min<LONG>(oldLeft - before.box.right, minimumGap);
    const LONG shortfall = before.box.right + gap - grown.box.left;
    if (shortfall <= 0) continue;
    const ControlKind kind = before.definition->kind;
    if (kind == ControlKind::kButton) {
      const LONG left = before.box.left;
      OffsetRect(&before.box, -shortfall, 0);
      MakeRoom(state, before, left);
    } else if (kind == ControlKind::kEdit || kind == ControlKind::kLabel) {
      before.box.right = std::max(before.box.left, before.box.right - shortfall);
    }
  }
}

// Every control at its place at the current DPI; a push button or check box
// too narrow for its text grows toward its leading edge (the left, or the
// right of a mirrored page) and its neighbours make room.
void PlaceControls(DialogState* state) {
  for (auto& entry : state->controls) {
    const ControlSpec& definition = *entry->definition;
    entry->box = ScaleBox(definition.x, definition.y, definition.width, definition.height, state->dpi);
  }
  for (auto& entry : state->controls) {
    const ControlKind kind = entry->definition->kind;
    if (kind != ControlKind::kButton && kind != ControlKind::kCheckBox && kind != ControlKind::kRadio) continue;
    const LONG missing = NeededWidth(state, *entry) - (entry->box.right - entry->box.left);
    if (missing <= 0) continue;
    const LONG oldLeft = entry->box.left;
    entry->box.left -= missing;
    MakeRoom(state, *entry, oldLeft);
  }
  for (auto& entry : state->controls)
    SetWindowPos(entry->window, nullptr, entry->box.left, entry->box.top, entry->box.right - entry->box.left,
                 entry->box.bottom - entry->box.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

// Gives every control its font at the current DPI and its place.
void LayoutControls(DialogState* state) {
  for (auto& entry : state->controls)
    SendMessageW(entry->window, WM_SETFONT, reinterpret_cast<WPARAM>(FontFor(state, *entry->definition)), TRUE);
  PlaceControls(state);
  for (auto& entry : state->controls)
    if (entry->definition->kind == ControlKind::kRichText) FitRichText(state, entry.get());
}

// Tab order: the page's own controls in the order of the data, then the
// push buttons along the foot in reading order (Back, Next, Cancel).
void OrderForTabbing(DialogState* state) {
  std::vector<HWND> content, buttons;
  for (HWND child = GetWindow(state->window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    (IsPushButton(child) ? buttons : content).push_back(child);
  // In reading order: from the right in a mirrored window.
  const bool rightToLeft = state->rightToLeft;
  std::stable_sort(buttons.begin(), buttons.end(), [rightToLeft](HWND a, HWND b) {
    RECT ra, rb;
    GetWindowRect(a, &ra);
    GetWindowRect(b, &rb);
    return rightToLeft ? ra.right > rb.right : ra.left < rb.left;
  });
  // Creation order is the data's order, so content stays as it is.
  std::vector<HWND> ordered;
  for (auto& entry : state->controls)
    if (GetParent(entry->window) == state->window && !IsPushButton(entry->window)) ordered.push_back(entry->window);
  ordered.insert(ordered.end(), buttons.begin(), buttons.end());
  for (HWND window : ordered)
    SetWindowPos(window, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

// Makes the client area exactly the dialog's size in pixels.
void FitClientArea(DialogState* state) {
  const int width = ScaleUnits(state->definition.width, state->dpi);
  const int height = ScaleUnits(state->definition.height, state->dpi);
  RECT window, client;
  for (int attempt = 0; attempt < 2; ++attempt) {
    GetWindowRect(state->window, &window);
    GetClientRect(state->window, &client);
    const int frameX = (window.right - window.left) - client.right;
    const int frameY = (window.bottom - window.top) - client.bottom;
    if (client.right == width && client.bottom == height) return;
    SetWindowPos(state->window, nullptr, 0, 0, width + frameX, height + frameY,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

// The program's first icon at the window's DPI. Both programs carry one (the
// package's); a host without any keeps the window class's default.
void SetWindowIcons(DialogState* state) {
  HMODULE module = GetModuleHandleW(nullptr);
  LPWSTR name = nullptr;
  EnumResourceNamesW(
      module, RT_GROUP_ICON,
      [](HMODULE, LPCWSTR, LPWSTR found, LONG_PTR first) -> BOOL {
        *reinterpret_cast<LPWSTR*>(first) = found;
        return FALSE;
      },
      reinterpret_cast<LONG_PTR>(&name));
  if (!name) return;
  const int sizes[2] = {ScaleUnits(32, state->dpi), ScaleUnits(16, state->dpi)};
  const WPARAM kinds[2] = {ICON_BIG, ICON_SMALL};
  for (int i = 0; i < 2; ++i) {
    HICON icon = static_cast<HICON>(LoadImageW(module, name, IMAGE_ICON, sizes[i], sizes[i], 0));
    if (!icon) continue;
    SendMessageW(state->window, WM_SETICON, kinds[i], reinterpret_cast<LPARAM>(icon));
    if (state->icons[i]) DestroyIcon(state->icons[i]);
    state->icons[i] = icon;
  }
}

INT_PTR ColourControl(DialogState* state, HDC dc, HWND control) {
  ControlEntry* entry = state->Entry(control);
  if (!entry) return 0;
  const ControlKind kind = entry->definition->kind;
  if (kind != ControlKind::kLabel && kind != ControlKind::kCheckBox && kind != ControlKind::kRadio &&
      kind != ControlKind::kButton)
    return 0;
  SetBkColor(dc, entry->background);
  SetTextColor(dc, GetSysColor((entry->definition->flags & kFlagGrey) ? COLOR_GRAYTEXT : COLOR_WINDOWTEXT));
  return reinterpret_cast<INT_PTR>(state->Brush(entry->background));
}

void ChangeDpi(DialogState* state, UINT dpi, const RECT* suggested) {
  state->dpi = dpi;
  state->fonts.Create(dpi);
  for (auto& entry : state->controls)
    if (entry->definition->kind == ControlKind::kImage) LoadControlImage(state, entry.get());
  LayoutControls(state);
  if (suggested)
    SetWindowPos(state->window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                 suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
  FitClientArea(state);
  SetWindowIcons(state);
  InvalidateRect(state->window, nullptr, TRUE);
}

INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(window, DWLP_USER, lParam);
    return FALSE;
  }
  DialogState* state = StateOf(window);
  if (!state) return FALSE;
  switch (message) {
    case WM_COMMAND: {
      HWND control = reinterpret_cast<HWND>(lParam);
      ControlEntry* entry = control ? state->Entry(control) : nullptr;
      if (entry && HIWORD(wParam) == BN_CLICKED &&
          (entry->definition->kind == ControlKind::kButton || entry->definition->kind == ControlKind::kCheckBox ||
           entry->definition->kind == ControlKind::kRadio))
        Deliver(state, KX_EVENT_COMMAND, static_cast<WPARAM>(entry->definition->id));
      // Pages that show something derived from a field (the destination
      // page's free space) follow it as it is typed.
      else if (entry && HIWORD(wParam) == EN_CHANGE && entry->definition->kind == ControlKind::kEdit)
        Deliver(state, KX_EVENT_EDITED, static_cast<WPARAM>(entry->definition->id));
      return TRUE;
    }
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(lParam);
      if (header->code == EN_LINK) {
        auto* link = reinterpret_cast<ENLINK*>(lParam);
        if (link->msg == WM_LBUTTONUP) OpenLink(header->hwndFrom, link);
      }
      return TRUE;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
      return ColourControl(state, reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_CLOSE:
      PressCancel(state);
      return TRUE;
    case WM_DPICHANGED:
      ChangeDpi(state, LOWORD(wParam), reinterpret_cast<const RECT*>(lParam));
      return TRUE;
    case KX_WM_CLOSEPROGRESS:
      if (state->mode == DialogMode::kProgressBox) DestroyWindow(window);
      return TRUE;
    case WM_DESTROY:
      // A page closed before it was ever shown stands nowhere in particular.
      if (state->shown) RememberPlacement(window);
      if (state->mode == DialogMode::kProgressBox) PostQuitMessage(0);
      return TRUE;
    case WM_NCDESTROY:
      RemovePropW(window, kDialogNameProperty);
      RemovePropW(window, kDialogReadyProperty);
      if (state->nameAtom) GlobalDeleteAtom(state->nameAtom);
      SetWindowLongPtrW(window, DWLP_USER, 0);
      state->windowGone = true;
      if (state->handlerDepth == 0) delete state;
      ReleaseClasses();
      return FALSE;
  }
  return FALSE;
}

// An empty dialog template: the engine makes every control itself.
struct EmptyTemplate {
  DLGTEMPLATE header;
  WORD menu, windowClass, title;
};

}  // namespace

HWND CreateDialogWindow(const DialogSpec& definition, KxDialogHandler handler, DialogMode mode, DWORD* error) {
  *error = 0;
  AcquireClasses();
  auto* state = new DialogState;
  state->definition = definition;
  state->handler = handler;
  state->mode = mode;
  std::wstring rightToLeft;
  state->rightToLeft = GetVariable(L"KXLANGRTL", &rightToLeft) && rightToLeft == L"1";

  alignas(4) EmptyTemplate dialogTemplate = {};
  dialogTemplate.header.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN | DS_3DLOOK;
  dialogTemplate.header.dwExtendedStyle =
      WS_EX_CONTROLPARENT | WS_EX_APPWINDOW | (state->rightToLeft ? WS_EX_LAYOUTRTL : 0);
  HWND window = CreateDialogIndirectParamW(LibraryModule(), &dialogTemplate.header, nullptr, DialogProc,
                                           reinterpret_cast<LPARAM>(state));
  if (!window) {
    *error = GetLastError() ? GetLastError() : ERROR_CANNOT_MAKE;
    delete state;
    ReleaseClasses();
    return nullptr;
  }
  // From here on WM_NCDESTROY owns the state.
  state->window = window;
  state->dpi = WindowDpi(window);
  state->fonts.Create(state->dpi);
  SetWindowTextW(window, Evaluate(state->definition.caption).c_str());
  SetWindowIcons(state);
  state->nameAtom = GlobalAddAtomW(state->definition.name.c_str());
  SetPropW(window, kDialogNameProperty, reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(state->nameAtom)));
  FitClientArea(state);
  if (!CreateControls(state, state->definition.controls, window, GetSysColor(COLOR_BTNFACE), error)) {
    DestroyWindow(window);
    return nullptr;
  }
  PlaceControls(state);
  OrderForTabbing(state);
  if (FindDialogControl(window, kDefaultButtonId) && IsPushButton(FindDialogControl(window, kDefaultButtonId)))
    SendMessageW(window, DM_SETDEFID, kDefaultButtonId, 0);

  Deliver(state, KX_EVENT_CREATED, 0);
  if (!IsWindow(window)) {
    *error = ERROR_CANCELLED;
    return nullptr;
  }
  HWND focus = GetFocus();
  if (focus && IsChild(window, focus)) state->focusAfterCreate = focus;
  return window;
}

bool DialogFinished(HWND dialog, int* result) {
  DialogState* state = StateOf(dialog);
  if (!state || !state->finished) return false;
  *result = state->result;
  return true;
}

void ShowDialogWindow(HWND dialog) {
  DialogState* state = StateOf(dialog);
  if (!state) return;
  RECT window;
  GetWindowRect(dialog, &window);
  const int width = window.right - window.left, height = window.bottom - window.top;

  RECT anchor = {};
  bool known = false;
  {
    LastPlacement& placement = Placement();
    SrwGuard guard(&placement.lock, SrwGuard::kShared);
    known = placement.known;
    anchor = placement.rect;
  }
  if (!known) {
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    POINT origin = {0, 0};
    GetMonitorInfoW(MonitorFromPoint(origin, MONITOR_DEFAULTTOPRIMARY), &monitor);
    anchor = monitor.rcWork;
  }
  int x, y;
  if (known && anchor.right - anchor.left == width && anchor.bottom - anchor.top == height) {
    x = anchor.left;
    y = anchor.top;
  } else {
    x = (anchor.left + anchor.right - width) / 2;
    y = (anchor.top + anchor.bottom - height) / 2;
  }
  SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);

  ShowWindow(dialog, SW_SHOWNORMAL);
  state->shown = true;
  SetForegroundWindow(dialog);
  HWND focus = state->focusAfterCreate;
  if (!IsUsable(focus)) {
    focus = FindDialogControl(dialog, kDefaultButtonId);
    if (!IsUsable(focus)) focus = GetNextDlgTabItem(dialog, nullptr, FALSE);
  }
  if (focus) SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(focus), TRUE);
  UpdateWindow(dialog);
  SetPropW(dialog, kDialogReadyProperty, reinterpret_cast<HANDLE>(1));
}

bool RouteDialogMessage(HWND dialog, MSG* message) {
  if (message->hwnd != dialog && !IsChild(dialog, message->hwnd)) return false;
  DialogState* state = StateOf(dialog);
  if (state && message->message == WM_KEYDOWN) {
    HWND focus = GetFocus();
    switch (message->wParam) {
      case VK_RETURN:
        if (IsPushButton(focus))
          SendMessageW(focus, BM_CLICK, 0, 0);
        else
          Deliver(state, KX_EVENT_ENTER, 0);
        return true;
      case VK_ESCAPE:
        PressCancel(state);
        return true;
    }
  }
  return IsDialogMessageW(dialog, message) != FALSE;
}

HWND FindDialogControl(HWND dialog, int id) {
  if (!dialog) return nullptr;
  if (HWND direct = GetDlgItem(dialog, id)) return direct;
  struct Search {
    int id;
    HWND found;
  } search = {id, nullptr};
  EnumChildWindows(
      dialog,
      [](HWND child, LPARAM parameter) -> BOOL {
        auto* wanted = reinterpret_cast<Search*>(parameter);
        if (GetDlgCtrlID(child) != wanted->id) return TRUE;
        wanted->found = child;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

}  // namespace kxcore
