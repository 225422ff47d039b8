// A list of records kept in a temporary file instead of memory: the install
// journal and the uninstall log of an installation grow by a record per file,
// and a package of a million files must not hold them all. A run appends
// records one after the other and reads them back first to last or last
// first, a chunk at a time; only a write buffer and a read window stay in
// memory.
//
// The file is created in the temporary folder the first time the buffer is
// written out (small lists never touch the disk), opened by this process
// alone and deleted when it is closed, also when the process is killed.
//
// Each record is framed so that it can be found from either end and its
// damage told:
//
//   <length: 4 bytes LE> <bytes> <length: 4 bytes LE> <CRC-32 of bytes: 4 bytes LE>
//
// A read that meets a frame whose two lengths differ, that passes the end,
// or whose CRC does not match reports the spill damaged and stops. One
// thread at a time (callers lock where several write).
#ifndef KX_BASE_RECORD_SPILL_H
#define KX_BASE_RECORD_SPILL_H

#include <windows.h>
#include <stddef.h>
#include <stdint.h>

// The bytes a frame adds to a record.
constexpr size_t kSpillFrameBytes = 12;
// Write buffer and read window size; larger records get a larger one.
constexpr size_t kSpillChunkBytes = 256 * 1024;

struct RecordSpill {
  HANDLE file = INVALID_HANDLE_VALUE;
  uint64_t flushed = 0;  // bytes in the file; the buffer's follow them
  BYTE* buffer = nullptr;
  size_t used = 0;
  size_t capacity = 0;
  size_t count = 0;      // records
  DWORD error = 0;       // the first write failure: every later append fails
  const wchar_t* folder = nullptr;  // where the file goes; null: the temporary folder
};

// Frees the buffer and closes (deletes) the file; the spill is empty again.
void ReleaseSpill(RecordSpill* spill);

// Makes room for one record of `bytes`, writing the buffer out when it lacks
// room, so that the next SpillAppend of at most that size cannot fail: a
// change is made only once its record is sure to be kept. 0 or the Windows
// error code.
DWORD ReserveSpill(RecordSpill* spill, size_t bytes);

// Appends one record (reserving first). 0 or the Windows error code.
DWORD SpillAppend(RecordSpill* spill, const void* data, size_t bytes);

// Forgets the last record. False when there is none or the file cannot be cut.
bool SpillDropLast(RecordSpill* spill);

// The last record when it still lies in the write buffer (it does right
// after it was appended): no read needed. False otherwise.
bool SpillLastBuffered(const RecordSpill& spill, const BYTE** data, size_t* bytes);

enum class SpillRead { kRecord, kEnd, kDamaged };

// Reads a spill forwards or backwards. The record's bytes stay valid until
// the next read or the reader's release; the spill must not grow meanwhile.
struct SpillReader {
  const RecordSpill* spill = nullptr;
  uint64_t position = 0;     // forwards: the next frame's start; backwards: the end of the next frame to read
  BYTE* window = nullptr;    // a copy of the spill's bytes [windowStart, windowStart + windowBytes)
  uint64_t windowStart = 0;
  size_t windowBytes = 0;
  size_t windowCapacity = 0;
};

void StartSpillForward(const RecordSpill* spill, SpillReader* reader);
void StartSpillBackward(const RecordSpill* spill, SpillReader* reader);
SpillRead SpillNext(SpillReader* reader, const BYTE** data, size_t* bytes);
SpillRead SpillPrevious(SpillReader* reader, const BYTE** data, size_t* bytes);
void ReleaseSpillReader(SpillReader* reader);

#endif
