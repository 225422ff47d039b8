// Harbour Tools end to end: the real setup.exe and Uninst.exe of a package
// that declares file types, a PATH entry, variables, registry values and
// programs to run, against Wine's registry. Each effect is read back with
// Wine's own reg and cmd (assoc, ftype) as well as the registry API; the
// uninstall brings everything back to the state before (an entry another
// program added to PATH meanwhile stays, and so does a file type another
// program took over); a program after the files that fails undoes it all.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/kxcore.h"
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
std::vector<std::wstring> HarbourEntries() {
  std::vector<std::wstring> entries;
  HKEY uninstall;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallParent, 0, KEY_READ, &uninstall) != ERROR_SUCCESS) return entries;
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
