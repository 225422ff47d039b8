#include "extract/install_journal.h"

#include <stdio.h>
#include <stdint.h>
#include <wchar.h>

#include "base/handle_guard.h"
#include "base/journal_file.h"
#include "base/long_path.h"
#include "extract/entry_checks.h"

namespace {

// A kept-aside path: a destination path's folder and the kept-aside name.
constexpr size_t kAsidePathCapacity = kExtractPathCapacity;
// A registry key's levels (Windows takes 255 units for a key name).
constexpr size_t kKeyCapacity = 800;
// Names tried for one kept-aside file before giving up. Each run draws its
// own range of names, so a taken one is an accident and the next one is
// free; the bound only ends a folder that refuses every name.
constexpr unsigned kAsideAttempts = 4096;

// A block of the process heap that grows by doubling: the record being
// built before it goes to the spill.
struct HeapBlock {
  BYTE* bytes = nullptr;
  size_t used = 0;
  size_t capacity = 0;
};

bool Reserve(HeapBlock* block, size_t more) {
  if (block->capacity - block->used >= more) return true;
  size_t capacity = block->capacity ? block->capacity : 4096;
  while (capacity - block->used < more) {
    if (capacity > SIZE_MAX / 2) return false;
    capacity *= 2;
  }
  void* grown = block->bytes ? HeapReAlloc(GetProcessHeap(), 0, block->bytes, capacity)
                             : HeapAlloc(GetProcessHeap(), 0, capacity);
  if (!grown) return false;
  block->bytes = static_cast<BYTE*>(grown);
  block->capacity = capacity;
  return true;
}

void Release(HeapBlock* block) {
  if (block->bytes) HeapFree(GetProcessHeap(), 0, block->bytes);
  *block = HeapBlock();
}

// A record as the spill holds it: this head, then the texts (UTF-16 with
// their terminating zero; a count of 0 units is a text that is not there),
// then the registry value's data.
struct StoredHead {
  uint32_t kind;
  uint32_t existed;
  uint32_t type;
  uint32_t dataSize;
  uint64_t root;
  uint32_t pathUnits, asideUnits, nameUnits;
  uint32_t reserved;
};

struct Journal {
  bool recording = false;
  RecordSpill records;
  HeapBlock building;        // the record being made
  uint64_t asideNumber = 0;  // the last kept-aside name's number
  size_t fileStart = 0;      // records made before the journal file was opened
};
Journal g_journal;
// InstallJournalRecordAt's reader: its record stays valid until the next call.
InstallJournalReader g_lookup;

size_t Units(const wchar_t* text) { return text ? wcslen(text) + 1 : 0; }

// Builds the record in g_journal.building and makes room for it in the
// spill, so that it can then be added without failing: a change is made
// only once its record is sure to be kept.
bool BuildRecord(JournalKind kind, HKEY root, const wchar_t* path, const wchar_t* aside, const wchar_t* name,
                 bool existed, DWORD type, const BYTE* data, DWORD dataSize) {
  StoredHead head = {};
  head.kind = static_cast<uint32_t>(kind);
  head.existed = existed;
  head.type = type;
  head.dataSize = data ? dataSize : 0;
  head.root = reinterpret_cast<uintptr_t>(root);
  head.pathUnits = static_cast<uint32_t>(Units(path));
  head.asideUnits = static_cast<uint32_t>(Units(aside));
  head.nameUnits = static_cast<uint32_t>(Units(name));
  const size_t bytes =
      sizeof head + (static_cast<size_t>(head.pathUnits) + head.asideUnits + head.nameUnits) * sizeof(wchar_t) +
      head.dataSize;
  HeapBlock* block = &g_journal.building;
  block->used = 0;
  if (!Reserve(block, bytes)) return false;
  BYTE* at = block->bytes;
  memcpy(at, &head, sizeof head);
  at += sizeof head;
  const wchar_t* texts[] = {path, aside, name};
  const uint32_t units[] = {head.pathUnits, head.asideUnits, head.nameUnits};
  for (int i = 0; i < 3; ++i) {
    if (units[i]) memcpy(at, texts[i], units[i] * sizeof(wchar_t));
    at += units[i] * sizeof(wchar_t);
  }
  if (head.dataSize) memcpy(at, data, head.dataSize);
  block->used = bytes;
  return ReserveSpill(&g_journal.records, bytes) == 0;
}

// Adds the record BuildRecord made; it has room, so this does not fail.
void AddBuilt() { SpillAppend(&g_journal.records, g_journal.building.bytes, g_journal.building.used); }

// Decodes a stored record into copy (aligned) and record. False when it is
// not one this journal wrote.
bool DecodeRecord(const BYTE* data, size_t bytes, BYTE** copy, size_t* capacity, JournalRecord* record) {
  StoredHead head;
  if (bytes < sizeof head) return false;
  memcpy(&head, data, sizeof head);
  const uint64_t textBytes =
      (static_cast<uint64_t>(head.pathUnits) + head.asideUnits + head.nameUnits) * sizeof(wchar_t);
  if (head.kind > kJournalRegistryValue || sizeof head + textBytes + head.dataSize != bytes) return false;
  if (*capacity < bytes) {
    void* grown = *copy ? HeapReAlloc(GetProcessHeap(), 0, *copy, bytes) : HeapAlloc(GetProcessHeap(), 0, bytes);
    if (!grown) return false;
    *copy = static_cast<BYTE*>(grown);
    *capacity = bytes;
  }
  memcpy(*copy, data, bytes);
  const wchar_t* text = reinterpret_cast<const wchar_t*>(*copy + sizeof head);
  const uint32_t units[] = {head.pathUnits, head.asideUnits, head.nameUnits};
  const wchar_t* texts[3];
  for (int i = 0; i < 3; ++i) {
    // Every text present ends in its zero.
    if (units[i] && text[units[i] - 1] != L'\0') return false;
    texts[i] = units[i] ? text : nullptr;
    text += units[i];
  }
  record->kind = static_cast<JournalKind>(head.kind);
  record->path = texts[0];
  record->aside = texts[1];
  record->name = texts[2];
  record->root = reinterpret_cast<HKEY>(static_cast<uintptr_t>(head.root));
  record->existed = head.existed != 0;
  record->type = head.type;
  record->data = head.dataSize ? reinterpret_cast<const BYTE*>(text) : nullptr;
  record->dataSize = head.dataSize;
  return true;
}

// The last record, read back (usually from the spill's buffer) into
// g_lookup. False when there is none.
bool LastRecord(JournalRecord* record) {
  if (g_journal.records.count == 0) return false;
  const BYTE* data = nullptr;
  size_t bytes = 0;
  if (SpillLastBuffered(g_journal.records, &data, &bytes))
    return DecodeRecord(data, bytes, &g_lookup.copy, &g_lookup.capacity, record);
  return InstallJournalRecordAt(g_journal.records.count - 1, record);
}

// Kept-aside names written to the journal file ahead of their renames
// (AnnounceKeptAside), in the order the files come.
struct Announced {
  wchar_t* path;  // process heap, as long as the path
  uint64_t number;
};
struct Announcements {
  Announced entries[kAnnouncedCapacity];
  size_t next = 0;   // the first not yet used or passed over
  size_t count = 0;  // usable: their lines are on the disk
  bool wanted = false;
};
Announcements g_announced;

// The one line being written: a JournalLine holds a path of Windows' full
// length, too large for the stack, and only the setup program's main thread
// writes the journal. Cleared field by field, not as a whole: a line per
// file must not cost a 64 KiB clear.
JournalLine* FreshLine(JournalLineKind kind) {
  static JournalLine line;
  line.kind = kind;
  line.path[0] = L'\0';
  line.aside[0] = L'\0';
  line.size = 0;
  line.writeTime = 0;
  line.folderCreated = false;
  return &line;
}

void ForgetAnnounced() {
  for (size_t i = 0; i < kAnnouncedCapacity; ++i) {
    if (g_announced.entries[i].path) HeapFree(GetProcessHeap(), 0, g_announced.entries[i].path);
    g_announced.entries[i].path = nullptr;
  }
  g_announced.next = g_announced.count = 0;
}

bool RecordPath(JournalKind kind, const wchar_t* path, const wchar_t* aside) {
  if (!g_journal.recording) return true;
  if (!BuildRecord(kind, nullptr, path, aside, nullptr, false, 0, nullptr, 0)) return false;
  AddBuilt();
  return true;
}

// Where this run's kept-aside names begin: 24 bits that differ from run to
// run (the clock, the counter and the process mixed), then 20 bits counting
// up from 0, as the 11 hexadecimal digits of the name. Names need not be
// unpredictable, only unlikely to meet those an earlier run left.
uint64_t DrawAsideRange() {
  LARGE_INTEGER counter = {};
  QueryPerformanceCounter(&counter);
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  uint64_t mix = static_cast<uint64_t>(counter.QuadPart) ^ (static_cast<uint64_t>(now.dwHighDateTime) << 32) ^
                 now.dwLowDateTime ^ (static_cast<uint64_t>(GetCurrentProcessId()) << 40);
  // SplitMix64's finaliser spreads every input bit over the output.
  mix ^= mix >> 30;
  mix *= 0xBF58476D1CE4E5B9ull;
  mix ^= mix >> 27;
  mix *= 0x94D049BB133111EBull;
  mix ^= mix >> 31;
  return (mix & 0xFFFFFF) << 20;
}

// The kept-aside path for a name number: the file's folder and the name,
// which *name points to. False when it does not fit.
bool AsideName(const wchar_t* path, uint64_t number, wchar_t* aside, const wchar_t** name) {
  const wchar_t* slash = wcsrchr(path, L'\\');
  size_t folder = slash ? static_cast<size_t>(slash - path) + 1 : 0;
  if (folder + kAsideNameCapacity > kAsidePathCapacity) return false;
  wmemcpy(aside, path, folder);
  FormatAsideName(number, aside + folder);
  *name = aside + folder;
  return true;
}

// Writes a line for a change at path to the journal file when path lies in
// its folder. 0, or the Windows error code: the change must not be made.
DWORD RecordOnDisk(JournalLineKind kind, const wchar_t* path, const wchar_t* asideName, bool flush) {
  if (!JournalFileIsOpen()) return 0;
  JournalLine& line = *FreshLine(kind);
  if (kind == JournalLineKind::kAboutToCreate) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    line.writeTime = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  }
  switch (JournalRelativePath(path, line.path)) {
    case JournalPlace::kOutside: return 0;
    case JournalPlace::kUnfit: return ERROR_INVALID_NAME;
    case JournalPlace::kInside: break;
  }
  if (asideName) wcscpy(line.aside, asideName);
  return AppendJournalLine(line, flush);
}

// The announced name for path: the files before it in the announcement were
// not replaced after all (new, skipped) and are passed over. False when path
// was not announced (its name was rewritten, or the announcement is used up).
bool TakeAnnounced(const wchar_t* path, uint64_t* number) {
  for (size_t i = g_announced.next; i < g_announced.count; ++i) {
    if (_wcsicmp(g_announced.entries[i].path, path) != 0) continue;
    *number = g_announced.entries[i].number;
    g_announced.next = i + 1;
    return true;
  }
  return false;
}

// The registry value's present type and data, read into *data (process
// heap, the caller frees it). False when it cannot be read.
bool ReadValue(HKEY key, const wchar_t* name, bool* existed, DWORD* type, HeapBlock* data) {
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD size = 0;
    LSTATUS status = RegQueryValueExW(key, name, nullptr, type, nullptr, &size);
    if (status == ERROR_FILE_NOT_FOUND) {
      *existed = false;
      return true;
    }
    data->used = 0;
    if (status != ERROR_SUCCESS || !Reserve(data, size ? size : 1)) return false;
    DWORD read = size;
    status = RegQueryValueExW(key, name, nullptr, type, data->bytes, &read);
    if (status == ERROR_MORE_DATA) continue;  // it grew in between
    if (status != ERROR_SUCCESS) return false;
    *existed = true;
    data->used = read;
    return true;
  }
  return false;
}

bool KeyExists(HKEY root, const wchar_t* key) {
  RegKey opened;
  HKEY handle = nullptr;
  if (RegOpenKeyExW(root, key, 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS) return false;
  opened.reset(handle);
  return true;
}

bool RecordMissingKey(HKEY root, const wchar_t* key) {
  if (!BuildRecord(kJournalRegistryKey, root, key, nullptr, nullptr, false, 0, nullptr, 0)) return false;
  AddBuilt();
  return true;
}

// Records every level of key that does not exist yet, outermost first, so
// that the rollback removes the innermost first.
bool RecordMissingKeys(HKEY root, const wchar_t* key) {
  if (KeyExists(root, key)) return true;
  wchar_t level[kKeyCapacity];
  size_t length = wcslen(key);
  if (length >= kKeyCapacity) return false;
  wmemcpy(level, key, length + 1);
  bool missing = false;
  for (size_t i = 0; i <= length; ++i) {
    if (level[i] != L'\\' && level[i] != L'\0') continue;
    wchar_t kept = level[i];
    level[i] = L'\0';
    // Below a missing level every level is missing.
    if (!missing) missing = !KeyExists(root, level);
    bool stored = !missing || RecordMissingKey(root, level);
    level[i] = kept;
    if (!stored) return false;
  }
  return true;
}

}  // namespace

void StartInstallJournal() {
  ClearInstallJournal();
  g_journal.asideNumber = DrawAsideRange();
  g_journal.recording = true;
}

bool InstallJournalRecording() { return g_journal.recording; }

void ClearInstallJournal() {
  g_journal.recording = false;
  ForgetAnnounced();
  g_announced.wanted = false;
  DeleteInstallJournalFile();
  ReleaseSpill(&g_journal.records);
  Release(&g_journal.building);
  ReleaseJournalReader(&g_lookup);
}

DWORD OpenInstallJournalFile(const wchar_t* folder, bool folderCreated) {
  if (!g_journal.recording) return 0;
  DWORD error = OpenJournalFile(folder, folderCreated);
  if (error == 0) g_journal.fileStart = InstallJournalSize();
  return error;
}

size_t InstallJournalFileStart() { return JournalFileIsOpen() ? g_journal.fileStart : 0; }

void DeleteInstallJournalFile() {
  CloseJournalFile();
  g_journal.fileStart = 0;
}

void LeaveInstallJournalFile() {
  LeaveJournalFile();
  g_journal.fileStart = 0;
}

void RecordFileWritten(const wchar_t* path, HANDLE file) {
  if (!g_journal.recording || !JournalFileIsOpen()) return;
  JournalLine& line = *FreshLine(JournalLineKind::kFileWritten);
  if (JournalRelativePath(path, line.path) != JournalPlace::kInside) return;
  // Size and times only: GetFileInformationByHandle would also ask the
  // volume, a round trip per file under Wine.
  LARGE_INTEGER size;
  FILETIME written;
  if (!GetFileSizeEx(file, &size) || !GetFileTime(file, nullptr, nullptr, &written)) return;
  line.size = static_cast<uint64_t>(size.QuadPart);
  line.writeTime = (static_cast<uint64_t>(written.dwHighDateTime) << 32) | written.dwLowDateTime;
  // Not flushed: a line lost with the power only makes the file count as
  // cut short, which is undone all the same.
  AppendJournalLine(line, false);
}

DWORD CommitInstallJournalFile() {
  if (!JournalFileIsOpen()) return 0;
  return AppendJournalLine(*FreshLine(JournalLineKind::kCommitted), true);
}

size_t InstallJournalSize() { return g_journal.records.count; }

void StartJournalForward(InstallJournalReader* reader) {
  ReleaseJournalReader(reader);
  StartSpillForward(&g_journal.records, &reader->spill);
}

void StartJournalBackward(InstallJournalReader* reader) {
  ReleaseJournalReader(reader);
  StartSpillBackward(&g_journal.records, &reader->spill);
  reader->index = g_journal.records.count;
}

namespace {

bool Read(InstallJournalReader* reader, JournalRecord* record, bool backwards) {
  if (reader->damaged || (backwards ? reader->index == 0 : reader->index >= g_journal.records.count)) return false;
  const BYTE* data = nullptr;
  size_t bytes = 0;
  SpillRead read = backwards ? SpillPrevious(&reader->spill, &data, &bytes) : SpillNext(&reader->spill, &data, &bytes);
  if (read == SpillRead::kEnd) return false;
  if (read != SpillRead::kRecord || !DecodeRecord(data, bytes, &reader->copy, &reader->capacity, record)) {
    reader->damaged = true;
    return false;
  }
  backwards ? --reader->index : ++reader->index;
  return true;
}

}  // namespace

bool JournalNext(InstallJournalReader* reader, JournalRecord* record) { return Read(reader, record, false); }
bool JournalPrevious(InstallJournalReader* reader, JournalRecord* record) { return Read(reader, record, true); }

void ReleaseJournalReader(InstallJournalReader* reader) {
  ReleaseSpillReader(&reader->spill);
  if (reader->copy) HeapFree(GetProcessHeap(), 0, reader->copy);
  *reader = InstallJournalReader();
}

bool InstallJournalRecordAt(size_t index, JournalRecord* record) {
  if (index >= InstallJournalSize()) return false;
  StartJournalBackward(&g_lookup);
  while (JournalPrevious(&g_lookup, record))
    if (g_lookup.index == index) return true;
  return false;
}

bool RecordCreatedFolder(const wchar_t* path) {
  if (!g_journal.recording) return true;
  return RecordOnDisk(JournalLineKind::kFolderCreated, path, nullptr, false) == 0 &&
         RecordPath(kJournalFolder, path, nullptr);
}

DWORD RecordFileToCreate(const wchar_t* path) {
  if (!g_journal.recording) return 0;
  // Not flushed: a kill keeps what was written, and after a power cut an
  // empty file is all the line would have saved.
  return RecordOnDisk(JournalLineKind::kAboutToCreate, path, nullptr, false);
}

bool RecordCreatedFile(const wchar_t* path) {
  if (!g_journal.recording) return true;
  // A file created where this run has just kept one aside is undone by
  // putting that one back; a line of its own would let a recovery that runs
  // after a rollback was cut short delete the original put back.
  JournalRecord last;
  bool coveredByAside = LastRecord(&last) && last.kind == kJournalKeptAside && _wcsicmp(last.path, path) == 0;
  // Written after the creation, not before: only CREATE_NEW's success says
  // the file is this run's, and a line written first would have a recovery
  // delete a file that stood there before, were the run killed in between.
  if (!coveredByAside && RecordOnDisk(JournalLineKind::kFileCreated, path, nullptr, false) != 0) return false;
  return RecordPath(kJournalFile, path, nullptr);
}

DWORD KeepFileAside(const wchar_t* path) {
  if (!g_journal.recording) return 0;
  DWORD attributes = GetFileAttributesW(Win32Path(path).get());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return 0;
  // The main thread's only: static rather than 64 KiB of its stack.
  static wchar_t aside[kAsidePathCapacity];
  uint64_t number = 0;
  if (TakeAnnounced(path, &number)) {
    const wchar_t* name = nullptr;
    if (!AsideName(path, number, aside, &name)) return ERROR_FILENAME_EXCED_RANGE;
    if (!BuildRecord(kJournalKeptAside, nullptr, path, aside, nullptr, false, 0, nullptr, 0))
      return ERROR_NOT_ENOUGH_MEMORY;
    if (MoveFileExW(Win32Path(path).get(), Win32Path(aside).get(), 0)) {
      // Its line reached the disk with the announcement; written again,
      // unflushed, it stands right before the line saying the new file is
      // complete. Should it fail, the journal refuses every later change.
      RecordOnDisk(JournalLineKind::kKeptAside, path, name, false);
      AddBuilt();
      return 0;
    }
    DWORD error = GetLastError();
    DWORD voided = RecordOnDisk(JournalLineKind::kAsideVoid, path, name, true);
    if (voided != 0) return voided;
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) return error;
  } else {
    // A file replaced without an announcement: the next ones are likely to
    // be replaced too (a reinstall), and announcing them saves a flush each.
    static wchar_t relative[kJournalPathCapacity];
    g_announced.wanted = JournalRelativePath(path, relative) == JournalPlace::kInside;
  }
  for (unsigned attempt = 0; attempt < kAsideAttempts; ++attempt) {
    const wchar_t* name = nullptr;
    if (!AsideName(path, ++g_journal.asideNumber, aside, &name)) return ERROR_FILENAME_EXCED_RANGE;
    if (!BuildRecord(kJournalKeptAside, nullptr, path, aside, nullptr, false, 0, nullptr, 0))
      return ERROR_NOT_ENOUGH_MEMORY;
    // On the disk before the rename: a run killed right after it still
    // says where the file went.
    DWORD error = RecordOnDisk(JournalLineKind::kKeptAside, path, name, true);
    if (error != 0) return error;
    // No MOVEFILE_COPY_ALLOWED: a rename within the folder, never a copy,
    // and never over another file.
    if (MoveFileExW(Win32Path(path).get(), Win32Path(aside).get(), 0)) {
      AddBuilt();
      return 0;
    }
    error = GetLastError();
    // The line must not send a recovery to a file of that name that is not
    // this run's.
    DWORD voided = RecordOnDisk(JournalLineKind::kAsideVoid, path, name, true);
    if (voided != 0) return voided;
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) return error;
  }
  return ERROR_FILE_EXISTS;
}

bool InstallJournalWantsAnnouncements() { return g_journal.recording && g_announced.wanted && JournalFileIsOpen(); }

DWORD AnnounceKeptAside(const wchar_t* const* paths, size_t count) {
  ForgetAnnounced();
  g_announced.wanted = false;
  if (!g_journal.recording || !JournalFileIsOpen()) return 0;
  size_t staged = 0;
  for (size_t i = 0; i < count && staged < kAnnouncedCapacity; ++i) {
    JournalLine& line = *FreshLine(JournalLineKind::kKeptAside);
    const size_t length = wcslen(paths[i]);
    if (length >= kAsidePathCapacity || JournalRelativePath(paths[i], line.path) != JournalPlace::kInside)
      continue;
    Announced& entry = g_announced.entries[staged];
    entry.path = static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, (length + 1) * sizeof(wchar_t)));
    if (!entry.path) return ERROR_NOT_ENOUGH_MEMORY;
    wmemcpy(entry.path, paths[i], length + 1);
    entry.number = ++g_journal.asideNumber;
    FormatAsideName(entry.number, line.aside);
    DWORD error = AppendJournalLine(line, false);
    if (error != 0) return error;
    ++staged;
  }
  if (staged == 0) return 0;
  // Usable only once on the disk: a rename must never run ahead of its line.
  DWORD error = FlushJournalFile();
  if (error == 0) g_announced.count = staged;
  return error;
}

bool PutBackKeptFile(const wchar_t* path) {
  JournalRecord last;
  if (!LastRecord(&last)) return true;
  if (last.kind != kJournalKeptAside || _wcsicmp(last.path, path) != 0) return true;
  Win32Path target(path);
  SetFileAttributesW(target.get(), FILE_ATTRIBUTE_NORMAL);
  if (!MoveFileExW(Win32Path(last.aside).get(), target.get(), MOVEFILE_REPLACE_EXISTING)) return false;
  SpillDropLast(&g_journal.records);
  return true;
}

bool RecordRegistryValue(HKEY root, const wchar_t* key, const wchar_t* name) {
  if (!g_journal.recording) return true;
  if (!RecordMissingKeys(root, key)) return false;
  bool existed = false;
  DWORD type = 0;
  HeapBlock data;
  RegKey opened;
  HKEY handle = nullptr;
  if (RegOpenKeyExW(root, key, 0, KEY_QUERY_VALUE, &handle) == ERROR_SUCCESS) {
    opened.reset(handle);
    if (!ReadValue(handle, name, &existed, &type, &data)) {
      Release(&data);
      return false;
    }
  }
  bool built = BuildRecord(kJournalRegistryValue, root, key, nullptr, name, existed, type,
                           existed ? data.bytes : nullptr, static_cast<DWORD>(data.used));
  Release(&data);
  if (!built) return false;
  AddBuilt();
  return true;
}
