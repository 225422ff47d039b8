#include "tests/mutation/byte_mutator.h"

#include <utility>

namespace kxmutation {

namespace {

// Bytes that make readers take other paths: line and field ends, the
// format's separators, NUL, and UTF-8 lead, continuation and invalid bytes.
const unsigned char kInteresting[] = {0x00, '\r', '\n', '\t', '=', '.', '\\', '/', ':', '%', ' ',
                                      '0',  '9',  0x7F, 0x80, 0xBF, 0xC0, 0xC3, 0xE0, 0xED, 0xF0, 0xF4, 0xFF};

}  // namespace

ByteMutator::ByteMutator(uint64_t seed, std::vector<std::string> tokens)
    : state_(seed * 0x9E3779B97F4A7C15ull + 0x2545F4914F6CDD1Dull), tokens_(std::move(tokens)) {}

// xorshift64*: fast, and the same on every platform.
uint64_t ByteMutator::Next() {
  state_ ^= state_ >> 12;
  state_ ^= state_ << 25;
  state_ ^= state_ >> 27;
  return state_ * 0x2545F4914F6CDD1Dull;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    lines.push_back(text.substr(start, end - start));
    start = end;
  }
  return lines;
}

void ByteMutator::Mutate(std::string* bytes, const std::vector<std::string>& others, size_t maxSize) {
  const size_t count = 1 + Below(8);
  for (size_t i = 0; i < count; ++i) MutateOnce(bytes, others);
  if (bytes->size() > maxSize) bytes->resize(maxSize);
}

void ByteMutator::MutateOnce(std::string* bytes, const std::vector<std::string>& others) {
  std::string& b = *bytes;
  const size_t at = Below(b.size() + 1);
  switch (Below(11)) {
    case 0:  // a bit flipped
      if (!b.empty()) b[Below(b.size())] ^= static_cast<char>(1u << Below(8));
      break;
    case 1:  // a byte that means something to a reader
      if (!b.empty()) b[Below(b.size())] = static_cast<char>(kInteresting[Below(sizeof kInteresting)]);
      break;
    case 2:  // random bytes inserted
      for (size_t n = 1 + Below(4); n > 0; --n) b.insert(b.begin() + static_cast<long>(at), static_cast<char>(Next()));
      break;
    case 3:  // a range lost
      if (!b.empty()) b.erase(at == b.size() ? at - 1 : at, 1 + Below(16));
      break;
    case 4:  // a range repeated
      if (!b.empty()) {
        const size_t from = Below(b.size());
        const std::string piece = b.substr(from, 1 + Below(64));
        b.insert(Below(b.size() + 1), piece);
      }
      break;
    case 5:  // a token of the format
      if (!tokens_.empty()) b.insert(at, tokens_[Below(tokens_.size())]);
      break;
    case 6:  // cut short
      b.resize(Below(b.size() + 1));
      break;
    case 7: {  // a line of another input put in
      if (others.empty()) break;
      const std::vector<std::string> lines = SplitLines(others[Below(others.size())]);
      if (lines.empty()) break;
      std::vector<std::string> own = SplitLines(b);
      own.insert(own.begin() + static_cast<long>(Below(own.size() + 1)), lines[Below(lines.size())]);
      b.clear();
      for (const std::string& line : own) b += line;
      break;
    }
    case 8: {  // two lines swapped, or one repeated
      std::vector<std::string> own = SplitLines(b);
      if (own.size() < 2) break;
      const size_t i = Below(own.size()), j = Below(own.size());
      if (Below(2))
        std::swap(own[i], own[j]);
      else
        own.insert(own.begin() + static_cast<long>(j), own[i]);
      b.clear();
      for (const std::string& line : own) b += line;
      break;
    }
    case 9:  // a long run of one byte: capacities and line limits
      b.insert(at, 1 + Below(Below(2) ? 300 : 70000), static_cast<char>(Below(2) ? 'a' : kInteresting[Below(sizeof kInteresting)]));
      break;
    default:  // a number changed into another: counts and indexes
      for (size_t i = at; i < b.size(); ++i) {
        if (b[i] >= '0' && b[i] <= '9') {
          static const char* const kNumbers[] = {"0", "1", "00", "01", "17", "255", "65535", "4294967296", "99999999999999999999"};
          size_t end = i;
          while (end < b.size() && b[end] >= '0' && b[end] <= '9') ++end;
          b.replace(i, end - i, kNumbers[Below(sizeof kNumbers / sizeof kNumbers[0])]);
          break;
        }
      }
      break;
  }
}

}  // namespace kxmutation
