// Mutation runs under Wine for the readers of untrusted bytes that stay
// Windows code (the rest are libFuzzer targets in fuzz/): the package data
// the programs read from their runtime archive, and the install journal a
// killed run leaves in its installation folder. Beyond "no fault, no read
// past the input": what a reader accepts holds only values within their
// capacities and reads the same again, and what it refuses leaves nothing
// half-read behind.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include <memory>
#include <string>
#include <vector>

#include "base/crc32.h"
#include "base/declarations_format.h"
#include "base/journal_format.h"
#include "base/package_format.h"
#include "launcher/package_data.h"
#include "launcher/package_declarations.h"
#include "tests/mutation/byte_mutator.h"
#include "tests/mutation/mutation_run.h"
#include "tests/support/test_files.h"

using namespace kxmutation;

namespace {

// ---- the package data ----

bool Terminated(const wchar_t* text, size_t capacity) { return wcsnlen(text, capacity) < capacity; }

bool AllZero(const void* bytes, size_t size) {
  const unsigned char* p = static_cast<const unsigned char*>(bytes);
  for (size_t i = 0; i < size; ++i)
    if (p[i]) return false;
  return true;
}

// Everything a successful read left in data and g_declarations lies within
// its capacity: what the programs later copy and concatenate without
// checking again.
bool WithinCapacities(const PackageData& data) {
  const wchar_t* const texts[] = {data.productName, data.productVersion, data.publisher,    data.publisherUrl,
                                  data.uninstallKeyName, data.wizardLabel, data.windowTitle, data.installFolder,
                                  data.startMenuFolder, data.programFile, data.shortcutName};
  for (const wchar_t* text : texts)
    if (!Terminated(text, kPackageTextCapacity)) return false;
  if (!Terminated(data.uninstallRegistryKey, kUninstallRegistryKeyCapacity)) return false;
  if (data.productName[0] == L'\0' || data.uninstallKeyName[0] == L'\0') return false;
  const PackageLanguages& languages = data.languages;
  if (languages.count < 1 || languages.count > kPackageLanguageCapacity) return false;
  if (languages.textCount > kPackageLanguageCapacity) return false;
  for (unsigned i = 0; i < languages.textCount; ++i)
    if (!Terminated(languages.texts[i].windowTitle, kPackageTextCapacity) ||
        !Terminated(languages.texts[i].wizardLabel, kPackageTextCapacity))
      return false;
  for (unsigned i = 0; i < languages.count; ++i) {
    const wchar_t* title = PackageWindowTitle(data, languages.ids[i]);
    if (!title || !Terminated(title, kPackageTextCapacity)) return false;
  }
  unsigned total = 0;
  for (size_t t = 0; t < kxformat::kDeclTableCount; ++t) {
    const auto table = static_cast<kxformat::DeclTableIndex>(t);
    const unsigned count = DeclarationCount(g_declarations, table);
    if (count > kxformat::kDeclTables[t].capacity) return false;
    total += count;
    for (unsigned i = 0; i < count; ++i) {
      const DeclEntry& entry = DeclarationAt(g_declarations, table, i);
      for (size_t f = 0; f < kxformat::kDeclTables[t].fieldCount; ++f) {
        if (!Terminated(entry.fields[f], kDeclTextCapacity)) return false;
        if (kxformat::kDeclTables[t].fields[f].required && !entry.given[f]) return false;
      }
    }
  }
  return total <= kDeclEntriesTotal;
}

std::vector<std::string> PackageSeeds() {
  std::vector<std::string> seeds;
  const char* list = getenv("KX_MUTATION_PACKAGE_SEEDS");
  std::string paths = list ? list : "";
  size_t start = 0;
  while (start < paths.size()) {
    size_t end = paths.find(';', start);
    if (end == std::string::npos) end = paths.size();
    std::string bytes = ReadWholeFile(kxtest::FromUnixPath(paths.substr(start, end - start)));
    if (!bytes.empty()) seeds.push_back(bytes);
    start = end + 1;
  }
  return seeds;
}

std::vector<std::string> PackageTokens() {
  std::vector<std::string> tokens = {"\n", "\r\n", "=", "kxpackage 1\n", "{install_folder}", "%PROGFILESDIR%\\",
                                     "..\\", "\\\\?\\", "HKLM\\Software\\", "HKCU\\", "HKA\\Software\\",
                                     "HKLM\\System\\", "languages=", "languages.ask=1\n", "install.scope=",
                                     "current_user", "all_users", "1033,1031", "\xEF\xBB\xBF", "\xED\xA0\x80"};
  for (const auto& key : kxformat::kPackageKeys) tokens.push_back(std::string("\n") + key.key + "=");
  for (const auto& table : kxformat::kDeclTables)
    for (size_t f = 0; f < table.fieldCount; ++f)
      tokens.push_back(std::string("\n") + table.name + "." + std::to_string(1 + f % 3) + "." + table.fields[f].name + "=");
  return tokens;
}

TEST(ReaderMutations, PackageDataAcceptsOnlyValuesWithinTheirCapacitiesAndRefusesWithNothingLeft) {
  // Two reads of one input into different places, the struct too large for
  // the stack.
  auto first = std::make_unique<PackageData>();
  auto second = std::make_unique<PackageData>();
  auto declarations = std::make_unique<PackageDeclarations>();
  MutationTarget target;
  target.name = "package_data";
  target.seeds = PackageSeeds();
  target.tokens = PackageTokens();
  target.maxSize = kPackageDataMaxBytes + 64;
  target.check = [&](const char* bytes, size_t size, bool* accepted) {
    memset(first.get(), 0x5A, sizeof(PackageData));
    const int result = ParsePackageData(bytes, size, first.get());
    *accepted = result == kPackageDataOk;
    if (result != kPackageDataOk) {
      EXPECT_TRUE(result == kPackageDataDamaged || result == kPackageDataNotRead) << result;
      EXPECT_TRUE(AllZero(first.get(), sizeof(PackageData))) << "a refused file left values behind";
      EXPECT_TRUE(AllZero(&g_declarations, sizeof g_declarations)) << "a refused file left declarations behind";
      return !testing::Test::HasFailure();
    }
    EXPECT_TRUE(WithinCapacities(*first));
    memcpy(declarations.get(), &g_declarations, sizeof g_declarations);
    memset(second.get(), 0xA5, sizeof(PackageData));
    EXPECT_EQ(ParsePackageData(bytes, size, second.get()), kPackageDataOk);
    EXPECT_EQ(memcmp(first.get(), second.get(), sizeof(PackageData)), 0) << "read differently the second time";
    EXPECT_EQ(memcmp(declarations.get(), &g_declarations, sizeof g_declarations), 0);
    return !testing::Test::HasFailure();
  };
  const MutationFigures figures = RunMutations(target);
  EXPECT_FALSE(figures.failed);
  // The seeds themselves are good packages: a run that accepts nothing
  // would test only the first line's check.
  EXPECT_GE(figures.accepted, target.seeds.size());
}

// ---- the install journal ----

constexpr uint64_t kTime = 0x01DB4C2A00000000ull;

std::string Line(JournalLineKind kind, const wchar_t* path = L"", const wchar_t* aside = L"", uint64_t size = 0,
                 bool folderCreated = false) {
  auto line = std::make_unique<JournalLine>();
  memset(line.get(), 0, sizeof(JournalLine));
  line->kind = kind;
  wcscpy(line->path, path);
  wcscpy(line->aside, aside);
  line->size = size;
  line->writeTime = kTime;
  line->folderCreated = folderCreated;
  std::string buffer(kJournalLineBytes, '\0');
  buffer.resize(FormatJournalLine(*line, &buffer[0]));
  return buffer;
}

// Journals as the live run writes them (base/journal_format.h's writer).
std::vector<std::string> JournalSeeds() {
  using K = JournalLineKind;
  const std::wstring deep = std::wstring(200, L'd') + L"\\" + std::wstring(200, L'e') + L"\\f.txt";
  std::vector<std::string> seeds;
  seeds.push_back(Line(K::kHeader, L"", L"", 0, true) + Line(K::kFolderCreated, L"bin") +
                  Line(K::kAboutToCreate, L"bin\\tool.exe") + Line(K::kFileCreated, L"bin\\tool.exe") +
                  Line(K::kFileWritten, L"bin\\tool.exe", L"", 14848) + Line(K::kAboutToCreate, L"README.txt"));
  seeds.push_back(Line(K::kHeader) + Line(K::kKeptAside, L"README.txt", L"~kx00000100001.tmp") +
                  Line(K::kAsideVoid, L"README.txt", L"~kx00000100001.tmp") +
                  Line(K::kKeptAside, L"README.txt", L"~kx00000100002.tmp") +
                  Line(K::kFileWritten, L"README.txt", L"", 211) +
                  Line(K::kKeptAside, L"docs\\\u00e9t\u00e9 \u6587\u5b57.txt", L"~kx0000010000A.tmp") +
                  Line(K::kCommitted));
  seeds.push_back(Line(K::kHeader) + Line(K::kFolderCreated, L"dddd") + Line(K::kFileCreated, deep.c_str()) +
                  Line(K::kFileWritten, deep.c_str(), L"", 1));
  for (const std::string& seed : seeds) EXPECT_FALSE(seed.empty());
  return seeds;
}

// A forger sets the checksums right, so that the checks behind them are
// reached: every line's CRC rewritten on odd runs.
void SetChecksums(std::string* bytes, unsigned long long run) {
  if ((run & 1) == 0) return;
  std::string fixed;
  for (std::string line : SplitLines(*bytes)) {
    size_t end = line.size();
    if (end && line[end - 1] == '\n') --end;
    if (end && line[end - 1] == '\r') --end;
    if (end >= 10 && line[8] == ' ') {
      char crc[9];
      snprintf(crc, sizeof crc, "%08lx", static_cast<unsigned long>(kxcrc::Crc32(line.data() + 9, end - 9)));
      line.replace(0, 8, crc, 8);
    }
    fixed += line;
  }
  *bytes = fixed;
}

struct ChangeOffsets : JournalChangeSink {
  std::vector<size_t> offsets;
  void Change(const JournalChange& change, const JournalLine&) override { offsets.push_back(change.offset); }
};

TEST(ReaderMutations, JournalFollowsOnlyLinesThatNameThingsInsideTheFolder) {
  auto line = std::make_unique<JournalLine>();
  auto again = std::make_unique<JournalLine>();
  std::string formatted(kJournalLineBytes, '\0');
  MutationTarget target;
  target.name = "journal";
  target.seeds = JournalSeeds();
  target.tokens = {"\r\n", "\t", " ", "H kxjournal\t1\tnew", "D ", "C ", "N ", "A ", "X ", "W ", "K", "..\\",
                   "C:\\", "\\\\server\\", "nul", "a:b", "*", "~kx00000000000.tmp", "\xC0\x80", "\xED\xA0\x80"};
  target.maxSize = 2 * kJournalLineBytes;
  target.reshape = SetChecksums;
  target.check = [&](const char* bytes, size_t size, bool* accepted) {
    ParsedJournal parsed = {};
    if (!ParseJournal(bytes, size, &parsed)) {
      ADD_FAILURE() << "out of memory";
      return false;
    }
    *accepted = parsed.damage == JournalDamage::kNone;
    EXPECT_LE(parsed.damageOffset, size);
    for (size_t i = 0; i < parsed.count; ++i) {
      // Every change recovery would undo is a line that reads well and
      // names a place inside the folder.
      const JournalChange& change = parsed.changes[i];
      size_t offset = change.offset;
      bool atEnd = false;
      EXPECT_LT(offset, size);
      EXPECT_EQ(ReadJournalLine(bytes, size, &offset, line.get(), &atEnd), JournalDamage::kNone);
      EXPECT_TRUE(IsJournalRelativePath(line->path));
      if (line->kind == JournalLineKind::kKeptAside) {
        EXPECT_TRUE(IsAsideFileName(line->aside));
      }
      EXPECT_FALSE(change.voided);
    }
    // Recovery's way, through a window and last change first: the same
    // changes, backwards.
    // The input read through the recovery's window (copied a piece at a
    // time), not in place.
    JournalBytes copied(bytes, size, false);
    JournalSurvey survey;
    ChangeOffsets lastFirst;
    if (!SurveyJournal(&copied, &survey) || !WalkJournalChanges(&copied, survey, true, &lastFirst)) {
      ADD_FAILURE() << "the window could not be read";
    } else {
      EXPECT_EQ(survey.damage, parsed.damage);
      EXPECT_EQ(survey.count, parsed.count);
      EXPECT_EQ(lastFirst.offsets.size(), parsed.count);
      for (size_t i = 0; i < parsed.count && i < lastFirst.offsets.size(); ++i)
        EXPECT_EQ(lastFirst.offsets[parsed.count - 1 - i], parsed.changes[i].offset);
    }
    FreeJournalSurvey(&survey);
    FreeParsedJournal(&parsed);
    // Each line read, written again, reads back alike.
    size_t offset = 0;
    bool atEnd = false;
    while (ReadJournalLine(bytes, size, &offset, line.get(), &atEnd) == JournalDamage::kNone && !atEnd) {
      const size_t length = FormatJournalLine(*line, &formatted[0]);
      if (line->kind != JournalLineKind::kHeader && line->kind != JournalLineKind::kCommitted) {
        EXPECT_NE(length, 0u) << "a line that reads cannot be written again";
      }
      if (length == 0) continue;
      size_t readBack = 0;
      bool end = false;
      EXPECT_EQ(ReadJournalLine(formatted.data(), length, &readBack, again.get(), &end), JournalDamage::kNone);
      EXPECT_EQ(readBack, length);
      EXPECT_TRUE(again->kind == line->kind && wcscmp(again->path, line->path) == 0 &&
                  wcscmp(again->aside, line->aside) == 0 && again->size == line->size &&
                  again->writeTime == line->writeTime && again->folderCreated == line->folderCreated);
    }
    return !testing::Test::HasFailure();
  };
  const MutationFigures figures = RunMutations(target);
  EXPECT_FALSE(figures.failed);
  EXPECT_GE(figures.accepted, target.seeds.size());
}

}  // namespace
