// The literal values of the package this setup program installs. Texts are
// script texts: their %NAME% references are expanded where they are used.
#ifndef KX_SCRIPT_PACKAGE_H
#define KX_SCRIPT_PACKAGE_H

constexpr wchar_t kProductName[] = L"Quillmark Toolkit";
constexpr wchar_t kWizardLabel[] = L"Quillmark Toolkit Setup";
constexpr wchar_t kProductVersion[] = L"2020.01.15.01";
constexpr wchar_t kPublisher[] = L"Quillmark, LLC";
constexpr wchar_t kPublisherUrl[] = L"https://www.quillmark.example";
constexpr wchar_t kLanguageName[] = L"English";
constexpr wchar_t kLanguageId[] = L"1033";

constexpr wchar_t kDefaultDestination[] = L"%PROGFILESDIR%\\Quillmark";
constexpr wchar_t kDefaultStartMenuFolder[] = L"%COMPROGMENUDIR%\\Quillmark";

constexpr wchar_t kUninstallKeyName[] = L"Quillmark Toolkit812953";
// Below HKEY_LOCAL_MACHINE, in the native registry view.
constexpr wchar_t kUninstallRegistryKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillmark Toolkit812953";

constexpr wchar_t kProgramFile[] = L"%DESTPATH%\\Quillmark Toolkit.exe";
constexpr wchar_t kShortcutFile[] = L"%SHORTCUTPATH%\\Quillmark Toolkit.lnk";
constexpr wchar_t kUninstallerFile[] = L"%DESTPATH%\\Uninst.exe";
constexpr wchar_t kUninstallerIcon[] = L"%DESTPATH%\\Uninst.exe,0";

#endif
