// Builds data files for tests.
#pragma once

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "exchange/FramekeepU.h"

inline typEntry MakeEntry(const std::string& window, const std::string& cls, std::int32_t action,
                          std::int32_t method, std::int32_t setPosition, std::uint32_t ph,
                          std::uint32_t pv, std::uint32_t sh, std::uint32_t sv) {
  typEntry e;
  std::memcpy(e.WindowName.data(), window.data(), std::min(window.size(), kWindowNameSize));
  std::memcpy(e.ClassName.data(), cls.data(), std::min(cls.size(), kClassNameSize));
  e.Action = action;
  e.SearchMethod = method;
  e.SetPosition = setPosition;
  e.PositionHorizontal = ph;
  e.PositionVertical = pv;
  e.SizeHorizontal = sh;
  e.SizeVertical = sv;
  return e;
}

// Realistic entries: varied titles and classes, every action and search method.
inline std::vector<typEntry> SampleEntries(int count) {
  std::vector<typEntry> entries;
  for (int i = 0; i < count; ++i) {
    std::string title = i % 7 == 3 ? std::string(129, static_cast<char>('a' + i % 26))
                                   : "Window " + std::to_string(i) + " - Editor";
    std::string cls = i % 5 == 1 ? std::string(131, 'K') : "Class_" + std::to_string(i * 31);
    entries.push_back(MakeEntry(title, cls, 1 + i % 5, i % 3, i % 2,
                                static_cast<std::uint32_t>(i * 17 % 65536),
                                static_cast<std::uint32_t>(65535 - i), 640 + i, 480 + i % 100));
  }
  return entries;
}

// A data file of `entries`; `count` overrides the header's entry count.
inline std::string BuildTargets(const std::vector<typEntry>& entries, std::uint16_t w1 = 1,
                                std::uint16_t w3 = 3,
                                std::optional<std::int32_t> count = std::nullopt) {
  std::int32_t n = count ? *count : static_cast<std::int32_t>(entries.size());
  std::string bytes(8 + entries.size() * kEntrySize, '\0');
  auto* p = reinterpret_cast<unsigned char*>(&bytes[0]);
  p[0] = static_cast<unsigned char>(w1);
  p[1] = static_cast<unsigned char>(w1 >> 8);
  p[2] = static_cast<unsigned char>(w3);
  p[3] = static_cast<unsigned char>(w3 >> 8);
  std::uint32_t u = static_cast<std::uint32_t>(n);
  for (int i = 0; i < 4; ++i) p[4 + i] = static_cast<unsigned char>(u >> (8 * i));
  for (std::size_t i = 0; i < entries.size(); ++i) EncodeEntry(entries[i], p + 8 + i * kEntrySize);
  return bytes;
}

// One item of an exchange file.
struct ExchangeItem {
  std::string section, key, value;
};

// The items that an export of `entries` writes, each with the value that reading it gives back.
inline std::vector<ExchangeItem> ExportedItems(const std::vector<typEntry>& entries) {
  static const char* const kActions[] = {"Maximize", "Minimize", "Restore", "Center", "Resize"};
  static const char* const kMethods[] = {"ClassName", "WindowTitleExact", "WindowTitleContaining"};
  auto text = [](const char* field, std::size_t size) {
    std::string name(field, std::find(field, field + size, '\0') - field);
    return name.empty() ? std::string("<blank>") : name;
  };
  std::vector<ExchangeItem> items = {
      {"Documentation", "Actions", "Maximize, Minimize, Restore, Center, Resize"},
      {"Documentation", "SearchMethods", "ClassName, WindowTitleExact, WindowTitleContaining"},
      {"Header", "Word1", "1"},
      {"Header", "Word3", "3"},
      {"Header", "NumEntries", std::to_string(entries.size())}};
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const typEntry& e = entries[i];
    const std::string section = "Entry" + std::to_string(i);
    items.push_back({section, "WindowName", text(e.WindowName.data(), kWindowNameSize)});
    items.push_back({section, "ClassName", text(e.ClassName.data(), kClassNameSize)});
    items.push_back({section, "Action", kActions[(e.Action - 1) % 5]});
    items.push_back({section, "SearchMethod", kMethods[e.SearchMethod % 3]});
    items.push_back({section, "SetPosition", e.SetPosition != 0 ? "Y" : "N"});
    items.push_back({section, "PositionHorizontal", std::to_string(e.PositionHorizontal & 0xFFFF)});
    items.push_back({section, "PositionVertical", std::to_string(e.PositionVertical & 0xFFFF)});
    items.push_back({section, "SizeHorizontal", std::to_string(e.SizeHorizontal & 0xFFFF)});
    items.push_back({section, "SizeVertical", std::to_string(e.SizeVertical & 0xFFFF)});
  }
  return items;
}
