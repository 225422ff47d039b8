// Holds a slim reader/writer lock for the lifetime of the guard.
#ifndef KX_CORE_SRW_GUARD_H
#define KX_CORE_SRW_GUARD_H

#include <windows.h>

namespace kxcore {

class SrwGuard {
 public:
  enum Mode { kShared, kExclusive };
  SrwGuard(SRWLOCK* lock, Mode mode) : lock_(lock), mode_(mode) {
    mode_ == kExclusive ? AcquireSRWLockExclusive(lock_) : AcquireSRWLockShared(lock_);
  }
  ~SrwGuard() { mode_ == kExclusive ? ReleaseSRWLockExclusive(lock_) : ReleaseSRWLockShared(lock_); }
  SrwGuard(const SrwGuard&) = delete;
  SrwGuard& operator=(const SrwGuard&) = delete;

 private:
  SRWLOCK* lock_;
  Mode mode_;
};

}  // namespace kxcore

#endif
