// The home folder of a user (POSIX builds only): what its HOME says, or else what the password
// database says, as Wine and every program of the user find it.
#pragma once

#include <sys/types.h>

#include <string>

// `home` (a HOME value) unless it is empty, else the home folder of the user `user` in the
// password database; empty when neither is known.
std::string HomeFolderOf(const std::string& home, uid_t user);

// The home folder of this run's user: $HOME, or the password database's.
std::string HomeFolder();
