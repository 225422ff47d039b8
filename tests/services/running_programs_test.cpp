// Finding and closing the programs that hold files of a folder, with real
// processes: the holder program copied into a folder of the test's own, a
// folder beside it that only shares its name's beginning, and programs
// that close when asked, refuse, or have no window at all.
#include "services/running_programs.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/process_runner.h"
#include "tests/support/test_files.h"

namespace {

using kxtest::ChildProcess;
using kxtest::FileExists;
using kxtest::LaunchOptions;

class RunningProgramsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = work_ / L"Product";
    ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((folder_ + L"\\bin").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((work_ / L"Product Tools").c_str(), nullptr));
  }

  // Copies the holder to path and starts it; waits until it holds its file.
  void Start(ChildProcess* child, const std::wstring& path, const std::wstring& mode) {
    ASSERT_TRUE(CopyFileW(kxtest::TestDataPath("KX_TEST_HOLDER_EXE").c_str(), path.c_str(), FALSE));
    LaunchOptions options;
    options.arguments = mode;
    ASSERT_TRUE(child->Start(path, options));
    const DWORD start = GetTickCount();
    while (!FileExists(path + L".ready")) {
      ASSERT_EQ(child->Wait(0), static_cast<DWORD>(STILL_ACTIVE)) << "the holder ended";
      ASSERT_LT(GetTickCount() - start, 30000u) << "the holder did not get ready";
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
  }

  const RunningProgram* Listed(const RunningPrograms& found, const ChildProcess& child) {
    for (size_t i = 0; i < found.count; ++i)
      if (found.programs[i].processId == child.id()) return &found.programs[i];
    return nullptr;
  }

  kxtest::ScratchFolder work_;
  std::wstring folder_;
};

TEST(ImageLiesInFolder, ComparesWholeNamesWithoutRegardToCase) {
  const struct {
    const wchar_t* image;
    const wchar_t* folder;
    bool inside;
  } cases[] = {
      {L"C:\\Program Files\\Ledger\\a.exe", L"C:\\Program Files\\Ledger", true},
      {L"C:\\Program Files\\Ledger\\bin\\a.exe", L"c:\\program files\\LEDGER\\", true},
      {L"C:\\Program Files\\Ledger Tools\\a.exe", L"C:\\Program Files\\Ledger", false},
      {L"C:\\Program Files\\Ledger", L"C:\\Program Files\\Ledger", false},
      {L"C:\\Program Files\\Ledge\\a.exe", L"C:\\Program Files\\Ledger", false},
      {L"C:\\a.exe", L"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(ImageLiesInFolder(c.image, c.folder), c.inside) << kxtest::Narrow(c.image);
}

TEST_F(RunningProgramsTest, FindsTheProgramsRunFromTheFolderAndNoOther) {
  ChildProcess inside, deeper, beside;
  Start(&inside, folder_ + L"\\holder.exe", L"window");
  Start(&deeper, folder_ + L"\\bin\\helper.exe", L"hidden");
  Start(&beside, work_ / L"Product Tools\\tool.exe", L"window");
  RunningPrograms found;
  FindProgramsInFolder((folder_ + L"\\").c_str(), &found);
  const RunningProgram* first = Listed(found, inside);
  const RunningProgram* second = Listed(found, deeper);
  ASSERT_TRUE(first && second) << found.count;
  EXPECT_EQ(Listed(found, beside), nullptr);
  EXPECT_EQ(found.count, 2u);
  EXPECT_STREQ(first->name, L"holder.exe");
  EXPECT_EQ(CompareStringOrdinal(first->image, -1, (folder_ + L"\\holder.exe").c_str(), -1, TRUE), CSTR_EQUAL);
  // The process that asks is never among them, even inside the folder.
  for (size_t i = 0; i < found.count; ++i) EXPECT_NE(found.programs[i].processId, GetCurrentProcessId());
  inside.Kill();
  deeper.Kill();
  beside.Kill();
}

TEST_F(RunningProgramsTest, ClosesPolitelyForcesOnlyAfterTheWaitAndStartsAgain) {
  ChildProcess polite, stubborn, hidden;
  Start(&polite, folder_ + L"\\polite.exe", L"window");
  Start(&stubborn, folder_ + L"\\stubborn.exe", L"stubborn");
  Start(&hidden, folder_ + L"\\hidden.exe", L"hidden");
  RunningPrograms found;
  FindProgramsInFolder(folder_.c_str(), &found);
  ASSERT_EQ(found.count, 3u);
  const DWORD begun = GetTickCount();
  ClosePrograms(&found);
  const DWORD spent = GetTickCount() - begun;
  EXPECT_EQ(Listed(found, polite)->state, ProgramState::kClosed);
  EXPECT_EQ(Listed(found, stubborn)->state, ProgramState::kEnded);
  EXPECT_EQ(Listed(found, hidden)->state, ProgramState::kEnded);
  // The polite one ended by itself, the others by force (exit code 1),
  // which came no sooner than the documented wait.
  EXPECT_EQ(polite.Wait(5000), 0u);
  EXPECT_EQ(stubborn.Wait(5000), 1u);
  EXPECT_EQ(hidden.Wait(5000), 1u);
  EXPECT_GE(spent + 50, kPoliteCloseWaitMs);
  // Their files are free again.
  HANDLE file = CreateFileW((folder_ + L"\\polite.exe.dat").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                            nullptr);
  EXPECT_NE(file, INVALID_HANDLE_VALUE);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);

  // Started again: each closed program runs once more from its file.
  DeleteFileW((folder_ + L"\\polite.exe.ready").c_str());
  RunningPrograms closedOne = found;
  closedOne.count = 1;
  closedOne.programs[0] = *Listed(found, polite);
  EXPECT_EQ(RestartPrograms(closedOne), 1u);
  const DWORD start = GetTickCount();
  while (!FileExists(folder_ + L"\\polite.exe.ready") && GetTickCount() - start < 30000)
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
  EXPECT_TRUE(FileExists(folder_ + L"\\polite.exe.ready"));
  RunningPrograms again;
  FindProgramsInFolder(folder_.c_str(), &again);
  ASSERT_EQ(again.count, 1u);
  ClosePrograms(&again);
  EXPECT_EQ(again.programs[0].state, ProgramState::kClosed);
}

TEST_F(RunningProgramsTest, AnotherProcessUnderTheSameIdIsNeverTouched) {
  RunningPrograms none;
  FindProgramsInFolder(folder_.c_str(), &none);
  EXPECT_EQ(none.count, 0u);
  ChildProcess other;
  Start(&other, folder_ + L"\\other.exe", L"window");
  RunningPrograms found;
  FindProgramsInFolder(folder_.c_str(), &found);
  ASSERT_EQ(found.count, 1u);
  // As if the listed program had ended and its id served a new process,
  // which started at another time: that one is left alone.
  found.programs[0].started.dwLowDateTime ^= 1;
  ClosePrograms(&found);
  EXPECT_EQ(found.programs[0].state, ProgramState::kClosed);
  EXPECT_EQ(other.Wait(0), static_cast<DWORD>(STILL_ACTIVE));
  other.Kill();
}

}  // namespace
