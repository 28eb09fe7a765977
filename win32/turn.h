// Turns of the tool's runs at one file (platform/turn.h), on Windows. The lock of a turn is one
// byte far beyond the file's end, locked shared or exclusively (LockTurn); Windows keeps nobody
// from reading or writing data over it. A run that must wait without holding the file open (a
// file that any process holds open cannot be replaced by a rename: on Windows without delete
// sharing, under Wine at all) waits for a named mutex of the file's full name instead (Turn). A
// run that was killed in its turn leaves the mutex abandoned, and the next run takes it.
#pragma once

#include <windows.h>

#include <string>

// Waits for the turn's lock on the open file `file`; false (the error set) when it cannot be had.
bool LockTurn(HANDLE file, bool exclusive);
void UnlockTurn(HANDLE file);

// The calls that make and open the mutex of a turn, which tests put a fake in place of.
struct MutexCalls {
  HANDLE(WINAPI* create)(LPSECURITY_ATTRIBUTES attributes, BOOL owned, LPCWSTR name);
  HANDLE(WINAPI* open)(DWORD access, BOOL inherit, LPCWSTR name);
};

class ScopedMutexCalls {
 public:
  explicit ScopedMutexCalls(const MutexCalls& calls);
  ~ScopedMutexCalls();
  ScopedMutexCalls(const ScopedMutexCalls&) = delete;
  ScopedMutexCalls& operator=(const ScopedMutexCalls&) = delete;

 private:
  MutexCalls saved_;
};

class Turn {
 public:
  // Waits for the turn of `kind` ("ini", "data") at the file `path` (a long path). A turn that
  // cannot be had (its mutex can be neither made nor opened) raises its error: a run never goes
  // on without its turn.
  Turn(const wchar_t* kind, const std::wstring& path);
  ~Turn();
  Turn(const Turn&) = delete;
  Turn& operator=(const Turn&) = delete;

  // Ends the turn now.
  void End();

 private:
  HANDLE mutex_ = nullptr;  // owned while the turn lasts
};
