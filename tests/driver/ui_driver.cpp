#include "tests/driver/ui_driver.h"

#include "base/crc32.h"

#include <commctrl.h>
#include <stdlib.h>

#include <algorithm>

#include "tests/support/process_runner.h"
#include "tests/support/test_files.h"

namespace kxdrive {
namespace {

constexpr DWORD kPollMs = 50;
constexpr int kMessageTextId = 0xFFFF;
constexpr wchar_t kDialogNameProperty[] = L"KXDialogName";
constexpr wchar_t kDialogReadyProperty[] = L"KXDialogReady";

struct EnumContext {
  DWORD processId;
  std::vector<HWND>* windows;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM parameter) {
  auto* context = reinterpret_cast<EnumContext*>(parameter);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == context->processId && IsWindowVisible(window)) context->windows->push_back(window);
  return TRUE;
}

bool ProcessEnded(HANDLE process) { return process && WaitForSingleObject(process, 0) == WAIT_OBJECT_0; }

// Lets the window's thread finish what it is doing (painting included)
// before we look at it.
void Settle(HWND window) {
  DWORD_PTR ignored;
  SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &ignored);
  RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
  SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &ignored);
}

// ---- PNG: stored deflate blocks, which every reader takes ----

void PutBig32(std::string* out, unsigned long value) {
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<char>((value >> shift) & 0xFF));
}

void PutChunk(std::string* png, const char* type, const std::string& data) {
  PutBig32(png, static_cast<unsigned long>(data.size()));
  std::string body = std::string(type, 4) + data;
  png->append(body);
  PutBig32(png, kxcrc::Crc32(reinterpret_cast<const unsigned char*>(body.data()), body.size()));
}

// One line of the transcript: line breaks flattened, long texts cut.
std::string Recorded(const std::wstring& text) {
  constexpr size_t kLongest = 240;
  std::string narrow = kxtest::Narrow(text.size() > kLongest ? text.substr(0, kLongest) + L"..." : text);
  std::replace(narrow.begin(), narrow.end(), '\r', ' ');
  std::replace(narrow.begin(), narrow.end(), '\n', ' ');
  return narrow;
}

std::wstring FileLabel(const std::wstring& text) {
  std::wstring label;
  for (wchar_t c : text.substr(0, 40)) label += iswalnum(c) ? c : L'-';
  return label;
}

}  // namespace

std::vector<HWND> TopWindows(DWORD processId) {
  std::vector<HWND> windows;
  EnumContext context = {processId, &windows};
  EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&context));
  return windows;
}

HWND WaitForWindow(DWORD processId, HANDLE process, const std::function<bool(HWND)>& predicate, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    for (HWND window : TopWindows(processId))
      if (predicate(window)) return window;
    if (ProcessEnded(process) || GetTickCount() - start > timeoutMs) return nullptr;
    // Wake as soon as the process ends; otherwise poll again shortly.
    if (process)
      WaitForSingleObject(process, kPollMs);
    else
      Sleep(kPollMs);
  }
}

std::wstring PageName(HWND window) {
  if (!GetPropW(window, kDialogReadyProperty)) return std::wstring();
  ATOM atom = static_cast<ATOM>(reinterpret_cast<ULONG_PTR>(GetPropW(window, kDialogNameProperty)));
  wchar_t name[256];
  UINT length = atom ? GlobalGetAtomNameW(atom, name, 256) : 0;
  return std::wstring(name, length);
}

std::wstring WindowText(HWND window) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length) || length == 0)
    return std::wstring();
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]), SMTO_ABORTIFHUNG, 5000,
                      &copied);
  text.resize(static_cast<size_t>(copied));
  return text;
}

std::wstring ClassName(HWND window) {
  wchar_t name[256];
  int length = GetClassNameW(window, name, 256);
  return std::wstring(name, static_cast<size_t>(length > 0 ? length : 0));
}

bool IsMessageBox(HWND window) {
  return ClassName(window) == L"#32770" && GetDlgItem(window, kMessageTextId) != nullptr;
}

std::wstring MessageBoxText(HWND messageBox) { return WindowText(GetDlgItem(messageBox, kMessageTextId)); }

HWND WaitForMessageBox(DWORD processId, HANDLE process, DWORD timeoutMs) {
  return WaitForWindow(processId, process, IsMessageBox, timeoutMs);
}

HWND Control(HWND dialog, int id) {
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

std::wstring ControlText(HWND dialog, int id) {
  HWND control = Control(dialog, id);
  return control ? WindowText(control) : std::wstring();
}

bool IsVisible(HWND control) { return control && IsWindowVisible(control); }

bool IsEnabled(HWND control) { return control && IsWindowEnabled(control); }

bool IsChecked(HWND control) {
  DWORD_PTR state = 0;
  return control && SendMessageTimeoutW(control, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 5000, &state) &&
         state == BST_CHECKED;
}

bool Press(HWND dialog, int id) {
  HWND button = Control(dialog, id);
  if (!IsVisible(button) || !IsEnabled(button)) return false;
  PostMessageW(button, BM_CLICK, 0, 0);
  return true;
}

bool PressKey(HWND window, WORD key) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  DWORD thread = GetWindowThreadProcessId(window, nullptr);
  HWND target = GetGUIThreadInfo(thread, &info) && info.hwndFocus ? info.hwndFocus : window;
  const UINT scan = MapVirtualKeyW(key, MAPVK_VK_TO_VSC);
  PostMessageW(target, WM_KEYDOWN, key, 1 | (scan << 16));
  PostMessageW(target, WM_KEYUP, key, 1 | (scan << 16) | (3u << 30));
  return true;
}

bool AnswerMessageBox(HWND messageBox, int buttonId) {
  HWND button = GetDlgItem(messageBox, buttonId);
  if (!button) return false;
  PostMessageW(messageBox, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED), reinterpret_cast<LPARAM>(button));
  return true;
}

bool WritePng(const std::wstring& path, int width, int height, const std::vector<unsigned char>& rgb) {
  if (width <= 0 || height <= 0 || rgb.size() != static_cast<size_t>(width) * height * 3) return false;
  std::string raw;
  const size_t stride = static_cast<size_t>(width) * 3;
  for (int y = 0; y < height; ++y) {
    raw.push_back('\0');  // filter: none
    raw.append(reinterpret_cast<const char*>(rgb.data()) + y * stride, stride);
  }
  std::string zlib = "\x78\x01";
  for (size_t offset = 0; offset < raw.size() || offset == 0;) {
    const size_t length = std::min<size_t>(raw.size() - offset, 65535);
    const bool last = offset + length == raw.size();
    zlib.push_back(last ? '\x01' : '\x00');
    zlib.push_back(static_cast<char>(length & 0xFF));
    zlib.push_back(static_cast<char>(length >> 8));
    zlib.push_back(static_cast<char>(~length & 0xFF));
    zlib.push_back(static_cast<char>((~length >> 8) & 0xFF));
    zlib.append(raw, offset, length);
    offset += length;
    if (last) break;
  }
  unsigned long a = 1, b = 0;
  for (unsigned char c : raw) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  PutBig32(&zlib, (b << 16) | a);

  std::string header;
  PutBig32(&header, static_cast<unsigned long>(width));
  PutBig32(&header, static_cast<unsigned long>(height));
  header += std::string("\x08\x02\x00\x00\x00", 5);  // 8-bit RGB, no interlace
  std::string png = "\x89PNG\r\n\x1a\n";
  PutChunk(&png, "IHDR", header);
  PutChunk(&png, "IDAT", zlib);
  PutChunk(&png, "IEND", std::string());
  return kxtest::WriteBytes(path, png);
}

bool SaveScreenshot(HWND window, const std::wstring& pngPath) {
  Settle(window);
  RECT rect;
  if (!GetWindowRect(window, &rect)) return false;
  const int width = rect.right - rect.left, height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0) return false;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool saved = false;
  if (bitmap) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    if (BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY | CAPTUREBLT)) {
      GdiFlush();
      std::vector<unsigned char> rgb(static_cast<size_t>(width) * height * 3);
      const unsigned char* pixel = static_cast<const unsigned char*>(bits);
      for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i) {
        rgb[i * 3] = pixel[i * 4 + 2];
        rgb[i * 3 + 1] = pixel[i * 4 + 1];
        rgb[i * 3 + 2] = pixel[i * 4];
      }
      saved = WritePng(pngPath, width, height, rgb);
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
  }
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return saved;
}

// ---- Session ----

Session::Session(const std::wstring& name) : name_(name) {
  std::wstring root = kxtest::TestDataPath("KX_TEST_SCREENSHOTS");
  if (root.empty()) return;
  CreateDirectoryW(root.c_str(), nullptr);
  folder_ = root + L"\\" + name + L"\\";
  kxtest::RemoveTree(folder_);
  CreateDirectoryW(folder_.c_str(), nullptr);
}

Session::~Session() {
  if (child_ && child_->Wait(0) == STILL_ACTIVE) {
    Note(L"program still running at the end of the test: ended");
    child_->Kill();
  }
}

bool Session::Start(const std::wstring& program, const std::wstring& arguments,
                    const std::map<std::wstring, std::wstring>& environment) {
  kxtest::LaunchOptions options;
  options.arguments = arguments;
  options.environment = environment;
  child_ = std::make_unique<kxtest::ChildProcess>();
  if (!child_->Start(program, options)) {
    Note(L"start failed: " + program + L" (Windows error " + std::to_wstring(child_->startError()) + L")");
    child_.reset();
    return false;
  }
  Note(L"start " + program + (arguments.empty() ? L"" : L" " + arguments));
  return true;
}

DWORD Session::processId() const { return child_ ? child_->id() : 0; }

HANDLE Session::process() const { return child_ ? child_->handle() : nullptr; }

void Session::Note(const std::wstring& line) {
  if (folder_.empty()) return;
  std::string bytes;
  kxtest::ReadBytes(folder_ + L"transcript.txt", &bytes);
  bytes += Recorded(line) + "\r\n";
  kxtest::WriteBytes(folder_ + L"transcript.txt", bytes);
}

void Session::Record(HWND window, const std::wstring& what) {
  Note(what + L": \"" + WindowText(window) + L"\"");
  EnumChildWindows(
      window,
      [](HWND child, LPARAM parameter) -> BOOL {
        auto* session = reinterpret_cast<Session*>(parameter);
        std::wstring state;
        if (!IsVisible(child)) state += L" hidden";
        if (!IsEnabled(child)) state += L" disabled";
        if (ClassName(child) == L"Button" && IsChecked(child)) state += L" checked";
        DWORD_PTR position = 0;
        if (ClassName(child) == PROGRESS_CLASSW &&
            SendMessageTimeoutW(child, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 5000, &position))
          state += L" at " + std::to_wstring(position);
        session->Note(L"  " + std::to_wstring(GetDlgCtrlID(child)) + L" " + ClassName(child) + L" \"" +
                      WindowText(child) + L"\"" + state);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(this));
  if (folder_.empty()) return;
  wchar_t number[8];
  wsprintfW(number, L"%02d-", ++shots_);
  std::wstring file = folder_ + number + FileLabel(what) + L".png";
  if (!SaveScreenshot(window, file)) Note(L"  (no screenshot)");
}

HWND Session::WaitForPage(const std::wstring& dialogName, DWORD timeoutMs) {
  HWND page = WaitForWindow(
      processId(), process(), [&](HWND window) { return PageName(window) == dialogName; }, timeoutMs);
  if (page)
    Record(page, L"page " + dialogName);
  else
    Note(L"page " + dialogName + L" did not appear");
  return page;
}

HWND Session::WaitForMessageBox(const std::wstring& textPart, DWORD timeoutMs) {
  HWND box = WaitForWindow(
      processId(), process(),
      [&](HWND window) { return IsMessageBox(window) && MessageBoxText(window).find(textPart) != std::wstring::npos; },
      timeoutMs);
  if (box)
    Record(box, L"message " + MessageBoxText(box));
  else
    Note(L"message box with \"" + textPart + L"\" did not appear");
  return box;
}

bool Session::Answer(const std::wstring& textPart, int buttonId, DWORD timeoutMs) {
  HWND box = WaitForMessageBox(textPart, timeoutMs);
  if (!box) return false;
  Note(L"answer " + std::to_wstring(buttonId));
  return AnswerMessageBox(box, buttonId);
}

bool Session::Press(HWND dialog, int id) {
  bool pressed = kxdrive::Press(dialog, id);
  Note(L"press " + std::to_wstring(id) + (pressed ? L"" : L" (refused: hidden, disabled or missing)"));
  return pressed;
}

bool Session::PressKey(HWND window, WORD key) {
  Note(L"key " + std::to_wstring(key));
  return kxdrive::PressKey(window, key);
}

DWORD Session::WaitForExit(DWORD timeoutMs) {
  DWORD code = child_ ? child_->Wait(timeoutMs) : STILL_ACTIVE;
  wchar_t text[32];
  wsprintfW(text, L"exit code 0x%08X (%d)", code, static_cast<int>(code));
  Note(code == STILL_ACTIVE ? L"program did not end" : text);
  return code;
}

}  // namespace kxdrive
