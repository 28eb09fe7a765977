// Path helpers of the POSIX layers (POSIX builds only).
#pragma once

#include <stdlib.h>

#include <string>

// The path with every symbolic link followed; the path itself when that cannot be found out.
inline std::string RealPath(const std::string& path) {
  char* real = realpath(path.c_str(), nullptr);
  if (real == nullptr) return path;
  std::string result(real);
  free(real);
  return result;
}

// The path without slashes at its end (but "/" stays).
inline std::string StripTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}
