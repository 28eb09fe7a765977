// The Windows turn's mutex where an elevated run made it and left others out: opened for waiting,
// and where neither can be had, an error rather than a run without a turn.
#include "win32/turn.h"

#include <gtest/gtest.h>

#include <string>

#include "base/Errors.h"
#include "tests/ErrorOf.h"

namespace {

std::wstring g_opened;

HANDLE WINAPI Denied(LPSECURITY_ATTRIBUTES, BOOL, LPCWSTR) {
  SetLastError(ERROR_ACCESS_DENIED);
  return nullptr;
}

HANDLE WINAPI OpenedForWaiting(DWORD access, BOOL, LPCWSTR name) {
  if (access != SYNCHRONIZE) return nullptr;
  g_opened = name;
  return CreateMutexW(nullptr, FALSE, name);
}

HANDLE WINAPI NotOpened(DWORD, BOOL, LPCWSTR) {
  SetLastError(ERROR_ACCESS_DENIED);
  return nullptr;
}

TEST(TurnWin32, AMutexThatAnotherRunLeftClosedIsOpenedForWaitingOrIsAnError) {
  {
    ScopedMutexCalls calls({Denied, OpenedForWaiting});
    Turn turn(L"test", L"\\\\?\\C:\\turn-test-opened.ini");
    EXPECT_EQ(g_opened.find(L"Local\\Keepxfer.test."), 0u);
  }
  ScopedMutexCalls calls({Denied, NotOpened});
  EXPECT_EQ(ErrorOf([] { Turn turn(L"test", L"\\\\?\\C:\\turn-test-refused.ini"); }),
            "EInOutError: File access denied");
}

}  // namespace
