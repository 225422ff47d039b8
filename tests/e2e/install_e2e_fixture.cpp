#include "tests/e2e/install_e2e_fixture.h"

#include <shlobj.h>
#include <tlhelp32.h>

#include <algorithm>
#include <regex>

#include "tests/driver/ui_driver.h"
#include "tests/support/process_runner.h"

namespace kxtest {
namespace {

constexpr wchar_t kProductWindowClass[] = L"QuillmarkToolkitWindow";
constexpr DWORD kAttributeBits = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

void ReadPayload(const std::wstring& root, const std::wstring& relative, std::vector<PayloadFile>* files,
                 std::vector<std::wstring>* folders) {
  for (const std::wstring& name : ListFolder(root + relative)) {
    std::wstring path = root + relative + name;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) continue;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      folders->push_back(relative + name);
      ReadPayload(root, relative + name + L"\\", files, folders);
    } else {
      files->push_back({relative + name, ReadBytes(path), data.ftLastWriteTime, data.dwFileAttributes & kAttributeBits});
    }
  }
}

struct WindowSearch {
  std::function<bool(HWND)> predicate;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectMatching(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<WindowSearch*>(parameter);
  if (IsWindowVisible(window) && search->predicate(window)) search->found.push_back(window);
  return TRUE;
}

// Visible top-level windows of any process that satisfy the predicate.
std::vector<HWND> FindWindows(const std::function<bool(HWND)>& predicate) {
  WindowSearch search{predicate, {}};
  EnumWindows(CollectMatching, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

bool IsProductWindow(HWND window) { return kxdrive::ClassName(window) == kProductWindowClass; }

// The shell window the setup's tasks open on the installation folder.
bool IsFolderWindow(HWND window) {
  return kxdrive::ClassName(window) == L"ExplorerWClass" &&
         kxdrive::WindowText(window).find(L"Quillmark") != std::wstring::npos;
}

// Waits for a window of any process; null after the timeout.
HWND WaitForAnyWindow(const std::function<bool(HWND)>& predicate, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    std::vector<HWND> found = FindWindows(predicate);
    if (!found.empty()) return found.front();
    if (GetTickCount() - start > timeoutMs) return nullptr;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
  }
}

// Closes a window of another process and waits for the window to go. The
// product's process is ended when it does not go by itself; a shell process
// is never ended, since it may be the desktop's.
void CloseAndWait(HWND window, bool mayEnd) {
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, processId);
  PostMessageW(window, WM_CLOSE, 0, 0);
  const DWORD start = GetTickCount();
  while (IsWindow(window) && GetTickCount() - start < 10000) MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
  if (process) {
    if (WaitForSingleObject(process, mayEnd ? 10000 : 0) != WAIT_OBJECT_0 && mayEnd) TerminateProcess(process, 1);
    CloseHandle(process);
  }
}

// Waits for every shell process other than the desktop's to end: a folder
// window's process that is still closing while the next run's folder window
// opens has Wine's desktop serve both at once, the likeliest way into the
// lasting hang of its COM server seen under load (CONTRIBUTING.md). The
// processes are never ended: what a folder process does on its way out is
// what the desktop needs to see.
void WaitForFolderProcesses() {
  DWORD desktopProcess = 0;
  GetWindowThreadProcessId(GetDesktopWindow(), &desktopProcess);
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return;
  std::vector<DWORD> folderProcesses;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
    if (lstrcmpiW(entry.szExeFile, L"explorer.exe") == 0 && entry.th32ProcessID != desktopProcess)
      folderProcesses.push_back(entry.th32ProcessID);
  CloseHandle(snapshot);
  for (DWORD id : folderProcesses) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, id);
    if (!process) continue;
    if (WaitForSingleObject(process, 30000) != WAIT_OBJECT_0)
      ADD_FAILURE() << "a shell folder process (" << id << ") did not end within 30 s of its window";
    CloseHandle(process);
  }
}

// The product and the folder window keep the installation folder in use.
void CloseTaskWindows() {
  for (HWND window : FindWindows(IsProductWindow)) CloseAndWait(window, true);
  for (HWND window : FindWindows(IsFolderWindow)) CloseAndWait(window, false);
  WaitForFolderProcesses();
}

}  // namespace

void InstallEndToEnd::SetUp() {
  CoInitialize(nullptr);
  setup_ = TestDataPath("KX_TEST_OUT") + L"\\setup.exe";
  defaultFolder_ = KnownFolder(FOLDERID_ProgramFiles) + L"\\Quillmark";
  startMenuRoot_ = KnownFolder(FOLDERID_CommonPrograms);
  ASSERT_FALSE(startMenuRoot_.empty());
  std::wstring stage = TestDataPath("KX_TEST_PAYLOAD") + L"\\";
  ReadPayload(stage, L"", &payload_, &payloadFolders_);
  ASSERT_FALSE(payload_.empty());
  temp_ = work_ / L"temp";
  ASSERT_TRUE(CreateDirectoryW(temp_.c_str(), nullptr));
  CloseTaskWindows();
  RemoveInstallation();
}

void InstallEndToEnd::TearDown() {
  CloseTaskWindows();
  RemoveInstallation();
  CoUninitialize();
}

void InstallEndToEnd::RemoveInstallation() {
  RemoveTree(defaultFolder_);
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kUninstallKey);
  RemoveTree(startMenuRoot_ + L"\\Quillmark");
  RemoveTree(startMenuRoot_ + L"\\Tools\\Quillmark");
  RemoveDirectoryW((startMenuRoot_ + L"\\Tools").c_str());
}

std::map<std::wstring, std::wstring> InstallEndToEnd::Environment() const {
  return {{L"TMP", temp_}, {L"TEMP", temp_}};
}

DWORD InstallEndToEnd::RunSetup(const std::wstring& arguments) {
  LaunchOptions options;
  options.arguments = arguments;
  options.environment = Environment();
  return RunToExit(setup_, options, 180000);
}

DWORD InstallEndToEnd::RunInstalledUninstaller(const std::wstring& folder, const std::wstring& arguments) {
  LaunchOptions options;
  options.arguments = arguments;
  options.environment = Environment();
  return RunToExit(folder + L"\\Uninst.exe", options, 180000);
}

bool InstallEndToEnd::ProductStartedFrom(const std::wstring& folder) {
  HWND product = WaitForAnyWindow(IsProductWindow, kxdrive::kDefaultTimeoutMs);
  // The folder window comes second; both must be gone before the next run.
  WaitForAnyWindow(IsFolderWindow, kxdrive::kDefaultTimeoutMs);
  bool fromFolder = false;
  if (product) {
    DWORD processId = 0;
    GetWindowThreadProcessId(product, &processId);
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    wchar_t image[MAX_PATH];
    DWORD size = MAX_PATH;
    if (process && QueryFullProcessImageNameW(process, 0, image, &size))
      fromFolder = lstrcmpiW(image, (folder + L"\\Quillmark Toolkit.exe").c_str()) == 0;
    if (process) CloseHandle(process);
  }
  CloseTaskWindows();
  return fromFolder;
}

std::vector<kxcore::UninstallRecord> InstallEndToEnd::ReadLog(const std::wstring& folder) {
  std::vector<kxcore::UninstallRecord> records;
  EXPECT_EQ(kxcore::ReadUninstallLog(folder + L"\\Uninst.dat", &records), kxcore::LogFileStatus::kOk);
  return records;
}

void InstallEndToEnd::ExpectInstalled(const std::wstring& folder, const std::wstring& startMenuFolder) {
  for (const PayloadFile& file : payload_) {
    SCOPED_TRACE(Narrow(file.relative));
    std::wstring path = folder + L"\\" + file.relative;
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(ReadBytes(path), file.bytes);
    EXPECT_EQ(CompareFileTime(&data.ftLastWriteTime, &file.written), 0);
    EXPECT_EQ(data.dwFileAttributes & kAttributeBits, file.attributes);
  }
  EXPECT_EQ(ReadBytes(folder + L"\\Uninst.exe"), ReadBytes(TestDataPath("KX_TEST_OUT") + L"\\Uninst.exe"));
  EXPECT_FALSE(ReadLog(folder).empty());

  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayName"), L"Quillmark Toolkit");
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayVersion"), L"2020.01.15.01");
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kUninstallKey, L"UninstallString"), folder + L"\\Uninst.exe");
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kUninstallKey, L"Publisher"), L"Quillmark, LLC");
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kUninstallKey, L"URLInfoAbout"), L"https://www.quillmark.example");
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayIcon"), folder + L"\\Uninst.exe,0");
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kUninstallKey, L"InstallLocation"), folder);
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kUninstallKey, L"QuietUninstallString"),
            L"\"" + folder + L"\\Uninst.exe\" /S");
  EXPECT_EQ(RegDword(HKEY_LOCAL_MACHINE, kUninstallKey, L"NoModify"), 1u);
  EXPECT_EQ(RegDword(HKEY_LOCAL_MACHINE, kUninstallKey, L"NoRepair"), 1u);
  // The payload and the uninstaller, in KB rounded up.
  unsigned long long bytes = ReadBytes(TestDataPath("KX_TEST_OUT") + L"\\Uninst.exe").size();
  for (const PayloadFile& file : payload_) bytes += file.bytes.size();
  EXPECT_EQ(RegDword(HKEY_LOCAL_MACHINE, kUninstallKey, L"EstimatedSize"), (bytes + 1023) / 1024);

  EXPECT_EQ(ShortcutTarget(startMenuFolder + L"\\Quillmark Toolkit.lnk"), folder + L"\\Quillmark Toolkit.exe");
  EXPECT_TRUE(ListFolder(temp_).empty()) << "runtime folder left in %TEMP%";
}

void InstallEndToEnd::ExpectNothingInstalled() {
  EXPECT_FALSE(FolderExists(defaultFolder_));
  HKEY key = nullptr;
  EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ, &key), ERROR_SUCCESS);
  if (key) RegCloseKey(key);
  EXPECT_FALSE(FolderExists(startMenuRoot_ + L"\\Quillmark"));
  EXPECT_TRUE(ListFolder(temp_).empty()) << "runtime folder left in %TEMP%";
}

std::wstring KnownFolder(REFKNOWNFOLDERID id) {
  PWSTR path = nullptr;
  std::wstring result;
  if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &path))) result = path;
  CoTaskMemFree(path);
  return result;
}

std::wstring RegString(HKEY root, const std::wstring& key, const wchar_t* name) {
  wchar_t value[1024] = L"";
  DWORD size = sizeof value;
  if (RegGetValueW(root, key.c_str(), name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
    return L"<missing>";
  return value;
}

std::vector<std::pair<std::wstring, std::wstring>> PendingOperations() {
  std::vector<std::pair<std::wstring, std::wstring>> operations;
  DWORD size = 0;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, kSessionManager, kPending, RRF_RT_REG_MULTI_SZ, nullptr, nullptr, &size) !=
      ERROR_SUCCESS)
    return operations;
  std::wstring block(size / sizeof(wchar_t) + 1, L'\0');
  RegGetValueW(HKEY_LOCAL_MACHINE, kSessionManager, kPending, RRF_RT_REG_MULTI_SZ, nullptr, &block[0], &size);
  std::vector<std::wstring> strings;
  for (const wchar_t* p = block.c_str(); p < block.c_str() + size / sizeof(wchar_t); p += wcslen(p) + 1)
    strings.push_back(p);
  auto plain = [](std::wstring path) { return path.rfind(L"\\??\\", 0) == 0 ? path.substr(4) : path; };
  for (size_t i = 0; i + 1 < strings.size(); i += 2) operations.push_back({plain(strings[i]), plain(strings[i + 1])});
  return operations;
}

std::vector<std::wstring> RunLogSteps(const std::wstring& path) {
  std::string bytes = ReadBytes(path);
  std::vector<std::wstring> steps;
  const std::regex stamp("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} ");
  size_t start = 0;
  for (size_t end; (end = bytes.find("\r\n", start)) != std::string::npos; start = end + 2) {
    std::string line = bytes.substr(start, end - start);
    EXPECT_TRUE(line.size() >= 24 && std::regex_match(line.substr(0, 24), stamp)) << line;
    if (line.size() < 24) continue;
    int size = MultiByteToWideChar(CP_UTF8, 0, line.data() + 24, static_cast<int>(line.size() - 24), nullptr, 0);
    std::wstring step(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, line.data() + 24, static_cast<int>(line.size() - 24), &step[0], size);
    steps.push_back(step);
  }
  EXPECT_EQ(start, bytes.size()) << "the log ends inside a line";
  return steps;
}

bool HasStep(const std::vector<std::wstring>& steps, const std::wstring& prefix) {
  return std::any_of(steps.begin(), steps.end(),
                     [&](const std::wstring& step) { return step.compare(0, prefix.size(), prefix) == 0; });
}

DWORD RegDword(HKEY root, const std::wstring& key, const wchar_t* name) {
  DWORD value = 0xDEADBEEF;
  DWORD size = sizeof value;
  RegGetValueW(root, key.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value, &size);
  return value;
}

std::string StepsText(const std::vector<std::wstring>& steps) {
  std::string text = "\n";
  for (const std::wstring& step : steps) text += Narrow(step) + "\n";
  return text;
}

std::wstring ShortcutTarget(const std::wstring& linkFile) {
  std::wstring target = L"<no link>";
  IShellLinkW* link = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(&link))))
    return target;
  IPersistFile* file = nullptr;
  if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
    wchar_t path[MAX_PATH];
    if (SUCCEEDED(file->Load(linkFile.c_str(), STGM_READ)) &&
        SUCCEEDED(link->GetPath(path, MAX_PATH, nullptr, SLGP_RAWPATH)))
      target = path;
    file->Release();
  }
  link->Release();
  return target;
}

}  // namespace kxtest

namespace kxcore {

void PrintTo(const UninstallRecord& record, std::ostream* out) {
  *out << record.kind << " " << kxtest::Narrow(record.text);
}

}  // namespace kxcore
