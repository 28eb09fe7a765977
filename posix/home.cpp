#include "posix/home.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

std::string HomeFolderOf(const std::string& home, uid_t user) {
  if (!home.empty()) return home;
  const passwd* entry = getpwuid(user);
  return entry != nullptr && entry->pw_dir != nullptr ? entry->pw_dir : "";
}

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  return HomeFolderOf(home != nullptr ? home : "", getuid());
}
