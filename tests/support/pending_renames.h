// MoveFileExW's deferred moves as Windows (and Wine) keep them, for tests
// that schedule some and must not leave them for the next prefix start.
#ifndef KX_TESTS_SUPPORT_PENDING_RENAMES_H
#define KX_TESTS_SUPPORT_PENDING_RENAMES_H

#include <windows.h>

#include <string>

namespace kxtest {

// Restores the pending rename operations on destruction, so that the next
// start of the test prefix does not act on the test's files.
class PendingRenamesGuard {
 public:
  PendingRenamesGuard() { existed_ = Read(&saved_); }
  ~PendingRenamesGuard();
  PendingRenamesGuard(const PendingRenamesGuard&) = delete;
  PendingRenamesGuard& operator=(const PendingRenamesGuard&) = delete;

  // The REG_MULTI_SZ value as it stands; false when there is none.
  static bool Read(std::wstring* value);

 private:
  bool existed_ = false;
  std::wstring saved_;
};

}  // namespace kxtest

#endif
