// The install journal's file format: what a running installation has changed
// inside its installation folder, kept on disk so that a run killed from
// outside (Task Manager, a deployment tool's timeout, a power cut) can be
// finished by the next setup or uninstaller (journal_recovery.h). The live
// run writes it through journal_file.h.
//
// The file is "~kxsetup.jnl" in the installation folder: UTF-8 text, one
// record per line, each line ending in CR LF:
//
//   <crc> <kind>[ <field>[<TAB><field>]...]
//
// <crc> is the CRC-32 of the line from <kind> up to (not including) CR LF,
// as 8 lowercase hexadecimal digits, so that a cut or flipped line is told
// from a good one. Paths are relative to the installation folder,
// backslash-separated, with no empty, "." or ".." component, drive, stream
// colon, wildcard, control character or device name: a record can never
// name anything outside the folder. A tab cannot occur in a Windows file name.
//
// | Kind | Fields                       | Meaning                                             |
// |------|------------------------------|-----------------------------------------------------|
// | H    | kxjournal, 1, new / existing | first line: format 1; the run created the folder or found it |
// | D    | path                         | the run created this folder                          |
// | N    | path, time                   | the run is about to create this file where none stands (FILETIME, 16 hexadecimal digits, taken just before) |
// | C    | path                         | the run created this file where none stood           |
// | A    | path, aside name             | the file is about to be renamed to the aside name, in its own folder |
// | X    | path, aside name             | that rename did not happen: every A line before with this path and name is void |
// | W    | path, size, last-write time  | the file of the C or A line before was written completely: its size in bytes (decimal) and last-write time (FILETIME, 16 hexadecimal digits) |
// | K    |                              | the run committed: its kept-aside files are to be deleted |
//
// An N line is answered by the line after it: C or A for the same path when
// the file was made, anything else when it could not be. Only an N that is
// the journal's last line is a change: the run was killed between making
// the file and recording it, and the file, when it stands empty and made
// after that time, is the run's. (Recorded only after the creation, a C line
// names no file that stood before; the N line covers the moment between.)
//
// The order is the order of the changes. A W line belongs to the C or A line
// right before it and names the same path; nothing follows K. An A line may
// come ahead of its rename, announced with others under one flush (while
// files are replaced one after another); it is then written once more right
// after the rename, and an X line voids it when the rename fails.
#ifndef KX_BASE_JOURNAL_FORMAT_H
#define KX_BASE_JOURNAL_FORMAT_H

#include <stddef.h>
#include <stdint.h>

constexpr wchar_t kJournalFileName[] = L"~kxsetup.jnl";
// Capacity of a journal file's full path, terminating zero included.
constexpr size_t kJournalFilePathCapacity = 800;

// A relative path in UTF-16 units, terminating zero included: as long as
// Windows takes a path. A JournalLine is therefore too large for a thread's
// stack; its users keep one on the heap or in static storage.
constexpr size_t kJournalPathCapacity = 32768;
// Longest line in bytes, CR LF included; a longer one is damage. Room for a
// path of kJournalPathCapacity units in UTF-8 (at most 3 bytes a unit) and
// the other fields.
constexpr size_t kJournalLineBytes = 3 * kJournalPathCapacity + 128;
// "~kx" + 11 hexadecimal digits + ".tmp" and the terminating zero.
constexpr size_t kAsideNameCapacity = 19;

enum class JournalLineKind : char {
  kHeader = 'H',
  kFolderCreated = 'D',
  kFileCreated = 'C',
  kAboutToCreate = 'N',
  kKeptAside = 'A',
  kAsideVoid = 'X',
  kFileWritten = 'W',
  kCommitted = 'K'
};

// One line, decoded. Only the fields of its kind are meaningful.
struct JournalLine {
  JournalLineKind kind;
  wchar_t path[kJournalPathCapacity];
  wchar_t aside[kAsideNameCapacity];
  uint64_t size;
  uint64_t writeTime;  // W: the file's last-write time; N: when the line was made
  bool folderCreated;
};

// Why a line cannot be followed.
enum class JournalDamage {
  kNone,
  kHeader,    // the first line is missing or not a journal of format 1
  kCut,       // the file ends inside a line
  kTooLong,   // no line end within kJournalLineBytes
  kChecksum,  // the CRC does not match
  kSyntax,    // not CR LF, unknown kind, wrong fields, bad UTF-8 or number
  kPath,      // a path that could lie outside the folder, or a bad aside name
  kOrder,     // an X or W that belongs to no line before it, a second header, anything after K
  kTooMany    // an X line past the kMaxJournalVoids-th: no run of ours writes that many
};

// True for a path a journal may name: see the header comment.
bool IsJournalRelativePath(const wchar_t* path);

// The journal file of folder (with or without trailing separators) into
// path (kJournalFilePathCapacity units). False when it does not fit.
bool JournalFilePath(const wchar_t* folder, wchar_t* path);

// True for "~kx" + 11 hexadecimal digits + ".tmp" (either case).
bool IsAsideFileName(const wchar_t* name);

// The aside name for a number (its low 44 bits) into name (kAsideNameCapacity).
void FormatAsideName(uint64_t number, wchar_t* name);

// Writes the line with its CRC and CR LF into buffer (kJournalLineBytes).
// Returns its length in bytes; 0 when a path is not one a journal may name,
// cannot be encoded, or the line would not fit.
size_t FormatJournalLine(const JournalLine& line, char* buffer);

// Decodes the line at *offset of bytes[0, size). kNone with *offset moved
// past the line; kNone with *offset == size at the end (*atEnd set); else the
// damage, *offset unchanged. Order is not judged here.
JournalDamage ReadJournalLine(const char* bytes, size_t size, size_t* offset, JournalLine* line, bool* atEnd);

// One change of a journal, as recovery undoes it: a D, C or A line that no
// X made void, with what its W line said.
struct JournalChange {
  JournalLineKind kind;
  size_t offset;        // of its line
  bool written;         // a W line follows
  bool voided;          // an X line made it void (never handed out)
  uint64_t size;        // from the W line
  uint64_t writeTime;
};

// ---- reading a journal a window at a time ----
//
// A journal grows by a few lines a file: a million-file run killed near its
// end leaves hundreds of MB. Recovery reads it through a window of
// kJournalWindowBytes, twice forwards (SurveyJournal) and once more in the
// order it undoes the changes (WalkJournalChanges), and holds beyond that
// only what the X lines need: about 24 bytes for each pair of path and name
// that an X line names (a run writes one only for a rename that failed).

// Where a journal's bytes come from: the recovery's file, or bytes in memory.
class JournalSource {
 public:
  // Copies up to capacity bytes from offset into buffer: how many, fewer
  // only at the end of the journal; -1 when it cannot be read.
  virtual long long ReadAt(uint64_t offset, char* buffer, size_t capacity) = 0;
  // The whole journal when it lies in memory already (read in place, not
  // copied into a window); null otherwise.
  virtual const char* Whole(size_t* size) {
    (void)size;
    return nullptr;
  }

 protected:
  ~JournalSource() = default;
};

// A journal in memory: read in place, or, with inPlace false, copied a
// window at a time as the recovery's file is.
class JournalBytes final : public JournalSource {
 public:
  JournalBytes(const char* bytes, size_t size, bool inPlace) : bytes_(bytes), size_(size), inPlace_(inPlace) {}
  long long ReadAt(uint64_t offset, char* buffer, size_t capacity) override;
  const char* Whole(size_t* size) override;

 private:
  const char* bytes_;
  size_t size_;
  bool inPlace_;
};

// Four longest lines: a walk backwards reads each byte about 1.3 times.
constexpr size_t kJournalWindowBytes = 4 * kJournalLineBytes;
// X lines a journal may hold; the next one is damage (kTooMany).
constexpr size_t kMaxJournalVoids = 1u << 20;

// What recovery needs to know before it undoes the first change: the
// journal up to its end or its first damaged line.
struct JournalSurvey {
  uint64_t end;            // where the lines followed end: the damaged line's offset, or the journal's end
  size_t count;            // changes: D, C and A lines no X made void, and a last N
  bool folderCreated;
  bool committed;
  JournalDamage damage;    // kNone, or why the line at end is not followed
  bool intentLast;         // the journal ends in an N line: a change
  uint64_t intentOffset;   // of that line
  // The distinct pairs of path and aside name the X lines followed name, by
  // a 64-bit hash, sorted, each with how many X lines name it. Process heap;
  // FreeJournalSurvey releases them.
  uint64_t* voidKeys;
  uint32_t* voidLines;
  size_t voidCount;
};

// Reads the journal twice, a window at a time. False only when memory runs
// out or the source cannot be read (*survey then holds nothing).
bool SurveyJournal(JournalSource* source, JournalSurvey* survey);
void FreeJournalSurvey(JournalSurvey* survey);

// Receives the changes of a journal with their lines decoded.
class JournalChangeSink {
 public:
  virtual void Change(const JournalChange& change, const JournalLine& line) = 0;

 protected:
  ~JournalChangeSink() = default;
};

// Hands the survey's changes to sink: the last one first with lastFirst (a
// rollback), else in their order. False when memory runs out or the source
// cannot be read; the changes handed over until then stand.
bool WalkJournalChanges(JournalSource* source, const JournalSurvey& survey, bool lastFirst, JournalChangeSink* sink);

// A whole journal in memory, read the same way, its changes in their order.
struct ParsedJournal {
  JournalChange* changes;  // process heap; FreeParsedJournal releases it
  size_t count;
  bool folderCreated;
  bool committed;
  JournalDamage damage;
  size_t damageOffset;     // where the first line not followed begins
};

// False only when memory runs out (*parsed then holds nothing).
bool ParseJournal(const char* bytes, size_t size, ParsedJournal* parsed);
void FreeParsedJournal(ParsedJournal* parsed);

// A short English word for the run log ("cut", "checksum", ...).
const wchar_t* JournalDamageText(JournalDamage damage);

#endif
