#include "wine/paths.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <vector>

#include "base/Ascii.h"
#include "base/Errors.h"
#include "posix/home.h"
#include "posix/path.h"

namespace {

// ERROR_INVALID_NAME.
constexpr int kInvalidName = 123;

std::string GetEnv(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Characters that Windows refuses in a file name.
bool HasInvalidChar(std::string_view name) {
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 32 ||
        std::string_view("*?<>|\"").find(c) != std::string_view::npos) {
      return true;
    }
  }
  return false;
}

std::string Join(const std::string& dir, const std::string& name) {
  return dir.empty() || dir.back() == '/' ? dir + name : dir + "/" + name;
}

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

// Searches `dir` for an entry whose name equals `name` without regard to ASCII
// letter case; of several, the smallest byte-wise, so that the answer does not
// depend on the directory's order. Empty when there is none.
std::string FindIgnoringCase(const std::string& dir, const std::string& name) {
  DirHandle handle(opendir(dir.c_str()));
  std::string best;
  if (!handle) return best;
  while (const dirent* entry = readdir(handle.get())) {
    std::string_view entry_name(entry->d_name);
    if (entry_name == "." || entry_name == "..") continue;
    if (ascii::EqualNoCase(entry_name, name) && (best.empty() || entry_name < best)) {
      best = entry_name;
    }
  }
  return best;
}

enum class Lookup { kFound, kMissing, kUnsearchable };

// Finds the entry `name` of the directory `dir`: the name as written when it
// exists, else one that differs only in letter case.
Lookup FindEntry(const std::string& dir, const std::string& name, std::string* path, bool* is_dir) {
  struct stat st;
  std::string exact = Join(dir, name);
  if (stat(exact.c_str(), &st) == 0) {
    *path = exact;
    *is_dir = S_ISDIR(st.st_mode);
    return Lookup::kFound;
  }
  if (errno != ENOENT) return Lookup::kUnsearchable;
  std::string found = FindIgnoringCase(dir, name);
  if (found.empty()) return Lookup::kMissing;
  *path = Join(dir, found);
  // A dangling symbolic link is found, but is no directory.
  *is_dir = stat(path->c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  return Lookup::kFound;
}

std::string AppendRest(std::string path, const std::vector<std::string>& parts, size_t from) {
  for (size_t i = from; i < parts.size(); ++i) path = Join(path, parts[i]);
  return path;
}

// Resolves `parts` one by one from the existing directory `dir`.
ResolvedPath Walk(std::string dir, const std::vector<std::string>& parts) {
  for (size_t i = 0; i < parts.size(); ++i) {
    const bool last = i + 1 == parts.size();
    std::string next;
    bool is_dir = false;
    switch (FindEntry(dir, parts[i], &next, &is_dir)) {
      case Lookup::kFound:
        if (!last && !is_dir) return {AppendRest(next, parts, i + 1), kPathNotFound};
        dir = next;
        break;
      case Lookup::kMissing:
        return {AppendRest(Join(dir, parts[i]), parts, i + 1),
                last ? kFileNotFound : kPathNotFound};
      case Lookup::kUnsearchable:
        return {AppendRest(dir, parts, i), 0};
    }
  }
  return {dir, 0};
}

// Adds the components of `text` (a Windows path after its root) to `parts` the
// way Windows normalises a path: runs of separators count as one; a component
// followed by a separator loses one trailing dot; the final component loses
// all its trailing dots and spaces; `.` is dropped and `..` removes the
// component before it, if any. Answers false for an invalid name.
bool AddComponents(std::string_view text, std::vector<std::string>* parts) {
  size_t pos = 0;
  while (pos < text.size()) {
    if (IsSeparator(text[pos])) {
      ++pos;
      continue;
    }
    size_t end = pos;
    while (end < text.size() && !IsSeparator(text[end])) ++end;
    std::string name(text.substr(pos, end - pos));
    const bool final = end == text.size();
    pos = end;
    if (HasInvalidChar(name)) return false;
    if (name == ".") continue;
    if (name == "..") {
      if (!parts->empty()) parts->pop_back();
      continue;
    }
    if (final) {
      while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
    } else if (name.back() == '.') {
      name.pop_back();
    }
    if (!name.empty()) parts->push_back(std::move(name));
  }
  return true;
}

bool IsExistingDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string CurrentDirectory() {
  std::string buffer(256, '\0');
  for (;;) {
    if (getcwd(&buffer[0], buffer.size())) return buffer.c_str();
    if (errno != ERANGE) return "";
    buffer.resize(buffer.size() * 2);
  }
}

// `\\?\X:\dir` names `X:\dir`: the prefix only turns Windows' checks of the name off. Only the
// backslash form is dropped; a path that begins with `/` is a POSIX path here.
std::string_view WithoutLongPathPrefix(std::string_view text) {
  constexpr std::string_view kLongPathPrefix = "\\\\?\\";
  if (text.size() >= 6 && text.substr(0, 4) == kLongPathPrefix && IsAsciiLetter(text[4]) &&
      text[5] == ':') {
    text.remove_prefix(kLongPathPrefix.size());
  }
  return text;
}

// The folder of drive `letter` in the prefix; empty when no prefix is known.
std::string DriveRoot(const std::string& prefix, char letter) {
  if (prefix.empty()) return "";
  return Join(prefix, "dosdevices/") + ascii::Lower(letter) + ":";
}

// Adds the components of the current directory, which `..` may remove; false when it is unknown.
bool AddCurrentDirectory(std::vector<std::string>* parts) {
  std::string cwd = CurrentDirectory();
  if (cwd.empty()) return false;
  for (size_t pos = 0; pos < cwd.size();) {
    size_t end = cwd.find('/', pos);
    if (end == std::string::npos) end = cwd.size();
    if (end > pos) parts->push_back(cwd.substr(pos, end - pos));
    pos = end + 1;
  }
  return true;
}

ResolvedPath ResolvePosixPath(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0) return {path, 0};
  if (errno == ENOTDIR) return {path, kPathNotFound};
  if (errno != ENOENT) return {path, 0};
  std::string parent = StripTrailingSlashes(path);
  size_t slash = parent.rfind('/');
  parent = slash == 0 ? "/" : parent.substr(0, slash);
  if (stat(parent.c_str(), &st) == 0) return {path, kFileNotFound};
  return {path, errno == ENOENT || errno == ENOTDIR ? kPathNotFound : 0};
}

}  // namespace

std::string WinePrefix() {
  std::string prefix = GetEnv("WINEPREFIX");
  if (prefix.empty()) {
    std::string home = HomeFolder();
    if (home.empty()) return "";
    prefix = Join(StripTrailingSlashes(home), ".wine");
  }
  return StripTrailingSlashes(prefix);
}

ResolvedPath ResolveProductPath(const std::string& productPath) {
  return ResolveProductPath(productPath, WinePrefix());
}

ResolvedPath ResolveProductPath(const std::string& productPath, const std::string& prefix) {
  const std::string& text = productPath;
  if (text.empty()) return {text, kPathNotFound};
  if (text.find('\0') != std::string::npos) return {text, kInvalidName};
  if (text[0] == '/') return ResolvePosixPath(text);
  std::string_view rest = WithoutLongPathPrefix(text);
  if (rest.size() >= 2 && IsSeparator(rest[0]) && IsSeparator(rest[1])) {
    return {text, kPathNotFound};
  }

  std::string root = "/";
  std::vector<std::string> parts;
  const bool on_drive = rest.size() >= 2 && IsAsciiLetter(rest[0]) && rest[1] == ':';
  const bool rooted = IsSeparator(rest[0]);
  if (on_drive || rooted) {
    // A rooted path is on the current drive, and the program is started from drive C:.
    root = DriveRoot(prefix, rooted ? 'c' : rest[0]);
    if (root.empty()) return {text, kPathNotFound};
    if (!IsExistingDirectory(root)) return {root, kPathNotFound};
    if (on_drive) rest.remove_prefix(2);
  } else if (!AddCurrentDirectory(&parts)) {
    return {text, kPathNotFound};
  }
  if (!AddComponents(rest, &parts)) return {text, kInvalidName};
  return Walk(root, parts);
}
