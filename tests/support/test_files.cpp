#include "tests/support/test_files.h"

#include <stdlib.h>

#include <algorithm>

namespace kxtest {

ScratchFolder::ScratchFolder() {
  wchar_t temp[MAX_PATH + 1];
  GetTempPathW(MAX_PATH, temp);
  static LONG counter;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    std::wstring candidate = std::wstring(temp) + L"kxtest-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                             std::to_wstring(InterlockedIncrement(&counter));
    if (CreateDirectoryW(candidate.c_str(), nullptr)) {
      path_ = candidate + L"\\";
      return;
    }
  }
}

ScratchFolder::~ScratchFolder() {
  if (!path_.empty()) RemoveTree(path_.substr(0, path_.size() - 1));
}

void RemoveTree(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring path = folder + L"\\" + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(path);
      } else {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
      }
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_DIRECTORY);
  RemoveDirectoryW(folder.c_str());
}

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = bytes.empty() || WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == bytes.size();
}

bool ReadBytes(const std::wstring& path, std::string* bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size;
  bool ok = GetFileSizeEx(file, &size) != 0;
  if (ok) {
    bytes->assign(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    ok = size.QuadPart == 0 ||
         (ReadFile(file, &(*bytes)[0], static_cast<DWORD>(size.QuadPart), &read, nullptr) && read == size.QuadPart);
  }
  CloseHandle(file);
  return ok;
}

std::string ReadBytes(const std::wstring& path) {
  std::string bytes;
  ReadBytes(path, &bytes);
  return bytes;
}

bool FileExists(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::vector<std::wstring> ListFolder(const std::wstring& folder) {
  std::vector<std::wstring> names;
  std::wstring pattern = folder;
  if (!pattern.empty() && pattern.back() != L'\\') pattern += L'\\';
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((pattern + L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

std::wstring Widen(const std::string& text) {
  if (text.empty()) return std::wstring();
  int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(units), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], units);
  return wide;
}

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return std::string();
  int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &narrow[0], bytes, nullptr, nullptr);
  return narrow;
}

std::wstring FromUnixPath(const std::string& unixPath) {
  std::wstring path = L"Z:" + Widen(unixPath);
  std::replace(path.begin(), path.end(), L'/', L'\\');
  return path;
}

std::wstring TestDataPath(const char* variable) {
  const char* value = getenv(variable);
  return value && *value ? FromUnixPath(value) : std::wstring();
}

namespace {

void AddTreeState(const std::wstring& root, const std::wstring& relative, std::map<std::wstring, EntryState>* states) {
  for (const std::wstring& name : ListFolder(root + relative)) {
    const std::wstring path = root + relative + name;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) continue;
    EntryState& state = (*states)[relative + name];
    state.folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    state.attributes = data.dwFileAttributes;
    if (state.folder) {
      AddTreeState(root, relative + name + L"\\", states);
    } else {
      state.bytes = ReadBytes(path);
      state.written = (uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) | data.ftLastWriteTime.dwLowDateTime;
    }
  }
}

}  // namespace

void PrintTo(const EntryState& state, std::ostream* out) {
  if (state.folder) {
    *out << "folder, attributes " << state.attributes;
    return;
  }
  *out << state.bytes.size() << " bytes \"" << state.bytes.substr(0, 40) << "\", written " << state.written
       << ", attributes " << state.attributes;
}

std::map<std::wstring, EntryState> TreeState(const std::wstring& folder) {
  std::map<std::wstring, EntryState> states;
  AddTreeState(folder + L"\\", L"", &states);
  return states;
}

std::wstring VersionString(const std::string& block, const wchar_t* name) {
  wchar_t* value = nullptr;
  UINT length = 0;
  std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
  if (!VerQueryValueW(block.data(), path.c_str(), reinterpret_cast<void**>(&value), &length) || !value) return L"";
  return value;
}

}  // namespace kxtest
