#include "win32/security.h"

#include <aclapi.h>

namespace {

// The attributes that a replacement keeps.
constexpr DWORD kKeptAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_SYSTEM;

}  // namespace

void KeepSecurityAndAttributes(HANDLE from, HANDLE to) {
  PSID owner = nullptr;
  PSID group = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(
          from, SE_FILE_OBJECT,
          OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
          &owner, &group, &dacl, nullptr, &descriptor) == ERROR_SUCCESS) {
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    SECURITY_INFORMATION which =
        DACL_SECURITY_INFORMATION |
        ((control & SE_DACL_PROTECTED) != 0 ? PROTECTED_DACL_SECURITY_INFORMATION
                                            : UNPROTECTED_DACL_SECURITY_INFORMATION);
    SetSecurityInfo(to, SE_FILE_OBJECT, which, nullptr, nullptr, dacl, nullptr);
    SetSecurityInfo(to, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION,
                    owner, group, nullptr, nullptr);
    LocalFree(descriptor);
  }
  FILE_BASIC_INFO basic;
  if (GetFileInformationByHandleEx(from, FileBasicInfo, &basic, sizeof basic)) {
    FILE_BASIC_INFO kept = {};
    // Times left 0 stay as they are.
    kept.FileAttributes = ReplacementAttributes(basic.FileAttributes);
    SetFileInformationByHandle(to, FileBasicInfo, &kept, sizeof kept);
  }
}

DWORD ReplacementAttributes(DWORD old) { return (old & kKeptAttributes) | FILE_ATTRIBUTE_ARCHIVE; }

void MarkForBackup(HANDLE file) {
  FILE_BASIC_INFO basic;
  if (!GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) ||
      (basic.FileAttributes & FILE_ATTRIBUTE_ARCHIVE) != 0) {
    return;
  }
  FILE_BASIC_INFO marked = {};
  marked.FileAttributes = basic.FileAttributes | FILE_ATTRIBUTE_ARCHIVE;
  SetFileInformationByHandle(file, FileBasicInfo, &marked, sizeof marked);
}
