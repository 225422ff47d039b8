#include "base/record_spill.h"

#include <string.h>

#include "base/crc32.h"

namespace {

void PutU32(BYTE* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<BYTE>(value >> (8 * i));
}

uint32_t GetU32(const BYTE* at) {
  return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 | static_cast<uint32_t>(at[2]) << 16 |
         static_cast<uint32_t>(at[3]) << 24;
}

// Grows a heap block to hold at least `bytes`, keeping its first `keep` bytes.
bool Grow(BYTE** block, size_t* capacity, size_t bytes) {
  if (*capacity >= bytes) return true;
  size_t wanted = *capacity ? *capacity : kSpillChunkBytes;
  while (wanted < bytes) {
    if (wanted > SIZE_MAX / 2) return false;
    wanted *= 2;
  }
  void* grown = *block ? HeapReAlloc(GetProcessHeap(), 0, *block, wanted) : HeapAlloc(GetProcessHeap(), 0, wanted);
  if (!grown) return false;
  *block = static_cast<BYTE*>(grown);
  *capacity = wanted;
  return true;
}

DWORD CreateSpillFile(RecordSpill* spill) {
  wchar_t folder[MAX_PATH + 1];
  if (spill->folder) {
    if (wcslen(spill->folder) > MAX_PATH - 14) return ERROR_FILENAME_EXCED_RANGE;
    wcscpy(folder, spill->folder);
  } else if (GetTempPathW(MAX_PATH + 1, folder) == 0) {
    return GetLastError();
  }
  // GetTempFileName makes the name unique by creating the file; it is then
  // opened again for this process alone, to be deleted with its last handle.
  wchar_t path[MAX_PATH + 1];
  if (GetTempFileNameW(folder, L"kxs", 0, path) == 0) return GetLastError();
  HANDLE file = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    DeleteFileW(path);
    return error;
  }
  spill->file = file;
  return 0;
}

DWORD WriteOut(RecordSpill* spill) {
  if (spill->used == 0) return 0;
  if (spill->file == INVALID_HANDLE_VALUE) {
    DWORD error = CreateSpillFile(spill);
    if (error != 0) return error;
  }
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(spill->flushed);
  if (!SetFilePointerEx(spill->file, at, nullptr, FILE_BEGIN)) return GetLastError();
  DWORD written = 0;
  if (!WriteFile(spill->file, spill->buffer, static_cast<DWORD>(spill->used), &written, nullptr))
    return GetLastError();
  if (written != spill->used) return ERROR_WRITE_FAULT;
  spill->flushed += spill->used;
  spill->used = 0;
  return 0;
}

// Copies the spill's bytes [start, start + bytes) into out, from the file
// and the buffer.
bool CopyOut(const RecordSpill& spill, uint64_t start, size_t bytes, BYTE* out) {
  if (start + bytes > spill.flushed + spill.used) return false;
  if (start < spill.flushed) {
    size_t fromFile = static_cast<size_t>(spill.flushed - start < bytes ? spill.flushed - start : bytes);
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(start);
    if (!SetFilePointerEx(spill.file, at, nullptr, FILE_BEGIN)) return false;
    for (size_t done = 0; done < fromFile;) {
      DWORD read = 0;
      if (!ReadFile(spill.file, out + done, static_cast<DWORD>(fromFile - done), &read, nullptr) || read == 0)
        return false;
      done += read;
    }
    out += fromFile;
    bytes -= fromFile;
    start += fromFile;
  }
  if (bytes) memcpy(out, spill.buffer + (start - spill.flushed), bytes);
  return true;
}

// The spill's bytes [start, start + bytes), through the reader's window.
// The window is loaded to run on from start (forwards) or to end at
// start + bytes (backwards), a chunk at a time.
const BYTE* Bytes(SpillReader* reader, uint64_t start, size_t bytes, bool backwards) {
  if (start >= reader->windowStart && start + bytes <= reader->windowStart + reader->windowBytes)
    return reader->window + (start - reader->windowStart);
  const RecordSpill& spill = *reader->spill;
  const uint64_t total = spill.flushed + spill.used;
  if (start + bytes > total) return nullptr;
  size_t span = bytes > kSpillChunkBytes ? bytes : kSpillChunkBytes;
  uint64_t from = start;
  if (backwards) {
    from = start + bytes > span ? start + bytes - span : 0;
  } else if (total - start < span) {
    span = static_cast<size_t>(total - start);
  }
  if (backwards && from + span > total) span = static_cast<size_t>(total - from);
  if (!Grow(&reader->window, &reader->windowCapacity, span)) return nullptr;
  reader->windowStart = from;
  reader->windowBytes = 0;
  if (!CopyOut(spill, from, span, reader->window)) return nullptr;
  reader->windowBytes = span;
  return reader->window + (start - from);
}

bool Intact(const BYTE* data, size_t bytes, const BYTE* check) {
  return GetU32(check) == bytes && GetU32(check + 4) == kxcrc::Crc32(data, bytes);
}

}  // namespace

void ReleaseSpill(RecordSpill* spill) {
  if (spill->file != INVALID_HANDLE_VALUE) CloseHandle(spill->file);
  if (spill->buffer) HeapFree(GetProcessHeap(), 0, spill->buffer);
  const wchar_t* folder = spill->folder;
  *spill = RecordSpill();
  spill->folder = folder;
}

DWORD ReserveSpill(RecordSpill* spill, size_t bytes) {
  if (spill->error != 0) return spill->error;
  if (bytes > 0xFFFFFFFFu - kSpillFrameBytes) return ERROR_NOT_ENOUGH_MEMORY;
  const size_t framed = bytes + kSpillFrameBytes;
  if (spill->capacity - spill->used >= framed) return 0;
  DWORD error = WriteOut(spill);
  if (error == 0 && !Grow(&spill->buffer, &spill->capacity, framed)) error = ERROR_NOT_ENOUGH_MEMORY;
  // A failed write leaves the file behind the records counted: no later
  // record may follow.
  if (error != 0 && spill->used != 0) spill->error = error;
  return error;
}

DWORD SpillAppend(RecordSpill* spill, const void* data, size_t bytes) {
  DWORD error = ReserveSpill(spill, bytes);
  if (error != 0) return error;
  BYTE* at = spill->buffer + spill->used;
  PutU32(at, static_cast<uint32_t>(bytes));
  if (bytes) memcpy(at + 4, data, bytes);
  PutU32(at + 4 + bytes, static_cast<uint32_t>(bytes));
  PutU32(at + 8 + bytes, kxcrc::Crc32(at + 4, bytes));
  spill->used += bytes + kSpillFrameBytes;
  ++spill->count;
  return 0;
}

bool SpillLastBuffered(const RecordSpill& spill, const BYTE** data, size_t* bytes) {
  if (spill.count == 0 || spill.used < kSpillFrameBytes) return false;
  const BYTE* end = spill.buffer + spill.used;
  const size_t length = GetU32(end - 8);
  if (length > spill.used - kSpillFrameBytes) return false;
  *data = end - 8 - length;
  *bytes = length;
  return true;
}

bool SpillDropLast(RecordSpill* spill) {
  if (spill->count == 0) return false;
  BYTE tail[4];
  const uint64_t total = spill->flushed + spill->used;
  if (total < kSpillFrameBytes || !CopyOut(*spill, total - 8, 4, tail)) return false;
  const uint64_t framed = GetU32(tail) + static_cast<uint64_t>(kSpillFrameBytes);
  if (framed > total) return false;
  if (framed <= spill->used) {
    spill->used -= static_cast<size_t>(framed);
  } else {
    // The frame reaches into the file: the file is cut at its start and the
    // buffer emptied (its bytes all belong to the frame).
    const uint64_t start = total - framed;
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(start);
    if (!SetFilePointerEx(spill->file, at, nullptr, FILE_BEGIN) || !SetEndOfFile(spill->file)) return false;
    spill->flushed = start;
    spill->used = 0;
  }
  --spill->count;
  return true;
}

void StartSpillForward(const RecordSpill* spill, SpillReader* reader) {
  ReleaseSpillReader(reader);
  reader->spill = spill;
  reader->position = 0;
}

void StartSpillBackward(const RecordSpill* spill, SpillReader* reader) {
  ReleaseSpillReader(reader);
  reader->spill = spill;
  reader->position = spill->flushed + spill->used;
}

SpillRead SpillNext(SpillReader* reader, const BYTE** data, size_t* bytes) {
  const RecordSpill& spill = *reader->spill;
  const uint64_t total = spill.flushed + spill.used;
  if (reader->position == total) return SpillRead::kEnd;
  const BYTE* head = Bytes(reader, reader->position, 4, false);
  if (!head) return SpillRead::kDamaged;
  const uint64_t length = GetU32(head);
  if (length + kSpillFrameBytes > total - reader->position) return SpillRead::kDamaged;
  const BYTE* frame = Bytes(reader, reader->position, static_cast<size_t>(length + kSpillFrameBytes), false);
  if (!frame || !Intact(frame + 4, static_cast<size_t>(length), frame + 4 + length)) return SpillRead::kDamaged;
  *data = frame + 4;
  *bytes = static_cast<size_t>(length);
  reader->position += length + kSpillFrameBytes;
  return SpillRead::kRecord;
}

SpillRead SpillPrevious(SpillReader* reader, const BYTE** data, size_t* bytes) {
  if (reader->position == 0) return SpillRead::kEnd;
  if (reader->position < kSpillFrameBytes) return SpillRead::kDamaged;
  const BYTE* tail = Bytes(reader, reader->position - 8, 8, true);
  if (!tail) return SpillRead::kDamaged;
  const uint64_t length = GetU32(tail);
  if (length + kSpillFrameBytes > reader->position) return SpillRead::kDamaged;
  const uint64_t start = reader->position - length - kSpillFrameBytes;
  const BYTE* frame = Bytes(reader, start, static_cast<size_t>(length + kSpillFrameBytes), true);
  if (!frame || GetU32(frame) != length || !Intact(frame + 4, static_cast<size_t>(length), frame + 4 + length))
    return SpillRead::kDamaged;
  *data = frame + 4;
  *bytes = static_cast<size_t>(length);
  reader->position = start;
  return SpillRead::kRecord;
}

void ReleaseSpillReader(SpillReader* reader) {
  if (reader->window) HeapFree(GetProcessHeap(), 0, reader->window);
  *reader = SpillReader();
}
