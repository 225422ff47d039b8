#include "launcher/uninstaller_completion.h"

#include <windows.h>
#include <wchar.h>

#include "base/handle_guard.h"
#include "base/loader_sections.h"
#include "base/package_format.h"
#include "launcher/archive_reader.h"
#include "launcher/container.h"

namespace {

constexpr size_t kEntryNameCapacity = MAX_PATH;
constexpr DWORD kChunkBytes = 64 * 1024;
constexpr uint32_t kNoEntry = 0xFFFFFFFF;
constexpr size_t kLibraryPathCapacity = 800;

// Where the core library's bytes stand in the uninstaller's file.
struct LibraryPlace {
  uint64_t position = 0;
  uint64_t size = 0;
  bool stored = false;  // its block is stored as it is, so the bytes are there
  bool whole = false;   // it unpacks with its CRC
};

uint32_t FindEntry(const ArchiveReader* reader, const wchar_t* name) {
  for (uint32_t i = 0; i < ArchiveEntryCount(reader); ++i) {
    if (ArchiveEntryIsDir(reader, i) || ArchiveEntryNameLength(reader, i) > kEntryNameCapacity) continue;
    wchar_t entry[kEntryNameCapacity];
    ArchiveEntryName(reader, i, entry);
    if (CompareStringOrdinal(entry, -1, name, -1, TRUE) == CSTR_EQUAL) return i;
  }
  return kNoEntry;
}

// Opens the uninstaller's runtime archive and finds the library named name.
// False when the file is no program of ours or carries no such library.
bool FindLibraryPlace(const wchar_t* path, const wchar_t* name, LibraryPlace* place) {
  ContainerInfo container;
  if (!LocateContainer(path, &container) || container.offset == 0) return false;
  ArchiveReader reader;
  ArchiveReaderInit(&reader);
  uint64_t archive = 0;
  bool found = ArchiveReaderOpenFile(&reader, path) == 0 &&
               FindRuntimeArchive(ArchiveReaderFile(&reader), container.offset, container.payloadLength, &archive) &&
               ArchiveReaderSeek(&reader, archive) == 0 && ArchiveReaderOpenDatabase(&reader) == SZ_OK;
  const uint32_t index = found ? FindEntry(&reader, name) : kNoEntry;
  found = index != kNoEntry && reader.db.FileToFolder[index] != kNoCachedBlock;
  if (found) {
    const CSzArEx& db = reader.db;
    const uint32_t block = db.FileToFolder[index];
    const uint32_t firstStream = db.db.FoStartPackStreamIndex[block];
    const uint64_t packed = db.db.PackPositions[firstStream + 1] - db.db.PackPositions[firstStream];
    // One packed stream as long as the block unpacked: kxpack stores the
    // uninstaller's runtime without compression or filter. Anything else
    // is never completed; the CRC check below still judges it.
    place->stored = db.db.FoStartPackStreamIndex[block + 1] == firstStream + 1 &&
                    packed == SzAr_GetFolderUnpackSize(&db.db, block);
    place->position = db.dataPos + db.db.PackPositions[firstStream] + db.UnpackPositions[index] -
                      db.UnpackPositions[db.FolderToFile[block]];
    place->size = SzArEx_GetFileSize(&db, index);
    size_t offset = 0, size = 0;
    place->whole = ArchiveExtractEntry(&reader, index, &offset, &size) == SZ_OK && size == place->size;
  }
  ArchiveReaderClose(&reader);
  return found;
}

bool ReadExactly(HANDLE file, unsigned char* bytes, DWORD count) {
  DWORD read = 0;
  return ReadFile(file, bytes, count, &read, nullptr) && read == count;
}

bool Seek(HANDLE file, uint64_t position) {
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(position);
  return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) != 0;
}

// Copies size bytes of source from sourcePosition on to position in target,
// where they must be all zero (a chunk that is not ends the copy).
bool FillZeroBytes(HANDLE target, HANDLE source, uint64_t sourcePosition, uint64_t position, uint64_t size) {
  static unsigned char held[kChunkBytes], given[kChunkBytes];
  for (uint64_t done = 0; done < size;) {
    const DWORD count = static_cast<DWORD>(size - done < kChunkBytes ? size - done : kChunkBytes);
    if (!Seek(target, position + done) || !ReadExactly(target, held, count) ||
        !Seek(source, sourcePosition + done) || !ReadExactly(source, given, count))
      return false;
    for (DWORD i = 0; i < count; ++i)
      if (held[i] != 0) return false;
    DWORD written = 0;
    if (!Seek(target, position + done) || !WriteFile(target, given, count, &written, nullptr) || written != count)
      return false;
    done += count;
  }
  return true;
}

bool AllZero(HANDLE file, uint64_t position, uint64_t size, bool* zero) {
  static unsigned char held[kChunkBytes];
  *zero = false;
  for (uint64_t done = 0; done < size;) {
    const DWORD count = static_cast<DWORD>(size - done < kChunkBytes ? size - done : kChunkBytes);
    if (!Seek(file, position + done) || !ReadExactly(file, held, count)) return false;
    for (DWORD i = 0; i < count; ++i)
      if (held[i] != 0) return true;
    done += count;
  }
  *zero = true;
  return true;
}

// Writes the library's bytes into the place, which must be all zero.
bool FillPlace(const wchar_t* path, const wchar_t* library, const LibraryPlace& place) {
  FileHandle source(CreateFileW(library, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  LARGE_INTEGER sourceSize;
  if (!source || !GetFileSizeEx(source.get(), &sourceSize) || static_cast<uint64_t>(sourceSize.QuadPart) != place.size)
    return false;
  FileHandle target(CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  return target && FillZeroBytes(target.get(), source.get(), 0, place.position, place.size);
}

bool ReadHeaders(HANDLE file, unsigned char* buffer, size_t* bytesRead) {
  DWORD read = 0;
  if (!Seek(file, 0) || !ReadFile(file, buffer, static_cast<DWORD>(kxformat::kHeaderBufferSize), &read, nullptr))
    return false;
  *bytesRead = read;
  return true;
}

// Each of the uninstaller's loader sections that is all zero gets the bytes
// of the same section of the running setup program (the same place and
// size). A section the setup program lacks is left as it is: kxpack leaves
// out only sections both programs have alike, and a section that is zero
// in both (the thread-local data's template, say) is one already.
bool CompleteLoader(const wchar_t* path, const wchar_t* ownProgram) {
  if (ownProgram == nullptr || ownProgram[0] == L'\0') return true;
  FileHandle own(CreateFileW(ownProgram, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  FileHandle target(CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  static unsigned char ownHeaders[kxformat::kHeaderBufferSize], headers[kxformat::kHeaderBufferSize];
  size_t ownRead = 0, read = 0;
  // The running program's own file was read for its runtime moments ago; one
  // that cannot be opened now leaves nothing to take the sections from.
  if (!own) return true;
  if (!target || !ReadHeaders(own.get(), ownHeaders, &ownRead) || !ReadHeaders(target.get(), headers, &read))
    return false;
  kxformat::LoaderSection ownSections[kxformat::kMaxLoaderSections], sections[kxformat::kMaxLoaderSections];
  const size_t ownCount = kxformat::FindLoaderSections(ownHeaders, ownRead, ownSections);
  const size_t count = kxformat::FindLoaderSections(headers, read, sections);
  for (size_t i = 0; i < count && i < ownCount; ++i) {
    if (sections[i].offset != ownSections[i].offset || sections[i].size != ownSections[i].size) continue;
    bool zero = false;
    if (!AllZero(target.get(), sections[i].offset, sections[i].size, &zero)) return false;
    if (zero && !FillZeroBytes(target.get(), own.get(), sections[i].offset, sections[i].offset, sections[i].size))
      return false;
  }
  return true;
}

bool CompleteLibrary(const wchar_t* path, const wchar_t* runtimeFolder, const wchar_t* name) {
  wchar_t library[kLibraryPathCapacity];
  if (wcslen(runtimeFolder) + wcslen(name) >= kLibraryPathCapacity) return false;
  wcscpy(library, runtimeFolder);
  wcscat(library, name);
  LibraryPlace place;
  if (!FindLibraryPlace(path, name, &place)) return false;
  if (place.whole) return true;
  if (!place.stored || !FillPlace(path, library, place)) return false;
  return FindLibraryPlace(path, name, &place) && place.whole;
}

}  // namespace

bool CompletePackagedUninstaller(const wchar_t* path, const wchar_t* ownProgram, const wchar_t* runtimeFolder) {
  return CompleteLoader(path, ownProgram) && CompleteLibrary(path, runtimeFolder, kxformat::kCoreLibraryFileW) &&
         CompleteLibrary(path, runtimeFolder, kxformat::kProgramLibraryFileW);
}
