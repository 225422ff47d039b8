#include "sevenzip_tool.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

extern char** environ;

namespace {

const char* SevenZipProgram() {
  const char* configured = getenv("KX_7ZZ");
  return configured && *configured ? configured : "7zz";
}

}  // namespace

int RunProgram(const std::vector<std::string>& arguments, const std::string& workingFolder,
               const std::string& outputPath) {
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const std::string output = outputPath.empty() ? "/dev/null" : outputPath;
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  if (!workingFolder.empty()) posix_spawn_file_actions_addchdir_np(&actions, workingFolder.c_str());

  pid_t child = 0;
  int spawned = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool CreateArchive(ArchiveKind kind, const std::string& folder, const std::string& archivePath,
                   uint64_t solidBlockBytes, std::string* error) {
  std::vector<std::string> arguments = {SevenZipProgram(), "a", "-t7z", "-bd", "-y", "-sse", "-ssp"};
  if (kind == ArchiveKind::Payload) {
    arguments.insert(arguments.end(), {"-mf=BCJ", "-m0=LZMA2", "-mmt1"});
    arguments.push_back("-ms=" + std::to_string(solidBlockBytes) + "b");
  } else {
    arguments.insert(arguments.end(), {"-mf=BCJ2", "-m0=LZMA", "-ms=on"});
  }
  // 7-Zip expands the quoted wildcard itself, hidden files included, and
  // stores names relative to the folder.
  arguments.insert(arguments.end(), {"--", archivePath, "*"});
  std::string log = archivePath + ".log";
  int status = RunProgram(arguments, folder, log);
  std::ifstream logFile(log);
  std::stringstream text;
  text << logFile.rdbuf();
  std::remove(log.c_str());
  if (status != 0) {
    *error = status < 0 ? std::string("cannot run ") + SevenZipProgram()
                        : std::string(SevenZipProgram()) + " failed (status " + std::to_string(status) +
                              ") archiving " + folder + ":\n" + text.str();
    return false;
  }
  return true;
}

bool ListArchive(const std::string& archivePath, std::vector<ArchiveEntry>* entries, std::string* error) {
  std::string listing = archivePath + ".list";
  int status = RunProgram({SevenZipProgram(), "l", "-slt", "-ba", "--", archivePath}, "", listing);
  std::ifstream in(listing);
  std::string line;
  ArchiveEntry entry;
  bool inEntry = false;
  entries->clear();
  auto flush = [&]() {
    if (inEntry) entries->push_back(entry);
    entry = ArchiveEntry();
    inEntry = false;
  };
  while (std::getline(in, line)) {
    if (line.rfind("Path = ", 0) == 0) {
      flush();
      entry.path = line.substr(7);
      inEntry = true;
    } else if (line.rfind("Size = ", 0) == 0) {
      entry.size = std::stoull("0" + line.substr(7));
    } else if (line.rfind("Folder = ", 0) == 0) {
      entry.folder = line.substr(9) == "+";
    } else if (line.rfind("Attributes = ", 0) == 0) {
      entry.attributes = line.substr(13);
      if (entry.attributes.rfind("D", 0) == 0) entry.folder = true;
    }
  }
  flush();
  in.close();
  std::remove(listing.c_str());
  if (status != 0) {
    *error = "7-Zip cannot open " + archivePath;
    return false;
  }
  return true;
}
