// One order for paths: ordinal, ignoring case (CompareStringOrdinal), the
// way the file system tells names apart. The uninstaller's sets and look-ups
// all use it, so that "the same path" means the same everywhere and a
// look-up among n paths costs a logarithm instead of a scan.
#ifndef KX_CORE_PATH_ORDER_H
#define KX_CORE_PATH_ORDER_H

#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace kxcore {

// Negative, 0 or positive as a sorts before, equal to or after b.
int ComparePaths(std::wstring_view a, std::wstring_view b);
inline bool SamePath(std::wstring_view a, std::wstring_view b) { return ComparePaths(a, b) == 0; }
// The same order over the portable cores' UTF-16 text (their PathComparison).
int ComparePathsUtf16(std::u16string_view a, std::u16string_view b);

struct PathLess {
  bool operator()(std::wstring_view a, std::wstring_view b) const { return ComparePaths(a, b) < 0; }
};
using PathSet = std::set<std::wstring, PathLess>;

// The texts without the later repetitions of a path; the first of each stay
// in their order.
std::vector<std::wstring> WithoutRepeats(std::vector<std::wstring> texts);

}  // namespace kxcore

#endif
