#include "win32/handle.h"

DWORD WriteAll(HANDLE handle, std::string_view data) {
  while (!data.empty()) {
    DWORD chunk = data.size() > 0x10000000 ? 0x10000000 : static_cast<DWORD>(data.size());
    DWORD written = 0;
    if (!WriteFile(handle, data.data(), chunk, &written, nullptr)) return GetLastError();
    if (written == 0) return ERROR_DISK_FULL;
    data.remove_prefix(written);
  }
  return 0;
}
