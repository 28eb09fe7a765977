// Turns of the tool's runs at one file: a named mutex of the file's full name, which a run waits
// for without holding the file open (a file that any process holds open cannot be replaced by a
// rename: on Windows without delete sharing, under Wine at all). A run that was killed in its
// turn leaves the mutex abandoned, and the next run takes it.
#pragma once

#include <windows.h>

#include <string>

class Turn {
 public:
  // Waits for the turn of `kind` ("ini", "data") at the file `path` (a long path).
  Turn(const wchar_t* kind, const std::wstring& path);
  ~Turn();
  Turn(const Turn&) = delete;
  Turn& operator=(const Turn&) = delete;

  // Ends the turn now.
  void End();

 private:
  HANDLE mutex_ = nullptr;  // owned while the turn lasts
};
