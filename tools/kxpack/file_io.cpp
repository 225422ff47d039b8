#include "tools/kxpack/file_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

constexpr char kScratchPrefix[] = "kxpack-scratch.";
constexpr char kTemporarySuffix[] = ".kxpack-tmp.";

std::string KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

std::string Size(uint64_t bytes) {
  return bytes >= (1ull << 30) ? std::to_string(bytes >> 30) + " GiB" : std::to_string(bytes >> 20) + " MiB";
}

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// True when path still names what fd has open: a kxpack cleaning up after
// a killed one may have removed it between its creation and our lock.
bool StillNamed(const std::string& path, int fd) {
  struct stat opened, named;
  return fstat(fd, &opened) == 0 && lstat(path.c_str(), &named) == 0 && SameFile(opened, named);
}

// Removes folder's entries whose names begin with prefix, that this user
// owns and that no running kxpack holds locked: the leftovers of a killed
// one. A lock dies with its process, however that ended; each entry is
// removed while its lock is held, so that no kxpack can take it up meanwhile.
void RemoveAbandoned(const std::string& folder, const std::string& prefix) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (const dirent* entry = readdir(dir))
      if (std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) == 0) names.push_back(entry->d_name);
    closedir(dir);
  }
  for (const std::string& name : names) {
    const std::string path = folder + "/" + name;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) continue;
    struct stat status;
    if (fstat(fd, &status) == 0 && status.st_uid == geteuid() && (S_ISDIR(status.st_mode) || S_ISREG(status.st_mode)) &&
        flock(fd, LOCK_EX | LOCK_NB) == 0 && StillNamed(path, fd)) {
      std::error_code ec;
      fs::remove_all(path, ec);
    }
    close(fd);
  }
}

bool WriteAll(int fd, const std::vector<unsigned char>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t written = write(fd, bytes.data() + done, bytes.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    done += static_cast<size_t>(written);
  }
  return true;
}

}  // namespace

bool ReadRegularFile(const std::string& path, uint64_t maxBytes, std::vector<unsigned char>* bytes,
                     std::string* error, FileIdentity* identity) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    *error = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  struct stat status;
  std::string problem;
  if (fstat(fd, &status) != 0)
    problem = "cannot read " + path + ": " + std::strerror(errno);
  else if (S_ISDIR(status.st_mode))
    problem = path + " is a folder, not a file";
  else if (!S_ISREG(status.st_mode))
    problem = path + " is " + KindOf(status.st_mode) + ", not a regular file";
  else if (static_cast<uint64_t>(status.st_size) > maxBytes)
    problem = path + " is larger than " + Size(maxBytes) + ", more than kxpack takes for it";
  if (problem.empty()) {
    bytes->assign(static_cast<size_t>(status.st_size), 0);
    size_t done = 0;
    unsigned char extra;
    while (problem.empty()) {
      // One byte past the size it had: a file that grows is not read on.
      const size_t want = done < bytes->size() ? bytes->size() - done : 1;
      ssize_t got = read(fd, done < bytes->size() ? bytes->data() + done : &extra, want);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0)
        problem = "cannot read " + path + ": " + std::strerror(errno);
      else if (done >= bytes->size() && got == 0)
        break;
      else if (got == 0 || done >= bytes->size())
        problem = path + " changed while it was read";
      else
        done += static_cast<size_t>(got);
    }
  }
  close(fd);
  if (!problem.empty()) {
    bytes->clear();
    *error = problem;
    return false;
  }
  if (identity) *identity = {static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino)};
  return true;
}

bool ReadFile(const std::string& path, std::vector<unsigned char>* bytes) {
  std::string error;
  return ReadRegularFile(path, kMaxProgramBytes, bytes, &error);
}

bool WriteFileAtomically(const std::string& path, const std::vector<unsigned char>& bytes, unsigned mode) {
  const fs::path target(path);
  const std::string folder = target.has_parent_path() ? target.parent_path().string() : ".";
  RemoveAbandoned(folder, target.filename().string() + kTemporarySuffix);
  for (int attempt = 0; attempt < 3; ++attempt) {
    std::string pattern = path + kTemporarySuffix + "XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return false;
    const std::string temporary = name.data();
    if (flock(fd, LOCK_EX) != 0 || !StillNamed(temporary, fd)) {
      close(fd);
      continue;
    }
    bool written = WriteAll(fd, bytes) && fchmod(fd, mode) == 0 && std::rename(temporary.c_str(), path.c_str()) == 0;
    if (!written) unlink(temporary.c_str());
    close(fd);
    return written;
  }
  return false;
}

bool WriteFolderAtomically(const std::string& path,
                           const std::vector<std::pair<std::string, std::vector<unsigned char>>>& files,
                           std::string* error) {
  const fs::path target = fs::path(path).lexically_normal();
  const std::string name = target.filename().empty() ? target.parent_path().filename().string() : target.filename().string();
  const fs::path parent = target.filename().empty() ? target.parent_path().parent_path() : target.parent_path();
  const std::string folder = parent.empty() ? "." : parent.string();
  RemoveAbandoned(folder, name + kTemporarySuffix);
  std::string pattern = folder + "/" + name + kTemporarySuffix + "XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!mkdtemp(buffer.data())) {
    *error = "cannot create a folder in " + folder + ": " + std::strerror(errno);
    return false;
  }
  const std::string temporary = buffer.data();
  int lock = open(temporary.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  bool written = lock >= 0 && flock(lock, LOCK_EX) == 0 && StillNamed(temporary, lock);
  // mkdtemp makes the folder for its owner alone; the new folder gets the
  // permissions any other new folder would.
  const mode_t mask = umask(0);
  umask(mask);
  written = written && chmod(temporary.c_str(), 0777 & ~mask) == 0;
  for (const auto& [file, bytes] : files)
    written = written && WriteFileAtomically(temporary + "/" + file, bytes, 0666 & ~mask);
  if (!written) {
    *error = "cannot write into " + temporary;
  } else if (std::rename(temporary.c_str(), (folder + "/" + name).c_str()) != 0) {
    *error = "cannot make " + temporary + " the folder " + path + ": " + std::strerror(errno);
    written = false;
  }
  std::error_code ec;
  if (!written) fs::remove_all(temporary, ec);
  if (lock >= 0) close(lock);
  return written;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

TempFolder::TempFolder() {
  std::error_code ec;
  fs::path base = fs::temp_directory_path(ec);
  if (ec) base = "/tmp";
  static bool cleaned = false;
  if (!cleaned) RemoveAbandoned(base.string(), kScratchPrefix);
  cleaned = true;
  for (int attempt = 0; attempt < 3 && path.empty(); ++attempt) {
    std::string pattern = (base / kScratchPrefix).string() + "XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data())) return;
    int fd = open(buffer.data(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) continue;
    if (flock(fd, LOCK_EX) == 0 && StillNamed(buffer.data(), fd)) {
      path = buffer.data();
      lock_ = fd;
    } else {
      if (StillNamed(buffer.data(), fd)) rmdir(buffer.data());
      close(fd);
    }
  }
}

TempFolder::~TempFolder() {
  std::error_code ec;
  if (!path.empty()) fs::remove_all(path, ec);
  if (lock_ >= 0) close(lock_);
}
