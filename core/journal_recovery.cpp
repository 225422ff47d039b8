#include "core/journal_recovery.h"

#include <wchar.h>

#include "base/handle_guard.h"
#include "base/long_path.h"
#include "base/path_services.h"
#include "base/run_log.h"

namespace {

// The installation folder, a separator and a relative path: no longer than
// Windows takes a path.
constexpr size_t kFullPathCapacity = kLongPathCapacity;
// FAT keeps last-write times in steps of 2 seconds; a change made by hand
// moves the time by far more.
constexpr uint64_t kTimeTolerance = 2 * 10000000ull;

struct Recovery {
  wchar_t folder[kJournalFilePathCapacity];  // without trailing separators
  size_t folderLength;
  int deferred;
  // The journal is damaged: lines about later changes may be lost, so a file
  // that differs from the run's record may be the run's own later one.
  bool damaged;
  // The folder of the last path found free of links, so that the files of
  // one folder are not checked again level by level.
  wchar_t checkedFolder[kFullPathCapacity];
};


// folder + '\' + relative into full; false when it does not fit.
bool FullPath(const Recovery& recovery, const wchar_t* relative, wchar_t* full) {
  const size_t length = wcslen(relative);
  if (recovery.folderLength + 1 + length >= kFullPathCapacity) return false;
  wmemcpy(full, recovery.folder, recovery.folderLength);
  full[recovery.folderLength] = L'\\';
  wmemcpy(full + recovery.folderLength + 1, relative, length + 1);
  return true;
}

// The kept-aside file's path: full's folder and the aside name.
bool AsidePath(const wchar_t* full, const wchar_t* name, wchar_t* aside) {
  const wchar_t* slash = wcsrchr(full, L'\\');
  const size_t folder = static_cast<size_t>(slash - full) + 1;
  if (folder + wcslen(name) >= kFullPathCapacity) return false;
  wmemcpy(aside, full, folder);
  wcscpy(aside + folder, name);
  return true;
}

// True when no folder between the installation folder and full (nor full
// itself, with itemToo) is a link or junction: a journal may name only what
// lies in the folder, and a link below it could lead anywhere.
bool StaysInside(Recovery* recovery, wchar_t* full, bool itemToo) {
  const size_t parent = static_cast<size_t>(wcsrchr(full, L'\\') - full);
  size_t from = recovery->folderLength + 1;
  // The levels up to the parent are known to be free of links when the
  // last path checked had the same parent.
  if (wcslen(recovery->checkedFolder) == parent && _wcsnicmp(recovery->checkedFolder, full, parent) == 0)
    from = parent + 1;
  for (size_t i = from;; ++i) {
    const bool end = full[i] == L'\0';
    if (!end && full[i] != L'\\') continue;
    if (end && !itemToo) break;
    const wchar_t kept = full[i];
    full[i] = L'\0';
    const DWORD attributes = GetFileAttributesW(Win32Path(full).get());
    full[i] = kept;
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
    if (end) break;
  }
  wmemcpy(recovery->checkedFolder, full, parent);
  recovery->checkedFolder[parent] = L'\0';
  return true;
}

// One step, in few words: the programs carry every text of the log.
void Note(const wchar_t* what, const wchar_t* path) { LogLine(L"Interrupted installation: %ls %ls", what, path); }
void Failed(const wchar_t* what, const wchar_t* path) {
  LogLine(L"Error %lu: interrupted installation: %ls %ls", GetLastError(), what, path);
}

uint64_t Distance(uint64_t a, uint64_t b) { return a > b ? a - b : b - a; }

// True when the file standing at the name is no longer the one the run
// wrote: someone changed or replaced it after the run was killed.
bool ChangedSince(const WIN32_FILE_ATTRIBUTE_DATA& data, const JournalChange& change) {
  const uint64_t size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  const uint64_t written = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                           data.ftLastWriteTime.dwLowDateTime;
  return size != change.size || Distance(written, change.writeTime) > kTimeTolerance;
}

// What stands at path when it is a file.
bool FileStanding(const wchar_t* path, WIN32_FILE_ATTRIBUTE_DATA* data) {
  return GetFileAttributesExW(Win32Path(path).get(), GetFileExInfoStandard, data) && !(data->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

void RemoveFile(Recovery* recovery, const wchar_t* path) {
  MakeWritable(path);
  if (DeleteFileW(Win32Path(path).get())) {
    Note(L"removed:", path);
  } else if (DeleteAtRestart(path)) {
    ++recovery->deferred;
    Note(L"in use, removed at the next restart:", path);
  } else {
    Failed(L"not removed:", path);
  }
}

void UndoFolder(Recovery* recovery, const wchar_t* full) {
  if (RemoveDirectoryW(Win32Path(full).get())) {
    Note(L"removed:", full);
    return;
  }
  // Held by an item that waits for the restart, it goes after that item.
  if (recovery->deferred > 0 && GetLastError() == ERROR_DIR_NOT_EMPTY && DeleteAtRestart(full)) ++recovery->deferred;
}

void UndoCreatedFile(Recovery* recovery, const wchar_t* full, const JournalChange& change) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!FileStanding(full, &data)) return;
  if (change.written && ChangedSince(data, change)) {
    Note(L"kept, changed since:", full);
    return;
  }
  RemoveFile(recovery, full);
}

// The file of a last N line: the run's when it is empty and was made after
// the line (FAT's creation times are finer than its write times, but the
// same tolerance serves); anything else stood there or is someone's since.
void UndoIntendedFile(Recovery* recovery, const wchar_t* full, uint64_t intentTime) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!FileStanding(full, &data) || data.nFileSizeHigh != 0 || data.nFileSizeLow != 0) return;
  const uint64_t created =
      (static_cast<uint64_t>(data.ftCreationTime.dwHighDateTime) << 32) | data.ftCreationTime.dwLowDateTime;
  if (created + kTimeTolerance < intentTime) return;
  RemoveFile(recovery, full);
}

void UndoKeptAside(Recovery* recovery, const wchar_t* full, const wchar_t* aside, const JournalChange& change) {
  if (!IsFile(aside)) return;
  WIN32_FILE_ATTRIBUTE_DATA data;
  const bool standing = FileStanding(full, &data);
  if (change.written && standing && ChangedSince(data, change)) {
    if (recovery->damaged) {
      // Who changed it cannot be told: nothing is lost, both stay.
      Note(L"kept, changed since, its original stays as", aside);
      return;
    }
    // The replacement is someone's later work; the original goes, as the
    // run's commit would have let it go.
    Note(L"kept, changed since:", full);
    RemoveFile(recovery, aside);
    return;
  }
  if (standing) MakeWritable(full);
  if (MoveFileExW(Win32Path(aside).get(), Win32Path(full).get(), MOVEFILE_REPLACE_EXISTING)) {
    Note(L"put back:", full);
  } else if (MoveFileExW(Win32Path(aside).get(), Win32Path(full).get(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT)) {
    // The name is held by a file in use: the original keeps its kept-aside
    // name until Windows puts it back.
    ++recovery->deferred;
    Note(L"in use, put back at the next restart:", full);
  } else {
    Failed(L"not put back:", aside);
  }
}

// One change of the journal, undone (or, for a committed run, finished).
void FinishChange(Recovery* recovery, const JournalChange& change, bool committed, const JournalLine* line) {
  if (committed && change.kind != JournalLineKind::kKeptAside) return;
  // One recovery at a time, on one thread: paths of Windows' full length
  // need not live on its stack.
  static wchar_t full[kFullPathCapacity];
  static wchar_t aside[kFullPathCapacity];
  if (!FullPath(*recovery, line->path, full) || (change.kind == JournalLineKind::kKeptAside && !AsidePath(full, line->aside, aside))) {
    Note(L"path too long, left alone:", line->path);
    return;
  }
  if (!StaysInside(recovery, full, change.kind == JournalLineKind::kFolderCreated)) {
    Note(L"path through a link, left alone:", full);
    return;
  }
  switch (change.kind) {
    case JournalLineKind::kFolderCreated: UndoFolder(recovery, full); break;
    case JournalLineKind::kFileCreated: UndoCreatedFile(recovery, full, change); break;
    case JournalLineKind::kAboutToCreate: UndoIntendedFile(recovery, full, line->writeTime); break;
    case JournalLineKind::kKeptAside:
      if (committed) {
        if (IsFile(aside)) RemoveFile(recovery, aside);
      } else {
        UndoKeptAside(recovery, full, aside, change);
      }
      break;
    default: break;
  }
}

// The journal file, read where the reader asks.
struct FileSource : JournalSource {
  HANDLE file;
  long long ReadAt(uint64_t offset, char* buffer, size_t capacity) override {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(file, at, nullptr, FILE_BEGIN)) return -1;
    size_t done = 0;
    while (done < capacity) {
      const DWORD want = capacity - done > (1u << 30) ? (1u << 30) : static_cast<DWORD>(capacity - done);
      DWORD read = 0;
      if (!ReadFile(file, buffer + done, want, &read, nullptr)) return -1;
      if (read == 0) break;
      done += read;
    }
    return static_cast<long long>(done);
  }
};

struct Finisher : JournalChangeSink {
  Recovery* recovery;
  bool committed;
  void Change(const JournalChange& change, const JournalLine& line) override {
    FinishChange(recovery, change, committed, &line);
  }
};

}  // namespace

RecoveryResult RecoverInterruptedInstallation(const wchar_t* folder) {
  RecoveryResult result = {RecoveryOutcome::kNoJournal, JournalDamage::kNone, 0, 0};
  wchar_t journalPath[kJournalFilePathCapacity];
  if (!JournalFilePath(folder, journalPath)) return result;
  // Alone: a run still writing it has it open, and is left to finish.
  FileHandle file(CreateFileW(journalPath, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file.valid()) {
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return result;
    if (error == ERROR_SHARING_VIOLATION) {
      Note(L"journal in use by a running installation, left alone:", journalPath);
      result.outcome = RecoveryOutcome::kInUse;
    } else {
      Failed(L"journal not opened:", journalPath);
      result.outcome = RecoveryOutcome::kNotFinished;
    }
    return result;
  }

  // Holds a path of Windows' full length: static, as one recovery runs at a time.
  static Recovery recovery;
  recovery = Recovery();
  recovery.folderLength = wcslen(journalPath) - wcslen(kJournalFileName) - 1;
  wmemcpy(recovery.folder, journalPath, recovery.folderLength);
  recovery.folder[recovery.folderLength] = L'\0';
  // Read a window at a time (base/journal_format.h): a million-file run
  // killed near its end leaves a journal of hundreds of MB.
  FileSource source;
  source.file = file.get();
  JournalSurvey survey;
  // A read that fails says why; memory that runs out may not.
  SetLastError(0);
  if (!SurveyJournal(&source, &survey)) {
    if (GetLastError() == 0) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    Failed(L"journal not read:", journalPath);
    result.outcome = RecoveryOutcome::kNotFinished;
    return result;
  }
  recovery.damaged = survey.damage != JournalDamage::kNone;
  result.changes = static_cast<int>(survey.count);
  result.damage = survey.damage;
  LogLine(L"Interrupted installation: journal %ls, %d changes, %ls", journalPath, result.changes,
          survey.committed ? L"committed" : L"to roll back");
  // The rest of a damaged journal is not followed: what it named stays.
  if (survey.damage != JournalDamage::kNone)
    LogLine(L"Interrupted installation: journal damaged at byte %llu (%ls), followed up to there only",
            static_cast<unsigned long long>(survey.end), JournalDamageText(survey.damage));

  // A committed run's kept-aside files go in order; an interrupted run is
  // undone last change first.
  Finisher finisher;
  finisher.recovery = &recovery;
  finisher.committed = survey.committed;
  SetLastError(0);
  const bool walked = WalkJournalChanges(&source, survey, !survey.committed, &finisher);
  const bool committed = survey.committed;
  const bool removeFolder = survey.folderCreated && !committed;
  FreeJournalSurvey(&survey);
  if (!walked) {
    // What was undone stays undone; the journal stays for the next run,
    // which goes over the rest (what is done already is skipped there).
    if (GetLastError() == 0) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    Failed(L"journal not read:", journalPath);
    result.outcome = RecoveryOutcome::kNotFinished;
    result.deferred = recovery.deferred;
    return result;
  }
  file.reset();

  result.deferred = recovery.deferred;
  if (!DeleteFileW(journalPath)) {
    Failed(L"journal not deleted:", journalPath);
    result.outcome = RecoveryOutcome::kNotFinished;
    return result;
  }
  result.outcome = committed ? RecoveryOutcome::kCommitted : RecoveryOutcome::kRolledBack;
  if (removeFolder && RemoveDirectoryW(Win32Path(recovery.folder).get())) Note(L"removed:", recovery.folder);
  LogLine(L"Interrupted installation: finished, %d items left for the restart", recovery.deferred);
  return result;
}
