// The install journal's file format: what the writer writes reads back as
// the same changes, and a journal damaged in any way is followed only up to
// its first damaged line, never to a path outside its folder.
#include "base/journal_format.h"

#include <gtest/gtest.h>
#include <stdio.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "base/crc32.h"

namespace {

constexpr uint64_t kStoredTime = 0x01D5CB2F12345678ull;

JournalLine Make(JournalLineKind kind, const wchar_t* path = L"", const wchar_t* aside = L"", uint64_t size = 0) {
  JournalLine line = {};
  line.kind = kind;
  wcscpy(line.path, path);
  wcscpy(line.aside, aside);
  line.size = size;
  line.writeTime = kStoredTime;
  return line;
}

std::string Format(const JournalLine& line) {
  char buffer[kJournalLineBytes];
  size_t length = FormatJournalLine(line, buffer);
  EXPECT_NE(length, 0u);
  return std::string(buffer, length);
}

// A line with the right checksum around any text: what the writer never
// writes, but a damaged or forged journal may hold.
std::string Raw(const std::string& text) {
  char crc[9];
  snprintf(crc, sizeof crc, "%08lx", static_cast<unsigned long>(kxcrc::Crc32(text.data(), text.size())));
  return std::string(crc) + " " + text + "\r\n";
}

// The journal of a reinstall killed while it wrote docs\new.txt: a folder
// and a file created, README.txt kept aside (its first name was taken) and
// replaced, CHANGES.txt kept aside; five changes.
std::vector<std::string> GoodLines() {
  JournalLine header = Make(JournalLineKind::kHeader);
  return {Format(header),
          Format(Make(JournalLineKind::kFolderCreated, L"bin")),
          Format(Make(JournalLineKind::kFileCreated, L"bin\\tool.exe")),
          Format(Make(JournalLineKind::kFileWritten, L"bin\\tool.exe", L"", 5)),
          Format(Make(JournalLineKind::kKeptAside, L"README.txt", L"~kx00000100001.tmp")),
          Format(Make(JournalLineKind::kAsideVoid, L"README.txt", L"~kx00000100001.tmp")),
          Format(Make(JournalLineKind::kKeptAside, L"README.txt", L"~kx00000100002.tmp")),
          Format(Make(JournalLineKind::kFileWritten, L"README.txt", L"", 10)),
          Format(Make(JournalLineKind::kKeptAside, L"docs\\CHANGES.txt", L"~kx00000100003.tmp")),
          Format(Make(JournalLineKind::kFileCreated, L"docs\\new.txt"))};
}

std::string Join(const std::vector<std::string>& lines) {
  std::string joined;
  for (const std::string& line : lines) joined += line;
  return joined;
}

size_t LineStart(const std::vector<std::string>& lines, size_t index) {
  size_t offset = 0;
  for (size_t i = 0; i < index; ++i) offset += lines[i].size();
  return offset;
}

// Changes of each line before index in GoodLines: after the header, the
// folder, the file, README.txt (its void try not counted), CHANGES.txt and
// docs\new.txt.
size_t ChangesBefore(size_t index) {
  static const size_t kCounts[] = {0, 0, 1, 2, 2, 3, 2, 3, 3, 4, 5};
  return kCounts[index];
}

struct Parsed {
  ParsedJournal journal = {};
  explicit Parsed(const std::string& bytes) { EXPECT_TRUE(ParseJournal(bytes.data(), bytes.size(), &journal)); }
  ~Parsed() { FreeParsedJournal(&journal); }
};

TEST(JournalFormat, AGoodJournalReadsBackAsItsChanges) {
  const std::vector<std::string> lines = GoodLines();
  Parsed parsed(Join(lines));
  const ParsedJournal& journal = parsed.journal;
  EXPECT_EQ(journal.damage, JournalDamage::kNone);
  EXPECT_FALSE(journal.committed);
  EXPECT_FALSE(journal.folderCreated);
  ASSERT_EQ(journal.count, 5u);
  const JournalLineKind kinds[] = {JournalLineKind::kFolderCreated, JournalLineKind::kFileCreated,
                                   JournalLineKind::kKeptAside, JournalLineKind::kKeptAside,
                                   JournalLineKind::kFileCreated};
  const size_t lineOf[] = {1, 2, 6, 8, 9};
  const bool written[] = {false, true, true, false, false};
  for (size_t i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(journal.changes[i].kind, kinds[i]);
    EXPECT_EQ(journal.changes[i].offset, LineStart(lines, lineOf[i]));
    EXPECT_EQ(journal.changes[i].written, written[i]);
  }
  EXPECT_EQ(journal.changes[2].size, 10u);
  EXPECT_EQ(journal.changes[2].writeTime, kStoredTime);

  // The kept-aside line names the name that was used, not the void one.
  size_t offset = journal.changes[2].offset;
  JournalLine line;
  bool atEnd = false;
  ASSERT_EQ(ReadJournalLine(Join(lines).data(), Join(lines).size(), &offset, &line, &atEnd), JournalDamage::kNone);
  EXPECT_STREQ(line.aside, L"~kx00000100002.tmp");

  JournalLine created = Make(JournalLineKind::kHeader);
  created.folderCreated = true;
  std::vector<std::string> committed = lines;
  committed[0] = Format(created);
  committed.push_back(Format(Make(JournalLineKind::kCommitted)));
  Parsed finished(Join(committed));
  EXPECT_EQ(finished.journal.damage, JournalDamage::kNone);
  EXPECT_TRUE(finished.journal.committed);
  EXPECT_TRUE(finished.journal.folderCreated);
  EXPECT_EQ(finished.journal.count, 5u);

  // Nothing follows the commit: a line after it is damage, the commit holds.
  const size_t end = Join(committed).size();
  committed.push_back(Format(Make(JournalLineKind::kFileCreated, L"late.txt")));
  Parsed late(Join(committed));
  EXPECT_EQ(late.journal.damage, JournalDamage::kOrder);
  EXPECT_EQ(late.journal.damageOffset, end);
  EXPECT_TRUE(late.journal.committed);
  EXPECT_EQ(late.journal.count, 5u);
}

// A file about to be made (N) is a change only as the journal's last line:
// the run was killed between making the file and recording it. Answered by
// its C or A, or by any other line (the file could not be made), it is none.
TEST(JournalFormat, AFileAboutToBeMadeCountsOnlyAsTheLastLine) {
  const std::string header = Format(Make(JournalLineKind::kHeader));
  const std::string intent = Format(Make(JournalLineKind::kAboutToCreate, L"bulk\\f1.txt"));
  {
    Parsed parsed(header + intent);
    EXPECT_EQ(parsed.journal.damage, JournalDamage::kNone);
    ASSERT_EQ(parsed.journal.count, 1u);
    EXPECT_EQ(parsed.journal.changes[0].kind, JournalLineKind::kAboutToCreate);
    EXPECT_EQ(parsed.journal.changes[0].offset, header.size());
    size_t offset = header.size();
    JournalLine line;
    bool atEnd = false;
    const std::string bytes = header + intent;
    ASSERT_EQ(ReadJournalLine(bytes.data(), bytes.size(), &offset, &line, &atEnd), JournalDamage::kNone);
    EXPECT_STREQ(line.path, L"bulk\\f1.txt");
    EXPECT_EQ(line.writeTime, kStoredTime);
  }
  const std::string answers[] = {Format(Make(JournalLineKind::kFileCreated, L"bulk\\f1.txt")),
                                 Format(Make(JournalLineKind::kKeptAside, L"bulk\\f1.txt", L"~kx00000100001.tmp")),
                                 Format(Make(JournalLineKind::kAboutToCreate, L"bulk\\f2.txt")) +
                                     Format(Make(JournalLineKind::kFileCreated, L"bulk\\f2.txt"))};
  for (const std::string& answer : answers) {
    Parsed parsed(header + intent + answer);
    EXPECT_EQ(parsed.journal.damage, JournalDamage::kNone);
    for (size_t i = 0; i < parsed.journal.count; ++i)
      EXPECT_NE(parsed.journal.changes[i].kind, JournalLineKind::kAboutToCreate);
  }
  // Nothing is written to a file before it is recorded as made.
  Parsed written(header + intent + Format(Make(JournalLineKind::kFileWritten, L"bulk\\f1.txt", L"", 3)));
  EXPECT_EQ(written.journal.damage, JournalDamage::kOrder);
  // The time has its 16 digits.
  Parsed cut(header + Raw("N bulk\\f1.txt\t01D5CB2F"));
  EXPECT_EQ(cut.journal.damage, JournalDamage::kSyntax);
}

TEST(JournalFormat, NamesOutsideTheAsciiRangeAndAtTheLengthLimitRoundTrip) {
  const std::wstring names[] = {L"docs\\\u00DCbersicht \u2013 \u65E5\u672C.txt",
                                L"a\\" + std::wstring(kJournalPathCapacity - 3, L'\u4E00'),
                                L"music\\\U0001F3B5.txt"};
  for (const std::wstring& name : names) {
    SCOPED_TRACE(name.size());
    JournalLine written = Make(JournalLineKind::kFileWritten, name.c_str(), L"", 123456789012345ull);
    std::string bytes = Format(written);
    size_t offset = 0;
    JournalLine read;
    bool atEnd = false;
    ASSERT_EQ(ReadJournalLine(bytes.data(), bytes.size(), &offset, &read, &atEnd), JournalDamage::kNone);
    EXPECT_EQ(offset, bytes.size());
    EXPECT_EQ(std::wstring(read.path), name);
    EXPECT_EQ(read.size, 123456789012345ull);
    EXPECT_EQ(read.writeTime, kStoredTime);
  }
}

TEST(JournalFormat, TheWriterRefusesWhatTheReaderWouldRefuse) {
  const wchar_t* paths[] = {L"..\\evil.txt", L"docs\\..\\..\\evil.txt", L"C:\\Windows\\win.ini", L"\\\\server\\x",
                            L"\\root.txt", L"docs\\\\twice.txt", L"docs\\", L"docs/slash.txt", L"NUL.txt",
                            L"a\\COM1", L"README.txt:stream", L"wild*.txt", L"tab\there.txt", L"\xD800lone.txt", L""};
  char buffer[kJournalLineBytes];
  for (const wchar_t* path : paths) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(path)));
    EXPECT_EQ(FormatJournalLine(Make(JournalLineKind::kFileCreated, path), buffer), 0u);
  }
  const std::wstring tooLong(kJournalPathCapacity, L'a');
  EXPECT_EQ(FormatJournalLine(Make(JournalLineKind::kFileCreated, tooLong.c_str()), buffer), 0u);
  for (const wchar_t* aside : {L"notes.txt", L"~kx0001.tmp", L"~kx0000010000G.tmp", L"~kx00000100001.tmp.x"}) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(aside)));
    EXPECT_EQ(FormatJournalLine(Make(JournalLineKind::kKeptAside, L"README.txt", aside), buffer), 0u);
  }

  wchar_t name[kAsideNameCapacity];
  FormatAsideName(0xF123456789ABCull, name);  // the 44 bits below the top
  EXPECT_STREQ(name, L"~kx23456789ABC.tmp") << "only the low 44 bits are named";
  EXPECT_TRUE(IsAsideFileName(name));
}

// One way of damaging the good journal, and how much of it is still followed.
struct Damage {
  const char* name;
  std::function<std::string(std::vector<std::string>)> apply;
  JournalDamage expected;
  size_t damagedLine;  // the first line not followed; its start is the damage offset
};

std::string Replace(std::vector<std::string> lines, size_t index, const std::string& line) {
  lines[index] = line;
  return Join(lines);
}

std::string Insert(std::vector<std::string> lines, size_t index, const std::string& line) {
  lines.insert(lines.begin() + static_cast<ptrdiff_t>(index), line);
  return Join(lines);
}

std::string Flip(std::vector<std::string> lines, size_t index, size_t at) {
  lines[index][at] ^= 0x04;
  return Join(lines);
}

// Another hexadecimal digit in the checksum, so that it still reads as one.
std::string OtherDigit(std::vector<std::string> lines, size_t index, size_t at) {
  lines[index][at] = lines[index][at] == '0' ? '1' : '0';
  return Join(lines);
}

std::vector<Damage> Damages() {
  const std::string w = "\t5\t01D5CB2F12345678";
  // The lines' indexes, for reading the table: 0 H, 1 D bin, 2 C bin\tool.exe,
  // 3 W, 4 A README.txt, 5 X, 6 A README.txt, 7 W, 8 A docs\CHANGES.txt,
  // 9 C docs\new.txt; 10 is the end.
  return {
      {"cut inside the last line", [](auto l) { return Join(l).substr(0, LineStart(l, 9) + 14); },
       JournalDamage::kCut, 9},
      {"cut before the last line feed", [](auto l) { std::string j = Join(l); return j.substr(0, j.size() - 1); },
       JournalDamage::kCut, 9},
      {"cut inside the header", [](auto l) { return Join(l).substr(0, 5); }, JournalDamage::kCut, 0},
      {"empty", [](auto) { return std::string(); }, JournalDamage::kHeader, 0},
      {"zeros after the last line, as a power cut leaves",
       [](auto l) { return Join(l) + std::string(600, '\0'); }, JournalDamage::kCut, 10},
      {"a line longer than any journal writes", [](auto l) { return Join(l) + std::string(kJournalLineBytes + 1, 'a'); },
       JournalDamage::kTooLong, 10},
      {"a flipped byte in a path", [](auto l) { return Flip(l, 6, 12); }, JournalDamage::kChecksum, 6},
      {"a changed checksum digit", [](auto l) { return OtherDigit(l, 2, 3); }, JournalDamage::kChecksum, 2},
      {"a flipped kind letter", [](auto l) { return Flip(l, 4, 9); }, JournalDamage::kChecksum, 4},
      {"a line feed without carriage return",
       [](auto l) { l[3].erase(l[3].size() - 2, 1); return Join(l); }, JournalDamage::kSyntax, 3},
      {"no header", [](auto l) { l.erase(l.begin()); return Join(l); }, JournalDamage::kHeader, 0},
      {"a header of another format", [](auto l) { return Replace(l, 0, Raw("H kxjournal\t2\texisting")); },
       JournalDamage::kHeader, 0},
      {"a second header", [](auto l) { return Insert(l, 4, l[0]); }, JournalDamage::kOrder, 4},
      {"an unknown kind", [](auto l) { return Replace(l, 9, Raw("Z docs\\new.txt")); }, JournalDamage::kSyntax, 9},
      {"a field missing", [](auto l) { return Replace(l, 8, Raw("A docs\\CHANGES.txt")); },
       JournalDamage::kSyntax, 8},
      {"a field too many", [](auto l) { return Replace(l, 9, Raw("C docs\\new.txt\textra")); },
       JournalDamage::kSyntax, 9},
      {"bad UTF-8", [](auto l) { return Replace(l, 9, Raw("C docs\\\xC3(.txt")); }, JournalDamage::kSyntax, 9},
      {"a size that is no number", [](auto l) { return Replace(l, 7, Raw("W README.txt\t1O\t01D5CB2F12345678")); },
       JournalDamage::kSyntax, 7},
      {"a path climbing out", [](auto l) { return Replace(l, 9, Raw("C docs\\..\\..\\evil.txt")); },
       JournalDamage::kPath, 9},
      {"an absolute path", [](auto l) { return Replace(l, 9, Raw("C C:\\Windows\\win.ini")); },
       JournalDamage::kPath, 9},
      {"a UNC path", [](auto l) { return Replace(l, 2, Raw("C \\\\server\\share\\x.exe")); }, JournalDamage::kPath, 2},
      {"a rooted path", [](auto l) { return Replace(l, 1, Raw("D \\Windows")); }, JournalDamage::kPath, 1},
      {"a device name", [](auto l) { return Replace(l, 9, Raw("C docs\\CON.txt")); }, JournalDamage::kPath, 9},
      {"a stream", [](auto l) { return Replace(l, 9, Raw("C README.txt:hidden")); }, JournalDamage::kPath, 9},
      {"a slash", [](auto l) { return Replace(l, 9, Raw("C docs/new.txt")); }, JournalDamage::kPath, 9},
      {"an aside name that is a path", [](auto l) { return Replace(l, 8, Raw("A docs\\CHANGES.txt\t..\\..\\x.tmp")); },
       JournalDamage::kPath, 8},
      {"an aside name of another file", [](auto l) { return Replace(l, 8, Raw("A docs\\CHANGES.txt\tnotes.txt")); },
       JournalDamage::kPath, 8},
      {"a written line after a folder", [w](auto l) { return Insert(l, 2, Raw("W bin" + w)); },
       JournalDamage::kOrder, 2},
      {"a written line for another file", [w](auto l) { return Replace(l, 7, Raw("W docs\\other.txt" + w)); },
       JournalDamage::kOrder, 7},
      {"a second written line", [](auto l) { return Insert(l, 4, l[3]); }, JournalDamage::kOrder, 4},
      {"a void line for another name",
       [](auto l) { return Replace(l, 5, Raw("X README.txt\t~kx00000100009.tmp")); }, JournalDamage::kOrder, 5},
      {"a void line after a created file", [](auto l) { return Insert(l, 3, Raw("X bin\\tool.exe\t~kx00000100009.tmp")); },
       JournalDamage::kOrder, 3},
  };
}

TEST(JournalFormat, ADamagedJournalIsFollowedUpToItsFirstDamagedLineOnly) {
  const std::vector<std::string> lines = GoodLines();
  for (const Damage& damage : Damages()) {
    SCOPED_TRACE(damage.name);
    const std::string bytes = damage.apply(lines);
    Parsed parsed(bytes);
    const ParsedJournal& journal = parsed.journal;
    EXPECT_EQ(journal.damage, damage.expected) << testing::PrintToString(JournalDamageText(journal.damage));
    // Every damage leaves the lines before it as they were.
    EXPECT_EQ(journal.count, ChangesBefore(damage.damagedLine));
    EXPECT_EQ(journal.damageOffset, LineStart(lines, damage.damagedLine));
    EXPECT_FALSE(journal.committed);
    // What is followed is exactly what the intact lines before the damage
    // say, a kept-aside line whose void line is lost included.
    Parsed intact(Join(lines).substr(0, LineStart(lines, damage.damagedLine)));
    ASSERT_EQ(journal.count, intact.journal.count);
    for (size_t i = 0; i < journal.count; ++i) {
      EXPECT_EQ(journal.changes[i].kind, intact.journal.changes[i].kind) << i;
      EXPECT_EQ(journal.changes[i].offset, intact.journal.changes[i].offset) << i;
      EXPECT_EQ(journal.changes[i].written, intact.journal.changes[i].written) << i;
    }
  }
}

struct SeenChange {
  JournalChange change;
  std::wstring path;
};

struct ChangeList : JournalChangeSink {
  std::vector<SeenChange> seen;
  void Change(const JournalChange& change, const JournalLine& line) override { seen.push_back({change, line.path}); }
};

// The journal of a run of 12,000 files killed at its end (about 2 MB, some
// lines of 60 KB across the reader's window edges): read a window at a
// time, its changes come out in order and last first alike, a kept-aside
// line voided only at the far end of the journal included, and damage deep
// inside stops both walks there.
TEST(JournalFormat, AJournalFarLargerThanTheReadersWindowReadsTheSameEitherWay) {
  using K = JournalLineKind;
  std::vector<std::string> lines = {Format(Make(K::kHeader))};
  std::vector<SeenChange> expected;  // offsets filled in below: line indexes first
  auto add = [&](const JournalLine& line, bool change) {
    lines.push_back(Format(line));
    if (change) expected.push_back({{line.kind, lines.size() - 1, false, false, 0, 0}, line.path});
  };
  add(Make(K::kKeptAside, L"early.txt", L"~kx00000100001.tmp"), false);  // voided by the journal's next-to-last line
  add(Make(K::kKeptAside, L"early.txt", L"~kx00000100002.tmp"), true);
  for (int i = 0; i < 12000; ++i) {
    const std::wstring folder = L"bulk " + std::to_wstring(i / 100);
    if (i % 100 == 0) add(Make(K::kFolderCreated, folder.c_str()), true);
    const std::wstring file = i % 1000 == 500 ? folder + L"\\" + std::wstring(20000, L'\u4E00')
                                              : folder + L"\\file " + std::to_wstring(i) + L".txt";
    add(Make(K::kAboutToCreate, file.c_str()), false);
    add(Make(K::kFileCreated, file.c_str()), true);
    if (i % 7 != 0) {
      add(Make(K::kFileWritten, file.c_str(), L"", static_cast<uint64_t>(i)), false);
      expected.back().change.written = true;
      expected.back().change.size = static_cast<uint64_t>(i);
      expected.back().change.writeTime = kStoredTime;
    }
  }
  add(Make(K::kAsideVoid, L"early.txt", L"~KX00000100001.TMP"), false);
  add(Make(K::kAboutToCreate, L"last.txt"), true);  // the run was killed making it
  std::vector<size_t> starts = {0};
  for (const std::string& line : lines) starts.push_back(starts.back() + line.size());
  for (SeenChange& change : expected) change.change.offset = starts[change.change.offset];

  // Read where the reader asks, a window at a time, as recovery's file is.
  std::string bytes = Join(lines);
  JournalBytes journal(bytes.data(), bytes.size(), false);
  ASSERT_GT(bytes.size(), 4 * kJournalWindowBytes);
  JournalSurvey survey;
  ASSERT_TRUE(SurveyJournal(&journal, &survey));
  EXPECT_EQ(survey.damage, JournalDamage::kNone);
  EXPECT_EQ(survey.end, bytes.size());
  EXPECT_EQ(survey.count, expected.size());
  EXPECT_TRUE(survey.intentLast);
  EXPECT_EQ(survey.voidCount, 1u);
  auto same = [](const SeenChange& a, const SeenChange& b) {
    return a.change.kind == b.change.kind && a.change.offset == b.change.offset &&
           a.change.written == b.change.written && a.change.size == b.change.size &&
           a.change.writeTime == b.change.writeTime && a.path == b.path;
  };
  ChangeList inOrder, lastFirst;
  ASSERT_TRUE(WalkJournalChanges(&journal, survey, false, &inOrder));
  ASSERT_TRUE(WalkJournalChanges(&journal, survey, true, &lastFirst));
  FreeJournalSurvey(&survey);
  ASSERT_EQ(inOrder.seen.size(), expected.size());
  ASSERT_EQ(lastFirst.seen.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_TRUE(same(inOrder.seen[i], expected[i])) << "in order, change " << i;
    EXPECT_TRUE(same(lastFirst.seen[expected.size() - 1 - i], expected[i])) << "last first, change " << i;
  }
  Parsed parsed(bytes);
  EXPECT_EQ(parsed.journal.count, expected.size());

  // A flipped byte three quarters in: the void line and the last N are not
  // reached, so the early kept-aside file counts and nothing after the
  // damage does.
  size_t damagedLine = lines.size() * 3 / 4;
  while (lines[damagedLine][9] == 'W') ++damagedLine;  // a lost W line would change its file's change
  bytes[starts[damagedLine] + 12] ^= 0x04;
  ASSERT_TRUE(SurveyJournal(&journal, &survey));
  EXPECT_EQ(survey.damage, JournalDamage::kChecksum);
  EXPECT_EQ(survey.end, starts[damagedLine]);
  EXPECT_FALSE(survey.intentLast);
  std::vector<SeenChange> before = {{{K::kKeptAside, starts[1], false, false, 0, 0}, L"early.txt"}};
  for (const SeenChange& change : expected)
    if (change.change.offset < starts[damagedLine]) before.push_back(change);
  EXPECT_EQ(survey.count, before.size());
  ChangeList damagedLastFirst;
  ASSERT_TRUE(WalkJournalChanges(&journal, survey, true, &damagedLastFirst));
  FreeJournalSurvey(&survey);
  ASSERT_EQ(damagedLastFirst.seen.size(), before.size());
  for (size_t i = 0; i < before.size(); ++i)
    EXPECT_TRUE(same(damagedLastFirst.seen[before.size() - 1 - i], before[i])) << "change " << i;
}

}  // namespace
