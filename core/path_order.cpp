#include "core/path_order.h"

#include <windows.h>

#include "core/utf16_text.h"

#include <algorithm>
#include <numeric>

namespace kxcore {

int ComparePaths(std::wstring_view a, std::wstring_view b) {
  if (a.empty() || b.empty()) return static_cast<int>(!a.empty()) - static_cast<int>(!b.empty());
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) -
         CSTR_EQUAL;
}

int ComparePathsUtf16(std::u16string_view a, std::u16string_view b) { return ComparePaths(WideView(a), WideView(b)); }

std::vector<std::wstring> WithoutRepeats(std::vector<std::wstring> texts) {
  // Sorted by path and, among equal paths, by position: the first of each
  // run of equal paths is the one to keep.
  std::vector<size_t> order(texts.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return ComparePaths(texts[a], texts[b]) < 0; });
  std::vector<bool> keep(texts.size(), false);
  for (size_t i = 0; i < order.size(); ++i)
    if (i == 0 || !SamePath(texts[order[i - 1]], texts[order[i]])) keep[order[i]] = true;
  std::vector<std::wstring> kept;
  for (size_t i = 0; i < texts.size(); ++i)
    if (keep[i]) kept.push_back(std::move(texts[i]));
  return kept;
}

}  // namespace kxcore
