// What kxpack takes as input and where it writes: only regular files of a
// sane size are read, temporary files are never written through a planted
// name, and a payload's loops, special files and names are judged before
// 7-Zip sees them (tests/kxpack_cli/kxpack_inputs_test.sh tries the rest
// on the command).
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>

#include "tools/kxpack/file_io.h"
#include "tools/kxpack/folder_tree.h"

namespace fs = std::filesystem;

namespace {

void Write(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

std::string Contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class InputFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kxpack-inputs.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    work_ = pattern;
  }
  void TearDown() override { fs::remove_all(work_); }

  // The problems of a scan of work_/payload, and the entries as
  // path -> "folder" or the file's size.
  std::vector<std::string> Scan(std::map<std::string, std::string>* entries = nullptr) {
    std::vector<TreeEntry> tree;
    std::vector<std::string> problems;
    const bool scanned = ScanFolderTree((work_ / "payload").string(), &tree, &problems);
    EXPECT_EQ(scanned, problems.empty());
    for (const TreeEntry& entry : tree)
      if (entries) (*entries)[entry.path] = entry.folder ? "folder" : std::to_string(entry.size);
    return problems;
  }

  // How many of the problems name path, quoted.
  static size_t Naming(const std::vector<std::string>& problems, const std::string& path) {
    return std::count_if(problems.begin(), problems.end(),
                         [&](const std::string& problem) { return problem.find("'" + path + "'") != std::string::npos; });
  }

  fs::path work_;
};

TEST_F(InputFiles, OnlyRegularFilesOfASaneSizeAreRead) {
  ASSERT_EQ(mkfifo((work_ / "fifo").c_str(), 0600), 0);
  Write(work_ / "hundred", std::string(100, 'x'));
  const std::pair<std::string, std::string> refused[] = {
      // A FIFO with no writer would block the open, /dev/zero never ends.
      {(work_ / "fifo").string(), "is a FIFO, not a regular file"},
      {"/dev/zero", "is a character device, not a regular file"},
      {"/dev/urandom", "is a character device, not a regular file"},
      {work_.string(), "is a folder, not a file"},
      {(work_ / "missing").string(), "cannot read"},
  };
  std::vector<unsigned char> bytes;
  std::string error;
  for (const auto& [path, message] : refused) {
    EXPECT_FALSE(ReadRegularFile(path, kMaxPageBytes, &bytes, &error)) << path;
    EXPECT_NE(error.find(message), std::string::npos) << error;
    EXPECT_TRUE(bytes.empty());
  }
  EXPECT_FALSE(ReadRegularFile((work_ / "hundred").string(), 99, &bytes, &error));
  EXPECT_NE(error.find("is larger than"), std::string::npos) << error;
  EXPECT_TRUE(ReadRegularFile((work_ / "hundred").string(), 100, &bytes, &error)) << error;
  EXPECT_EQ(bytes.size(), 100u);
}

TEST_F(InputFiles, WritesNeverGoThroughAPlantedNameAndClearWhatAKilledRunLeft) {
  Write(work_ / "victim", "keep");
  fs::create_symlink(work_ / "victim", work_ / "setup.exe.kxpack-tmp");
  fs::create_symlink(work_ / "victim", work_ / "setup.exe.kxpack-tmp.planted");
  Write(work_ / "setup.exe.kxpack-tmp.killed", "left by a killed run");
  Write(work_ / "setup.exe.kxpack-tmp.running", "being written");
  Write(work_ / "other.exe.kxpack-tmp.killed", "another output's");
  // A running kxpack holds its temporary file locked.
  int running = open((work_ / "setup.exe.kxpack-tmp.running").c_str(), O_RDONLY);
  ASSERT_EQ(flock(running, LOCK_EX), 0);

  ASSERT_TRUE(WriteFileAtomically((work_ / "setup.exe").string(), {'n', 'e', 'w'}, 0640));
  close(running);
  EXPECT_EQ(Contents(work_ / "setup.exe"), "new");
  EXPECT_EQ(fs::status(work_ / "setup.exe").permissions(), static_cast<fs::perms>(0640));
  EXPECT_EQ(Contents(work_ / "victim"), "keep");
  EXPECT_FALSE(fs::exists(work_ / "setup.exe.kxpack-tmp.killed"));
  EXPECT_TRUE(fs::exists(work_ / "setup.exe.kxpack-tmp.running"));
  EXPECT_TRUE(fs::exists(work_ / "other.exe.kxpack-tmp.killed"));
  EXPECT_TRUE(fs::is_symlink(work_ / "setup.exe.kxpack-tmp.planted"));
}

TEST_F(InputFiles, AFolderOfFilesAppearsWholeOrNotAtAll) {
  const std::vector<std::pair<std::string, std::vector<unsigned char>>> files = {{"a.yaml", {'a'}}, {"b.yaml", {'b'}}};
  fs::create_directory(work_ / "m.kxpack-tmp.killed");
  Write(work_ / "m.kxpack-tmp.killed" / "a.yaml", "old");
  std::string error;
  ASSERT_TRUE(WriteFolderAtomically((work_ / "m").string(), files, &error)) << error;
  EXPECT_EQ(Contents(work_ / "m" / "a.yaml") + Contents(work_ / "m" / "b.yaml"), "ab");
  EXPECT_EQ(fs::status(work_ / "m").permissions() & fs::perms::others_read, fs::perms::others_read);
  EXPECT_FALSE(fs::exists(work_ / "m.kxpack-tmp.killed"));

  // An empty folder is taken up, with a trailing slash too; a full one is
  // left as it was, and no temporary folder stays behind.
  fs::create_directory(work_ / "empty");
  ASSERT_TRUE(WriteFolderAtomically((work_ / "empty").string() + "/", files, &error)) << error;
  EXPECT_EQ(Contents(work_ / "empty" / "b.yaml"), "b");
  Write(work_ / "full" / "mine.txt", "mine");
  EXPECT_FALSE(WriteFolderAtomically((work_ / "full").string(), files, &error));
  EXPECT_NE(error.find("cannot make"), std::string::npos) << error;
  EXPECT_EQ(Contents(work_ / "full" / "mine.txt"), "mine");
  EXPECT_FALSE(fs::exists(work_ / "full" / "a.yaml"));
  for (const fs::directory_entry& entry : fs::directory_iterator(work_))
    EXPECT_EQ(entry.path().filename().string().find("kxpack-tmp"), std::string::npos) << entry.path();
  EXPECT_FALSE(WriteFolderAtomically((work_ / "missing" / "m").string(), files, &error));
}

TEST_F(InputFiles, ALinkBackToAnyFolderAboveItIsALoop) {
  const fs::path payload = work_ / "payload";
  Write(payload / "good.txt", "good");
  fs::create_directories(payload / "sub" / "deeper");
  fs::create_directories(payload / "x");
  fs::create_directories(payload / "y");
  fs::create_directory_symlink("../..", payload / "sub" / "deeper" / "up");
  fs::create_directory_symlink("../y", payload / "x" / "to-y");
  fs::create_directory_symlink("../x", payload / "y" / "to-x");
  std::map<std::string, std::string> entries;
  const std::vector<std::string> problems = Scan(&entries);
  for (const char* path : {"sub/deeper/up", "x/to-y/to-x", "y/to-x/to-y"}) EXPECT_EQ(Naming(problems, path), 1u) << path;
  EXPECT_EQ(problems.size(), 3u);
  // Each side of the pair is packaged once through the other.
  EXPECT_EQ(entries.count("x/to-y"), 1u);
  EXPECT_EQ(entries.count("x/to-y/to-x"), 0u);
}

TEST_F(InputFiles, SpecialFilesAreRefused) {
  const fs::path payload = work_ / "payload";
  Write(payload / "good.txt", "good");
  ASSERT_EQ(mkfifo((payload / "fifo").c_str(), 0600), 0);
  int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", (payload / "socket").c_str());
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  fs::create_symlink("fifo", payload / "fifo-link");
  std::vector<std::string> expected = {"'fifo' is a FIFO", "'fifo-link' is a link to a FIFO", "'socket' is a socket"};
  if (geteuid() == 0) {
    ASSERT_EQ(mknod((payload / "null").c_str(), S_IFCHR | 0600, makedev(1, 3)), 0);
    expected.insert(expected.begin() + 2, "'null' is a character device");
  }
  const std::vector<std::string> problems = Scan();
  close(listener);
  ASSERT_EQ(problems.size(), expected.size());
  for (size_t i = 0; i < problems.size(); ++i) EXPECT_EQ(problems[i].rfind(expected[i], 0), 0u) << problems[i];
}

TEST_F(InputFiles, AFolderWithABadNameOrPathIsReportedOnceNotForEverythingInIt) {
  const fs::path payload = work_ / "payload";
  Write(payload / "con" / "inside.txt", "x");
  Write(payload / "tab\there" / "inside.txt", "x");
  Write(payload / "Readme.txt", "x");
  Write(payload / "README.TXT", "x");
  const std::string deep = std::string(100, 'd') + "/" + std::string(100, 'e') + "/" + std::string(60, 'f');
  Write(payload / deep / "a" / "b.txt", "x");
  const std::vector<std::string> problems = Scan();
  for (const std::string& path : {std::string("con"), std::string("tab\\x09here"), std::string("Readme.txt")})
    EXPECT_EQ(Naming(problems, path), 1u) << path;
  // Past MAX_PATH is no problem: setup installs up to Windows' own limit,
  // which no Linux folder reaches.
  EXPECT_EQ(Naming(problems, deep), 0u);
  EXPECT_EQ(problems.size(), 3u);
}

}  // namespace
