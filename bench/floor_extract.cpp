// The benchmark's floor: the same payload archive unpacked by the least a
// program can do with the LZMA SDK's 7z decoder and Win32 file calls. Each
// solid block is decoded once into one buffer, each file written from it in
// one go, with its stored time and attributes; folders are made only when a
// file cannot be created without them; no hook, no log, no messages.
//
//   kxbench_floor PACKAGE PAYLOAD_OFFSET DESTINATION
#include <windows.h>
#include <stdlib.h>
#include <wchar.h>

#include "7z.h"
#include "7zCrc.h"
#include "7zFile.h"
#include "bench/bench_report.h"

namespace {

void* Allocate(ISzAllocPtr, size_t size) { return size ? HeapAlloc(GetProcessHeap(), 0, size) : nullptr; }
void Release(ISzAllocPtr, void* address) {
  if (address) HeapFree(GetProcessHeap(), 0, address);
}
ISzAlloc g_alloc = {Allocate, Release};

// Creates every folder above the last separator of path; used only when a
// file cannot be created because its folder is missing.
void CreateParents(wchar_t* path) {
  wchar_t* slash = wcsrchr(path, L'\\');
  if (!slash) return;
  *slash = L'\0';
  for (wchar_t* p = wcschr(path + 3, L'\\');; p = wcschr(p + 1, L'\\')) {
    if (p) *p = L'\0';
    CreateDirectoryW(path, nullptr);
    if (!p) break;
    *p = L'\\';
  }
  *slash = L'\\';
}

HANDLE CreateOutput(wchar_t* path) {
  HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_PATH_NOT_FOUND) return file;
  CreateParents(path);
  return CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

int Unpack(CSzArEx* db, ILookInStreamPtr stream, const wchar_t* destination, long* files) {
  UInt32 blockIndex = 0xFFFFFFFF;
  Byte* block = nullptr;
  size_t blockSize = 0;
  wchar_t path[1024];
  size_t base = wcslen(destination);
  wmemcpy(path, destination, base);
  path[base++] = L'\\';
  CreateDirectoryW(destination, nullptr);

  int result = 0;
  for (UInt32 i = 0; i < db->NumFiles && result == 0; ++i) {
    size_t length = SzArEx_GetFileNameUtf16(db, i, nullptr);
    if (base + length > 1024) return 11;
    SzArEx_GetFileNameUtf16(db, i, reinterpret_cast<UInt16*>(path + base));
    for (wchar_t* p = path + base; *p; ++p)
      if (*p == L'/') *p = L'\\';
    if (SzArEx_IsDir(db, i)) {
      // 7-Zip lists every folder, parents first.
      if (!CreateDirectoryW(path, nullptr) && GetLastError() == ERROR_PATH_NOT_FOUND) {
        CreateParents(path);
        CreateDirectoryW(path, nullptr);
      }
      continue;
    }
    size_t offset = 0, size = 0;
    if (db->FileToFolder[i] != 0xFFFFFFFF) {
      result = SzArEx_Extract(db, stream, i, &blockIndex, &block, &blockSize, &offset, &size, &g_alloc, &g_alloc);
      if (result != 0) break;
    }
    HANDLE file = CreateOutput(path);
    if (file == INVALID_HANDLE_VALUE) return 11;
    for (size_t done = 0; done < size;) {
      DWORD piece = static_cast<DWORD>(size - done < (1u << 22) ? size - done : (1u << 22));
      DWORD written = 0;
      if (!WriteFile(file, block + offset + done, piece, &written, nullptr) || written == 0) {
        result = 9;
        break;
      }
      done += written;
    }
    if (SzBitWithVals_Check(&db->MTime, i)) {
      FILETIME time = {db->MTime.Vals[i].Low, db->MTime.Vals[i].High};
      SetFileTime(file, nullptr, nullptr, &time);
    }
    CloseHandle(file);
    if (SzBitWithVals_Check(&db->Attribs, i)) {
      UInt32 attributes = db->Attribs.Vals[i];
      if (attributes & 0x8000) attributes &= 0x7FFF;
      SetFileAttributesW(path, attributes);
    }
    ++*files;
  }
  Release(nullptr, block);
  return result;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: kxbench_floor PACKAGE PAYLOAD_OFFSET DESTINATION\n");
    return 2;
  }
  LARGE_INTEGER start;
  QueryPerformanceCounter(&start);
  CrcGenerateTable();
  CFileInStream file;
  File_Construct(&file.file);
  FileInStream_CreateVTable(&file);
  static Byte lookBuffer[1 << 14];
  CLookToRead2 look;
  LookToRead2_CreateVTable(&look, False);
  look.buf = lookBuffer;
  look.bufSize = sizeof(lookBuffer);
  look.realStream = &file.vt;
  LookToRead2_INIT(&look);
  CSzArEx db;
  SzArEx_Init(&db);

  long files = 0;
  int result = 11;
  Int64 offset = _wcstoi64(argv[2], nullptr, 10);
  if (InFile_OpenW(&file.file, argv[1]) == 0 && File_Seek(&file.file, &offset, SZ_SEEK_SET) == 0) {
    result = SzArEx_Open(&db, &look.vt, &g_alloc, &g_alloc);
    if (result == 0) result = Unpack(&db, &look.vt, argv[3], &files);
  }
  SzArEx_Free(&db, &g_alloc);
  File_Close(&file.file);
  PrintReport(result, files, MillisecondsSince(start));
  return result;
}
