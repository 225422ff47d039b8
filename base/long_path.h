// Paths longer than MAX_PATH. Windows' file functions take up to 32,767
// units when the path carries the "\\?\" prefix (or "\\?\UNC\" for a share),
// whatever the program's manifest or the system's LongPathsEnabled setting
// say; without it most of them stop at 260 (CreateDirectoryW at 248). The
// programs keep paths in their plain form everywhere (the run log, the
// uninstall log, the messages) and hand the prefixed form to Windows only at
// the call, through Win32Path.
#ifndef KX_BASE_LONG_PATH_H
#define KX_BASE_LONG_PATH_H

#include <windows.h>

// Windows' own limit: 32,767 units and the terminating zero.
constexpr size_t kLongPathCapacity = 32768;

// Below this length every file function takes the plain form (CreateDirectoryW
// needs room for an 8.3 name within MAX_PATH).
constexpr size_t kPlainPathLimit = MAX_PATH - 12;

// Writes the prefixed form of a full path into out (capacity units): "\\?\"
// before a drive path, "\\?\UNC\server\share\..." for "\\server\share\...".
// The path must already be in its normal form (full, backslashes, no "." or
// ".." levels): behind the prefix Windows takes every character literally.
// A path that already has a "\\?\" or "\\.\" prefix is copied as it is.
// False, with out empty, for a relative path or one that does not fit.
bool PrefixLongPath(const wchar_t* path, wchar_t* out, size_t capacity);

// The form of path to hand to a Win32 file function: the path itself when it
// is shorter than kPlainPathLimit (no cost for the usual case), else its full
// normal form (GetFullPathNameW) with the prefix, in a buffer of
// kLongPathCapacity units on the process heap, which is too large for the
// stacks of the programs' threads. When that fails (no memory, a path beyond
// Windows' limit) get() is the path itself and the call fails as it would have.
class Win32Path {
 public:
  explicit Win32Path(const wchar_t* path);
  ~Win32Path();
  Win32Path(const Win32Path&) = delete;
  Win32Path& operator=(const Win32Path&) = delete;
  const wchar_t* get() const { return text_; }

 private:
  wchar_t* owned_ = nullptr;
  const wchar_t* text_;
};

// A buffer of kLongPathCapacity units on the process heap, for paths the
// programs build or keep; data() is null when there was no memory.
class LongPathBuffer {
 public:
  LongPathBuffer();
  ~LongPathBuffer();
  LongPathBuffer(const LongPathBuffer&) = delete;
  LongPathBuffer& operator=(const LongPathBuffer&) = delete;
  wchar_t* data() const { return data_; }
  static constexpr size_t capacity() { return kLongPathCapacity; }

 private:
  wchar_t* data_;
};

// The system's text for a Windows error code ("Access is denied."), without
// its line break, into text (capacity units); "Error <code>" when the system
// has none. For the run log, which names the file and why it failed.
void SystemErrorText(DWORD error, wchar_t* text, size_t capacity);

#endif
