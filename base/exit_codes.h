// Every code the programs end with, and the launcher's own error codes.
// Append only: deployment tools key on these numbers.
#ifndef KX_BASE_EXIT_CODES_H
#define KX_BASE_EXIT_CODES_H

// Launcher error codes; the process exits with the negated value after the
// fatal message whose second line is string table entry (code + 1).
enum LauncherError {
  kLauncherOk = 0,
  kLauncherNoTempFolder = 1,     // module path, temporary folder or runtime folder not had
  kLauncherRuntimeNotWritten = 2,// runtime files not written (also out of memory while
                                 // unpacking them), or the core library not bound
  kLauncherCorruptedData = 3     // container rejected; runtime archive not found, not
                                 // opened or damaged (any decoder error but memory)
};
// No other number leaves the launcher: the LZMA SDK's and Windows' codes
// overlap the ones above, so a failed unpacking is mapped to 2 or 3.
// docs/exit-codes.md holds the table of both programs.

// Results of the install script and of the uninstaller flow.
enum ScriptExitCode {
  kExitSuccess = 0,              // also any number the script leaves in EXITCODE
  kExitExtractionFailed = 1,     // setup: the payload could not be unpacked
  kExitCancelled = 2,            // the user cancelled or declined; both: a command
                                 // line with an unknown switch or a refused /LOG
  kExitAborted = 3,              // setup: a page could not be shown;
                                 // uninstaller: no rights, or a step failed
  kExitUninstallerNotWritten = 4,// setup: the uninstaller or its log could not
                                 // be written; the installation was undone.
                                 // Also before the first page: the runtime's
                                 // uninstaller is missing or could not run
  kExitAnotherInstance = 5,      // both: a setup or uninstaller of the same
                                 // package is running; nothing was changed
  kExitDowngradeRefused = 6,     // setup: a newer version is installed and no
                                 // downgrade was allowed; nothing was changed
  kExitRestartNeeded = 7,        // setup: installed, but files that programs
                                 // held open are replaced at the next restart
  kExitFilesInUse = 8,           // setup: files held open could not be
                                 // replaced, not even at the next restart;
                                 // the installation was undone
  kExitDeclarationFailed = 9,    // setup: a registry value, variable, PATH entry
                                 // or association the package declares could not
                                 // be written, or a program it runs after the
                                 // files failed; the installation was undone.
                                 // Uninstaller: the program it runs first failed;
                                 // nothing was removed
  kExitNeedsAdministrator = 10   // setup: an installation for all users (/ALLUSERS,
                                 // or the default of a package that offers both
                                 // scopes) without administrator rights; nothing
                                 // was changed
};

// The Windows Installer's numbers for two of them, which a package may ask
// for (install.msi_exit_codes): deployment tools know these already.
constexpr int kMsiInstallAlreadyRunning = 1618;
constexpr int kMsiSuccessRebootRequired = 3010;

// The code the process ends with: code itself, or for a package that asks
// for the Windows Installer's numbers, 1618 for 5 and 3010 for 7.
inline int DeploymentExitCode(int code, bool msiExitCodes) {
  if (!msiExitCodes) return code;
  if (code == kExitAnotherInstance) return kMsiInstallAlreadyRunning;
  if (code == kExitRestartNeeded) return kMsiSuccessRebootRequired;
  return code;
}

// After the script guard caught a structured exception, the exit code is the
// exception code read as a signed 32-bit number (c0000005 gives -1073741819).

// Exception codes raised by the core library binder.
enum CoreBindingException : unsigned long {
  kCoreLibraryNotLoaded = 0xC000007EUL,
  kCoreOperationMissing = 0xC000007FUL
};

#endif
