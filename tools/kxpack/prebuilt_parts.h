// The prebuilt parts a package is made of: the two stubs (the programs'
// loaders), the program library, the core library,
// the runtime data and the starter files. The build leaves them in "parts"
// beside kxpack, where kxpack finds them by default.
#ifndef KX_TOOLS_KXPACK_PREBUILT_PARTS_H
#define KX_TOOLS_KXPACK_PREBUILT_PARTS_H

#include <string>

// File names inside the parts folder.
constexpr char kSetupStubPart[] = "setup-stub.exe";
constexpr char kUninstallerStubPart[] = "uninstaller-stub.exe";
constexpr char kCoreLibraryPart[] = "KXCore64.dll";
constexpr char kProgramLibraryPart[] = "kxprogram64.dll";
constexpr char kLanguageTablePart[] = "kxlng.dat";
constexpr char kFilePropertiesPart[] = "kxfprop.dat";
constexpr char kSetupDialogsPart[] = "setup-kxdlg.dat";
constexpr char kUninstallerDialogsPart[] = "uninstaller-kxdlg.dat";
constexpr char kStarterPart[] = "starter";

// The parts folder: the one given, or "parts" beside the running kxpack.
// False with a message when it lacks any part.
bool FindPrebuiltParts(const std::string& given, std::string* folder, std::string* error);

#endif
