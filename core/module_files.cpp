#include "core/module_files.h"

#include "base/handle_guard.h"

namespace kxcore {

HMODULE LibraryModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&LibraryModule), &module);
  return module;
}

std::wstring LibraryFolder() {
  wchar_t path[MAX_PATH * 2];
  DWORD length = GetModuleFileNameW(LibraryModule(), path, MAX_PATH * 2);
  if (length == 0 || length >= MAX_PATH * 2) return std::wstring();
  std::wstring folder(path, length);
  size_t slash = folder.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : folder.substr(0, slash + 1);
}

bool ReadWholeFile(const std::wstring& path, std::string* bytes) {
  FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart > 256 * 1024 * 1024) return false;
  bytes->assign(static_cast<size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (size.QuadPart > 0 &&
      (!ReadFile(file.get(), &(*bytes)[0], static_cast<DWORD>(size.QuadPart), &read, nullptr) ||
       read != size.QuadPart))
    return false;
  return true;
}

std::wstring DecodeText(std::string_view bytes, UINT codePage, DWORD flags) {
  if (bytes.empty()) return std::wstring();
  int units = MultiByteToWideChar(codePage, flags, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  if (units <= 0) return std::wstring();
  std::wstring text(static_cast<size_t>(units), L'\0');
  MultiByteToWideChar(codePage, flags, bytes.data(), static_cast<int>(bytes.size()), &text[0], units);
  return text;
}

std::string EncodeText(const std::wstring& text, UINT codePage) {
  if (text.empty()) return std::string();
  int size = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), &bytes[0], size, nullptr, nullptr);
  return bytes;
}

bool ReadModuleSiblingFile(const wchar_t* name, std::string* bytes) {
  std::wstring folder = LibraryFolder();
  return !folder.empty() && ReadWholeFile(folder + name, bytes);
}

}  // namespace kxcore
