#include "launcher/run_language.h"

#include <stdio.h>
#include <wchar.h>

#include "base/message_box.h"
#include "core/kxcore.h"
#include "launcher/install_scope.h"
#include "launcher/literal_text.h"
#include "launcher/package_data.h"
#include "launcher/script_flags.h"

namespace {

// "1031,1033": five digits and a comma for each language.
constexpr size_t kLanguageListCapacity = kPackageLanguageCapacity * 6 + 1;

}  // namespace

void PublishPackageLanguages(ProgramKind kind) {
  wchar_t list[kLanguageListCapacity] = L"";
  size_t length = 0;
  for (unsigned i = 0; i < g_package.languages.count; ++i)
    length += static_cast<size_t>(_snwprintf(list + length, kLanguageListCapacity - length, i ? L",%u" : L"%u",
                                             static_cast<unsigned>(g_package.languages.ids[i])));
  SetVar(L"KXLANGUAGES", list);
  if (kind != ProgramKind::Uninstaller) return;
  // The uninstaller speaks the language the product was installed in,
  // whoever removes it.
  DWORD recorded = 0;
  DWORD size = sizeof recorded;
  if (RegGetValueW(ScopeRootKey(), g_package.uninstallRegistryKey, L"Language", RRF_RT_REG_DWORD, nullptr,
                   &recorded, &size) == ERROR_SUCCESS &&
      recorded > 0 && recorded <= 0xFFFF) {
    wchar_t text[8];
    _snwprintf(text, 8, L"%lu", recorded);
    text[7] = L'\0';
    SetVar(L"KXLANGRECORDED", text);
  }
}

unsigned RunLanguageId() {
  const unsigned id = static_cast<unsigned>(wcstoul(EvalVar(L"%KXLANGID%"), nullptr, 10));
  return id ? id : kEnglishLanguageId;
}

void ApplyRunLanguage() {
  wcscpy(g_launcher.title, PackageWindowTitle(g_package, RunLanguageId()));
  SetVarLiteral(L"APPTITLE", g_launcher.title);
  // The programs' boxes as the library's (which it set itself).
  g_launcher.rightToLeft = FlagIsSet(L"%KXLANGRTL%");
  SetMessageBoxRightToLeft(g_launcher.rightToLeft);
}
