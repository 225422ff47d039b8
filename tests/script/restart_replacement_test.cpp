// Files held open by a running program during an installation: the new
// content written beside them, undone by a rollback like any created file,
// scheduled for the restart only on request; and the note setup adds to a
// page of the package.
#include "extract/restart_replacements.h"

#include <gtest/gtest.h>

#include <string>

#include "extract/install_journal.h"
#include "script/install_rollback.h"
#include "script/page_notes.h"
#include "tests/support/fake_core.h"
#include "tests/support/pending_renames.h"
#include "tests/support/test_files.h"

namespace {

using namespace kxtest;

class RestartReplacementTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetFake();
    held_ = folder_ / L"ledger.dat";
    ASSERT_TRUE(WriteBytes(held_, "old"));
    holder_ = CreateFileW(held_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder_, INVALID_HANDLE_VALUE);
    StartInstallJournal();
    EnableRestartReplacements(true);
  }
  void TearDown() override {
    EnableRestartReplacements(false);
    ClearInstallJournal();
    if (holder_ != INVALID_HANDLE_VALUE) CloseHandle(holder_);
  }

  // Writes the new content as the extraction would; returns where it went.
  std::wstring WriteBeside(const std::string& bytes) {
    EXPECT_EQ(KeepFileAside(held_.c_str()), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_TRUE(IsFileInUseError(ERROR_SHARING_VIOLATION) && IsFileInUseError(ERROR_LOCK_VIOLATION));
    EXPECT_FALSE(IsFileInUseError(ERROR_ACCESS_DENIED));
    HANDLE file = OpenRestartReplacement(held_.c_str());
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    const wchar_t* path = nullptr;
    const wchar_t* beside = nullptr;
    EXPECT_TRUE(RestartReplacementAt(RestartReplacementCount() - 1, &path, &beside));
    EXPECT_EQ(std::wstring(path), held_);
    return beside ? beside : L"";
  }

  ScratchFolder folder_;
  std::wstring held_;
  HANDLE holder_ = INVALID_HANDLE_VALUE;
};

TEST_F(RestartReplacementTest, TheNewContentWaitsBesideAndARollbackRemovesItWithNothingScheduled) {
  PendingRenamesGuard guard;
  std::wstring before;
  const bool hadPending = PendingRenamesGuard::Read(&before);
  const std::wstring beside = WriteBeside("new");
  EXPECT_EQ(beside.rfind(folder_ / L"~kxr", 0), 0u) << Narrow(beside);
  EXPECT_EQ(beside.substr(beside.size() - 4), L".new");
  EXPECT_EQ(ReadBytes(beside), "new");
  EXPECT_EQ(RestartReplacementCount(), 1u);

  EXPECT_EQ(RollBackInstallation(), 0);
  EXPECT_FALSE(FileExists(beside));
  std::wstring after;
  EXPECT_EQ(PendingRenamesGuard::Read(&after), hadPending);
  EXPECT_EQ(after, before);
  CloseHandle(holder_);
  holder_ = INVALID_HANDLE_VALUE;
  EXPECT_EQ(ReadBytes(held_), "old");
}

TEST_F(RestartReplacementTest, SchedulingPutsEachMoveIntoThePendingOperations) {
  PendingRenamesGuard guard;
  const std::wstring first = WriteBeside("new");
  // A second held file gets a name of its own.
  const std::wstring other = folder_ / L"other.dat";
  ASSERT_TRUE(WriteBytes(other, "old"));
  HANDLE otherHolder = CreateFileW(other.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  HANDLE file = OpenRestartReplacement(other.c_str());
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  CloseHandle(otherHolder);
  ASSERT_EQ(RestartReplacementCount(), 2u);
  const wchar_t* path = nullptr;
  const wchar_t* second = nullptr;
  ASSERT_TRUE(RestartReplacementAt(1, &path, &second));
  EXPECT_NE(first, second);

  const wchar_t* failed = nullptr;
  EXPECT_EQ(ScheduleRestartReplacements((folder_ / L"wininit.ini").c_str(), &failed), 0u);
  std::wstring pending;
  ASSERT_TRUE(PendingRenamesGuard::Read(&pending));
  // Pairs of "\??\source" and "!\??\target" (the ! of a replacing move).
  EXPECT_NE(pending.find(first), std::wstring::npos);
  EXPECT_NE(pending.find(held_), std::wstring::npos);
  EXPECT_NE(pending.find(second), std::wstring::npos);

  // Turned off, nothing is written beside: the caller's own box decides.
  EnableRestartReplacements(false);
  EXPECT_EQ(OpenRestartReplacement(held_.c_str()), INVALID_HANDLE_VALUE);
  EXPECT_EQ(RestartReplacementCount(), 0u);
}

TEST(PageNotes, TheNoteIsABoldParagraphBeforeTheLastBraceInAnyLanguage) {
  char paragraph[256];
  ASSERT_GT(RtfNoteParagraph(L"Done {1}|\u00FC\u65E5 \\ ok", paragraph, sizeof paragraph), 0u);
  EXPECT_STREQ(paragraph, "\\par\\b Done \\u123?1\\u125?\\line \\u252?\\u26085? \\u92? ok\\b0\\par\r\n");
  // A character beyond 32767 is written as RTF's negative number.
  ASSERT_GT(RtfNoteParagraph(L"\uFF01", paragraph, sizeof paragraph), 0u);
  EXPECT_STREQ(paragraph, "\\par\\b \\u-255?\\b0\\par\r\n");
  // Too little room is no note at all, never a cut one.
  EXPECT_EQ(RtfNoteParagraph(L"a long note", paragraph, 12), 0u);

  ScratchFolder folder;
  const std::wstring page = folder / L"kxfinEnglish.rtf";
  ASSERT_TRUE(WriteBytes(page, "{\\rtf1 Finished.\\par }\r\n"));
  ASSERT_TRUE(WriteRtfWithNote(page.c_str(), page.c_str(), L"Restart"));
  EXPECT_EQ(ReadBytes(page), "{\\rtf1 Finished.\\par \\par\\b Restart\\b0\\par\r\n}\r\n");
  const std::wstring broken = folder / L"broken.rtf";
  ASSERT_TRUE(WriteBytes(broken, "no brace"));
  EXPECT_FALSE(WriteRtfWithNote(broken.c_str(), (folder / L"out.rtf").c_str(), L"x"));
  EXPECT_FALSE(FileExists(folder / L"out.rtf"));
}

}  // namespace
