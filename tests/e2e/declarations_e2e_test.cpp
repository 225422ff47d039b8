// Harbour Tools end to end: the real setup.exe and Uninst.exe of a package
// that declares file types, a PATH entry, variables, registry values and
// programs to run, against Wine's registry. Each effect is read back with
// Wine's own reg and cmd (assoc, ftype) as well as the registry API; the
// uninstall brings everything back to the state before (an entry another
// program added to PATH meanwhile stays, and so does a file type another
// program took over); a program after the files that fails undoes it all.
//
// The same package offering both scopes (install.scope = "both") is then
// installed for all users and for the current user (/ALLUSERS,
// /CURRENTUSER, the scope page), each effect in its own scope's places; a
// file type another program owned is given back; a reinstall finds the
// installation in its scope and its log keeps each declaration's record once.
#include <windows.h>
#include <shlobj.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include <string>
#include <vector>

#include "core/kxcore.h"
#include "core/uninstall_log.h"
#include "tests/driver/ui_driver.h"
#include "tests/e2e/install_e2e_fixture.h"
#include "tests/support/process_runner.h"
#include "tests/support/test_files.h"

using namespace kxtest;

namespace {

constexpr wchar_t kEnvironment[] = L"System\\CurrentControlSet\\Control\\Session Manager\\Environment";
constexpr wchar_t kProduct[] = L"Software\\Harbour Works\\Harbour Tools";
constexpr wchar_t kShared[] = L"Software\\Harbour Works\\Shared";
constexpr wchar_t kUninstallParent[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr DWORD kDeclarationFailed = 9;

struct RegValue {
  bool present = false;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
  bool operator==(const RegValue& other) const {
    return present == other.present && type == other.type && data == other.data;
  }
};

RegValue ReadValue(HKEY root, const std::wstring& key, const wchar_t* name) {
  RegValue value;
  DWORD size = 0;
  if (RegGetValueW(root, key.c_str(), name, RRF_RT_ANY | RRF_NOEXPAND, &value.type, nullptr, &size) != ERROR_SUCCESS)
    return value;
  value.data.resize(size);
  if (RegGetValueW(root, key.c_str(), name, RRF_RT_ANY | RRF_NOEXPAND, &value.type, value.data.data(), &size) ==
      ERROR_SUCCESS) {
    value.data.resize(size);
    value.present = true;
  }
  return value;
}

void WriteValue(HKEY root, const std::wstring& key, const wchar_t* name, const RegValue& value) {
  if (!value.present) {
    RegDeleteKeyValueW(root, key.c_str(), name);
    return;
  }
  RegSetKeyValueW(root, key.c_str(), name, value.type, value.data.data(), static_cast<DWORD>(value.data.size()));
}

std::wstring Text(const RegValue& value) {
  if (!value.present) return L"<missing>";
  return std::wstring(reinterpret_cast<const wchar_t*>(value.data.data()), value.data.size() / sizeof(wchar_t))
      .c_str();
}

RegValue TextValue(DWORD type, const std::wstring& text) {
  RegValue value;
  value.present = true;
  value.type = type;
  const BYTE* bytes = reinterpret_cast<const BYTE*>(text.c_str());
  value.data.assign(bytes, bytes + (text.size() + 1) * sizeof(wchar_t));
  return value;
}

// The uninstall entries of Harbour Tools (its key ends in a hash).
std::vector<std::wstring> HarbourEntries(HKEY root = HKEY_LOCAL_MACHINE) {
  std::vector<std::wstring> entries;
  HKEY uninstall;
  if (RegOpenKeyExW(root, kUninstallParent, 0, KEY_READ, &uninstall) != ERROR_SUCCESS) return entries;
  wchar_t name[256];
  for (DWORD i = 0;; ++i) {
    DWORD length = 256;
    if (RegEnumKeyExW(uninstall, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    if (std::wstring(name).rfind(L"Harbour Tools_", 0) == 0) entries.push_back(name);
  }
  RegCloseKey(uninstall);
  return entries;
}

bool KeyExists(HKEY root, const std::wstring& key) {
  HKEY handle;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
  RegCloseKey(handle);
  return true;
}

class Declarations : public ::testing::Test {
 protected:
  void SetUp() override {
    package_ = TestDataPath("KX_TEST_HARBOUR");
    folder_ = KnownFolder(FOLDERID_ProgramFiles) + L"\\Harbour Tools";
    temp_ = work_ / L"temp";
    ASSERT_TRUE(CreateDirectoryW(temp_.c_str(), nullptr));
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSessionManager, kPending);
    RemoveEverything();
    // PATH as another program left it: ours must come and go around it.
    path_ = ReadValue(HKEY_LOCAL_MACHINE, kEnvironment, L"Path");
    ASSERT_TRUE(path_.present);
    before_ = TextValue(REG_EXPAND_SZ, Text(path_) + L";C:\\Before\\Harbour");
    WriteValue(HKEY_LOCAL_MACHINE, kEnvironment, L"Path", before_);
  }
  void TearDown() override {
    RemoveEverything();
    WriteValue(HKEY_LOCAL_MACHINE, kEnvironment, L"Path", path_);
    // The uninstallers scheduled themselves for the restart that never comes.
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSessionManager, kPending);
  }

  void RemoveEverything() {
    DWORD attributes = GetFileAttributesW((folder_ + L"\\Uninst.exe").c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) Run(folder_ + L"\\Uninst.exe", L"/S /SUPPRESSMSGBOXES");
    RemoveTree(folder_);
    for (const wchar_t* key : {L"Software\\Classes\\.hbr", L"Software\\Classes\\.hbx", L"Software\\Classes\\HarbourTools.hbr",
                               L"Software\\Classes\\HarbourWorks.Exchange.1", L"Software\\Harbour Works",
                               L"Software\\Classes\\.kxother"})
      RegDeleteTreeW(HKEY_LOCAL_MACHINE, key);
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Harbour Works");
    for (const wchar_t* name : {L"HARBOUR_HOME", L"HARBOUR_DATA"}) RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kEnvironment, name);
    for (const std::wstring& entry : HarbourEntries())
      RegDeleteTreeW(HKEY_LOCAL_MACHINE, (std::wstring(kUninstallParent) + L"\\" + entry).c_str());
  }

  DWORD Run(const std::wstring& program, const std::wstring& arguments) {
    LaunchOptions options;
    options.arguments = arguments;
    options.environment = {{L"TMP", temp_}, {L"TEMP", temp_}};
    return RunToExit(program, options, 180000);
  }

  // What a command of Wine's cmd or reg writes, read from a file: a pipe
  // would be held open by the programs it starts.
  std::wstring Output(const std::wstring& commandLine) {
    const std::wstring file = work_ / L"output.txt";
    DeleteFileW(file.c_str());
    Run(L"C:\\windows\\system32\\cmd.exe", L"/c " + commandLine + L" > \"" + file + L"\" 2>&1");
    std::string bytes = ReadBytes(file);
    return std::wstring(bytes.begin(), bytes.end());
  }

  // cmd writes "name  =value" under Wine: the blanks before '=' go.
  std::wstring Assoc(const std::wstring& command) {
    std::wstring text = Output(command), tidy;
    for (size_t i = 0; i < text.size(); ++i) {
      size_t next = i;
      while (next < text.size() && text[next] == L' ') ++next;
      if (next > i && next < text.size() && text[next] == L'=') i = next;
      tidy += text[i];
    }
    return tidy;
  }

  std::string Notes() { return ReadBytes(temp_ + L"\\harbour-notes.txt"); }

  std::wstring package_, folder_, temp_;
  ScratchFolder work_;
  RegValue path_, before_;
};

}  // namespace

TEST_F(Declarations, EveryEffectIsMadeAndTheUninstallUndoesExactlyWhatIsStillThePackages) {
  ASSERT_EQ(0u, Run(package_ + L"\\setup.exe", L"/S /SUPPRESSMSGBOXES"));
  const std::wstring bin = folder_ + L"\\bin";

  // The program after the files ran from the installation, with its arguments.
  EXPECT_EQ(Notes(), "after install|" + Narrow(folder_) + "\r\n");

  // PATH: ours at the end, the value's type kept.
  const RegValue installed = ReadValue(HKEY_LOCAL_MACHINE, kEnvironment, L"Path");
  EXPECT_EQ(Text(installed), Text(before_) + L";" + bin);
  EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), installed.type);
  EXPECT_NE(Output(L"reg query \"HKLM\\" + std::wstring(kEnvironment) + L"\" /v Path").find(bin), std::wstring::npos);

  // Variables, the one naming another variable as REG_EXPAND_SZ.
  EXPECT_EQ(Text(ReadValue(HKEY_LOCAL_MACHINE, kEnvironment, L"HARBOUR_HOME")), folder_);
  const RegValue data = ReadValue(HKEY_LOCAL_MACHINE, kEnvironment, L"HARBOUR_DATA");
  EXPECT_EQ(Text(data), L"%PUBLIC%\\Harbour;" + folder_ + L"\\tools");
  EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), data.type);

  // Associations as cmd's assoc and ftype see them through HKEY_CLASSES_ROOT.
  EXPECT_NE(Assoc(L"assoc .hbr").find(L".hbr=HarbourTools.hbr"), std::wstring::npos) << Narrow(Assoc(L"assoc .hbr"));
  EXPECT_NE(Assoc(L"ftype HarbourTools.hbr").find(L"HarbourTools.hbr=\"" + bin + L"\\harbour.exe\" \"%1\""),
            std::wstring::npos)
      << Narrow(Assoc(L"ftype HarbourTools.hbr"));
  EXPECT_NE(Assoc(L"assoc .hbx").find(L".hbx=HarbourWorks.Exchange.1"), std::wstring::npos);
  EXPECT_EQ(RegString(HKEY_CLASSES_ROOT, L"HarbourTools.hbr", nullptr), L"Harbour chart");
  EXPECT_EQ(RegString(HKEY_CLASSES_ROOT, L"HarbourTools.hbr\\DefaultIcon", nullptr), bin + L"\\harbour.exe,0");
  EXPECT_TRUE(ReadValue(HKEY_LOCAL_MACHINE, L"Software\\Classes\\.hbr\\OpenWithProgids", L"HarbourTools.hbr").present);

  // Registry values of every type, the installation folder put in and
  // %SystemRoot% left for Windows.
  EXPECT_NE(Output(L"reg query \"HKLM\\Software\\Harbour Works\\Harbour Tools\" /v InstallDir").find(folder_),
            std::wstring::npos);
  EXPECT_EQ(RegDword(HKEY_LOCAL_MACHINE, kProduct, L"Build"), 0xFFFFFFFFu);
  const RegValue serial = ReadValue(HKEY_LOCAL_MACHINE, kProduct, L"Serial");
  EXPECT_EQ(static_cast<DWORD>(REG_QWORD), serial.type);
  EXPECT_EQ(std::vector<BYTE>(8, 0xFF), serial.data);
  const RegValue blob = ReadValue(HKEY_LOCAL_MACHINE, kProduct, L"Blob");
  EXPECT_EQ((std::vector<BYTE>{0x00, 0xFF, 0x10}), blob.data);
  const std::wstring lists = std::wstring(kProduct) + L"\\Lists";
  const RegValue ports = ReadValue(HKEY_LOCAL_MACHINE, lists, L"Ports");
  EXPECT_EQ(static_cast<DWORD>(REG_MULTI_SZ), ports.type);
  const std::wstring multi = L"Troms\u00f8" + std::wstring(1, L'\0') + L"Saint-Malo" + std::wstring(1, L'\0') + folder_ +
                             std::wstring(2, L'\0');
  EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(ports.data.data()), ports.data.size() / 2), multi);
  const RegValue expand = ReadValue(HKEY_LOCAL_MACHINE, lists, L"");
  EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), expand.type);
  EXPECT_EQ(Text(expand), L"%SystemRoot%\\harbour");
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kShared, L"Licence"), L"accepted");
  EXPECT_EQ(RegString(HKEY_CURRENT_USER, kProduct, L"LastUser"), L"set by setup");

  // Meanwhile: another program adds to PATH behind ours and takes .hbx over.
  const RegValue later = TextValue(REG_EXPAND_SZ, Text(installed) + L";D:\\Later\\bin");
  WriteValue(HKEY_LOCAL_MACHINE, kEnvironment, L"Path", later);
  WriteValue(HKEY_LOCAL_MACHINE, L"Software\\Classes\\.hbx", L"", TextValue(REG_SZ, L"Other.Exchange"));
  RegSetKeyValueW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\.hbx\\OpenWithProgids", L"Other.Exchange", REG_NONE, nullptr, 0);

  ASSERT_EQ(0u, Run(folder_ + L"\\Uninst.exe", L"/S /SUPPRESSMSGBOXES"));
  // The program before the uninstall ran while its files were there.
  EXPECT_EQ(Notes(), "after install|" + Narrow(folder_) + "\r\nbefore uninstall\r\n");

  const RegValue after = ReadValue(HKEY_LOCAL_MACHINE, kEnvironment, L"Path");
  EXPECT_EQ(Text(after), Text(before_) + L";D:\\Later\\bin");
  EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), after.type);
  EXPECT_EQ(Output(L"reg query \"HKLM\\" + std::wstring(kEnvironment) + L"\" /v Path").find(bin), std::wstring::npos);
  EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, kEnvironment, L"HARBOUR_HOME").present);
  EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, kEnvironment, L"HARBOUR_DATA").present);

  EXPECT_EQ(Assoc(L"assoc .hbr").find(L".hbr=HarbourTools.hbr"), std::wstring::npos);
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"Software\\Classes\\.hbr"));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"Software\\Classes\\HarbourTools.hbr"));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"Software\\Classes\\HarbourWorks.Exchange.1"));
  EXPECT_NE(Assoc(L"assoc .hbx").find(L".hbx=Other.Exchange"), std::wstring::npos) << Narrow(Assoc(L"assoc .hbx"));
  EXPECT_TRUE(ReadValue(HKEY_LOCAL_MACHINE, L"Software\\Classes\\.hbx\\OpenWithProgids", L"Other.Exchange").present);
  EXPECT_FALSE(
      ReadValue(HKEY_LOCAL_MACHINE, L"Software\\Classes\\.hbx\\OpenWithProgids", L"HarbourWorks.Exchange.1").present);

  // The values to remove went with their keys; the one to keep stayed.
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kProduct));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kProduct));
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kShared, L"Licence"), L"accepted");
  // The running uninstaller goes at the next restart, as always.
  EXPECT_EQ((std::vector<std::wstring>{L"Uninst.exe"}), ListFolder(folder_));
}

TEST_F(Declarations, AFailingProgramAfterTheFilesUndoesTheWholeInstallation) {
  EXPECT_EQ(kDeclarationFailed, Run(package_ + L"\\setup-failing.exe", L"/S /SUPPRESSMSGBOXES"));
  EXPECT_EQ(Notes(), "after install|" + Narrow(folder_) + "\r\n");
  // Everything as before: files, PATH with its type, variables, file types,
  // registry values (the kept one too: it was never there before), the entry.
  EXPECT_EQ(GetFileAttributesW(folder_.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, kEnvironment, L"Path"), before_);
  EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, kEnvironment, L"HARBOUR_HOME").present);
  EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, kEnvironment, L"HARBOUR_DATA").present);
  for (const wchar_t* key : {L"Software\\Classes\\.hbr", L"Software\\Classes\\.hbx", L"Software\\Classes\\HarbourTools.hbr",
                             L"Software\\Classes\\HarbourWorks.Exchange.1", L"Software\\Harbour Works"})
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, key)) << Narrow(key);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Software\\Harbour Works"));
  EXPECT_EQ(Assoc(L"assoc .hbr").find(L"HarbourTools"), std::wstring::npos);
  EXPECT_TRUE(HarbourEntries().empty());
}

TEST_F(Declarations, AForgedLogNamingSystemSettingsRemovesNothing) {
  ASSERT_EQ(0u, Run(package_ + L"\\setup.exe", L"/S /SUPPRESSMSGBOXES"));
  const std::wstring log = folder_ + L"\\Uninst.dat";
  std::vector<kxcore::UninstallRecord> records;
  ASSERT_EQ(kxcore::LogFileStatus::kOk, kxcore::ReadUninstallLog(log, &records));
  // What a forger would like removed: the Windows folder's PATH entry, a
  // variable and another program's file type.
  WriteValue(HKEY_LOCAL_MACHINE, L"Software\\Classes\\.kxother", L"", TextValue(REG_SZ, L"Other.file"));
  const std::wstring env = L"\"HKEY_LOCAL_MACHINE\\" + std::wstring(kEnvironment) + L"\"";
  records.push_back({KX_LOG_PATHENTRY, env + L" \"C:\\windows\\system32\""});
  records.push_back({KX_LOG_ENVVAR, env + L" \"ComSpec\" \"C:\\windows\\system32\\cmd.exe\""});
  records.push_back({KX_LOG_ASSOCIATION, L"\"HKEY_LOCAL_MACHINE\\Software\\Classes\\.kxother\" \"Other.file\""});
  ASSERT_TRUE(WriteBytes(log, kxcore::FormatUninstallLog(records)));
  const RegValue path = ReadValue(HKEY_LOCAL_MACHINE, kEnvironment, L"Path");
  EXPECT_EQ(3u, Run(folder_ + L"\\Uninst.exe", L"/S /SUPPRESSMSGBOXES"));
  EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, kEnvironment, L"Path"), path);
  EXPECT_TRUE(ReadValue(HKEY_LOCAL_MACHINE, kEnvironment, L"ComSpec").present);
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, L"Software\\Classes\\.kxother", nullptr), L"Other.file");
  // Nothing of the package's went either.
  EXPECT_NE(GetFileAttributesW((folder_ + L"\\bin\\harbour.exe").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(Text(ReadValue(HKEY_LOCAL_MACHINE, kEnvironment, L"HARBOUR_HOME")), folder_);
}

namespace {

constexpr DWORD kUsageError = 2;

// The manifest Windows reads from a program: what decides whether it asks
// for an administrator.
std::string ProgramManifest(const std::wstring& path) {
  HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (!module) return "<no module>";
  std::string text = "<no manifest>";
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
  if (loaded) text.assign(static_cast<const char*>(LockResource(loaded)), SizeofResource(module, found));
  FreeLibrary(module);
  return text;
}

// Where one scope puts Harbour Tools.
struct Scope {
  const wchar_t* name;         // for messages
  const wchar_t* commandLine;  // the switch that chooses it
  HKEY root;
  const wchar_t* rootName;     // as reg.exe takes it
  std::wstring environment;    // the environment's key below the root
  std::wstring folder;         // the installation folder
  std::wstring startMenu;      // the Start-menu folder of the shortcut
};

// The user's programs folder: its known folder, or where Windows defines it
// (Wine does not know the id).
std::wstring UserProgramFiles() {
  PWSTR path = nullptr;
  std::wstring result;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_UserProgramFiles, 0, nullptr, &path))) result = path;
  CoTaskMemFree(path);
  return result.empty() ? KnownFolder(FOLDERID_LocalAppData) + L"\\Programs" : result;
}

Scope AllUsers() {
  return {L"all users", L"/ALLUSERS", HKEY_LOCAL_MACHINE, L"HKLM", kEnvironment,
          KnownFolder(FOLDERID_ProgramFiles) + L"\\Harbour Tools", KnownFolder(FOLDERID_CommonPrograms) + L"\\Harbour Tools"};
}

Scope CurrentUser() {
  return {L"the current user", L"/CURRENTUSER", HKEY_CURRENT_USER, L"HKCU", L"Environment",
          UserProgramFiles() + L"\\Harbour Tools", KnownFolder(FOLDERID_Programs) + L"\\Harbour Tools"};
}

class BothScopes : public Declarations {
 protected:
  void SetUp() override {
    CoInitialize(nullptr);
    Declarations::SetUp();
    userPath_ = ReadValue(HKEY_CURRENT_USER, L"Environment", L"Path");
    for (const Scope& scope : {AllUsers(), CurrentUser()}) Clean(scope);
  }
  void TearDown() override {
    for (const Scope& scope : {AllUsers(), CurrentUser()}) Clean(scope);
    WriteValue(HKEY_CURRENT_USER, L"Environment", L"Path", userPath_);
    Declarations::TearDown();
    CoUninitialize();
  }

  void Clean(const Scope& scope) {
    if (FileExists(scope.folder + L"\\Uninst.exe")) Run(scope.folder + L"\\Uninst.exe", L"/S /SUPPRESSMSGBOXES");
    RemoveTree(scope.folder);
    RemoveTree(scope.startMenu);
    for (const wchar_t* key : {L"Software\\Classes\\.hbr", L"Software\\Classes\\.hbx", L"Software\\Classes\\HarbourTools.hbr",
                               L"Software\\Classes\\HarbourWorks.Exchange.1", L"Software\\Classes\\Other.Exchange",
                               L"Software\\Harbour Works"})
      RegDeleteTreeW(scope.root, key);
    for (const wchar_t* name : {L"HARBOUR_HOME", L"HARBOUR_DATA"})
      RegDeleteKeyValueW(scope.root, scope.environment.c_str(), name);
    for (const std::wstring& entry : HarbourEntries(scope.root))
      RegDeleteTreeW(scope.root, (std::wstring(kUninstallParent) + L"\\" + entry).c_str());
  }

  // A class's default value as Wine's reg shows it in the scope's classes.
  std::wstring Classes(const Scope& scope, const std::wstring& key) {
    return Output(L"reg query \"" + std::wstring(scope.rootName) + L"\\Software\\Classes\\" + key + L"\" /ve");
  }

  // Another program owns .hbx in the scope before the installation.
  void GiveHbxToAnotherProgram(const Scope& scope) {
    WriteValue(scope.root, L"Software\\Classes\\Other.Exchange", L"", TextValue(REG_SZ, L"Other exchange file"));
    WriteValue(scope.root, L"Software\\Classes\\.hbx", L"", TextValue(REG_SZ, L"Other.Exchange"));
  }

  // Each declaration's records in the installation's log, by text.
  std::map<std::wstring, int> DeclarationRecords(const Scope& scope) {
    std::vector<kxcore::UninstallRecord> records;
    EXPECT_EQ(kxcore::LogFileStatus::kOk, kxcore::ReadUninstallLog(scope.folder + L"\\Uninst.dat", &records));
    std::map<std::wstring, int> counted;
    for (const kxcore::UninstallRecord& record : records)
      if (record.kind >= KX_LOG_REGKEY) ++counted[std::to_wstring(record.kind) + L" " + record.text];
    return counted;
  }

  // Everything the package makes in scope, as Wine's tools and the registry show it.
  void ExpectInstalledIn(const Scope& scope, const Scope& other) {
    const std::wstring bin = scope.folder + L"\\bin";
    EXPECT_TRUE(FileExists(bin + L"\\harbour.exe")) << Narrow(scope.name);
    EXPECT_FALSE(FolderExists(other.folder)) << Narrow(scope.name);
    EXPECT_EQ(ShortcutTarget(scope.startMenu + L"\\Harbour Tools.lnk"), bin + L"\\harbour.exe") << Narrow(scope.name);
    EXPECT_FALSE(FolderExists(other.startMenu)) << Narrow(scope.name);
    // The uninstall entry, in the scope's hive only.
    ASSERT_EQ(1u, HarbourEntries(scope.root).size()) << Narrow(scope.name);
    EXPECT_TRUE(HarbourEntries(other.root).empty()) << Narrow(scope.name);
    const std::wstring entry = std::wstring(scope.rootName) + L"\\" + kUninstallParent + L"\\" + HarbourEntries(scope.root)[0];
    EXPECT_NE(Output(L"reg query \"" + entry + L"\" /v UninstallString").find(scope.folder + L"\\Uninst.exe"),
              std::wstring::npos);
    // PATH and the variables in the scope's environment.
    const std::wstring environment = std::wstring(scope.rootName) + L"\\" + scope.environment;
    EXPECT_NE(Output(L"reg query \"" + environment + L"\" /v Path").find(bin), std::wstring::npos) << Narrow(scope.name);
    EXPECT_NE(Output(L"reg query \"" + environment + L"\" /v HARBOUR_HOME").find(scope.folder), std::wstring::npos);
    EXPECT_FALSE(ReadValue(other.root, other.environment, L"HARBOUR_HOME").present) << Narrow(scope.name);
    // The file types as cmd sees them (Wine's HKEY_CLASSES_ROOT, which its
    // cmd reads, is the machine's classes only: the user's are read with
    // reg), and in the scope's classes.
    if (scope.root == HKEY_LOCAL_MACHINE) {
      EXPECT_NE(Assoc(L"assoc .hbr").find(L".hbr=HarbourTools.hbr"), std::wstring::npos) << Narrow(Assoc(L"assoc .hbr"));
      EXPECT_NE(Assoc(L"ftype HarbourTools.hbr").find(L"HarbourTools.hbr=\"" + bin + L"\\harbour.exe\" \"%1\""),
                std::wstring::npos)
          << Narrow(Assoc(L"ftype HarbourTools.hbr"));
      EXPECT_NE(Assoc(L"assoc .hbx").find(L".hbx=HarbourWorks.Exchange.1"), std::wstring::npos);
    }
    EXPECT_NE(Classes(scope, L".hbr").find(L"HarbourTools.hbr"), std::wstring::npos) << Narrow(Classes(scope, L".hbr"));
    EXPECT_NE(Classes(scope, L"HarbourTools.hbr\\shell\\open\\command").find(bin + L"\\harbour.exe"), std::wstring::npos);
    EXPECT_NE(Classes(scope, L".hbx").find(L"HarbourWorks.Exchange.1"), std::wstring::npos) << Narrow(Classes(scope, L".hbx"));
    EXPECT_EQ(Text(ReadValue(scope.root, L"Software\\Classes\\.hbr", L"")), L"HarbourTools.hbr");
    EXPECT_FALSE(KeyExists(other.root, L"Software\\Classes\\HarbourTools.hbr")) << Narrow(scope.name);
    // HKA follows the scope.
    EXPECT_NE(Output(L"reg query \"" + std::wstring(scope.rootName) + L"\\Software\\Harbour Works\\Harbour Tools\" /v InstallDir")
                  .find(scope.folder),
              std::wstring::npos);
    EXPECT_EQ(RegString(scope.root, kShared, L"Licence"), L"accepted");
    if (scope.root == HKEY_CURRENT_USER) {
      EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"Software\\Harbour Works"));
      // A log of the user's names nothing machine-wide.
      for (const auto& [text, count] : DeclarationRecords(scope))
        EXPECT_EQ(text.find(L"HKEY_LOCAL_MACHINE"), std::wstring::npos) << Narrow(text);
    }
  }

  // The state the uninstall must bring back: another program's entry added
  // to PATH meanwhile stays, and .hbx goes back to its earlier owner.
  void ExpectRemovedFrom(const Scope& scope, const RegValue& pathBefore) {
    const RegValue path = ReadValue(scope.root, scope.environment, L"Path");
    EXPECT_EQ(Text(path), Text(pathBefore) + L";D:\\Later\\bin") << Narrow(scope.name);
    EXPECT_EQ(path.type, pathBefore.type) << Narrow(scope.name);
    EXPECT_FALSE(ReadValue(scope.root, scope.environment, L"HARBOUR_HOME").present) << Narrow(scope.name);
    EXPECT_FALSE(ReadValue(scope.root, scope.environment, L"HARBOUR_DATA").present) << Narrow(scope.name);
    if (scope.root == HKEY_LOCAL_MACHINE) {
      EXPECT_EQ(Assoc(L"assoc .hbr").find(L"HarbourTools"), std::wstring::npos) << Narrow(scope.name);
      EXPECT_NE(Assoc(L"assoc .hbx").find(L".hbx=Other.Exchange"), std::wstring::npos) << Narrow(Assoc(L"assoc .hbx"));
    }
    EXPECT_NE(Classes(scope, L".hbx").find(L"Other.Exchange"), std::wstring::npos) << Narrow(Classes(scope, L".hbx"));
    EXPECT_FALSE(KeyExists(scope.root, L"Software\\Classes\\.hbr")) << Narrow(scope.name);
    EXPECT_FALSE(KeyExists(scope.root, L"Software\\Classes\\HarbourTools.hbr")) << Narrow(scope.name);
    EXPECT_FALSE(KeyExists(scope.root, L"Software\\Classes\\HarbourWorks.Exchange.1")) << Narrow(scope.name);
    EXPECT_EQ(Text(ReadValue(scope.root, L"Software\\Classes\\.hbx", L"")), L"Other.Exchange") << Narrow(scope.name);
    EXPECT_FALSE(KeyExists(scope.root, kProduct)) << Narrow(scope.name);
    EXPECT_TRUE(HarbourEntries(scope.root).empty()) << Narrow(scope.name);
    EXPECT_FALSE(FolderExists(scope.startMenu)) << Narrow(scope.name);
    EXPECT_EQ((std::vector<std::wstring>{L"Uninst.exe"}), ListFolder(scope.folder)) << Narrow(scope.name);
  }

  RegValue userPath_;
};

}  // namespace

TEST_F(BothScopes, EachSwitchInstallsEveryEffectInItsScopeAndTheUninstallBringsTheStateBack) {
  // Neither a standard user nor an administrator is turned away by Windows.
  EXPECT_NE(ProgramManifest(package_ + L"\\setup-both.exe").find("level=\"highestAvailable\""), std::string::npos);
  const Scope scopes[] = {AllUsers(), CurrentUser()};
  for (size_t i = 0; i < 2; ++i) {
    const Scope& scope = scopes[i];
    const Scope& other = scopes[1 - i];
    if (scope.root == HKEY_CURRENT_USER)
      WriteValue(HKEY_CURRENT_USER, L"Environment", L"Path", TextValue(REG_EXPAND_SZ, L"C:\\Before\\User"));
    const RegValue pathBefore = ReadValue(scope.root, scope.environment, L"Path");
    GiveHbxToAnotherProgram(scope);

    ASSERT_EQ(0u, Run(package_ + L"\\setup-both.exe", L"/S /SUPPRESSMSGBOXES " + std::wstring(scope.commandLine)))
        << Narrow(scope.name);
    ExpectInstalledIn(scope, other);
    EXPECT_NE(ProgramManifest(scope.folder + L"\\Uninst.exe").find("level=\"highestAvailable\""), std::string::npos);
    // The file type taken from its owner is recorded with it.
    const std::wstring taken = L"7 \"" + std::wstring(scope.root == HKEY_CURRENT_USER ? L"HKEY_CURRENT_USER" : L"HKEY_LOCAL_MACHINE") +
                               L"\\Software\\Classes\\.hbx\" \"HarbourWorks.Exchange.1\" \"Other.Exchange\"";
    EXPECT_EQ(1, DeclarationRecords(scope)[taken]) << Narrow(scope.name);

    const RegValue installed = ReadValue(scope.root, scope.environment, L"Path");
    WriteValue(scope.root, scope.environment, L"Path", TextValue(installed.type, Text(installed) + L";D:\\Later\\bin"));
    ASSERT_EQ(0u, Run(scope.folder + L"\\Uninst.exe", L"/S /SUPPRESSMSGBOXES")) << Narrow(scope.name);
    ExpectRemovedFrom(scope, pathBefore);
    Clean(scope);
  }
}

TEST_F(BothScopes, AReinstallFindsTheUsersInstallationAndItsLogKeepsEachDeclarationOnce) {
  const Scope user = CurrentUser();
  const Scope machine = AllUsers();
  WriteValue(HKEY_CURRENT_USER, L"Environment", L"Path", TextValue(REG_EXPAND_SZ, L"C:\\Before\\User"));
  const RegValue pathBefore = ReadValue(user.root, user.environment, L"Path");
  GiveHbxToAnotherProgram(user);
  ASSERT_EQ(0u, Run(package_ + L"\\setup-both.exe", L"/S /SUPPRESSMSGBOXES /CURRENTUSER"));
  const std::map<std::wstring, int> first = DeclarationRecords(user);
  // No switch: the run is an administrator's under Wine, but the package is
  // installed for the user, so the reinstall goes there.
  ASSERT_EQ(0u, Run(package_ + L"\\setup-both.exe", L"/S /SUPPRESSMSGBOXES"));
  ExpectInstalledIn(user, machine);
  const std::map<std::wstring, int> second = DeclarationRecords(user);
  // The log of the reinstall is the first one's, record for record: every
  // value, PATH entry, variable and file type once, the taken file type
  // with its earlier owner (not the plain record the second run made, the
  // extension naming us by then). A key is recorded for each value in it,
  // as often as the first run did.
  for (const auto& [text, count] : second) {
    if (text[0] == L'2') continue;
    EXPECT_EQ(1, count) << Narrow(text);
  }
  for (const auto& [text, count] : first) EXPECT_EQ(count, second.count(text) ? second.at(text) : 0) << "lost: " << Narrow(text);
  for (const auto& [text, count] : second) EXPECT_EQ(1u, first.count(text)) << "new: " << Narrow(text);
  size_t declared = std::count_if(second.begin(), second.end(), [](const auto& entry) {
    return entry.first[0] >= L'4' && entry.first[0] <= L'7';
  });
  EXPECT_EQ(5u, declared) << "a PATH entry, two variables, two file types";

  const RegValue installed = ReadValue(user.root, user.environment, L"Path");
  WriteValue(user.root, user.environment, L"Path", TextValue(REG_EXPAND_SZ, Text(installed) + L";D:\\Later\\bin"));
  ASSERT_EQ(0u, Run(user.folder + L"\\Uninst.exe", L"/S /SUPPRESSMSGBOXES"));
  EXPECT_EQ(Text(ReadValue(user.root, user.environment, L"Path")), Text(pathBefore) + L";D:\\Later\\bin");
  EXPECT_FALSE(ReadValue(user.root, user.environment, L"HARBOUR_HOME").present);
  EXPECT_EQ(Text(ReadValue(user.root, L"Software\\Classes\\.hbx", L"")), L"Other.Exchange");
  EXPECT_FALSE(KeyExists(user.root, L"Software\\Classes\\HarbourWorks.Exchange.1"));
  EXPECT_FALSE(KeyExists(user.root, kProduct));
  EXPECT_TRUE(HarbourEntries(user.root).empty());
}

TEST_F(BothScopes, AFailingProgramAfterTheFilesUndoesTheUsersInstallation) {
  const Scope user = CurrentUser();
  WriteValue(HKEY_CURRENT_USER, L"Environment", L"Path", TextValue(REG_EXPAND_SZ, L"C:\\Before\\User"));
  GiveHbxToAnotherProgram(user);
  const RegValue path = ReadValue(user.root, user.environment, L"Path");
  const RegValue hbx = ReadValue(user.root, L"Software\\Classes\\.hbx", L"");
  EXPECT_EQ(kDeclarationFailed, Run(package_ + L"\\setup-both-failing.exe", L"/S /SUPPRESSMSGBOXES /CURRENTUSER"));
  EXPECT_FALSE(FolderExists(user.folder));
  EXPECT_FALSE(FolderExists(user.startMenu));
  EXPECT_EQ(ReadValue(user.root, user.environment, L"Path"), path);
  EXPECT_FALSE(ReadValue(user.root, user.environment, L"HARBOUR_HOME").present);
  EXPECT_EQ(ReadValue(user.root, L"Software\\Classes\\.hbx", L""), hbx);
  for (const wchar_t* key : {L"Software\\Classes\\.hbr", L"Software\\Classes\\HarbourTools.hbr",
                             L"Software\\Classes\\HarbourWorks.Exchange.1", L"Software\\Harbour Works"})
    EXPECT_FALSE(KeyExists(user.root, key)) << Narrow(key);
  EXPECT_TRUE(HarbourEntries(user.root).empty());
}

TEST_F(BothScopes, AScopeSwitchThePackageCannotFollowIsAUsageErrorThatChangesNothing) {
  // A package for all users only, and both switches at once.
  EXPECT_EQ(kUsageError, Run(package_ + L"\\setup.exe", L"/S /SUPPRESSMSGBOXES /CURRENTUSER"));
  EXPECT_EQ(kUsageError, Run(package_ + L"\\setup-both.exe", L"/S /SUPPRESSMSGBOXES /ALLUSERS /CURRENTUSER"));
  EXPECT_FALSE(FolderExists(AllUsers().folder));
  EXPECT_FALSE(FolderExists(CurrentUser().folder));
  EXPECT_TRUE(HarbourEntries(HKEY_LOCAL_MACHINE).empty());
  EXPECT_TRUE(HarbourEntries(HKEY_CURRENT_USER).empty());
  // The switch that agrees with the package is taken.
  ASSERT_EQ(0u, Run(package_ + L"\\setup.exe", L"/S /SUPPRESSMSGBOXES /ALLUSERS"));
  EXPECT_EQ(1u, HarbourEntries(HKEY_LOCAL_MACHINE).size());
}

TEST_F(BothScopes, TheScopePageDecidesTheDefaultFoldersAgainWhenTheChoiceChanges) {
  enum { kNext = 1, kBack = 3, kField = 20, kAllUsersChoice = 30, kCurrentUserChoice = 32, kNoAdministrator = 34 };
  const Scope user = CurrentUser();
  const Scope machine = AllUsers();
  {
    kxdrive::Session session(L"scope-page");
    ASSERT_TRUE(session.Start(package_ + L"\\setup-both.exe", L"", {{L"TMP", temp_}, {L"TEMP", temp_}}));
    HWND page = session.WaitForPage(L"dlgwizwelc");
    ASSERT_TRUE(page);
    session.Press(page, kNext);
    page = session.WaitForPage(L"dlgwizlicag");
    ASSERT_TRUE(page);
    session.Press(page, kNext);
    // An administrator (as Wine's user is) with nothing installed starts on all users.
    HWND scope = session.WaitForPage(L"dlgwizscope");
    ASSERT_TRUE(scope);
    EXPECT_TRUE(kxdrive::IsChecked(kxdrive::Control(scope, kAllUsersChoice)));
    EXPECT_FALSE(kxdrive::IsChecked(kxdrive::Control(scope, kCurrentUserChoice)));
    EXPECT_FALSE(kxdrive::IsVisible(kxdrive::Control(scope, kNoAdministrator)));
    session.Press(scope, kNext);
    HWND destination = session.WaitForPage(L"dlgwizseldir");
    ASSERT_TRUE(destination);
    EXPECT_EQ(kxdrive::ControlText(destination, kField), machine.folder);
    // Back, only for me: the user's folders.
    session.Press(destination, kBack);
    scope = session.WaitForPage(L"dlgwizscope");
    ASSERT_TRUE(scope);
    session.Press(scope, kCurrentUserChoice);
    EXPECT_TRUE(kxdrive::IsChecked(kxdrive::Control(scope, kCurrentUserChoice)));
    EXPECT_FALSE(kxdrive::IsChecked(kxdrive::Control(scope, kAllUsersChoice)));
    session.Press(scope, kNext);
    destination = session.WaitForPage(L"dlgwizseldir");
    ASSERT_TRUE(destination);
    EXPECT_EQ(kxdrive::ControlText(destination, kField), user.folder);
    session.Press(destination, kNext);
    HWND startMenu = session.WaitForPage(L"dlgwizselgroup");
    ASSERT_TRUE(startMenu);
    EXPECT_EQ(kxdrive::ControlText(startMenu, kField), L"Harbour Tools");
    // Back twice keeps the choice, which shows checked.
    session.Press(startMenu, kBack);
    destination = session.WaitForPage(L"dlgwizseldir");
    ASSERT_TRUE(destination);
    session.Press(destination, kBack);
    scope = session.WaitForPage(L"dlgwizscope");
    ASSERT_TRUE(scope);
    EXPECT_TRUE(kxdrive::IsChecked(kxdrive::Control(scope, kCurrentUserChoice)));
    session.Press(scope, kNext);
    destination = session.WaitForPage(L"dlgwizseldir");
    ASSERT_TRUE(destination);
    session.Press(destination, kNext);
    startMenu = session.WaitForPage(L"dlgwizselgroup");
    ASSERT_TRUE(startMenu);
    session.Press(startMenu, kNext);
    HWND final = session.WaitForPage(L"dlgwizfinal", 120000);
    ASSERT_TRUE(final);
    session.Press(final, kNext);
    EXPECT_EQ(session.WaitForExit(60000), 0u);
  }
  ExpectInstalledIn(user, machine);
}
