// A 7z archive's header read in parts (extract/archive_header.h), as the
// setup program reads the payload's, against the LZMA SDK's SzArEx_Open of
// the same bytes, which the programs used before and the runtime archive
// still uses.
//
// Checks beyond "no crash": both open the archive or both refuse it, with the
// same code (memory the SDK could not have aside, and the additional streams
// the reader refuses); an opened archive lists the same entries, in order,
// with the same names, folder flags, blocks, offsets and sizes, CRCs, times
// and attributes; and a second cursor, and a copy of one taken halfway,
// read them again the same.
//
// The store is memory here; in the programs it is a temporary file.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "7z.h"
#include "7zCrc.h"
#include "7zFile.h"
#include "extract/archive_header.h"
#include "extract/entry_cursor.h"
#include "fuzz/targets/archive_fuzz_support.h"

namespace {

using namespace kxfuzz;

struct SdkArchive {
  CFileInStream file;
  CLookToRead2 look;
  unsigned char lookBuffer[1 << 14];
  CSzArEx db;
};

std::u16string SdkName(const CSzArEx* db, uint32_t index) {
  const size_t length = SzArEx_GetFileNameUtf16(db, index, nullptr);
  std::vector<UInt16> units(length + 1, 0);
  SzArEx_GetFileNameUtf16(db, index, units.data());
  return std::u16string(units.begin(), units.begin() + (length ? length - 1 : 0));
}

// The entry as the SDK lists it must be the cursor's.
void CompareEntry(const CSzArEx* db, uint32_t i, const ArchiveEntry& e, const char16_t* name, size_t capacity) {
  if (e.index != i || e.isDir != (SzArEx_IsDir(db, i) != 0)) abort();
  if (e.block != db->FileToFolder[i] || e.size != SzArEx_GetFileSize(db, i)) abort();
  if (e.block != kNoBlock) {
    const uint64_t offset = db->UnpackPositions[i] - db->UnpackPositions[db->FolderToFile[e.block]];
    if (e.offset != offset) abort();
  }
  const bool hasCrc = SzBitWithVals_Check(&db->CRCs, i);
  if (e.hasCrc != hasCrc || (hasCrc && e.crc != db->CRCs.Vals[i])) abort();
  const bool hasTime = SzBitWithVals_Check(&db->MTime, i);
  if (e.hasTime != hasTime ||
      (hasTime && (e.timeHigh != db->MTime.Vals[i].High || e.timeLow != db->MTime.Vals[i].Low)))
    abort();
  const bool hasAttributes = SzBitWithVals_Check(&db->Attribs, i);
  if (e.hasAttributes != hasAttributes || (hasAttributes && e.attributes != db->Attribs.Vals[i])) abort();
  if (e.nameUnits != SzArEx_GetFileNameUtf16(db, i, nullptr)) abort();
  const std::u16string expected = SdkName(db, i);
  if (e.nameUnits <= capacity) {
    if (expected != name) abort();
  } else if (name[capacity - 1] != 0 || expected.compare(0, capacity - 1, name) != 0) {
    abort();
  }
}

void CompareBlocks(const CSzAr& ours, const CSzAr& sdk) {
  if (ours.NumFolders != sdk.NumFolders || ours.NumPackStreams != sdk.NumPackStreams) abort();
  for (uint32_t f = 0; f < sdk.NumFolders; ++f) {
    if (SzAr_GetFolderUnpackSize(&ours, f) != SzAr_GetFolderUnpackSize(&sdk, f)) abort();
    if (ours.FoStartPackStreamIndex[f] != sdk.FoStartPackStreamIndex[f]) abort();
    if (ours.FoCodersOffsets[f + 1] != sdk.FoCodersOffsets[f + 1]) abort();
    if (SzBitWithVals_Check(&ours.FolderCRCs, f) != SzBitWithVals_Check(&sdk.FolderCRCs, f)) abort();
  }
  if (sdk.NumFolders != 0 &&
      memcmp(ours.CodersData, sdk.CodersData, sdk.FoCodersOffsets[sdk.NumFolders]) != 0)
    abort();
  for (uint32_t p = 0; p <= sdk.NumPackStreams && sdk.PackPositions; ++p)
    if (ours.PackPositions[p] != sdk.PackPositions[p]) abort();
}

// Walks every entry with a cursor of capacity name units and compares each;
// halfway, a copy of the cursor must read the rest the same.
void WalkEntries(const ArchiveHeader* header, const CSzArEx* db, size_t capacity) {
  std::vector<char16_t> name(capacity);
  EntryCursor cursor;
  StartEntryCursor(&cursor, header, true);
  std::unique_ptr<EntryCursor> copy;
  for (uint32_t i = 0; i < db->NumFiles; ++i) {
    if (!EntriesLeft(&cursor)) abort();
    if (i == db->NumFiles / 2) copy.reset(new EntryCursor(cursor));
    ArchiveEntry entry;
    if (NextEntry(&cursor, &entry, name.data(), capacity) != SZ_OK) abort();
    CompareEntry(db, i, entry, name.data(), capacity);
  }
  if (EntriesLeft(&cursor)) abort();
  if (!copy) return;
  for (uint32_t i = db->NumFiles / 2; i < db->NumFiles; ++i) {
    ArchiveEntry entry;
    if (NextEntry(copy.get(), &entry, name.data(), capacity) != SZ_OK) abort();
    CompareEntry(db, i, entry, name.data(), capacity);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool tables = (CrcGenerateTable(), true);
  (void)tables;
  if (!PutInFile(data, size)) return 0;

  auto sdk = std::make_unique<SdkArchive>();
  sdk->file.file.fd = g_file;
  FileInStream_CreateVTable(&sdk->file);
  sdk->file.wres = 0;
  LookToRead2_CreateVTable(&sdk->look, False);
  sdk->look.buf = sdk->lookBuffer;
  sdk->look.bufSize = sizeof sdk->lookBuffer;
  sdk->look.realStream = &sdk->file.vt;
  LookToRead2_INIT(&sdk->look);
  SzArEx_Init(&sdk->db);
  const SRes expected = SzArEx_Open(&sdk->db, &sdk->look.vt, &kAlloc, &kAlloc);

  MemoryStore memory;
  const HeaderStore store = {&memory, StoreRead, StoreWrite};
  CSzFile file;
  file.fd = g_file;
  ArchiveHeader header;
  ArchiveHeaderInit(&header);
  const SRes opened = OpenArchiveHeader(&header, &file, 0, &store, &kAlloc);

  // Memory the SDK lacked (it holds every entry in arrays) or a store that
  // filled up says nothing about the archive.
  const bool comparable = expected != SZ_ERROR_MEM && opened != SZ_ERROR_MEM && opened != SZ_ERROR_WRITE;
  if (comparable && opened != expected && opened != SZ_ERROR_UNSUPPORTED) abort();
  if (comparable && opened == expected && opened == SZ_OK) {
    if (header.entryCount != sdk->db.NumFiles || header.blocks.dataPos != sdk->db.dataPos) abort();
    CompareBlocks(header.blocks.db, sdk->db.db);
    WalkEntries(&header, &sdk->db, 4096);
    // Names cut short as a small buffer takes them.
    WalkEntries(&header, &sdk->db, 3);
  }
  FreeArchiveHeader(&header, &kAlloc);
  SzArEx_Free(&sdk->db, &kAlloc);
  return 0;
}
