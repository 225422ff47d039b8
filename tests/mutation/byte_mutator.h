// Mutations of byte strings for the readers that stay Windows code and so
// cannot be built for libFuzzer: each run takes a seed the project's own
// tools wrote and changes it a few times in the ways damaged or forged files
// differ from good ones (bits flipped, bytes lost, inserted or repeated,
// lines moved between files, tokens of the format put where they do not
// belong). Deterministic for a given seed number, so that a failure is
// reproduced by its run number alone.
#ifndef KX_TESTS_MUTATION_BYTE_MUTATOR_H
#define KX_TESTS_MUTATION_BYTE_MUTATOR_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace kxmutation {

class ByteMutator {
 public:
  // tokens: pieces of the format (keys, separators, line ends) that random
  // bytes would practically never spell.
  ByteMutator(uint64_t seed, std::vector<std::string> tokens);

  // Changes bytes one to eight times; others are further inputs to take
  // lines from. The result is at most maxSize bytes.
  void Mutate(std::string* bytes, const std::vector<std::string>& others, size_t maxSize);

  uint64_t Next();
  size_t Below(size_t bound) { return bound ? static_cast<size_t>(Next() % bound) : 0; }

 private:
  void MutateOnce(std::string* bytes, const std::vector<std::string>& others);

  uint64_t state_;
  std::vector<std::string> tokens_;
};

// The lines of text (each with its line end), for mutations by line.
std::vector<std::string> SplitLines(const std::string& text);

}  // namespace kxmutation

#endif
