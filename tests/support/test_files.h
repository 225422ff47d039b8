// File and folder helpers for tests running under Wine.
#ifndef KX_TESTS_SUPPORT_TEST_FILES_H
#define KX_TESTS_SUPPORT_TEST_FILES_H

#include <windows.h>

#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace kxtest {

// A fresh, uniquely named folder under the temporary-files folder, removed
// with everything in it when the object goes. path() ends in a backslash.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::wstring& path() const { return path_; }
  std::wstring operator/(const std::wstring& name) const { return path_ + name; }

 private:
  std::wstring path_;
};

// Removes a folder tree, clearing read-only attributes first. Best effort.
void RemoveTree(const std::wstring& folder);

bool WriteBytes(const std::wstring& path, const std::string& bytes);
bool ReadBytes(const std::wstring& path, std::string* bytes);
std::string ReadBytes(const std::wstring& path);
bool FileExists(const std::wstring& path);
bool FolderExists(const std::wstring& path);

// Names directly inside a folder (no "." or ".."), sorted.
std::vector<std::wstring> ListFolder(const std::wstring& folder);

// One file or folder as a test compares it to say "exactly as it was".
struct EntryState {
  bool folder = false;
  std::string bytes;
  uint64_t written = 0;  // last-write FILETIME as one number
  DWORD attributes = 0;
  bool operator==(const EntryState& other) const {
    return folder == other.folder && bytes == other.bytes && written == other.written &&
           attributes == other.attributes;
  }
};
void PrintTo(const EntryState& state, std::ostream* out);

// Every file and folder below folder, by path relative to it ("docs\a.txt");
// empty when the folder does not exist.
std::map<std::wstring, EntryState> TreeState(const std::wstring& folder);

// A path handed over from the Linux side (CTest), as Wine shows it: Z: drive.
std::wstring FromUnixPath(const std::string& unixPath);

// An environment variable set by CTest, converted with FromUnixPath; the
// test fails when it is missing.
std::wstring TestDataPath(const char* variable);

std::wstring Widen(const std::string& text);
std::string Narrow(const std::wstring& text);

// One string of a version-information block (GetFileVersionInfoW's), in the
// US English / Unicode table the packages write; empty when it is missing.
std::wstring VersionString(const std::string& block, const wchar_t* name);

}  // namespace kxtest

#endif
