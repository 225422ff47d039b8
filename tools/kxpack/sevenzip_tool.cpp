#include "tools/kxpack/sevenzip_tool.h"

#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

extern char** environ;

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kSampleBytes = 64 << 10;
constexpr uint64_t kSamples = 16;
constexpr double kIncompressibleBitsPerByte = 7.98;
// LZMA2 at our level pairs a match-finder thread with each block's encoder.
constexpr unsigned kThreadsPerCore = 2;
constexpr unsigned kMaxThreads = 16;

const char* SevenZipProgram() {
  const char* configured = getenv("KX_7ZZ");
  return configured && *configured ? configured : "7zz";
}

unsigned AvailableCores() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof(set), &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
  long online = sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<unsigned>(online) : 1;
}

double BitsPerByte(const unsigned char* data, size_t size) {
  uint64_t counts[256] = {};
  for (size_t i = 0; i < size; ++i) ++counts[data[i]];
  double bits = 0;
  for (uint64_t count : counts) {
    if (count == 0) continue;
    double share = static_cast<double>(count) / static_cast<double>(size);
    bits -= share * std::log2(share);
  }
  return bits;
}

// 7-Zip reads names in list files as wildcards; names it could read
// otherwise are never stored apart, so that an exclusion cannot miss.
bool PlainName(const std::string& name) {
  for (unsigned char c : name)
    if (c < 0x20 || c == '*' || c == '?' || c == '\\') return false;
  return true;
}

// The files to store, as names relative to folder, sorted.
bool ListIncompressibleFiles(const std::string& folder, std::vector<std::string>* names, std::string* error) {
  std::error_code ec;
  fs::recursive_directory_iterator it(folder, fs::directory_options::none, ec);
  for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (!it->is_regular_file(ec) || it->is_symlink(ec)) continue;
    uint64_t size = it->file_size(ec);
    if (ec || size < kStoreCandidateBytes) continue;
    std::string name = it->path().lexically_relative(folder).generic_string();
    if (PlainName(name) && LooksIncompressible(it->path().string(), size)) names->push_back(name);
  }
  if (ec) {
    *error = "cannot read folder " + folder + ": " + ec.message();
    return false;
  }
  std::sort(names->begin(), names->end());
  return true;
}

// Runs 7-Zip in folder; on failure error holds what it printed.
bool RunSevenZip(std::vector<std::string> arguments, const std::string& folder, const std::string& archivePath,
                 std::string* error) {
  arguments.insert(arguments.begin(), SevenZipProgram());
  std::string log = archivePath + ".log";
  int status = RunProgram(arguments, folder, log);
  std::ifstream logFile(log);
  std::stringstream text;
  text << logFile.rdbuf();
  std::remove(log.c_str());
  if (status == 0) return true;
  *error = status < 0 ? std::string("cannot run ") + SevenZipProgram()
                      : std::string(SevenZipProgram()) + " failed (status " + std::to_string(status) +
                            ") archiving " + folder + ":\n" + text.str();
  return false;
}

bool CreatePayloadArchive(const std::string& folder, const std::string& archivePath, uint64_t solidBlockBytes,
                          unsigned threads, std::string* error) {
  std::vector<std::string> stored;
  if (!ListIncompressibleFiles(folder, &stored, error)) return false;
  const std::vector<std::string> common = {"a", "-t7z", "-bd", "-y", "-sse", "-ssp", "-scsUTF-8",
                                           "-ms=" + std::to_string(solidBlockBytes) + "b"};
  const std::string storedList = archivePath + ".stored";
  if (!stored.empty()) {
    std::ofstream list(storedList);
    for (const std::string& name : stored) list << name << "\n";
    list.close();
    std::vector<std::string> arguments = common;
    arguments.insert(arguments.end(), {"-m0=Copy", "-ir-@" + storedList, "--", archivePath});
    if (!RunSevenZip(arguments, folder, archivePath, error)) {
      std::remove(storedList.c_str());
      return false;
    }
  }
  // Everything else, folders included, is added to the same archive.
  std::vector<std::string> arguments = common;
  arguments.insert(arguments.end(), {"-mf=BCJ", "-m0=LZMA2:c=" + std::to_string(Lzma2BlockBytes(solidBlockBytes)) + "b",
                                     "-mmt" + std::to_string(threads)});
  if (!stored.empty()) arguments.push_back("-xr-@" + storedList);
  arguments.insert(arguments.end(), {"--", archivePath, "*"});
  bool created = RunSevenZip(arguments, folder, archivePath, error);
  std::remove(storedList.c_str());
  if (!created || stored.empty()) return created;

  // A name the exclusion did not match would now be in the archive twice.
  std::vector<ArchiveEntry> entries;
  if (!ListArchive(archivePath, &entries, error)) return false;
  std::set<std::string> seen;
  for (const ArchiveEntry& entry : entries) {
    if (!seen.insert(entry.path).second) {
      *error = entry.path + " went into the archive twice";
      return false;
    }
  }
  return true;
}

}  // namespace

uint64_t Lzma2BlockBytes(uint64_t solidBlockBytes) {
  return std::clamp<uint64_t>(solidBlockBytes / 4, 256 << 10, 16 << 20);
}

bool LooksIncompressible(const std::string& path, uint64_t size) {
  std::ifstream in(path, std::ios::binary);
  if (!in || size == 0) return false;
  const uint64_t samples = std::min<uint64_t>(kSamples, std::max<uint64_t>(1, size / kSampleBytes));
  std::vector<unsigned char> sample(kSampleBytes);
  for (uint64_t i = 0; i < samples; ++i) {
    const uint64_t length = std::min(kSampleBytes, size);
    const uint64_t offset = samples > 1 ? (size - length) / (samples - 1) * i : 0;
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(reinterpret_cast<char*>(sample.data()), static_cast<std::streamsize>(length));
    if (in.gcount() != static_cast<std::streamsize>(length)) return false;
    if (BitsPerByte(sample.data(), length) < kIncompressibleBitsPerByte) return false;
  }
  return true;
}

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

// 7-Zip expands the quoted wildcard itself, hidden files included, and
// stores names relative to the folder.
bool CreateArchive(ArchiveKind kind, const std::string& folder, const std::string& archivePath,
                   uint64_t solidBlockBytes, std::string* error, unsigned threads) {
  if (threads == 0) threads = std::min(kMaxThreads, kThreadsPerCore * AvailableCores());
  if (kind == ArchiveKind::Payload) return CreatePayloadArchive(folder, archivePath, solidBlockBytes, threads, error);
  std::vector<std::string> arguments = {"a", "-t7z", "-bd", "-y", "-sse", "-ssp"};
  // A nested runtime has no filter either: 7-Zip would otherwise run BCJ
  // over the library, and the outer archive would see other bytes than its
  // own copy.
  if (kind == ArchiveKind::NestedRuntime)
    arguments.insert(arguments.end(), {"-mf=off", "-m0=Copy"});
  else
    arguments.insert(arguments.end(), {"-mx=9", "-mf=BCJ2", "-m0=LZMA:fb=273", "-ms=on"});
  arguments.insert(arguments.end(), {"--", archivePath, "*"});
  return RunSevenZip(arguments, folder, archivePath, error);
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
    } else if (line.rfind("Method = ", 0) == 0) {
      entry.method = line.substr(9);
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

bool ExtractArchiveEntry(const std::string& archivePath, const std::string& name, const std::string& folder,
                         std::string* error) {
  const std::string log = archivePath + ".log";
  // -spd: the name is the entry's path, never a wildcard.
  int status = RunProgram({SevenZipProgram(), "x", "-bd", "-y", "-spd", "-o" + folder, "--", archivePath, name}, "", log);
  std::ifstream logFile(log);
  std::stringstream text;
  text << logFile.rdbuf();
  std::remove(log.c_str());
  if (status == 0) return true;
  *error = status < 0 ? std::string("cannot run ") + SevenZipProgram()
                      : std::string(SevenZipProgram()) + " failed (status " + std::to_string(status) + ") reading " +
                            archivePath + ":\n" + text.str();
  return false;
}
