#include "script/shortcut.h"

#include <shlobj.h>

#include "core/kxcore.h"

namespace {

constexpr int kShortcutTextBytes = static_cast<int>(kShortcutTextCapacity * sizeof(wchar_t));

// One evaluated text; absent when the caller gave null.
struct ShortcutText {
  wchar_t value[kShortcutTextCapacity];
  bool present = false;
  bool fits = true;

  explicit ShortcutText(const wchar_t* text) {
    value[0] = L'\0';
    if (!text) return;
    present = true;
    int length = EvalVarBuf(text, value, kShortcutTextBytes);
    fits = length >= 0 && static_cast<size_t>(length) < kShortcutTextCapacity;
  }
};

template <typename Interface>
struct ComReleaser {
  Interface* object = nullptr;
  ~ComReleaser() {
    if (object) object->Release();
  }
};

}  // namespace

HRESULT CreateShortcut(const wchar_t* target, const wchar_t* arguments, const wchar_t* linkFile,
                       const wchar_t* description, int showCommand, const wchar_t* workingFolder,
                       const wchar_t* iconFile, int iconIndex) {
  if (!target || !linkFile) return E_INVALIDARG;
  // Evaluated up front, so that a text that does not fit leaves no half-set
  // link behind: a cut path would point the shortcut at the wrong file.
  const ShortcutText targetText(target);
  const ShortcutText argumentsText(arguments);
  const ShortcutText descriptionText(description);
  const ShortcutText folderText(workingFolder);
  const ShortcutText iconText(iconFile);
  const ShortcutText linkText(linkFile);
  if (!targetText.fits || !argumentsText.fits || !descriptionText.fits || !folderText.fits || !iconText.fits ||
      !linkText.fits)
    return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);

  return SaveShortcut(targetText.value, argumentsText.present ? argumentsText.value : nullptr, linkText.value,
                      descriptionText.value, showCommand, folderText.value, iconText.value, iconIndex);
}

HRESULT SaveShortcut(const wchar_t* target, const wchar_t* arguments, const wchar_t* linkFile,
                     const wchar_t* description, int showCommand, const wchar_t* workingFolder,
                     const wchar_t* iconFile, int iconIndex) {
  if (!target || !linkFile) return E_INVALIDARG;
  auto hasText = [](const wchar_t* text) { return text && text[0]; };
  ComReleaser<IShellLinkW> link;
  HRESULT result = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                    reinterpret_cast<void**>(&link.object));
  if (FAILED(result)) return result;

  // The Set calls only fill the object; what counts is whether Save works.
  link.object->SetPath(target);
  if (arguments) link.object->SetArguments(arguments);
  if (hasText(description)) link.object->SetDescription(description);
  if (showCommand > 0) link.object->SetShowCmd(showCommand);
  if (hasText(workingFolder)) link.object->SetWorkingDirectory(workingFolder);
  if (iconIndex >= 0 && hasText(iconFile)) link.object->SetIconLocation(iconFile, iconIndex);

  ComReleaser<IPersistFile> file;
  result = link.object->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file.object));
  if (FAILED(result)) return result;
  return file.object->Save(linkFile, TRUE);
}
