// The record spill: records written out to a temporary file a chunk at a
// time read back the same forwards and last first, across chunk boundaries;
// the last record can be taken back wherever it lies; a damaged file is
// refused, and nothing is left in the temporary folder.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/record_spill.h"

namespace {

// Records of every size from empty to several chunks, each filled with bytes
// that depend on its number, so that a record read at the wrong place shows.
std::vector<std::string> MakeRecords(size_t count) {
  std::vector<std::string> records;
  for (size_t i = 0; i < count; ++i) {
    size_t size = i == 0 ? 100 : (i * 7919) % 3001;
    if (i == count / 2) size = 3 * kSpillChunkBytes + 17;  // larger than a read window
    std::string record(size, '\0');
    for (size_t k = 0; k < size; ++k) record[k] = static_cast<char>(i * 31 + k);
    records.push_back(record);
  }
  return records;
}

std::vector<std::string> ReadAll(const RecordSpill& spill, bool backwards, SpillRead* last) {
  SpillReader reader;
  backwards ? StartSpillBackward(&spill, &reader) : StartSpillForward(&spill, &reader);
  std::vector<std::string> read;
  for (;;) {
    const BYTE* data = nullptr;
    size_t bytes = 0;
    *last = backwards ? SpillPrevious(&reader, &data, &bytes) : SpillNext(&reader, &data, &bytes);
    if (*last != SpillRead::kRecord) break;
    read.emplace_back(reinterpret_cast<const char*>(data), bytes);
  }
  ReleaseSpillReader(&reader);
  return read;
}

std::wstring FilePath(HANDLE file) {
  wchar_t path[1024];
  DWORD length = GetFinalPathNameByHandleW(file, path, 1024, FILE_NAME_NORMALIZED);
  return length && length < 1024 ? std::wstring(path, length) : std::wstring();
}

void Overwrite(const RecordSpill& spill, uint64_t offset, const std::string& bytes) {
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(offset);
  ASSERT_TRUE(SetFilePointerEx(spill.file, at, nullptr, FILE_BEGIN));
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(spill.file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
}

TEST(RecordSpill, ReadsBackTheSameRecordsForwardsAndLastFirstAcrossChunks) {
  const std::vector<std::string> records = MakeRecords(2000);
  RecordSpill spill;
  for (const std::string& record : records) ASSERT_EQ(0u, SpillAppend(&spill, record.data(), record.size()));
  ASSERT_NE(INVALID_HANDLE_VALUE, spill.file) << "2000 records of up to 3 KB must have gone to the file";
  EXPECT_EQ(records.size(), spill.count);
  EXPECT_LT(spill.capacity, 8 * kSpillChunkBytes) << "the buffer holds a chunk, not the records";

  SpillRead end;
  EXPECT_EQ(records, ReadAll(spill, false, &end));
  EXPECT_EQ(SpillRead::kEnd, end);
  std::vector<std::string> backwards = ReadAll(spill, true, &end);
  EXPECT_EQ(SpillRead::kEnd, end);
  EXPECT_EQ(std::vector<std::string>(records.rbegin(), records.rend()), backwards);

  // The last one is at hand without a read while it is in the buffer.
  const BYTE* data = nullptr;
  size_t bytes = 0;
  ASSERT_TRUE(SpillLastBuffered(spill, &data, &bytes));
  EXPECT_EQ(records.back(), std::string(reinterpret_cast<const char*>(data), bytes));

  const std::wstring path = FilePath(spill.file);
  ASSERT_FALSE(path.empty());
  ReleaseSpill(&spill);
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(path.c_str())) << "the temporary file is left behind";
  EXPECT_EQ(0u, spill.count);
}

TEST(RecordSpill, TakesBackTheLastRecordsInTheBufferAndInTheFile) {
  const std::vector<std::string> records = MakeRecords(600);
  RecordSpill spill;
  for (const std::string& record : records) ASSERT_EQ(0u, SpillAppend(&spill, record.data(), record.size()));
  // Empty the buffer, then go back into what lies in the file.
  size_t kept = records.size();
  while (spill.used != 0) {
    ASSERT_TRUE(SpillDropLast(&spill));
    --kept;
  }
  for (int i = 0; i < 3; ++i, --kept) ASSERT_TRUE(SpillDropLast(&spill));
  std::vector<std::string> expected(records.begin(), records.begin() + kept);
  SpillRead end;
  EXPECT_EQ(expected, ReadAll(spill, false, &end));
  EXPECT_EQ(SpillRead::kEnd, end);

  // Records appended afterwards follow the cut, forwards and backwards.
  for (const char* more : {"after the cut", "and one more"}) {
    ASSERT_EQ(0u, SpillAppend(&spill, more, strlen(more)));
    expected.push_back(more);
  }
  EXPECT_EQ(expected, ReadAll(spill, false, &end));
  EXPECT_EQ(std::vector<std::string>(expected.rbegin(), expected.rend()), ReadAll(spill, true, &end));

  RecordSpill empty;
  EXPECT_FALSE(SpillDropLast(&empty));
  ReleaseSpill(&spill);
}

TEST(RecordSpill, RefusesDamagedRecordsInEitherDirection) {
  const std::vector<std::string> records = MakeRecords(400);
  struct Damage {
    const char* what;
    uint64_t offset;
    std::string bytes;
  };
  const size_t first = records[0].size() + kSpillFrameBytes;
  const std::vector<Damage> damages = {
      {"a flipped byte in the first record", 6, std::string(1, '\x5A')},
      {"a length that runs past the end", 0, std::string("\xFF\xFF\xFF\x7F", 4)},
      {"a frame whose two lengths differ", first, std::string("\x01\x00\x00\x00", 4)},
  };
  for (const Damage& damage : damages) {
    RecordSpill spill;
    for (const std::string& record : records) ASSERT_EQ(0u, SpillAppend(&spill, record.data(), record.size()));
    ASSERT_GT(spill.flushed, first + 4);
    Overwrite(spill, damage.offset, damage.bytes);
    SpillRead end;
    std::vector<std::string> forwards = ReadAll(spill, false, &end);
    EXPECT_EQ(SpillRead::kDamaged, end) << damage.what;
    EXPECT_LE(forwards.size(), 1u) << damage.what;
    std::vector<std::string> backwards = ReadAll(spill, true, &end);
    EXPECT_EQ(SpillRead::kDamaged, end) << damage.what;
    EXPECT_GE(backwards.size(), records.size() - 2) << damage.what;
    ReleaseSpill(&spill);
  }
}

}  // namespace
