#include "tests/support/file_links.h"

#include <windows.h>
#include <winioctl.h>

#include <cstring>
#include <vector>

namespace kxtest {
namespace {

// A mount point's reparse data: the target as "\??\C:\..." and an empty
// print name.
bool MakeJunction(const std::wstring& link, const std::wstring& target) {
  if (!CreateDirectoryW(link.c_str(), nullptr)) return false;
  HANDLE folder = CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  bool made = false;
  if (folder != INVALID_HANDLE_VALUE) {
    const std::wstring substitute = L"\\??\\" + target;
    const USHORT nameBytes = static_cast<USHORT>(substitute.size() * sizeof(wchar_t));
    std::vector<BYTE> data(8 + 8 + nameBytes + 2 * sizeof(wchar_t), 0);
    const ULONG tag = IO_REPARSE_TAG_MOUNT_POINT;
    const USHORT length = static_cast<USHORT>(data.size() - 8);
    const USHORT printOffset = static_cast<USHORT>(nameBytes + sizeof(wchar_t));
    std::memcpy(&data[0], &tag, 4);
    std::memcpy(&data[4], &length, 2);
    std::memcpy(&data[10], &nameBytes, 2);
    std::memcpy(&data[12], &printOffset, 2);
    std::memcpy(&data[16], substitute.data(), nameBytes);
    DWORD returned = 0;
    made = DeviceIoControl(folder, FSCTL_SET_REPARSE_POINT, data.data(), static_cast<DWORD>(data.size()), nullptr, 0,
                           &returned, nullptr) != 0;
    CloseHandle(folder);
  }
  if (!made) RemoveDirectoryW(link.c_str());
  return made;
}

bool Stands(const std::wstring& path) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(path.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  return true;
}

// Waits up to ten seconds for something to stand at path (or for nothing
// to): Wine hands back a process handle for a Unix program that may be
// signalled before the program has done its work, so the wait on it proves
// nothing.
bool WaitUntilStands(const std::wstring& path, bool expected) {
  for (int i = 0; i < 100; ++i) {
    if (Stands(path) == expected) return true;
    Sleep(100);
  }
  return false;
}

using UnixName = char*(CDECL*)(const wchar_t*);

UnixName UnixNameFunction() {
  return reinterpret_cast<UnixName>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
}

// Runs a Unix program (Z:\bin\...) with line as its command line and waits
// for it. True when it started.
bool RunUnixProgram(const wchar_t* program, const std::string& line) {
  std::wstring command(line.begin(), line.end());
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(program, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return false;
  WaitForSingleObject(process.hProcess, 30000);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

// Under Wine: /bin/ln -s between the Unix names of both paths.
bool MakeUnixLink(const std::wstring& link, const std::wstring& target) {
  UnixName unixName = UnixNameFunction();
  if (!unixName) return false;
  char* linkName = unixName(link.c_str());
  char* targetName = unixName(target.c_str());
  bool started = false;
  if (linkName && targetName)
    started = RunUnixProgram(L"Z:\\bin\\ln", std::string("/bin/ln -s \"") + targetName + "\" \"" + linkName + "\"");
  if (linkName) HeapFree(GetProcessHeap(), 0, linkName);
  if (targetName) HeapFree(GetProcessHeap(), 0, targetName);
  return started;
}

// Under Wine: /bin/rm -f on the link's Unix name, which removes the link
// itself and never what it leads to.
bool RemoveUnixLink(const std::wstring& link) {
  UnixName unixName = UnixNameFunction();
  if (!unixName) return false;
  char* linkName = unixName(link.c_str());
  if (!linkName) return false;
  const bool started = RunUnixProgram(L"Z:\\bin\\rm", std::string("/bin/rm -f \"") + linkName + "\"");
  HeapFree(GetProcessHeap(), 0, linkName);
  return started;
}

}  // namespace

bool MakeLink(const std::wstring& link, const std::wstring& target) {
  const DWORD attributes = GetFileAttributesW(target.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && MakeJunction(link, target)) return true;
  // Wine's CreateSymbolicLinkW reports success without a link: judge by what stands.
  const DWORD flags = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0;
  if (CreateSymbolicLinkW(link.c_str(), target.c_str(), flags | 0x2) && Stands(link)) return true;
  return MakeUnixLink(link, target) && WaitUntilStands(link, true);
}

bool RemoveLink(const std::wstring& link) {
  // A junction or a Windows symbolic link to a folder goes with
  // RemoveDirectoryW, one to a file with DeleteFileW; Wine's calls follow a
  // Unix link to its target and leave the link.
  if (!Stands(link)) return true;
  if (RemoveDirectoryW(link.c_str()) || DeleteFileW(link.c_str())) return !Stands(link);
  return RemoveUnixLink(link) && WaitUntilStands(link, false);
}

}  // namespace kxtest
