#include "posix/error.h"

#include <cerrno>

#include "base/Errors.h"

int InOutCodeFromErrno(int err) {
  switch (err) {
    case ENOENT:
      return kFileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
      return kPathNotFound;
    case EMFILE:
    case ENFILE:
      return kTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
      return kAccessDenied;
    default:
      return PlainIoError(err);
  }
}

void RaiseErrno(int err) { RaiseInOutError(InOutCodeFromErrno(err)); }
