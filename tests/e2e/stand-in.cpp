// A stand-in for the product in the tests of the running-product guard: a Windows program that
// makes the file named by its first argument, then runs until that file is gone (or for the
// number of seconds of its second argument).
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  HANDLE ready = CreateFileA(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (ready == INVALID_HANDLE_VALUE) return 1;
  CloseHandle(ready);
  for (int tenths = std::atoi(argv[2]) * 10; tenths > 0; --tenths) {
    if (GetFileAttributesA(argv[1]) == INVALID_FILE_ATTRIBUTES) return 0;
    Sleep(100);
  }
  return 0;
}
