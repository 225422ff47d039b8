// What Windows accepts as the names and folders of an installation. kxpack
// judges a package's description by these rules before it builds anything,
// and the programs judge the package data (kxpackage.dat) by the very same
// functions when they start: a value kxpack would refuse stops a package
// whose data was made or changed by other means.
//
// Portable: no Windows header and no file system or locale behind it. Text is
// UTF-16 (char16_t) with its length in units, as the programs hold it; kxpack
// converts its UTF-8 first. Each check names the first problem it finds, so
// that kxpack can word its own message and the programs can log it.
#ifndef KX_BASE_NAME_RULES_H
#define KX_BASE_NAME_RULES_H

#include <stddef.h>

namespace kxnames {

// The longest entry path setup installs, in UTF-16 units: behind the shortest
// installation folder ("C:\x\") it reaches Windows' limit of 32,767 units.
constexpr size_t kMaxEntryPathUnits = 32762;

// The longest level (file or folder name) a file system takes, in UTF-16 units.
constexpr size_t kMaxNameUnits = 255;

// Paths longer than this (MAX_PATH without its terminating zero) install, but
// some programs cannot open them; kxpack warns about them.
constexpr size_t kPlainPathUnits = 259;

// The folders the core library provides to folder texts, as they are written
// there ("%PROGFILESDIR%").
constexpr size_t kFolderVariableCount = 2;
extern const char16_t* const kFolderVariables[kFolderVariableCount];

// C0 (below U+0020), DEL and C1 (U+0080 to U+009F).
constexpr bool IsControlCharacter(char32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

// The index of the first control character in text, or length when it has none.
size_t FindControlCharacter(const char16_t* text, size_t length);

enum class NameProblem {
  kNone,
  kEmpty,
  kControlCharacter,    // see IsControlCharacter
  kForbiddenCharacter,  // one of < > : " / \ | ? *
  kTrailingBlankOrDot,  // Windows drops them, so "x." names "x" and ".." climbs
  kDeviceName           // CON, NUL, CONIN$, COM1, ... with or without an extension
};

struct NameVerdict {
  NameProblem problem;
  char16_t character;  // the forbidden character, for kForbiddenCharacter
};

// A file or folder name: one path component. Characters are judged in order,
// so the first control or forbidden character is the one named.
NameVerdict CheckFileName(const char16_t* name, size_t length);

enum class PathProblem {
  kNone,
  kEmpty,
  kNotRelative,   // a leading separator or a drive
  kDotComponent,  // "." or ".."
  kBadComponent,  // a component that is no file name (verdict.name says why)
  kTooLong        // more than kMaxEntryPathUnits units, or a level of more than kMaxNameUnits
};

struct PathVerdict {
  PathProblem problem;
  NameVerdict name;  // for kBadComponent
};

// A path relative to the installation folder, '/' or '\' separated, each
// component a file name.
PathVerdict CheckRelativePath(const char16_t* path, size_t length);

enum class FolderProblem {
  kNone,
  kNoRoot,         // begins with neither a drive ("C:") nor a folder variable
  kRootOnly,       // names the drive or the variable's folder itself
  kPercentInside,  // a '%' past the first component
  kBadComponent    // a folder name that is no file name (verdict.name says why)
};

struct FolderVerdict {
  FolderProblem problem;
  NameVerdict name;  // for kBadComponent
};

// A folder as a script text: an absolute folder ("C:\Tools") or one below a
// folder variable ("%PROGFILESDIR%\Tools"); '\' separated, the rest file
// names. The installation owns its folder, so a drive or a variable's folder
// itself is never one.
FolderVerdict CheckFolderText(const char16_t* text, size_t length);

}  // namespace kxnames

#endif
