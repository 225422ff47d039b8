// The package's own values: names, version, folders, the program and the
// tasks. kxpack writes them into both runtime archives as kxpackage.dat; the
// launcher reads the file right after unpacking the runtime, before the
// program's work, into g_package. One setup stub and one uninstaller stub thus
// serve every package.
//
// The file's format, its keys and their kinds are base/package_format.h.
// Every value is held to the rule kxpack judges its key by (base/name_rules.h):
// the file travels inside the package, where anyone can change it, and a
// value kxpack would refuse is not allowed. Texts are taken as written
// (SetVarLiteral hands them to the core library), except install.folder and
// install.start_menu_folder, which are script texts (%PROGFILESDIR%\Quillmark).
// The languages' keys of a package that offers more than English
// (base/package_format.h) are read by launcher/package_languages.cpp.
#ifndef KX_LAUNCHER_PACKAGE_DATA_H
#define KX_LAUNCHER_PACKAGE_DATA_H

#include <stddef.h>

#include "base/package_format.h"
#include "launcher/package_scope.h"

// Capacity of every text field in UTF-16 units, terminating zero included.
constexpr size_t kPackageTextCapacity = kxformat::kPackageTextMaxUnits + 1;
// "Software\Microsoft\Windows\CurrentVersion\Uninstall\" and the key name.
constexpr size_t kUninstallRegistryKeyCapacity = 320;
// The largest kxpackage.dat the reader accepts, in bytes.
constexpr size_t kPackageDataMaxBytes = kxformat::kPackageDataMaxBytes;

constexpr wchar_t kUninstallKeyParent[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr size_t kPackageLanguageCapacity = kxformat::kPackageLanguagesMax;
constexpr unsigned short kEnglishLanguageId = kxformat::kEnglishLanguageId;

// The title and wizard label in one language.
struct PackageLanguageTexts {
  unsigned short languageId;
  wchar_t windowTitle[kPackageTextCapacity];  // empty: product.window_title
  wchar_t wizardLabel[kPackageTextCapacity];  // empty: product.wizard_label
};

struct PackageLanguages {
  unsigned count;                                   // of ids; at least 1 once read
  unsigned short ids[kPackageLanguageCapacity];     // offered, the first the fallback
  unsigned char ask;                                // languages.ask
  unsigned textCount;
  PackageLanguageTexts texts[kPackageLanguageCapacity];
};

struct PackageData {
  wchar_t productName[kPackageTextCapacity];       // product.name: DisplayName
  wchar_t productVersion[kPackageTextCapacity];    // product.version
  wchar_t publisher[kPackageTextCapacity];         // product.publisher
  wchar_t publisherUrl[kPackageTextCapacity];      // product.url; may be empty
  wchar_t uninstallKeyName[kPackageTextCapacity];  // product.uninstall_key
  wchar_t wizardLabel[kPackageTextCapacity];       // product.wizard_label
  wchar_t windowTitle[kPackageTextCapacity];       // product.window_title
  wchar_t installFolder[kPackageTextCapacity];     // install.folder (script text)
  wchar_t startMenuFolder[kPackageTextCapacity];   // install.start_menu_folder (script text)
  wchar_t programFile[kPackageTextCapacity];       // install.program, relative, '\' separated
  wchar_t shortcutName[kPackageTextCapacity];      // install.shortcut, without ".lnk"
  unsigned char startProgram;                      // tasks.start_program
  unsigned char openFolder;                        // tasks.open_folder
  unsigned char startProgramSilent;                // tasks.start_program_silent
  unsigned char openFolderSilent;                  // tasks.open_folder_silent
  // Derived: kUninstallKeyParent + uninstallKeyName, below HKEY_LOCAL_MACHINE
  // in the native registry view.
  wchar_t uninstallRegistryKey[kUninstallRegistryKeyCapacity];
  PackageLanguages languages;
  // install.scope (launcher/package_scope.h).
  PackageScopeValue scope;
  unsigned char allowDowngrade;                    // install.allow_downgrade, 0 when absent
  unsigned char msiExitCodes;                      // install.msi_exit_codes, 0 when absent
};

// Filled by LoadPackageData; read by the install script and the uninstaller.
extern PackageData g_package;

enum PackageDataResult {
  kPackageDataOk = 0,
  kPackageDataNotRead = 1,   // missing, unreadable or larger than kPackageDataMaxBytes
  kPackageDataDamaged = 2    // wrong format line, bad UTF-8, a key unknown, missing or
                             // repeated, a value too long, empty, or one its key's
                             // rule refuses (a NUL counts as a control character)
};

// Reads the file's bytes into *data (cleared first), and the declarations'
// lines into g_declarations (launcher/package_declarations.h). On any
// failure both are left cleared, so nothing half-read is ever used.
int ParsePackageData(const char* bytes, size_t size, PackageData* data);

// Reads kxpackage.dat from the folder (ending in a backslash) into g_package.
int LoadPackageData(const wchar_t* folder);

// The package's title and wizard label in a language: its own, else the
// package's (the first language's).
const wchar_t* PackageWindowTitle(const PackageData& data, unsigned languageId);
const wchar_t* PackageWizardLabel(const PackageData& data, unsigned languageId);

// The languages' keys (launcher/package_languages.cpp). IsPackageLanguageKey
// tells them from the others; StorePackageLanguageValue keeps one line's
// value (false: not allowed, repeated, or beyond the capacity);
// CompletePackageLanguages checks them once all lines are read (false: a
// text for a language not offered) and makes English the one language of a
// package that names none.
bool IsPackageLanguageKey(const char* key, size_t length);
bool StorePackageLanguageValue(const char* key, size_t keyLength, const char* value, size_t valueLength,
                               PackageLanguages* languages);
bool CompletePackageLanguages(PackageLanguages* languages);

#endif
