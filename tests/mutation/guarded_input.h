// An input placed flush against a page the process may not touch, so that a
// reader that looks one byte past its input faults at once instead of
// reading what happens to lie behind it (what AddressSanitizer would report
// for the natively built readers).
#ifndef KX_TESTS_MUTATION_GUARDED_INPUT_H
#define KX_TESTS_MUTATION_GUARDED_INPUT_H

#include <stddef.h>

#include <string>

namespace kxmutation {

class GuardedInput {
 public:
  explicit GuardedInput(size_t capacity);
  ~GuardedInput();
  GuardedInput(const GuardedInput&) = delete;
  GuardedInput& operator=(const GuardedInput&) = delete;

  // Copies bytes (at most the capacity) to end at the guard page; the
  // pointer returned stays valid until the next Place.
  const char* Place(const std::string& bytes);
  bool valid() const { return base_ != nullptr; }

 private:
  char* base_ = nullptr;
  size_t usable_ = 0;
};

// While a run is in progress, a fault writes its input to a file (named
// for the target and the run) and ends the process with code 3, so that the
// input is kept as a regression input; the test log names the file.
void BeginRun(const char* target, unsigned long long run, const std::string& input);
void EndRun();
void InstallFaultKeeper(const std::wstring& folder);

}  // namespace kxmutation

#endif
