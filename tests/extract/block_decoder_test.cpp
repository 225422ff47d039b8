// The streaming block decoder and its worker thread against the SDK's
// whole-block decoding, on archives 7-Zip wrote in every layout the programs
// meet (tests/support/make_test_archives.py), intact and damaged.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "extract/block_decoder.h"
#include "extract/decode_worker.h"
#include "extract/entry_cursor.h"
#include "extract/payload_archive.h"
#include "launcher/archive_reader.h"
#include "tests/support/test_files.h"

using namespace kxtest;

namespace {

const char* const kStreamedLayouts[] = {"lzma2_bcj", "lzma_bcj", "lzma2", "copy", "blocks"};

std::wstring ArchivePath(const char* name) {
  return TestDataPath("KX_TEST_PACKAGES") + L"\\archives\\" + Widen(name) + L".7z";
}

// Counts what the decoder holds at its peak.
struct CountingAlloc {
  ISzAlloc vt;
  size_t now = 0;
  size_t peak = 0;
};

void* CountedAlloc(ISzAllocPtr p, size_t size) {
  auto* self = reinterpret_cast<CountingAlloc*>(const_cast<ISzAlloc*>(p));
  if (size == 0) return nullptr;
  auto* block = static_cast<size_t*>(HeapAlloc(GetProcessHeap(), 0, size + sizeof(size_t)));
  *block = size;
  self->now += size;
  if (self->now > self->peak) self->peak = self->now;
  return block + 1;
}

void CountedFree(ISzAllocPtr p, void* address) {
  if (!address) return;
  auto* self = reinterpret_cast<CountingAlloc*>(const_cast<ISzAlloc*>(p));
  size_t* block = static_cast<size_t*>(address) - 1;
  self->now -= *block;
  HeapFree(GetProcessHeap(), 0, block);
}

class OpenArchive {
 public:
  explicit OpenArchive(const std::wstring& path) {
    ArchiveReaderInit(&reader);
    opened = ArchiveReaderOpenFile(&reader, path.c_str()) == 0 && ArchiveReaderOpenDatabase(&reader) == SZ_OK;
    // The worker reads the payload as setup does: the header in parts.
    PayloadArchiveInit(&payload);
    opened = opened && PayloadArchiveOpenFile(&payload, path.c_str()) == 0 && PayloadArchiveOpen(&payload, 0) == SZ_OK;
  }
  ~OpenArchive() {
    ArchiveReaderClose(&reader);
    PayloadArchiveClose(&payload);
  }

  uint32_t Blocks() const { return reader.db.db.NumFolders; }

  std::string Whole(uint32_t folder, SRes* result) {
    std::string bytes(SzAr_GetFolderUnpackSize(&reader.db.db, folder), '\0');
    *result = SzAr_DecodeFolder(&reader.db.db, folder, &reader.lookStream.vt, reader.db.dataPos,
                                reinterpret_cast<Byte*>(&bytes[0]), bytes.size(), &reader.mainAlloc);
    return bytes;
  }

  std::string Streamed(uint32_t folder, size_t piece, SRes* result, ISzAllocPtr alloc = nullptr) {
    BlockDecoder decoder;
    BlockDecoderInit(&decoder);
    *result = BlockDecoderOpen(&decoder, &reader.db, folder, &reader.fileStream.file, alloc ? alloc : &reader.mainAlloc);
    std::string bytes;
    std::vector<unsigned char> buffer(piece);
    while (*result == SZ_OK && !BlockDecoderDone(&decoder)) {
      size_t size = 0;
      *result = BlockDecoderRead(&decoder, buffer.data(), piece, &size);
      EXPECT_TRUE(*result != SZ_OK || size > 0) << "a read that succeeds makes progress";
      bytes.append(reinterpret_cast<const char*>(buffer.data()), size);
    }
    BlockDecoderFree(&decoder);
    return bytes;
  }

  // Every file's bytes in archive order through the worker, with the
  // verdict of the first file that fails.
  SRes ThroughWorker(std::vector<std::string>* files) {
    DecodeWorker worker;
    DecodeWorkerInit(&worker);
    SRes result = DecodeWorkerStart(&worker, &payload);
    EntryCursor entries;
    StartEntryCursor(&entries, &payload.header, false);
    while (result == SZ_OK && EntriesLeft(&entries)) {
      ArchiveEntry entry;
      result = NextEntry(&entries, &entry, nullptr, 0);
      if (result != SZ_OK || entry.size == 0) continue;
      files->emplace_back();
      DecodeWorkerOpenFile(&worker, entry);
      const unsigned char* data = nullptr;
      size_t size = 0;
      while ((result = DecodeWorkerRead(&worker, &data, &size)) == SZ_OK && size > 0)
        files->back().append(reinterpret_cast<const char*>(data), size);
    }
    DecodeWorkerStop(&worker);
    return result;
  }

  ArchiveReader reader;
  PayloadArchive payload;
  bool opened = false;
};

// A copy of the archive with one byte of block 0's packed data flipped.
std::wstring DamagedCopy(const ScratchFolder& scratch, const char* name, double where) {
  std::string bytes = ReadBytes(ArchivePath(name));
  OpenArchive archive(ArchivePath(name));
  const CSzAr& db = archive.reader.db.db;
  const uint64_t start = archive.reader.db.dataPos + db.PackPositions[0];
  const uint64_t size = db.PackPositions[1] - db.PackPositions[0];
  bytes[start + static_cast<uint64_t>(static_cast<double>(size - 1) * where)] ^= 0x40;
  std::wstring path = scratch / (Widen(name) + L".7z");
  EXPECT_TRUE(WriteBytes(path, bytes));
  return path;
}

}  // namespace

TEST(BlockDecoder, StreamsEveryLayoutByteForByteLikeTheWholeBlock) {
  for (const char* name : kStreamedLayouts) {
    SCOPED_TRACE(name);
    OpenArchive archive(ArchivePath(name));
    ASSERT_TRUE(archive.opened);
    for (uint32_t folder = 0; folder < archive.Blocks(); ++folder) {
      SRes whole = SZ_ERROR_FAIL;
      const std::string expected = archive.Whole(folder, &whole);
      ASSERT_EQ(SZ_OK, whole);
      // Pieces smaller than the filter's look-ahead allows, odd ones, and
      // ones larger than the dictionary.
      for (size_t piece : {kBlockMinimumRead, size_t{4099}, size_t{3} << 20}) {
        SRes streamed = SZ_ERROR_FAIL;
        EXPECT_TRUE(expected == archive.Streamed(folder, piece, &streamed)) << "block " << folder << ", piece " << piece;
        EXPECT_EQ(SZ_OK, streamed);
      }
    }
  }
}

TEST(BlockDecoder, LeavesLayoutsItDoesNotStreamToTheWholeBlock) {
  OpenArchive archive(ArchivePath("bcj2"));
  ASSERT_TRUE(archive.opened);
  SRes result = SZ_OK;
  EXPECT_TRUE(archive.Streamed(0, 4096, &result).empty());
  EXPECT_EQ(SZ_ERROR_UNSUPPORTED, result);
}

TEST(BlockDecoder, MemoryFollowsTheDictionaryNotTheBlock) {
  OpenArchive archive(ArchivePath("long"));
  ASSERT_TRUE(archive.opened);
  CountingAlloc counting;
  counting.vt = {CountedAlloc, CountedFree};
  SRes result = SZ_ERROR_FAIL;
  const size_t block = archive.Streamed(0, 1 << 16, &result, &counting.vt).size();
  EXPECT_EQ(SZ_OK, result);
  // A 1 MiB dictionary, the input buffer and the probabilities.
  EXPECT_EQ(size_t{12} << 20, block);
  EXPECT_LT(counting.peak, (size_t{1} << 20) + kBlockInputBytes + (64 << 10));
  EXPECT_EQ(0u, counting.now);
}

TEST(BlockDecoder, DamagedBlocksFailWithTheWholeBlocksCode) {
  ScratchFolder scratch;
  for (const char* name : kStreamedLayouts) {
    for (double where : {0.0, 0.5, 1.0}) {
      SCOPED_TRACE(std::string(name) + " at " + std::to_string(where));
      OpenArchive archive(DamagedCopy(scratch, name, where));
      ASSERT_TRUE(archive.opened);
      SRes whole = SZ_OK, streamed = SZ_OK;
      archive.Whole(0, &whole);
      archive.Streamed(0, 4099, &streamed);
      EXPECT_EQ(whole, streamed);
    }
  }
}

TEST(DecodeWorker, HandsOutEveryFileInOrderForEveryLayout) {
  for (const char* name : {"lzma2_bcj", "blocks", "copy", "bcj2"}) {
    SCOPED_TRACE(name);
    OpenArchive archive(ArchivePath(name));
    ASSERT_TRUE(archive.opened);
    std::vector<std::string> files;
    ASSERT_EQ(SZ_OK, archive.ThroughWorker(&files));
    size_t next = 0;
    for (uint32_t i = 0; i < archive.reader.db.NumFiles; ++i) {
      if (SzArEx_GetFileSize(&archive.reader.db, i) == 0) continue;
      std::vector<wchar_t> entry(ArchiveEntryNameLength(&archive.reader, i));
      ArchiveEntryName(&archive.reader, i, entry.data());
      std::wstring source = TestDataPath("KX_TEST_PACKAGES") + L"\\archives\\input\\" + entry.data();
      EXPECT_TRUE(ReadBytes(source) == files[next++]) << Narrow(entry.data());
    }
  }
}

TEST(DecodeWorker, DamageReportsWhatTheWholeBlockReportsForTheFirstFileItHits) {
  ScratchFolder scratch;
  for (const char* name : {"lzma2_bcj", "copy"}) {
    SCOPED_TRACE(name);
    OpenArchive archive(DamagedCopy(scratch, name, 0.5));
    ASSERT_TRUE(archive.opened);
    // Whole-block decoding: the block's failure, else the CRC of the first
    // file whose bytes changed.
    SRes expected = SZ_OK;
    archive.Whole(0, &expected);
    if (expected == SZ_OK) expected = SZ_ERROR_CRC;
    std::vector<std::string> files;
    EXPECT_EQ(expected, archive.ThroughWorker(&files));
    // Files before the damage came out as in the intact archive; the damaged
    // one is the last handed out.
    ASSERT_FALSE(files.empty());
    std::string before;
    for (size_t i = 0; i + 1 < files.size(); ++i) before += files[i];
    OpenArchive intact(ArchivePath(name));
    SRes result = SZ_ERROR_FAIL;
    EXPECT_TRUE(intact.Whole(0, &result).compare(0, before.size(), before) == 0);
  }
}

TEST(DecodeWorker, StopsWhileItsRingIsFullAndWhenNeverStarted) {
  OpenArchive archive(ArchivePath("long"));
  ASSERT_TRUE(archive.opened);
  DecodeWorker worker;
  DecodeWorkerInit(&worker);
  DecodeWorkerStop(&worker);
  ASSERT_EQ(SZ_OK, DecodeWorkerStart(&worker, &archive.payload));
  // One small read, then the worker fills its ring and waits; Stop joins it.
  EntryCursor entries;
  StartEntryCursor(&entries, &archive.payload.header, false);
  while (EntriesLeft(&entries)) {
    ArchiveEntry entry;
    ASSERT_EQ(SZ_OK, NextEntry(&entries, &entry, nullptr, 0));
    if (entry.size == 0) continue;
    DecodeWorkerOpenFile(&worker, entry);
    const unsigned char* data = nullptr;
    size_t size = 0;
    EXPECT_EQ(SZ_OK, DecodeWorkerRead(&worker, &data, &size));
    EXPECT_GT(size, 0u);
    break;
  }
  DecodeWorkerStop(&worker);
  DecodeWorkerStop(&worker);
  EXPECT_EQ(nullptr, worker.thread);
}
