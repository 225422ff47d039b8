// Deletions Windows is to carry out at its next start, and withdrawing those
// that have become wrong: an uninstall schedules its running uninstaller and
// the folder it lies in, and a reinstall before the restart puts a new
// installation there that the restart must not delete.
//
// Two places hold them: the registry value PendingFileRenameOperations
// (REG_MULTI_SZ under HKLM\System\CurrentControlSet\Control\Session Manager,
// pairs of "\??\<path>" and the new name, empty for a deletion), where
// MoveFileExW puts them, and the "[Rename]" section of the start-up rename
// list (lines "NUL=<short path>"), the fallback of MoveFileOnRestart.
#ifndef KX_CORE_PENDING_DELETIONS_H
#define KX_CORE_PENDING_DELETIONS_H

#include <functional>
#include <string>
#include <vector>

namespace kxcore {

// The paths (full, long form) of every pending deletion, in their order.
std::vector<std::wstring> PendingDeletions(const std::wstring& renameList);

// Withdraws every pending deletion whose path (full, long form) needed
// answers true for; renames and other deletions stay as they are, in their
// order. renameList is the start-up rename list's path (empty: not looked
// at). Returns the withdrawn paths.
std::vector<std::wstring> WithdrawPendingDeletions(const std::function<bool(const std::wstring&)>& needed,
                                                   const std::wstring& renameList);

// The two edits on their data, apart for tests. Each returns the data
// without the deletions of the paths needed answers true for and adds those
// paths to withdrawn.
// block: the registry value's strings, each with its terminating zero (the
// list's final extra zero not included).
std::wstring WithoutPendingDeletions(const std::wstring& block,
                                     const std::function<bool(const std::wstring&)>& needed,
                                     std::vector<std::wstring>* withdrawn);
// text: the start-up rename list (ANSI code page, CR LF lines); a short path
// is compared in its long form, which exists as long as the file does.
std::string WithoutRenameListDeletions(const std::string& text,
                                       const std::function<bool(const std::wstring&)>& needed,
                                       std::vector<std::wstring>* withdrawn);

}  // namespace kxcore

#endif
