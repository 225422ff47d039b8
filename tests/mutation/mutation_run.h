// The mutation runs' loop, shared by the readers' tests: the regression
// inputs first, then mutations of the seeds, each input checked by the
// target's own function. KX_MUTATION_RUNS (20,000 unless set) and
// KX_MUTATION_SECONDS bound a run; KX_MUTATION_FIRST starts at another run
// number, to repeat one that failed; KX_MUTATION_OUT is the folder for
// faulting inputs (the temporary folder unless set).
#ifndef KX_TESTS_MUTATION_MUTATION_RUN_H
#define KX_TESTS_MUTATION_MUTATION_RUN_H

#include <stddef.h>

#include <functional>
#include <string>
#include <vector>

namespace kxmutation {

struct MutationTarget {
  const char* name;
  std::vector<std::string> seeds;
  std::vector<std::string> tokens;
  size_t maxSize;
  // Reshapes a mutated input the way a forger would (a checksum set right);
  // may be empty.
  std::function<void(std::string*, unsigned long long run)> reshape;
  // Reads the input (placed against a guard page) and checks what was read;
  // false (with a message through gtest) on a wrong result. accepted counts
  // inputs the reader took as good.
  std::function<bool(const char* bytes, size_t size, bool* accepted)> check;
};

struct MutationFigures {
  unsigned long long runs = 0;
  unsigned long long accepted = 0;
  unsigned long long regressions = 0;
  double seconds = 0;
  bool failed = false;
};

MutationFigures RunMutations(const MutationTarget& target);

// The files of a folder (the regression inputs), in name order.
std::vector<std::string> ReadFolderFiles(const std::wstring& folder);
std::string ReadWholeFile(const std::wstring& path);

}  // namespace kxmutation

#endif
