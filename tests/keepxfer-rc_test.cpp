// Keepxfer.exe's version resource, read the way Windows' file properties read it.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

namespace {

std::string Value(const std::vector<char>& info, const char* name) {
  char* text = nullptr;
  UINT length = 0;
  std::string query = std::string("\\StringFileInfo\\040904E4\\") + name;
  if (!VerQueryValueA(info.data(), query.c_str(), reinterpret_cast<void**>(&text), &length)) {
    return "<none>";
  }
  return std::string(text, length > 0 ? length - 1 : 0);
}

TEST(VersionResource, SaysWhatTheProgramIs) {
  std::string exe = "Z:" KEEPXFER_PROGRAM;
  for (char& c : exe) c = c == '/' ? '\\' : c;
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeA(exe.c_str(), &handle);
  ASSERT_GT(size, 0u) << exe;
  std::vector<char> info(size);
  ASSERT_TRUE(GetFileVersionInfoA(exe.c_str(), 0, size, info.data()));
  EXPECT_EQ(Value(info, "ProductName"), "Keepxfer");
  EXPECT_EQ(Value(info, "FileDescription"), "Framekeep Export/Import");
  EXPECT_EQ(Value(info, "FileVersion"), "1.32");
  EXPECT_EQ(Value(info, "ProductVersion"), "1.32");
  // The maker's address, as the banner shows it.
  EXPECT_EQ(Value(info, "CompanyName"), "https://framekeep.example/");
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, (1u << 16) | 32u);
}

}  // namespace
