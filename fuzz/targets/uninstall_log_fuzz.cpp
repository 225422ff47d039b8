// The uninstall log as the uninstaller reads it (core/uninstall_log_format.h),
// then every record through the scope check's rules
// (core/uninstall_scope_rules.h) against a few installations' places. A log
// that reads, written again, reads back alike; a record the rules let
// through lies, component by component, where the installation owns things;
// the log's UTF-8 reader agrees with kxpack's on every text.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "base/crc32.h"
#include "core/uninstall_log_format.h"
#include "core/uninstall_scope_rules.h"
#include "tools/kxpack/utf8.h"

namespace {

using kxcore::ScopeRoots;

uint32_t Crc(const void* data, size_t size) { return kxcrc::Crc32(data, size); }

struct Record {
  int kind;
  std::u16string text;
  bool operator==(const Record& other) const { return kind == other.kind && text == other.text; }
};

struct Collector : kxcore::LogRecordSink {
  std::vector<Record> records;
  void Add(int kind, std::u16string_view text) override { records.push_back({kind, std::u16string(text)}); }
};

char16_t Folded(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c; }

// A stand-in for CompareStringOrdinal's order without regard to case: ASCII
// letters folded, every other unit as it is.
int Compare(std::u16string_view a, std::u16string_view b) {
  if (a.empty() || b.empty()) return static_cast<int>(!a.empty()) - static_cast<int>(!b.empty());
  for (size_t i = 0; i < a.size() && i < b.size(); ++i)
    if (Folded(a[i]) != Folded(b[i])) return Folded(a[i]) < Folded(b[i]) ? -1 : 1;
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// The path's components, a drive ("C:") or the two empty names before a
// UNC server counting as components of their own, in folded case.
std::vector<std::u16string> Components(std::u16string_view path) {
  std::vector<std::u16string> parts(1);
  for (char16_t c : path) {
    if (c == u'\\')
      parts.emplace_back();
    else
      parts.back() += Folded(c);
  }
  if (!parts.empty() && parts.back().empty()) parts.pop_back();  // "C:\" is the drive alone
  return parts;
}

bool StartsWith(const std::vector<std::u16string>& whole, const std::vector<std::u16string>& start) {
  if (start.size() > whole.size()) return false;
  for (size_t i = 0; i < start.size(); ++i)
    if (whole[i] != start[i]) return false;
  return true;
}

const ScopeRoots kScopes[] = {
    {u"C:\\Program Files\\Quillmark", u"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs",
     u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillmark Toolkit812953"},
    {u"\\\\server\\share\\Apps\\Quill", u"", u""},
    {u"D:\\Q", u"D:\\Q\\Menu", u"Software\\Q"},
};

// Whether a normal full path lies where the scope lets the uninstaller
// remove it, judged on components instead of texts.
bool OwnedPath(int kind, std::u16string_view path, const ScopeRoots& scope) {
  const auto parts = Components(path);
  const auto program = Components(scope.programFolder);
  if (parts.size() > program.size() && StartsWith(parts, program)) return true;
  if (kind == 1) {
    if (parts == program) return true;
    // Above the program folder, but not a drive or a share itself.
    const size_t rootParts = path[0] == u'\\' ? 4 : 1;
    if (parts.size() < program.size() && StartsWith(program, parts) && parts.size() > rootParts) return true;
  }
  if (scope.startMenuRoot.empty()) return false;
  const auto menu = Components(scope.startMenuRoot);
  return StartsWith(parts, menu) && parts.size() >= menu.size() + (kind == 1 ? 1 : 2);
}

void CheckScope(const Record& record) {
  for (const ScopeRoots& scope : kScopes) {
    if (record.kind == 0 || record.kind == 1) {
      // The uninstaller judges a record only when its path is full and normal.
      if (!kxcore::IsNormalFullPath(record.text)) continue;
      if (kxcore::ResolvedPathInScope(record.kind, record.text, scope, Compare) !=
          OwnedPath(record.kind, record.text, scope))
        abort();
      continue;
    }
    if (!kxcore::RegistryRecordInScope(record.kind, record.text, scope.registryKey, Compare)) continue;
    kxcore::RegistryRoot root;
    std::u16string_view key, name;
    if (!kxcore::SplitRegistryRecord(record.text, record.kind == 3, &root, &key, &name, Compare)) abort();
    const auto keyParts = Components(key);
    const auto scopeParts = Components(scope.registryKey);
    if (root != kxcore::RegistryRoot::kLocalMachine || !StartsWith(keyParts, scopeParts)) abort();
    for (const auto& part : keyParts)
      if (part.empty()) abort();
  }
}

// The log's UTF-8 reader and kxpack's agree on what is UTF-8 and on what it says.
void CheckUtf8(std::string_view bytes) {
  std::u16string text;
  std::u32string points;
  size_t bad = 0;
  const bool ours = kxcore::DecodeUtf8(bytes, &text);
  if (ours != DecodeUtf8(std::string(bytes), &points, &bad)) abort();
  if (!ours) return;
  if (text.size() != Utf16Length(points)) abort();
  std::string again;
  kxcore::AppendUtf8(text, &again);
  if (again != bytes) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  CheckUtf8(bytes);
  Collector read;
  if (!kxcore::ParseLogBytes(bytes, Crc, &read)) return 0;

  // Written again, the log reads back alike (the writer escapes only what it
  // must, so the bytes may differ).
  std::string written;
  kxcore::AppendLogHeader(&written);
  for (const Record& record : read.records) kxcore::AppendLogRecord(record.kind, record.text, &written);
  kxcore::AppendLogTrailer(read.records.size(), Crc, &written);
  Collector again;
  if (!kxcore::ParseLogBytes(written, Crc, &again) || again.records != read.records) abort();

  for (const Record& record : read.records) CheckScope(record);
  return 0;
}
