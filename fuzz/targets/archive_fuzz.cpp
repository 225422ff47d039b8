// A 7z archive as the setup program reads the payload: its header read in
// parts from a file (an in-memory one here; extract/archive_header.h), the
// survey placing every entry's name behind a destination
// (extract/entry_survey.h), and each solid block with file data going through
// the decode worker's reading (extract/block_reading.h: the streaming
// decoder, or the SDK's whole-block decoding for BCJ2) with every file's CRC
// checked on the way. The LZMA SDK's own reader opens the same bytes for the
// expected answers (archive_header_fuzz compares the two readers).
//
// Checks beyond "no crash": the survey's verdict and sums agree with the
// entries as the SDK lists them; a block read in pieces gives the bytes and
// the verdict the SDK's decoding of the whole block gives (the block decoder's
// promise): the same bytes when it decodes, up to the end of the first file
// whose CRC does not match and SZ_ERROR_CRC then, and the SDK's own code when
// the block is damaged.
//
// Memory is what the programs would have: an allocator that refuses more
// than 64 MiB at once (SZ_ERROR_MEM, as HeapAlloc's failure gives).
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
#include "base/entry_names.h"
#include "extract/archive_header.h"
#include "extract/block_reading.h"
#include "extract/entry_checks.h"
#include "extract/entry_cursor.h"
#include "extract/entry_survey.h"
#include "fuzz/targets/archive_fuzz_support.h"

namespace {

using namespace kxfuzz;

// Blocks larger than this are read in pieces but not compared whole.
constexpr uint64_t kWholeLimit = uint64_t{16} << 20;

struct OpenedArchive {
  CFileInStream file;
  CLookToRead2 look;
  unsigned char lookBuffer[1 << 14];
  CSzArEx db;  // the SDK's
  MemoryStore memory;
  HeaderStore store;
  ArchiveHeader header;  // ours
};

// ---- The survey -------------------------------------------------------------

std::u16string Name(const CSzArEx* db, uint32_t index) {
  const size_t length = SzArEx_GetFileNameUtf16(db, index, nullptr);
  std::vector<UInt16> units(length + 1, 0);
  SzArEx_GetFileNameUtf16(db, index, units.data());
  return std::u16string(units.begin(), units.begin() + (length ? length - 1 : 0));
}

void CheckSurvey(const ArchiveHeader* header, const CSzArEx* db, const std::u16string& destination) {
  std::unique_ptr<char16_t[]> path(new char16_t[kExtractPathCapacity]);
  std::unique_ptr<char16_t[]> name(new char16_t[kExtractPathCapacity]);
  ArchiveSurvey survey;
  size_t nameStart = 0;
  SRes failure = SZ_OK;
  const SurveyVerdict verdict = SurveyEntries(header, destination.c_str(), path.get(), name.get(),
                                              kExtractPathCapacity, &survey, &nameStart, &failure);

  // The first entry that cannot be placed decides, as the survey reads them.
  const size_t prefix = destination.size() + (destination.back() == u'\\' ? 0 : 1);
  ArchiveSurvey sums = {0, 0};
  for (uint32_t i = 0; i < db->NumFiles; ++i) {
    const std::u16string name = Name(db, i);
    const size_t units = SzArEx_GetFileNameUtf16(db, i, nullptr);
    const bool fits = units > 0 && destination.size() + 1 + units <= kExtractPathCapacity;
    if (!fits) {
      if (verdict != SurveyVerdict::kDoesNotFit) abort();
      return;
    }
    if (!kxentry::IsSafeEntryName(name.c_str())) {
      if (verdict != SurveyVerdict::kUnsafeName || nameStart != prefix || name != path.get() + nameStart) abort();
      return;
    }
    if (!EntryLevelsFit(name.c_str())) {
      if (verdict != SurveyVerdict::kDoesNotFit) abort();
      return;
    }
    // A placed entry: the destination, one backslash, the name.
    size_t placedStart = 0;
    if (PlaceEntry(name.c_str(), units, destination.c_str(), path.get(), kExtractPathCapacity, &placedStart) !=
            EntryPlacement::kPlaced ||
        placedStart != prefix || path[prefix - 1] != u'\\' || name != path.get() + placedStart)
      abort();
    const uint64_t size = SzArEx_GetFileSize(db, i);
    sums.units += SzArEx_IsDir(db, i) ? 1 : size + 1;
    if (!SzArEx_IsDir(db, i)) sums.fileBytes += size;
  }
  const SurveyVerdict expected = db->NumFiles == 0 ? SurveyVerdict::kNoEntries : SurveyVerdict::kSurveyed;
  if (verdict != expected || survey.units != sums.units || survey.fileBytes != sums.fileBytes) abort();
}

// ---- The blocks -------------------------------------------------------------

bool NeverStop(void*) { return false; }

struct Read {
  std::string bytes;  // the sound bytes, as the worker publishes them
  SRes result;
};

// The worker's loop over one block (extract/decode_worker.cpp's DecodeBlock),
// in pieces of piece bytes.
Read ReadInPieces(OpenedArchive* archive, FileCheck* files, uint32_t folder, size_t piece) {
  const BlockStreams streams = {&archive->header.blocks, &archive->file.file, &archive->look.vt, &kAlloc, &kAlloc};
  FileCheck& check = *files;
  StartFileCheck(&check, folder);
  BlockDecoder decoder;
  BlockSource source;
  Read read;
  read.result = OpenBlockSource(&source, &decoder, streams, folder);
  std::vector<unsigned char> buffer(piece);
  while (read.result == SZ_OK && !BlockSourceDone(&source)) {
    size_t size = 0;
    read.result = ReadBlockSource(&source, buffer.data(), buffer.size(), &size);
    if (size > buffer.size() || (read.result == SZ_OK && size == 0) || (read.result != SZ_OK && size != 0)) abort();
    bool damaged = false;
    const size_t sound = CheckBlockBytes(&check, buffer.data(), size, read.bytes.size(), &damaged);
    if (sound > size || check.failure != SZ_OK) abort();
    read.bytes.append(reinterpret_cast<const char*>(buffer.data()), sound);
    if (damaged) {
      std::vector<unsigned char> scratch(4096);
      read.result = VerdictAfterDamage(&source, scratch.data(), scratch.size(), NeverStop, nullptr);
      if (read.result == SZ_OK) abort();
    }
  }
  CloseBlockSource(&source);
  return read;
}

// The first file of folder whose bytes in block do not match its CRC: the
// length of the block up to that file's end, or 0 when every file matches.
size_t DamagedFileEnd(const CSzArEx* db, uint32_t folder, const std::string& block) {
  for (uint32_t file = db->FolderToFile[folder]; file < db->FolderToFile[folder + 1]; ++file) {
    const uint64_t size = SzArEx_GetFileSize(db, file);
    if (db->FileToFolder[file] != folder || size == 0 || !SzBitWithVals_Check(&db->CRCs, file)) continue;
    const uint64_t start = db->UnpackPositions[file] - db->UnpackPositions[db->FolderToFile[folder]];
    if (start + size > block.size()) abort();  // the SDK checks the sizes when it opens
    if (CrcCalc(block.data() + start, size) != db->CRCs.Vals[file]) return static_cast<size_t>(start + size);
  }
  return 0;
}

void CheckBlock(OpenedArchive* archive, FileCheck* files, uint32_t folder, size_t piece) {
  const CSzArEx* db = &archive->db;
  const Read read = ReadInPieces(archive, files, folder, piece);
  const uint64_t unpackSize = SzAr_GetFolderUnpackSize(&db->db, folder);
  if (read.bytes.size() > unpackSize) abort();
  if (read.result == SZ_OK && read.bytes.size() != unpackSize) abort();
  if (unpackSize > kWholeLimit) return;

  std::string whole(static_cast<size_t>(unpackSize), '\0');
  const SRes decoded = SzAr_DecodeFolder(&db->db, folder, &archive->look.vt, db->dataPos,
                                         reinterpret_cast<Byte*>(&whole[0]), whole.size(), &kAlloc);
  // Memory refused on one side only says nothing about the bytes.
  if (decoded == SZ_ERROR_MEM || read.result == SZ_ERROR_MEM) return;
  if (decoded != SZ_OK) {
    if (read.result != decoded) abort();
    return;
  }
  const size_t damagedEnd = DamagedFileEnd(db, folder, whole);
  if (damagedEnd != 0) {
    if (read.result != SZ_ERROR_CRC || read.bytes != whole.substr(0, damagedEnd)) abort();
    return;
  }
  if (read.result != SZ_OK || read.bytes != whole) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool tables = (CrcGenerateTable(), true);
  (void)tables;
  if (!PutInFile(data, size)) return 0;

  auto archive = std::make_unique<OpenedArchive>();
  archive->file.file.fd = g_file;
  FileInStream_CreateVTable(&archive->file);
  archive->file.wres = 0;
  LookToRead2_CreateVTable(&archive->look, False);
  archive->look.buf = archive->lookBuffer;
  archive->look.bufSize = sizeof archive->lookBuffer;
  archive->look.realStream = &archive->file.vt;
  LookToRead2_INIT(&archive->look);
  SzArEx_Init(&archive->db);
  archive->store = {&archive->memory, StoreRead, StoreWrite};
  ArchiveHeaderInit(&archive->header);
  CSzFile file;
  file.fd = g_file;

  // The SDK opens the archive for the expected answers, then the header
  // reader as the programs do (archive_header_fuzz holds the two alike).
  if (SzArEx_Open(&archive->db, &archive->look.vt, &kAlloc, &kAlloc) == SZ_OK &&
      OpenArchiveHeader(&archive->header, &file, 0, &archive->store, &kAlloc) == SZ_OK) {
    const CSzArEx* db = &archive->db;
    CheckSurvey(&archive->header, db, u"C:\\Program Files\\Quillmark");
    // A destination that leaves a name of 80 units at most.
    CheckSurvey(&archive->header, db, u"D:\\" + std::u16string(kExtractPathCapacity - 86, u'd') + u"\\");

    // Pieces as small as the decoder takes and of a size the input chooses;
    // the blocks with file data in order, as the worker finds them.
    const size_t piece = kBlockMinimumRead + (size * 131) % 5000;
    std::unique_ptr<EntryCursor> cursor(new EntryCursor);
    StartEntryCursor(cursor.get(), &archive->header, false);
    FileCheck files;
    StartFileChecks(&files, cursor.get());
    uint32_t expectedBlock = 0;
    for (uint32_t block = NextDataBlock(&files); block != kNoBlock; block = NextDataBlock(&files)) {
      // The next block with data, none skipped.
      for (;; ++expectedBlock) {
        if (expectedBlock >= db->db.NumFolders) abort();
        bool used = false;
        for (uint32_t f = db->FolderToFile[expectedBlock]; f < db->FolderToFile[expectedBlock + 1] && !used; ++f)
          used = db->FileToFolder[f] == expectedBlock && SzArEx_GetFileSize(db, f) > 0;
        if (used) break;
      }
      if (block != expectedBlock++) abort();
      CheckBlock(archive.get(), &files, block, piece);
      // A damaged block ends the worker's reading.
      if (files.pending && files.entry.block == block) break;
    }
  }
  FreeArchiveHeader(&archive->header, &kAlloc);
  SzArEx_Free(&archive->db, &kAlloc);
  return 0;
}
