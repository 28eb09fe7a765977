// The data file on Windows, beyond what every build does (files_test.cpp): what a replacement
// keeps of the file it replaces.
#include <windows.h>
// After windows.h, which it needs.
#include <aclapi.h>
#include <gtest/gtest.h>

#include <string>

#include "platform/files.h"
#include "tests/DataFileFixture.h"
#include "win32/handle.h"
#include "win32/path.h"
#include "win32/security.h"

namespace {

using DataFileWin32 = DataFileFixture;

// The DACL of `path` as bytes, so that two can be compared.
std::string DaclOf(const std::wstring& path) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return "<none>";
  }
  std::string bytes =
      dacl != nullptr ? std::string(reinterpret_cast<const char*>(dacl), dacl->AclSize) : "<null>";
  LocalFree(descriptor);
  return bytes;
}

// A DACL of its own: the owner may do anything, everybody else may only read.
void SetOwnDacl(const std::wstring& path) {
  EXPLICIT_ACCESS_W access[2] = {};
  wchar_t owner[] = L"CREATOR OWNER";
  wchar_t everyone[] = L"EVERYONE";
  BuildExplicitAccessWithNameW(&access[0], owner, GENERIC_ALL, SET_ACCESS, NO_INHERITANCE);
  BuildExplicitAccessWithNameW(&access[1], everyone, GENERIC_READ, SET_ACCESS, NO_INHERITANCE);
  PACL dacl = nullptr;
  ASSERT_EQ(SetEntriesInAclW(2, access, nullptr, &dacl), static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_EQ(SetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT,
                                  DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr, dacl, nullptr),
            static_cast<DWORD>(ERROR_SUCCESS));
  LocalFree(dacl);
}

TEST_F(DataFileWin32, AReplacementKeepsTheAttributesAndTheSecurityDescriptor) {
  const std::wstring path = LongPath(data_);
  SetOwnDacl(path);
  const DWORD wanted =
      FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  ASSERT_TRUE(SetFileAttributesW(path.c_str(), wanted));
  // What the file system keeps of them (Wine 8: hidden and system).
  const DWORD kept = GetFileAttributesW(path.c_str()) & wanted;
  ASSERT_EQ(kept & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
            static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
  const std::string dacl = DaclOf(path);
  Save(kNew);
  EXPECT_TRUE(ReadFileBytes(data_) == kNew);
  EXPECT_EQ(GetFileAttributesW(path.c_str()) & kept, kept);
  EXPECT_TRUE(DaclOf(path) == dacl);
}

// Whatever a backup tool did to the old file, its replacement is one to back up again; read-only
// and the rest of what only the old file was are not carried over.
TEST(ReplacementAttributes, KeepHiddenSystemNotIndexedAndAlwaysMarkForBackup) {
  EXPECT_EQ(ReplacementAttributes(FILE_ATTRIBUTE_NORMAL), DWORD{0x20});
  EXPECT_EQ(ReplacementAttributes(0x02 | 0x04), DWORD{0x02 | 0x04 | 0x20});
  EXPECT_EQ(ReplacementAttributes(0x2000 | 0x20), DWORD{0x2000 | 0x20});
  EXPECT_EQ(ReplacementAttributes(0x01 | 0x100 | 0x800), DWORD{0x20});
}

}  // namespace
