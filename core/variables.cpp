#include "core/variables.h"

#include <windows.h>

#include <map>
#include <set>

#include "core/language_table.h"
#include "core/srw_guard.h"

namespace kxcore {
namespace {

// Values are themselves script texts, so evaluation recurses; the limit stops
// a variable that refers to itself.
constexpr int kMaxEvaluationDepth = 16;


// Variable names compare without regard to case; they are kept upper-case.
std::wstring NameKey(std::wstring_view name) {
  std::wstring key(name);
  for (wchar_t& c : key)
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
  return key;
}

struct VariableStore {
  SRWLOCK lock = SRWLOCK_INIT;
  std::map<std::wstring, std::wstring> values;
  std::set<std::wstring> pinned;
};

VariableStore& Store() {
  static VariableStore store;
  return store;
}

bool IsNameChar(wchar_t c) {
  return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') || c == L'_';
}

// Length of the reference "%NAME%" starting at text[i], or 0 if none starts there.
size_t ReferenceLength(std::wstring_view text, size_t i) {
  size_t j = i + 1;
  while (j < text.size() && IsNameChar(text[j])) ++j;
  if (j == i + 1 || j >= text.size() || text[j] != L'%') return 0;
  return j - i + 1;
}

void EvaluateInto(std::wstring_view text, int depth, std::wstring* out);

bool Lookup(std::wstring_view name, std::wstring* value) {
  VariableStore& store = Store();
  SrwGuard guard(&store.lock, SrwGuard::kShared);
  auto found = store.values.find(NameKey(name));
  if (found == store.values.end()) return false;
  *value = found->second;
  return true;
}

std::wstring ExpandReferences(std::wstring_view text) {
  std::wstring out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    if (text[i] == L'%') {
      // "%%" stays escaped until the text is evaluated.
      size_t length = i + 1 < text.size() && text[i + 1] == L'%' ? 2 : ReferenceLength(text, i);
      std::wstring value;
      // A '%' that starts no reference is kept as it stands ("50% off").
      if (length == 0) length = 1;
      if (length > 2 && Lookup(text.substr(i + 1, length - 2), &value))
        out += value;
      else
        out += text.substr(i, length);
      i += length;
      continue;
    }
    out += text[i++];
  }
  return out;
}

void AppendEvaluated(std::wstring_view text, int depth, std::wstring* out) {
  if (depth < kMaxEvaluationDepth)
    EvaluateInto(text, depth + 1, out);
  else
    *out += text;
}

void EvaluateInto(std::wstring_view text, int depth, std::wstring* out) {
  for (size_t i = 0; i < text.size();) {
    const wchar_t c = text[i];
    // "%%" and "##" stand for one literal '%' and '#': a path or name stored
    // this way is never read as a reference or a language key.
    if ((c == L'%' || c == L'#') && i + 1 < text.size() && text[i + 1] == c) {
      *out += c;
      i += 2;
      continue;
    }
    if (c == L'%') {
      size_t length = ReferenceLength(text, i);
      std::wstring value;
      if (length && Lookup(text.substr(i + 1, length - 2), &value)) {
        AppendEvaluated(value, depth, out);
        i += length;
        continue;
      }
      // An unset variable's reference stays as written.
      if (length) {
        *out += text.substr(i, length);
        i += length;
        continue;
      }
    } else if (c == L'#') {
      size_t j = i + 1;
      while (j < text.size() && IsNameChar(text[j])) ++j;
      const std::wstring* languageText = j > i + 1 ? FindLanguageText(text.substr(i, j - i)) : nullptr;
      if (languageText) {
        AppendEvaluated(*languageText, depth, out);
        i = j;
        continue;
      }
    }
    *out += c;
    ++i;
  }
}

}  // namespace

void SetVariable(std::wstring_view name, std::wstring_view value) {
  std::wstring expanded = ExpandReferences(value);
  VariableStore& store = Store();
  SrwGuard guard(&store.lock, SrwGuard::kExclusive);
  std::wstring key = NameKey(name);
  if (store.pinned.count(key)) return;
  store.values[key] = std::move(expanded);
}

void PinVariable(std::wstring_view name, std::wstring_view value) {
  std::wstring expanded = ExpandReferences(value);
  VariableStore& store = Store();
  SrwGuard guard(&store.lock, SrwGuard::kExclusive);
  std::wstring key = NameKey(name);
  store.values[key] = std::move(expanded);
  store.pinned.insert(key);
}

bool GetVariable(std::wstring_view name, std::wstring* value) { return Lookup(name, value); }

std::wstring Evaluate(std::wstring_view text) {
  std::wstring out;
  out.reserve(text.size());
  EvaluateInto(text, 0, &out);
  return out;
}

void ClearVariables() {
  VariableStore& store = Store();
  SrwGuard guard(&store.lock, SrwGuard::kExclusive);
  store.values.clear();
  store.pinned.clear();
}

}  // namespace kxcore
