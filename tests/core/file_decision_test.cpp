// CheckFileProp's policy: install new files, replace silently in silent
// mode, otherwise ask, and let an "all" answer hold for the rest of the run.
#include <gtest/gtest.h>

#include <deque>

#include "core/file_decision.h"
#include "core/variables.h"
#include "tests/support/fake_core.h"
#include "tests/support/test_files.h"

using namespace kxcore;

namespace {

std::deque<ReplaceAnswer> g_answers;
int g_questions = 0;

ReplaceAnswer Scripted(const wchar_t*) {
  ++g_questions;
  ReplaceAnswer answer = g_answers.front();
  g_answers.pop_front();
  return answer;
}

class FileDecisionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kxtest::ResetFake();
    ResetFileDecisions();
    g_answers.clear();
    g_questions = 0;
    existing_ = folder_ / L"existing.txt";
    ASSERT_TRUE(kxtest::WriteBytes(existing_, "x"));
  }
  void TearDown() override { ResetFileDecisions(); }
  FileDecision Decide(const std::wstring& path) { return DecideFile(path.c_str(), Scripted); }

  kxtest::ScratchFolder folder_;
  std::wstring existing_;
};

TEST_F(FileDecisionTest, NewFilesAndFoldersAreInstalledWithoutAQuestion) {
  EXPECT_EQ(kFileInstall, Decide(folder_ / L"new.txt"));
  EXPECT_EQ(kFileInstall, Decide(folder_ / L"no\\such\\folder.txt"));
  EXPECT_EQ(kFileInstall, Decide(folder_.path()));
  EXPECT_EQ(0, g_questions);
}

TEST_F(FileDecisionTest, SilentModeReplacesWithoutAQuestion) {
  SetVariable(L"SILENT", L"1");
  EXPECT_EQ(kFileInstall, Decide(existing_));
  EXPECT_EQ(0, g_questions);
  // Only exactly "1" is silent.
  SetVariable(L"SILENT", L"1 ");
  g_answers = {ReplaceAnswer::Skip};
  EXPECT_EQ(kFileSkip, Decide(existing_));
  EXPECT_EQ(1, g_questions);
}

TEST_F(FileDecisionTest, SingleAnswersHoldForOneFile) {
  g_answers = {ReplaceAnswer::Replace, ReplaceAnswer::Skip, ReplaceAnswer::Replace};
  EXPECT_EQ(kFileInstall, Decide(existing_));
  EXPECT_EQ(kFileSkip, Decide(existing_));
  EXPECT_EQ(kFileInstall, Decide(existing_));
  EXPECT_EQ(3, g_questions);
}

TEST_F(FileDecisionTest, AllAnswersHoldForTheRestOfTheRun) {
  g_answers = {ReplaceAnswer::ReplaceAll};
  EXPECT_EQ(kFileInstall, Decide(existing_));
  EXPECT_EQ(kFileInstall, Decide(existing_));
  EXPECT_EQ(1, g_questions);

  ResetFileDecisions();
  g_questions = 0;
  g_answers = {ReplaceAnswer::SkipAll};
  EXPECT_EQ(kFileSkip, Decide(existing_));
  EXPECT_EQ(kFileSkip, Decide(existing_));
  // New files are still installed after "No to All".
  EXPECT_EQ(kFileInstall, Decide(folder_ / L"fresh.txt"));
  EXPECT_EQ(1, g_questions);
}

}  // namespace
