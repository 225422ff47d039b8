// The package data file (kxpackage.dat) and the names of the runtime's
// files. Portable (no Windows headers): kxpack writes the file from these
// definitions (tools/kxpack/package_data_file.cpp) and the programs read it
// with them (launcher/package_data.cpp), so the format exists once.
//
// kxpackage.dat: UTF-8 without a byte order mark, every line ended by LF (a
// CR before it is ignored), at most kPackageDataMaxBytes bytes:
//
//   kxpackage 1                      the format line, exactly this
//   product.name=Quillmark Toolkit   one line per key of kPackageKeys, each
//   ...                              exactly once; kxpack writes them in the
//                                    table's order, the programs take any
//
// No other key is allowed. Every value is judged by its key's kind with the
// name rules of base/name_rules.h; a text is at most its key's maxUnits
// UTF-16 units long.
#ifndef KX_BASE_PACKAGE_FORMAT_H
#define KX_BASE_PACKAGE_FORMAT_H

#include <stddef.h>

namespace kxformat {

constexpr char kPackageDataFormatLine[] = "kxpackage 1";
constexpr size_t kPackageDataMaxBytes = 32768;

// The longest text of the package data, in UTF-16 units: the programs'
// fields hold 260 units with the terminating zero.
constexpr size_t kPackageTextMaxUnits = 259;

enum class PackageValueKind {
  kText,          // not empty, no control character
  kOptionalText,  // a text that may be empty
  kFlag,          // "0" or "1"
  kFileName,      // one file name (kxnames::CheckFileName)
  kFolderText,    // a folder as a script text (kxnames::CheckFolderText)
  kRelativePath   // '\' separated, inside the installation folder
                  // (kxnames::CheckRelativePath)
};

// The keys, in the order kxpack writes them; the index names a key.
enum PackageKey {
  kProductName,
  kProductVersion,
  kProductPublisher,
  kProductUrl,
  kProductUninstallKey,
  kProductWizardLabel,
  kProductWindowTitle,
  kInstallFolder,
  kInstallStartMenuFolder,
  kInstallProgram,
  kInstallShortcut,
  kTasksStartProgram,
  kTasksOpenFolder,
  kTasksStartProgramSilent,
  kTasksOpenFolderSilent,
  kPackageKeyCount
};

struct PackageKeyRule {
  const char* key;
  PackageValueKind kind;
  size_t maxUnits;  // the longest value in UTF-16 units; 1 for a flag
};

// The product name leaves room for what defaults add to it (" Setup
// (64-bit)"); the uninstall key is a registry key name (255 at most); the
// shortcut's file gets ".lnk".
constexpr PackageKeyRule kPackageKeys[kPackageKeyCount] = {
    {"product.name", PackageValueKind::kFileName, 200},
    {"product.version", PackageValueKind::kText, kPackageTextMaxUnits},
    {"product.publisher", PackageValueKind::kText, kPackageTextMaxUnits},
    {"product.url", PackageValueKind::kOptionalText, kPackageTextMaxUnits},
    {"product.uninstall_key", PackageValueKind::kFileName, 255},
    {"product.wizard_label", PackageValueKind::kText, kPackageTextMaxUnits},
    {"product.window_title", PackageValueKind::kText, kPackageTextMaxUnits},
    {"install.folder", PackageValueKind::kFolderText, kPackageTextMaxUnits},
    {"install.start_menu_folder", PackageValueKind::kFolderText, kPackageTextMaxUnits},
    {"install.program", PackageValueKind::kRelativePath, kPackageTextMaxUnits},
    {"install.shortcut", PackageValueKind::kFileName, kPackageTextMaxUnits - 4},
    {"tasks.start_program", PackageValueKind::kFlag, 1},
    {"tasks.open_folder", PackageValueKind::kFlag, 1},
    {"tasks.start_program_silent", PackageValueKind::kFlag, 1},
    {"tasks.open_folder_silent", PackageValueKind::kFlag, 1},
};

// A package that offers more than English alone, or asks for the language,
// has these keys as well, each at most once, after the others (kxpack
// writes them last; the programs take them in any order); one in English
// alone has none of them:
//
//   languages=1031,1033              the Windows language ids of the languages
//                                    offered, decimal without leading zeros,
//                                    the first the fallback; without the key
//                                    English (1033) alone
//   languages.ask=1                  "1": a language box before the wizard
//   product.window_title.1033=...    the title and label in the language of
//   product.wizard_label.1033=...    that id (one of languages=), where they
//                                    differ from product.window_title and
//                                    product.wizard_label, the first
//                                    language's; texts as kText
// Two flags a package may have as well, each at most once and "1" when
// given (kxpack writes them, when the description sets them, before the
// languages' keys; a package without them has no such line):
//
//   install.allow_downgrade=1        setup installs over a newer installed
//                                    version without /ALLOWDOWNGRADE
//   install.msi_exit_codes=1         "another run in progress" ends with 1618
//                                    and "restart needed" with 3010, the
//                                    Windows Installer's numbers deployment
//                                    tools already know
constexpr char kAllowDowngradeKey[] = "install.allow_downgrade";
constexpr char kMsiExitCodesKey[] = "install.msi_exit_codes";

constexpr char kLanguagesKey[] = "languages";
constexpr char kLanguagesAskKey[] = "languages.ask";
constexpr size_t kPackageLanguagesMax = 32;
constexpr unsigned short kEnglishLanguageId = 1033;

// Who the package installs for, a line of its own after the fixed keys
// (launcher/package_scope.h); without it, all users:
//
//   install.scope=current_user       all_users, current_user or both
//
// "both": each run chooses (the scope page, /ALLUSERS, /CURRENTUSER).
constexpr char kInstallScopeKey[] = "install.scope";
constexpr char kScopeAllUsers[] = "all_users";
constexpr char kScopeCurrentUser[] = "current_user";
constexpr char kScopeBoth[] = "both";

// The files of the runtime archives, each name written once: as a narrow
// text for kxpack and, with "W", a wide one for the programs. Both programs'
// runtimes hold the core library, the language table, the dialogs, the
// header image, the program library (what the programs run once their
// runtime is unpacked) and the package data; setup's also the file properties, the
// watermark, the pages (kxwelc, kxlic and kxfin with the language's name and
// ".rtf") and the uninstaller. The programs look names up without regard to
// case.
#define KX_FORMAT_NAME(identifier, text) \
  constexpr char identifier[] = text;    \
  constexpr wchar_t identifier##W[] = L"" text
KX_FORMAT_NAME(kCoreLibraryFile, "KXCore64.dll");
KX_FORMAT_NAME(kProgramLibraryFile, "kxprogram64.dll");
KX_FORMAT_NAME(kLanguageTableFile, "kxlng.dat");
KX_FORMAT_NAME(kDialogsFile, "kxdlg.dat");
KX_FORMAT_NAME(kFilePropertiesFile, "kxfprop.dat");
KX_FORMAT_NAME(kHeaderImageFile, "kxheader.bmp");
KX_FORMAT_NAME(kWatermarkImageFile, "kxwaterm.bmp");
KX_FORMAT_NAME(kPackageDataFile, "kxpackage.dat");
// The uninstaller program setup copies into the installation folder.
KX_FORMAT_NAME(kUninstallerFile, "kxremove.dat");
// What setup writes into the installation folder from it: the uninstaller
// and its uninstall log.
KX_FORMAT_NAME(kInstalledUninstaller, "Uninst.exe");
KX_FORMAT_NAME(kInstalledUninstallLog, "Uninst.dat");
#undef KX_FORMAT_NAME

// A wizard image may come at several scales, in per cent of its size at 96
// DPI: "kxwaterm.bmp" is the one at 100 %, "kxwaterm200.bmp" the one at
// 200 % (the stem, the scale, ".bmp"). Any of them may be missing; the
// dialogs show the one closest to the window's DPI. Each is a BMP as the
// author gave it (8 bits with a palette or 24), or one kxpack made of a PNG:
// 24 bits, or 32 bits whose fourth byte is an alpha the colours are
// premultiplied with.
constexpr int kImageScales[] = {100, 125, 150, 175, 200, 250, 300};
constexpr int kImageScaleCount = sizeof kImageScales / sizeof kImageScales[0];

}  // namespace kxformat

#endif
