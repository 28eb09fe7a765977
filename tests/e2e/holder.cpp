// Another program holding a file open, as an antivirus scanner, a backup tool or an editor does:
// a Windows program that opens the file named by its first argument with the sharing of its
// second ("r": read sharing only; "rw": read and write sharing, not delete; "none"), makes the
// file named by its third to say that it holds it, and lets go after the milliseconds of its
// fourth. With "identity" as its second argument it writes instead, into the file named by its
// third, what a journal names the file by: its volume serial number and file index in hex, and
// its final name.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

int WriteIdentity(const char* file, const char* out) {
  HANDLE held = CreateFileA(file, FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  BY_HANDLE_FILE_INFORMATION info;
  char name[1024];
  if (held == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(held, &info)) return 1;
  DWORD length = GetFinalPathNameByHandleA(held, name, sizeof name, VOLUME_NAME_DOS);
  CloseHandle(held);
  FILE* text = std::fopen(out, "w");
  if (text == nullptr || length == 0 || length >= sizeof name) return 1;
  unsigned long long index =
      (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  std::fprintf(text, "%lx %llx %s", static_cast<unsigned long>(info.dwVolumeSerialNumber), index,
               name);
  return std::fclose(text) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && std::strcmp(argv[2], "identity") == 0) return WriteIdentity(argv[1], argv[3]);
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
