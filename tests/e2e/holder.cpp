// Another program holding a file open, as an antivirus scanner, a backup tool or an editor does:
// a Windows program that opens the file named by its first argument with the sharing of its
// second ("r": read sharing only; "rw": read and write sharing, not delete; "none"), makes the
// file named by its third to say that it holds it, and lets go after the milliseconds of its
// fourth.
#include <windows.h>

#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  if (argc < 5) return 2;
  DWORD share = 0;
  if (std::strcmp(argv[2], "r") == 0) share = FILE_SHARE_READ;
  if (std::strcmp(argv[2], "rw") == 0) share = FILE_SHARE_READ | FILE_SHARE_WRITE;
  HANDLE held = CreateFileA(argv[1], GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
  if (held == INVALID_HANDLE_VALUE) return 1;
  HANDLE ready = CreateFileA(argv[3], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (ready == INVALID_HANDLE_VALUE) return 1;
  CloseHandle(ready);
  Sleep(static_cast<DWORD>(std::atoi(argv[4])));
  CloseHandle(held);
  return 0;
}
