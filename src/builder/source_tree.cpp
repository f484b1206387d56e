#include "builder/source_tree.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/fs.h"

namespace builder {
namespace {

constexpr char kAttributeXattr[] = "user.zarpex.attributes";
constexpr char kCreationXattr[] = "user.zarpex.creation";

bool read_xattr(const std::string& path, const char* name, std::string* value) {
  char text[64];
  const ssize_t n = getxattr(path.c_str(), name, text, sizeof text - 1);
  if (n <= 0) return false;
  value->assign(text, static_cast<size_t>(n));
  return true;
}

bool describe(const std::string& path, const std::string& name, const struct stat& st,
              SourceEntry* e, std::string* error) {
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
  dos_date_time(st.st_mtime, &e->write_date, &e->write_time);
  int64_t created = st.st_mtime;
  if (read_xattr(path, kCreationXattr, &text)) created = std::strtoll(text.c_str(), nullptr, 10);
  dos_date_time(created, &e->creation_date, &e->creation_time);
  if (!e->folder) {
    if (!S_ISREG(st.st_mode)) {
      *error = path + ": not a regular file or folder";
      return false;
    }
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
  return true;
}

bool walk(const std::string& folder, const std::string& prefix, std::vector<SourceEntry>* entries,
          std::string* error) {
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
  for (const std::string& n : names) {
    const std::string path = folder + "/" + n;
    if (n.find('\\') != std::string::npos) {
      *error = path + ": the name holds a backslash, which the installer reads as a separator";
      return false;
    }
    if (n.find(':') != std::string::npos) {
      *error = path + ": the name holds a colon, which the installer refuses (a drive or a stream)";
      return false;
    }
    if (std::any_of(n.begin(), n.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x20; })) {
      *error = path + ": the name holds a control character, which the installer refuses";
      return false;
    }
    if (n.find_first_not_of(". ") == std::string::npos) {
      *error = path + ": a name of dots and spaces only, which the installer refuses";
      return false;
    }
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
      *error = path + ": " + std::strerror(errno);
      return false;
    }
    SourceEntry e;
    const std::string name = prefix.empty() ? n : prefix + "\\" + n;
    if (!describe(path, name, st, &e, error)) return false;
    const bool folder_entry = e.folder;
    entries->push_back(std::move(e));
    if (folder_entry && !walk(path, name, entries, error)) return false;
  }
  return true;
}

}  // namespace

bool scan_tree(const std::string& root, std::vector<SourceEntry>* entries, std::string* error) {
  struct stat st;
  if (stat(root.c_str(), &st) != 0) {
    *error = root + ": " + std::strerror(errno);
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    *error = root + ": not a folder";
    return false;
  }
  return walk(root, "", entries, error);
}

}  // namespace builder
