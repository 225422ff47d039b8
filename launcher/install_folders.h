// The folders setup may make its own: the installation folder and the
// Start-menu folder of a package, and the folder of an earlier installation
// that setup offers again. kxpack's text rules (base/name_rules.h) cannot
// tell that "%PROGFILESDIR%" names Program Files itself once the core library
// has expanded it, or that "C:\Windows\System32" is the system folder; setup
// judges the expanded folder on the machine it runs on, since an
// installation's folder is written into and removed by its uninstaller.
#ifndef KX_LAUNCHER_INSTALL_FOLDERS_H
#define KX_LAUNCHER_INSTALL_FOLDERS_H

enum class InstallFolderVerdict {
  kAllowed,
  kNotAFolderPath,  // not a full folder path that Windows takes as written:
                    // no drive or share, a "\\?\" or "\\.\" prefix, an empty,
                    // "." or ".." component, a trailing separator, a name
                    // Windows refuses (stream colon, device, control
                    // character, trailing dot or blank), 260 units or more
  kDriveRoot,       // the root of a drive or share
  kWindowsFolder,   // the Windows folder or a folder inside it
  kKnownFolder      // a system folder itself or a folder that holds one:
                    // Program Files (both) and the common program files, the
                    // all-users Start-menu programs folder, the Start menu,
                    // ProgramData, the profiles, the user's application data;
                    // PROGFILESDIR and COMPROGMENUDIR as the core library
                    // names them
};

// Judges a folder (a full path, '\' or '/' separated). Short names, letter
// case and links are resolved as far as the folder exists. The core library
// must be bound: PROGFILESDIR and COMPROGMENUDIR are read from it.
InstallFolderVerdict JudgeInstallFolder(const wchar_t* folder);

// What a verdict other than kAllowed means, for the run log.
const wchar_t* InstallFolderVerdictText(InstallFolderVerdict verdict);

// Judges g_package's install.folder and install.start_menu_folder as the
// core library expands them. False, with the key, its value and the reason
// in the run log, when either is not allowed.
bool PackageFoldersAllowed();

#endif
