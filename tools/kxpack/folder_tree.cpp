#include "tools/kxpack/folder_tree.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "tools/kxpack/build_inputs.h"
#include "tools/kxpack/name_rules.h"
#include "tools/kxpack/utf8.h"

namespace {

std::string Quoted(const std::string& path) { return "'" + PrintablePath(path) + "'"; }

std::string KindOf(mode_t mode) {
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  return "neither a file nor a folder";
}

bool TooLong(const std::string& path) {
  std::u32string points;
  size_t bad = 0;
  return DecodeUtf8(path, &points, &bad) && Utf16Length(points) > kMaxEntryPathUnits;
}

class TreeScanner {
 public:
  TreeScanner(const std::string& folder, std::vector<TreeEntry>* entries, std::vector<std::string>* problems)
      : given_(folder), entries_(entries), problems_(problems) {}

  void Scan() {
    char* real = realpath(given_.c_str(), nullptr);
    if (!real) {
      problems_->push_back("cannot read folder " + given_ + ": " + std::strerror(errno));
      return;
    }
    root_ = real;
    std::free(real);
    struct stat status;
    if (stat(root_.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
      problems_->push_back(given_ + " is not a folder");
      return;
    }
    std::vector<std::pair<dev_t, ino_t>> ancestors = {{status.st_dev, status.st_ino}};
    Walk("", &ancestors, false);
    if (entries_->empty() && problems_->empty()) problems_->push_back("folder " + given_ + " is empty");
  }

 private:
  void Problem(const std::string& text) { problems_->push_back(text); }

  bool Inside(const std::string& target) const {
    return target == root_ || (target.size() > root_.size() && target.compare(0, root_.size(), root_) == 0 &&
                               (root_ == "/" || target[root_.size()] == '/'));
  }

  // What a link leads to, when it is inside the folder; false after
  // reporting otherwise.
  bool FollowLink(const std::string& relative, const std::string& full, struct stat* status) {
    char* real = realpath(full.c_str(), nullptr);
    if (!real) {
      if (errno == ELOOP) {
        Problem(Quoted(relative) + " is a link that leads into a loop of links");
      } else if (errno == ENOENT) {
        char target[PATH_MAX];
        ssize_t length = readlink(full.c_str(), target, sizeof target - 1);
        target[length < 0 ? 0 : length] = '\0';
        Problem(Quoted(relative) + " is a link to " + Quoted(target) + ", which does not exist");
      } else {
        Problem("cannot follow the link " + Quoted(relative) + ": " + std::strerror(errno));
      }
      return false;
    }
    const std::string target = real;
    std::free(real);
    if (!Inside(target)) {
      Problem(Quoted(relative) + " is a link to " + Quoted(target) + ", outside the folder " + Quoted(given_) +
              "; only links within it can be packaged");
      return false;
    }
    if (stat(full.c_str(), status) != 0) {
      Problem("cannot follow the link " + Quoted(relative) + ": " + std::strerror(errno));
      return false;
    }
    return true;
  }

  void CheckName(const std::string& folder, const std::string& name, const std::string& relative,
                 std::map<std::string, std::string>* caseKeys) {
    const std::string problem = FileNameProblem(name);
    if (!problem.empty()) {
      Problem(Quoted(relative) + ": the name " + problem);
      return;
    }
    auto [earlier, added] = caseKeys->emplace(NameCaseKey(name), name);
    if (!added)
      Problem(Quoted(relative) + " and " + Quoted(folder.empty() ? earlier->second : folder + "/" + earlier->second) +
              " differ only in case, and Windows takes them for one");
  }

  // Lists folder (relative to the root; "" for the root) and walks into its
  // folders. ancestors: the folders from the root down to this one, so that
  // a link back to any of them is a loop. overLength: this folder's own path
  // is already reported too long.
  void Walk(const std::string& folder, std::vector<std::pair<dev_t, ino_t>>* ancestors, bool overLength) {
    const std::string path = folder.empty() ? root_ : root_ + "/" + folder;
    DIR* dir = opendir(path.c_str());
    if (!dir) {
      Problem("cannot read folder " + Quoted(folder.empty() ? given_ : folder) + ": " + std::strerror(errno));
      return;
    }
    std::vector<std::string> names;
    while (const dirent* entry = readdir(dir))
      if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) names.push_back(entry->d_name);
    closedir(dir);
    std::sort(names.begin(), names.end());

    std::map<std::string, std::string> caseKeys;
    for (const std::string& name : names) {
      if (entries_->size() >= kMaxTreeEntries) {
        if (!full_) Problem("folder " + given_ + " holds more than " + std::to_string(kMaxTreeEntries) + " entries");
        full_ = true;
        return;
      }
      const std::string relative = folder.empty() ? name : folder + "/" + name;
      const std::string full = root_ + "/" + relative;
      CheckName(folder, name, relative, &caseKeys);
      const bool tooLong = !overLength && TooLong(relative);
      if (tooLong)
        Problem(Quoted(relative) + " is longer than " + std::to_string(kMaxEntryPathUnits) +
                " characters, more than Windows installs");

      struct stat status;
      if (lstat(full.c_str(), &status) != 0) {
        Problem("cannot read " + Quoted(relative) + ": " + std::strerror(errno));
        continue;
      }
      const bool link = S_ISLNK(status.st_mode);
      if (link && !FollowLink(relative, full, &status)) continue;
      if (S_ISDIR(status.st_mode)) {
        const std::pair<dev_t, ino_t> identity = {status.st_dev, status.st_ino};
        if (std::find(ancestors->begin(), ancestors->end(), identity) != ancestors->end()) {
          Problem(Quoted(relative) + " is a link to a folder that holds it, a loop");
          continue;
        }
        entries_->push_back({relative, true, 0});
        ancestors->push_back(identity);
        Walk(relative, ancestors, overLength || tooLong);
        ancestors->pop_back();
      } else if (S_ISREG(status.st_mode)) {
        if (access(full.c_str(), R_OK) != 0) {
          Problem("cannot read " + Quoted(relative) + ": " + std::strerror(errno));
          continue;
        }
        entries_->push_back({relative, false, static_cast<uint64_t>(status.st_size)});
        NoteInput({static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino)}, PrintablePath(full));
      } else {
        Problem(Quoted(relative) + (link ? " is a link to " : " is ") + KindOf(status.st_mode) +
                "; only files and folders can be installed");
      }
    }
  }

  std::string given_, root_;
  std::vector<TreeEntry>* entries_;
  std::vector<std::string>* problems_;
  bool full_ = false;
};

}  // namespace

bool ScanFolderTree(const std::string& folder, std::vector<TreeEntry>* entries, std::vector<std::string>* problems) {
  entries->clear();
  problems->clear();
  TreeScanner(folder, entries, problems).Scan();
  return problems->empty();
}

std::string PrintablePath(const std::string& path) {
  std::string shown;
  for (size_t i = 0; i < path.size();) {
    const unsigned char lead = static_cast<unsigned char>(path[i]);
    const size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    std::u32string points;
    size_t bad = 0;
    if (i + length <= path.size() && DecodeUtf8(path.substr(i, length), &points, &bad) && points[0] >= 0x20 &&
        (points[0] < 0x7F || points[0] > 0x9F)) {
      shown.append(path, i, length);
      i += length;
    } else {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", lead);
      shown += escaped;
      ++i;
    }
  }
  return shown;
}
