#include "tools/kxpack/signing.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

namespace {

std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string Substituted(const std::string& commandTemplate, const std::string& in, const std::string& out) {
  std::string command;
  for (size_t at = 0; at < commandTemplate.size();) {
    if (commandTemplate.compare(at, 4, "{in}") == 0) {
      command += ShellQuoted(in);
      at += 4;
    } else if (commandTemplate.compare(at, 5, "{out}") == 0) {
      command += ShellQuoted(out);
      at += 5;
    } else {
      command += commandTemplate[at++];
    }
  }
  return command;
}

}  // namespace

bool CheckSigningCommand(const std::string& commandTemplate, std::string* error) {
  if (commandTemplate.find("{in}") == std::string::npos || commandTemplate.find("{out}") == std::string::npos) {
    *error = "the signing command must name {in} and {out}: " + commandTemplate;
    return false;
  }
  return true;
}

bool RunSigningCommand(const std::string& commandTemplate, const std::string& in, const std::string& out,
                       const std::string& logFile, std::string* error) {
  if (!CheckSigningCommand(commandTemplate, error)) return false;
  const std::string command = Substituted(commandTemplate, in, out);
  int log = open(logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (log < 0) {
    *error = "cannot create " + logFile;
    return false;
  }
  pid_t child = fork();
  if (child == 0) {
    int nothing = open("/dev/null", O_RDONLY);
    if (nothing < 0 || dup2(nothing, 0) < 0 || dup2(log, 1) < 0 || dup2(log, 2) < 0) _exit(127);
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(log);
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) {
    *error = "cannot run the signing command";
    return false;
  }
  std::ifstream logged(logFile, std::ios::binary);
  std::string output((std::istreambuf_iterator<char>(logged)), std::istreambuf_iterator<char>());
  while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.pop_back();
  struct stat signedFile;
  std::string problem;
  if (WIFSIGNALED(status))
    problem = "was killed by signal " + std::to_string(WTERMSIG(status));
  else if (WEXITSTATUS(status) != 0)
    problem = "failed with exit status " + std::to_string(WEXITSTATUS(status));
  else if (stat(out.c_str(), &signedFile) != 0 || signedFile.st_size == 0)
    problem = "wrote no signed file";
  if (problem.empty()) return true;
  *error = "the signing command " + problem + ": " + command + (output.empty() ? "" : "\n" + output);
  return false;
}
