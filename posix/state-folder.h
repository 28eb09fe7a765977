// The folders that the tool keeps files of its own in, for one user (POSIX builds only): the
// state folder, $XDG_STATE_HOME/keepxfer or ~/.local/state/keepxfer, which survives a restart;
// and, for a user whose home cannot be written, a folder of this user's alone in the temporary
// folder, keepxfer-<uid> in $TMPDIR (when that is an absolute path) or /tmp. A sub-folder of
// either can be asked for.
#pragma once

#include <string>

#include "posix/fd.h"

enum class StatePlace { kStateFolder, kTemporaryFolder };

// The folder `sub` (empty for the folder itself) of `place`, opened as a directory; made, with
// the folders it needs (private to the user), when `make` is set. An invalid Fd with errno set
// when it cannot be had. A folder in the temporary folder that another user could have put there,
// or could write into, is refused (EACCES): a link, one of another owner, one that its group or
// others may write.
Fd OpenStateFolder(StatePlace place, const std::string& sub, bool make);

// The path of that folder, for messages and journals.
std::string StateFolderPath(StatePlace place, const std::string& sub);
