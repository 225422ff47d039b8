// The run's choice of tasks over a package's [[task]] lines, and the
// /TASKS= switch that names them: exactly the tasks a list names, in any
// letter case, the defaults otherwise, and an unknown name changing nothing.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "base/command_switches.h"
#include "launcher/declared_records.h"
#include "launcher/package_declarations.h"
#include "launcher/task_choice.h"

namespace {

void Store(const std::string& key, const std::string& value) {
  ASSERT_TRUE(StorePackageDeclarationValue(key.data(), key.size(), value.data(), value.size(), &g_declarations))
      << key;
}

class TaskChoiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearPackageDeclarations(&g_declarations);
    const char* tasks[][2] = {{"desktopicon", "1"}, {"Associate", "0"}, {"add_to_path", "1"}};
    for (int i = 0; i < 3; ++i) {
      const std::string entry = "task." + std::to_string(i + 1) + ".";
      Store(entry + "name", tasks[i][0]);
      Store(entry + "description", "Task " + std::to_string(i + 1));
      Store(entry + "default", tasks[i][1]);
    }
    ASSERT_TRUE(CompletePackageDeclarations(&g_declarations));
    ChooseDefaultTasks();
  }
  void TearDown() override { ClearPackageDeclarations(&g_declarations); }

  std::wstring Chosen() {
    wchar_t list[kTaskListCapacity];
    EXPECT_TRUE(ChosenTaskList(list, kTaskListCapacity));
    return list;
  }
  TaskListResult Choose(const std::wstring& list, std::wstring* unknown = nullptr) {
    wchar_t name[16] = L"";
    TaskListResult result = ChooseTaskList(list.data(), list.size(), name, 16);
    if (unknown) *unknown = name;
    return result;
  }
};

}  // namespace

TEST_F(TaskChoiceTest, TheDefaultsThenExactlyWhatAListNames) {
  EXPECT_EQ(TaskCount(), 3u);
  EXPECT_EQ(Chosen(), L"desktopicon,add_to_path");
  EXPECT_TRUE(TaskNameChosen(L"DesktopIcon"));
  EXPECT_FALSE(TaskNameChosen(L"associate"));
  EXPECT_TRUE(TaskNameChosen(L"")) << "a declaration without a task is always carried out";
  EXPECT_FALSE(TaskNameChosen(L"nosuch"));

  const struct {
    const wchar_t* list;
    const wchar_t* chosen;
  } lists[] = {{L"associate", L"Associate"},
               {L" ASSOCIATE , desktopicon ", L"desktopicon,Associate"},  // the package's order
               {L"add_to_path,,add_to_path,", L"add_to_path"},
               {L"", L""},
               {L" , ", L""}};
  for (const auto& c : lists) {
    ASSERT_EQ(Choose(c.list), TaskListResult::kChosen);
    EXPECT_EQ(Chosen(), c.chosen) << std::string(c.list, c.list + wcslen(c.list));
  }
}

TEST_F(TaskChoiceTest, AnUnknownNameIsNamedAndChangesNothing) {
  ASSERT_EQ(Choose(L"associate"), TaskListResult::kChosen);
  std::wstring unknown;
  for (const wchar_t* list : {L"associate,desktop", L"desktop", L"add-to-path", L"associate;desktopicon"}) {
    EXPECT_EQ(Choose(list, &unknown), TaskListResult::kUnknownName);
    EXPECT_EQ(Chosen(), L"Associate");
  }
  EXPECT_EQ(unknown, L"associate;deskt") << "cut to its buffer, terminated";
  EXPECT_EQ(Choose(L" nosuch ,desktopicon", &unknown), TaskListResult::kUnknownName);
  EXPECT_EQ(unknown, L"nosuch");
}

TEST_F(TaskChoiceTest, ADeclarationIsChosenByItsTask) {
  DeclEntry entry = {};
  wcscpy(entry.fields[kxformat::kShortcutTask], L"associate");
  EXPECT_FALSE(DeclarationChosen(entry, kxformat::kShortcutTask));
  SetTaskChosen(1, true);
  EXPECT_TRUE(DeclarationChosen(entry, kxformat::kShortcutTask));
  entry.fields[kxformat::kShortcutTask][0] = L'\0';
  ChooseDefaultTasks();
  EXPECT_TRUE(DeclarationChosen(entry, kxformat::kShortcutTask));
}

TEST(TasksSwitch, IsTakenWithItsListEvenEmptyAndNeverAsAnUnknownArgument) {
  const struct {
    const wchar_t* line;
    bool given;
    const wchar_t* list;
  } cases[] = {{L"setup.exe /S /TASKS=a,b /LOG", true, L"a,b"},
               {L"setup.exe /tasks=desktopicon", true, L"desktopicon"},
               {L"setup.exe /TASKS= /S", true, L""},
               {L"setup.exe /TASKS=\"a, b\" /S", true, L"a, b"},
               {L"setup.exe /TASKS=\"\"", true, L""},
               {L"setup.exe /S", false, L""}};
  for (const auto& c : cases) {
    CommandSwitches switches;
    ParseCommandSwitches(c.line, &switches);
    EXPECT_EQ(switches.tasksGiven, c.given) << std::string(c.line, c.line + wcslen(c.line));
    EXPECT_EQ(std::wstring(switches.tasks.text ? switches.tasks.text : L"", switches.tasks.length), c.list);
    EXPECT_FALSE(switches.usage);
  }
  // A switch without its '=' is not the list.
  CommandSwitches switches;
  ParseCommandSwitches(L"setup.exe /TASKS", &switches);
  EXPECT_FALSE(switches.tasksGiven);
  EXPECT_TRUE(switches.usage);
}

// The programs hold a package's shortcut lines to kxpack's rules: package
// data changed inside the package cannot name a shortcut outside its folder.
TEST(ShortcutPackageData, IsHeldToTheRulesKxpackJudgedItBy) {
  ClearPackageDeclarations(&g_declarations);
  auto store = [](const std::string& key, const std::string& value) {
    return StorePackageDeclarationValue(key.data(), key.size(), value.data(), value.size(), &g_declarations);
  };
  for (const char* name : {"..", "..\\Startup\\x", "a/b", "CON", "x.", "", "{install_folder}"})
    EXPECT_FALSE(store("shortcut.1.name", name)) << name;
  EXPECT_FALSE(store("shortcut.1.location", "startup"));
  EXPECT_FALSE(store("shortcut.1.target", "..\\x.exe"));
  EXPECT_FALSE(store("shortcut.17.name", "x")) << "16 shortcuts at most";
  EXPECT_FALSE(store("task.9.name", "x")) << "8 tasks at most";
  ASSERT_TRUE(store("shortcut.1.name", "Quill 50%"));
  ASSERT_TRUE(store("shortcut.1.location", "desktop"));
  EXPECT_FALSE(CompletePackageDeclarations(&g_declarations)) << "a shortcut without its target";
  ASSERT_TRUE(store("shortcut.1.target", "bin\\quill.exe"));
  EXPECT_TRUE(CompletePackageDeclarations(&g_declarations));
  EXPECT_FALSE(store("shortcut.1.target", "bin\\other.exe")) << "a field given twice";
  ClearPackageDeclarations(&g_declarations);
}
