// How two product versions are ordered: setup compares the package's version
// with the installed one (the uninstall entry's DisplayVersion), and kxpack
// warns about a version setup could not order. Portable (no Windows
// headers), over any character type, so that both use the same rule.
//
// A version that can be ordered is one or more parts separated by '.', each
// part one or more decimal digits ("2", "2.10", "2020.01.15.01"). Two such
// versions compare part by part as numbers, of any length: "2.10" is newer
// than "2.9", "01" is the same as "1", and missing parts count as 0, so
// "2.1" and "2.1.0" are the same version.
//
// Any other version ("2.1-beta", "v3", "") cannot be ordered. Two versions of
// which one cannot be ordered are the same when their texts are equal
// (letter case aside for A to Z), else unordered; the caller decides what an
// unordered pair means (setup installs, as for a newer version).
#ifndef KX_BASE_VERSION_ORDER_H
#define KX_BASE_VERSION_ORDER_H

#include <stddef.h>

namespace kxversion {

enum class Order { kOlder, kSame, kNewer, kUnordered };

template <typename Char>
bool CanBeOrdered(const Char* text, size_t length) {
  if (length == 0) return false;
  bool digitSeen = false;
  for (size_t i = 0; i < length; ++i) {
    if (text[i] >= '0' && text[i] <= '9') {
      digitSeen = true;
    } else if (text[i] == '.' && digitSeen && i + 1 < length) {
      digitSeen = false;
    } else {
      return false;
    }
  }
  return digitSeen;
}

namespace detail {

// The next part at *at (after its separator): its digits without leading
// zeros as [*start, *start + *count). An ended version gives "0" (count 0).
template <typename Char>
void NextPart(const Char* text, size_t length, size_t* at, size_t* start, size_t* count) {
  size_t i = *at;
  while (i < length && text[i] == '0') ++i;
  *start = i;
  while (i < length && text[i] != '.') ++i;
  *count = i - *start;
  *at = i < length ? i + 1 : i;
}

template <typename Char>
Char Lower(Char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<Char>(c - 'A' + 'a') : c;
}

}  // namespace detail

// How version a stands to version b: kNewer when a is the newer one.
template <typename Char>
Order Compare(const Char* a, size_t aLength, const Char* b, size_t bLength) {
  if (!CanBeOrdered(a, aLength) || !CanBeOrdered(b, bLength)) {
    if (aLength != bLength) return Order::kUnordered;
    for (size_t i = 0; i < aLength; ++i)
      if (detail::Lower(a[i]) != detail::Lower(b[i])) return Order::kUnordered;
    return Order::kSame;
  }
  size_t aAt = 0, bAt = 0;
  while (aAt < aLength || bAt < bLength) {
    size_t aStart, aCount, bStart, bCount;
    detail::NextPart(a, aLength, &aAt, &aStart, &aCount);
    detail::NextPart(b, bLength, &bAt, &bStart, &bCount);
    // Without leading zeros, more digits is a larger number.
    if (aCount != bCount) return aCount > bCount ? Order::kNewer : Order::kOlder;
    for (size_t i = 0; i < aCount; ++i)
      if (a[aStart + i] != b[bStart + i]) return a[aStart + i] > b[bStart + i] ? Order::kNewer : Order::kOlder;
  }
  return Order::kSame;
}

}  // namespace kxversion

#endif
