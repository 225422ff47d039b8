// The uninstall log: every file, folder and registry entry an installation
// created, kept in a temporary file during the run (base/record_spill.h: a
// buffer in memory, whatever the number of files) and written beside the
// installed uninstaller, which reads it to undo the installation.
//
// File layout of "Uninst.dat" (UTF-8 text, every line ends in CR LF):
//
// | Line        | Contents                                                       |
// |-------------|----------------------------------------------------------------|
// | 1           | header: KXUNINSTALLLOG 1                                       |
// | 2 .. n + 1  | one record: <kind> TAB <text>; kind 0 file, 1 folder,          |
// |             | 2 registry key, 3 registry value; in the text '%', TAB, CR and |
// |             | LF are written as %25 %09 %0D %0A                              |
// | n + 2       | trailer: END <n> <CRC-32 of every byte before this line,       |
// |             | 8 upper-case hexadecimal digits>                               |
//
// Records keep the order in which they were made (a folder before what was
// created inside it); the same text may occur more than once. A file that
// lacks the trailer, or whose count or CRC does not match, is damaged.
#ifndef KX_CORE_UNINSTALL_LOG_H
#define KX_CORE_UNINSTALL_LOG_H

#include <windows.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/package_format.h"
#include "base/record_spill.h"

namespace kxcore {

enum UninstallRecordKind {
  kRecordFile = 0,
  kRecordFolder = 1,
  kRecordRegistryKey = 2,
  kRecordRegistryValue = 3,
  kRecordPathEntry = 4,     // the declarations' (core/declared_removal.h)
  kRecordVariable = 5,
  kRecordAssociation = 6,
  kRecordAssociationTaken = 7,  // an association with the extension's earlier owner
  kRecordKindLast = kRecordAssociationTaken
};

struct UninstallRecord {
  int kind;
  std::wstring text;
  bool operator==(const UninstallRecord& other) const { return kind == other.kind && text == other.text; }
};

// The installed uninstaller and its log, in the installation folder.
inline constexpr const auto& kUninstallerName = kxformat::kInstalledUninstallerW;
inline constexpr const auto& kUninstallLogName = kxformat::kInstalledUninstallLogW;

// ---- the log of this run (thread-safe) ----

// Starts a new, empty log.
void BeginUninstallLog();
// Appends a record; unknown kinds and empty texts are dropped.
void AddUninstallRecord(int kind, const wchar_t* text);
// Puts records in front of the log's own, in their order, leaving out those
// the log holds already and repeats of one before (an earlier installation's
// records on a reinstall).
void PrependUninstallRecords(const std::vector<UninstallRecord>& records);
// The same for records kept in a temporary file (below), which it empties.
// The log's records and those of the list are compared by a 64-bit hash a
// record, sliceRecords of the list's at a time: one slice's hashes are held,
// 8 bytes a record, and the log is read once a slice. An earlier log of any
// size thus costs at most a slice's memory.
constexpr size_t kPrependSliceRecords = 262144;
void PrependUninstallSpill(RecordSpill* records, size_t sliceRecords = kPrependSliceRecords);
// Takes every record equal to one of records out of the log.
void RemoveUninstallRecords(const std::vector<UninstallRecord>& records);
// Forgets every record.
void DiscardUninstallLog();
// Hands the records so far to visit in their order, until it returns false.
// False when they could not be read back (the temporary file is damaged).
bool ForEachUninstallRecord(const std::function<bool(int kind, const std::wstring& text)>& visit);
size_t UninstallRecordCount();
// The records so far, all in memory: for small logs and tests.
std::vector<UninstallRecord> UninstallLogRecords();

// Writes the uninstaller, a copy of uninstallerSource, as
// destination\Uninst.exe and the log as destination\Uninst.dat, after adding
// both files to the log. Each file is written whole or not at all, the log
// a chunk at a time. Returns 0 or the Windows error code of the first
// failure (ERROR_FILE_CORRUPT when the records could not be read back).
DWORD CommitUninstallLog(const std::wstring& destination, const std::wstring& uninstallerSource);

// ---- records in a temporary file (base/record_spill.h) ----
// Each record is its kind (one byte) and its text's UTF-16 units.

// Appends a record. 0 or the Windows error code.
DWORD AppendSpilledRecord(RecordSpill* spill, int kind, std::wstring_view text);
// Hands the records to visit in their order, until it returns false. False
// when they could not be read back whole.
bool ForEachSpilledRecord(const RecordSpill& spill, const std::function<bool(int kind, const std::wstring& text)>& visit);

// ---- the file format ----

std::string FormatUninstallLog(const std::vector<UninstallRecord>& records);

enum class LogFileStatus {
  kOk,
  kMissing,     // no file of that name (or its folder is missing)
  kUnreadable,  // it exists but cannot be opened or read
  kDamaged      // its content is not a complete log
};

LogFileStatus ParseUninstallLog(std::string_view bytes, std::vector<UninstallRecord>* records);
LogFileStatus ReadUninstallLog(const std::wstring& path, std::vector<UninstallRecord>* records);
// Reads the log at path a piece at a time, handing each record to visit as
// it comes; only kOk makes what visit saw a log.
LogFileStatus ReadUninstallLogStream(const std::wstring& path, const std::function<void(int kind, std::wstring&& text)>& visit);

// Replaces path with bytes through a temporary file beside it (written,
// flushed, then moved over the target), so a crash leaves either the old file
// or the new one. Returns 0 or a Windows error code.
DWORD WriteFileReplacing(const std::wstring& path, std::string_view bytes);

}  // namespace kxcore

#endif
