#include "builder/source_tree.h"

#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>

#include "builder/windows_names.h"
#include "common/dos_time.h"
#include "common/xattr_names.h"
#include "platform/fs.h"
#include "platform/posix/code_page.h"

namespace builder {
namespace {

bool read_xattr(const std::string& path, const char* name, std::string* value) {
  char text[64];
  const ssize_t n = getxattr(path.c_str(), name, text, sizeof text - 1);
  if (n <= 0) return false;
  value->assign(text, static_cast<size_t>(n));
  return true;
}

// What kind of thing other than a file or folder stands at a path, for the message.
std::string special_kind(mode_t mode) {
  const char* kind = S_ISFIFO(mode)   ? "a FIFO"
                     : S_ISSOCK(mode) ? "a socket"
                     : S_ISCHR(mode)  ? "a character device"
                     : S_ISBLK(mode)  ? "a block device"
                                      : "something";
  return std::string(kind) + ", not a regular file or folder";
}

bool describe(const std::string& path, const std::string& name, const struct stat& st,
              const ScanOptions& options, SourceEntry* e, std::string* error) {
  e->name = name;
  e->path = path;
  e->folder = S_ISDIR(st.st_mode);
  uint32_t attributes = e->folder ? kAttributeDirectory : 0x20;
  if ((st.st_mode & S_IWUSR) == 0) attributes |= kAttributeReadOnly;
  std::string text;
  if (read_xattr(path, kAttributeXattr, &text))
    attributes |= static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 16)) &
                  (kAttributeHidden | kAttributeSystem);
  e->attributes = static_cast<uint16_t>(attributes);
  int64_t written = st.st_mtime;
  int64_t created = written;
  if (read_xattr(path, kCreationXattr, &text)) created = std::strtoll(text.c_str(), nullptr, 10);
  if (options.reproducible) {
    written = std::min(written, options.latest_time);
    created = std::min(created, options.latest_time);
  }
  dos_date_time(written, &e->write_date, &e->write_time, options.reproducible);
  dos_date_time(created, &e->creation_date, &e->creation_time, options.reproducible);
  if (!e->folder) {
    e->size = static_cast<uint64_t>(st.st_size);
    if (e->size >= 0xFFFFFFFFull) {
      *error = path + ": the file is 4 GiB or larger, more than the archive can hold";
      return false;
    }
  }
  if (name.size() > kMaxNameLength) {
    *error = path + ": the name inside the archive would be " + std::to_string(name.size()) +
             " bytes, longer than the " + std::to_string(kMaxNameLength) + " the installer can use";
    return false;
  }
  // Found now, not after packing everything before it.
  if (access(path.c_str(), e->folder ? (R_OK | X_OK) : R_OK) != 0) {
    *error = path + ": cannot read: " + std::strerror(errno);
    return false;
  }
  return true;
}

struct Walk {
  const ScanOptions& options;
  std::vector<SourceEntry>* entries;
  ScanReport* report;
  bool strict;  // anything passed over is an error
  std::string* error;
  std::vector<std::pair<dev_t, ino_t>> open_folders;  // the folders being walked, outermost first
  // Every folder walked so far, with the path it was first packed under: links may lead to
  // one folder from many places (each level of a chain of links would double the entries).
  std::map<std::pair<dev_t, ino_t>, std::string> walked;

  bool excluded(const std::string& relative) const {
    for (const std::string& pattern : options.excludes) {
      if (path_excluded(pattern, relative)) return true;
    }
    return false;
  }

  bool skip(const std::string& path, const std::string& why) {
    if (strict) {
      *error = path + ": " + why;
      return false;
    }
    report->skipped.push_back(path + ": " + why);
    return true;
  }

  // The name as the archive stores it: checked as the installer and Windows read names,
  // then written in the code page.
  bool stored_name(const std::string& path, const std::string& n, std::string* stored) {
    std::string problem;
    if (n.find('\\') != std::string::npos) {
      problem = "the name holds a backslash, which the installer reads as a separator";
    } else if (n.find(':') != std::string::npos) {
      problem = "the name holds a colon, which the installer refuses (a drive or a stream)";
    } else if (std::any_of(n.begin(), n.end(),
                           [](char c) { return static_cast<unsigned char>(c) < 0x20; })) {
      problem = "the name holds a control character, which the installer refuses";
    } else if (n.find_first_not_of(". ") == std::string::npos) {
      problem = "a name of dots and spaces only, which the installer refuses";
    } else {
      problem = windows_name_problem(n);
    }
    if (!problem.empty()) {
      *error = path + ": " + problem;
      return false;
    }
    const uint32_t code_page = options.code_page;
    if (code_page == 0) {
      *stored = n;
      return true;
    }
    char out[4 * kMaxNameLength];
    const long length = code_page_encode(code_page, n.data(), n.size(), out, sizeof out);
    if (length < 0) {
      *error = path + ": the name cannot be written in code page " + std::to_string(code_page) +
               ", the Windows code page of the archive's names (--codepage)";
      return false;
    }
    stored->assign(out, static_cast<size_t>(length));
    // The installer reads names byte by byte: the second byte of a double-byte character
    // must not be a backslash.
    if (stored->find('\\') != std::string::npos) {
      *error = path + ": in code page " + std::to_string(code_page) +
               " the name holds the byte of a backslash inside a character, which the "
               "installer would read as a separator";
      return false;
    }
    return true;
  }

  bool walk(const std::string& folder, const std::string& prefix, const std::string& relative) {
    DIR* dir = opendir(folder.c_str());
    if (!dir) {
      *error = folder + ": cannot open the folder: " + std::strerror(errno);
      return false;
    }
    std::vector<std::string> names;
    errno = 0;
    while (const struct dirent* d = readdir(dir)) {
      const std::string n = d->d_name;
      if (n != "." && n != "..") names.push_back(n);
    }
    const int read_error = errno;
    closedir(dir);
    if (read_error != 0) {
      *error = folder + ": cannot read the folder: " + std::strerror(read_error);
      return false;
    }
    std::sort(names.begin(), names.end());
    std::map<std::string, std::string> folded;  // folded form -> the name met first
    for (const std::string& n : names) {
      const std::string path = folder + "/" + n;
      const std::string rel = relative.empty() ? n : relative + "/" + n;
      if (excluded(rel)) {
        ++report->excluded;
        continue;
      }
      struct stat st;
      if (stat(path.c_str(), &st) != 0) {
        struct stat link;
        if (lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
          if (!skip(path, std::string("a broken symbolic link (") + std::strerror(errno) + ")"))
            return false;
          continue;
        }
        *error = path + ": " + std::strerror(errno);
        return false;
      }
      const std::pair<dev_t, ino_t> id(st.st_dev, st.st_ino);
      if (std::find(options.skip.begin(), options.skip.end(), id) != options.skip.end()) continue;
      if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode)) {
        if (!skip(path, special_kind(st.st_mode))) return false;
        continue;
      }
      if (S_ISDIR(st.st_mode) &&
          std::find(open_folders.begin(), open_folders.end(), id) != open_folders.end()) {
        if (!skip(path, "a symbolic link back into a folder it lies in (a loop)")) return false;
        continue;
      }
      if (S_ISDIR(st.st_mode)) {
        // A folder reached through a link is walked only the first time; a folder where it
        // lies is always walked, so the tree as it stands is packed whole.
        const auto [first, is_new] = walked.emplace(id, path);
        struct stat own;
        if (!is_new && lstat(path.c_str(), &own) == 0 && S_ISLNK(own.st_mode)) {
          if (!skip(path, "a link to the same folder as " + first->second + ", packed there"))
            return false;
          continue;
        }
      }
      std::string stored;
      if (!stored_name(path, n, &stored)) return false;
      // Windows compares names without case: a second name of the same letters would
      // overwrite the first.
      const auto [same, added] = folded.emplace(folded_name(n), n);
      if (!added) {
        *error = path + ": differs from \"" + same->second +
                 "\" in the same folder only in case; Windows takes both for one name";
        return false;
      }
      SourceEntry e;
      const std::string name = prefix.empty() ? stored : prefix + "\\" + stored;
      if (!describe(path, name, st, options, &e, error)) return false;
      e.shown_name = relative.empty() ? n : relative + "/" + n;
      const bool folder_entry = e.folder;
      entries->push_back(std::move(e));
      if (folder_entry) {
        open_folders.push_back(id);
        const bool ok = walk(path, name, rel);
        open_folders.pop_back();
        if (!ok) return false;
      }
    }
    return true;
  }
};

bool scan_tree_checked(const std::string& root, const ScanOptions& options, bool strict,
                       std::vector<SourceEntry>* entries, ScanReport* report, std::string* error) {
  struct stat st;
  if (stat(root.c_str(), &st) != 0) {
    *error = root + ": " + std::strerror(errno);
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    *error = root + ": not a folder";
    return false;
  }
  Walk walk{options, entries, report, strict, error, {{st.st_dev, st.st_ino}}, {}};
  walk.walked.emplace(std::make_pair(st.st_dev, st.st_ino), root);
  return walk.walk(root, "", "");
}

}  // namespace

bool path_excluded(const std::string& pattern, const std::string& relative) {
  if (pattern.find('/') != std::string::npos) {
    return fnmatch(pattern.c_str(), relative.c_str(), FNM_PATHNAME) == 0;
  }
  const size_t slash = relative.find_last_of('/');
  const std::string base = slash == std::string::npos ? relative : relative.substr(slash + 1);
  return fnmatch(pattern.c_str(), base.c_str(), 0) == 0;
}

bool scan_tree(const std::string& root, const ScanOptions& options,
               std::vector<SourceEntry>* entries, ScanReport* report, std::string* error) {
  return scan_tree_checked(root, options, false, entries, report, error);
}

bool scan_tree(const std::string& root, std::vector<SourceEntry>* entries, std::string* error) {
  ScanReport report;
  return scan_tree_checked(root, ScanOptions{}, true, entries, &report, error);
}

}  // namespace builder
