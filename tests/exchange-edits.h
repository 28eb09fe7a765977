// Hand edits of the sample exchange file (golden/sample.INI, the export of golden/sample.DAT) and
// what an import of each must do: store what the person meant, or refuse and say where. One table
// for the unit suite (FramekeepU_test.cpp) and the runs of both programs (e2e/cli_test.cpp). The
// line numbers are those of golden/sample.INI.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

struct FileEdit {
  enum Op { kSet, kDrop, kDropSection, kAppend, kWhole } op;
  std::string section, key, text;
};

inline FileEdit Set(const char* section, const char* key, const std::string& value) {
  return {FileEdit::kSet, section, key, value};
}
inline FileEdit Drop(const char* section, const char* key) {
  return {FileEdit::kDrop, section, key, ""};
}
inline FileEdit DropSection(const char* section) {
  return {FileEdit::kDropSection, section, "", ""};
}
inline FileEdit Append(const std::string& text) { return {FileEdit::kAppend, "", "", text}; }
inline FileEdit Whole(const std::string& text) { return {FileEdit::kWhole, "", "", text}; }

// Bytes at `offset` of entry `entry` in the data file (Action at 260, SearchMethod 264,
// SetPosition 268, then the four positions and sizes from 272).
struct StoredBytes {
  int entry;
  std::size_t offset;
  std::string bytes;
};

struct HandEdit {
  const char* what;
  std::vector<FileEdit> edits;
  const char* kind;     // the refusal's error kind; null when the import stores `stored`
  std::string message;  // the refusal's message behind the exchange file's name
  std::vector<StoredBytes> stored;
  std::vector<std::string> not_loaded;  // the sections named after the count line
  bool wine;                            // also run with Keepxfer.exe under Wine, end to end
};

inline HandEdit Refused(const char* what, std::vector<FileEdit> edits, const char* kind,
                        const std::string& message, bool wine = false) {
  return {what, std::move(edits), kind, message, {}, {}, wine};
}
inline HandEdit Stored(const char* what, std::vector<FileEdit> edits,
                       std::vector<StoredBytes> stored, std::vector<std::string> not_loaded = {},
                       bool wine = false) {
  return {what, std::move(edits), nullptr, "", std::move(stored), std::move(not_loaded), wine};
}

inline std::string Le32(unsigned value) {
  std::string bytes;
  for (int i = 0; i < 4; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
  return bytes;
}

// `ini` with the edits made, by plain text search: the files' keys are unique in their section.
inline std::string EditedText(std::string ini, const std::vector<FileEdit>& edits) {
  for (const FileEdit& e : edits) {
    const std::size_t start = ini.find("[" + e.section + "]\r\n");
    std::size_t end = ini.find("\r\n[", start + 1);
    end = end == std::string::npos ? ini.size() : end + 2;
    const std::size_t line = ini.find("\r\n" + e.key + "=", start) + 2;
    const std::size_t line_end = ini.find("\r\n", line) + 2;
    switch (e.op) {
      case FileEdit::kSet:
        ini.replace(line, line_end - line, e.key + "=" + e.text + "\r\n");
        break;
      case FileEdit::kDrop:
        ini.erase(line, line_end - line);
        break;
      case FileEdit::kDropSection:
        ini.erase(start, end - start);
        break;
      case FileEdit::kAppend:
        ini += e.text;
        break;
      case FileEdit::kWhole:
        ini = e.text;
        break;
    }
  }
  return ini;
}

// `data` with the stored bytes in place.
inline std::string StoredData(std::string data, const std::vector<StoredBytes>& stored) {
  for (const StoredBytes& s : stored)
    data.replace(8 + 288 * s.entry + s.offset, s.bytes.size(), s.bytes);
  return data;
}

inline const std::vector<HandEdit>& HandEdits() {
  const char* const kConvert = "EConvertError";
  const char* const kMissing = "EIniFileException";
  const std::string not_action = "is not an action (Maximize, Minimize, Restore, Center, Resize)";
  const bool wine = true;
  static const std::vector<HandEdit> rows = {
      Refused("Word3 deleted", {Drop("Header", "Word3")}, kMissing,
              ":4: [Header] Word3 is missing"),
      Refused("another version", {Set("Header", "Word3", "4")}, kConvert,
              ":6: [Header] Word3: the version is 1.4, not 1.3", wine),
      Refused("a version that only its low half makes 1.3", {Set("Header", "Word3", "65539")},
              kConvert, ":6: [Header] Word3: the version is 1.65539, not 1.3"),
      Refused("Word1 2", {Set("Header", "Word1", "2")}, kConvert,
              ":5: [Header] Word1: the version is 2.3, not 1.3"),
      Refused("a position deleted", {Drop("Entry7", "PositionHorizontal")}, kMissing,
              ":78: [Entry7] PositionHorizontal is missing", wine),
      Refused("Action deleted", {Drop("Entry3", "Action")}, kMissing,
              ":38: [Entry3] Action is missing"),
      Refused("WindowName deleted", {Drop("Entry3", "WindowName")}, kMissing,
              ":38: [Entry3] WindowName is missing"),
      Refused("an entry deleted", {DropSection("Entry5")}, kMissing,
              ": [Entry5] is missing (NumEntries is 12)", wine),
      Refused("a letter O in a size", {Set("Entry7", "SizeVertical", "48O")}, kConvert,
              ":87: [Entry7] SizeVertical: '48O' is not a valid integer value", wine),
      Refused("a negative count", {Set("Header", "NumEntries", "-1")}, "ERangeError",
              ":7: [Header] NumEntries: -1 is out of range (0 to 7456540)"),
      Refused("a misspelt action", {Set("Entry3", "Action", "Resise")}, kConvert,
              ":41: [Entry3] Action: 'Resise' " + not_action, wine),
      Refused("a search method cut short", {Set("Entry3", "SearchMethod", "WindowTitle")}, kConvert,
              ":42: [Entry3] SearchMethod: 'WindowTitle' is not a search method (ClassName, "
              "WindowTitleExact, WindowTitleContaining)"),
      Stored("names in other letter case",
             {Set("Entry0", "Action", "maximize"),
              Set("Entry0", "SearchMethod", "windowtitleEXACT"), Set("Entry0", "SetPosition", "n")},
             {{0, 260, Le32(1) + Le32(1) + Le32(0)}}, {}, wine),
      Stored("codes without a name, as an export writes them",
             {Set("Entry0", "Action", "7"), Set("Entry0", "SearchMethod", "5"),
              Set("Entry1", "Action", "-1"), Set("Entry1", "SearchMethod", "$10")},
             {{0, 260, Le32(7) + Le32(5)}, {1, 260, Le32(0xFFFFFFFF) + Le32(16)}}, {}, wine),
      Refused("SetPosition Yes", {Set("Entry4", "SetPosition", "Yes")}, kConvert,
              ":53: [Entry4] SetPosition: 'Yes' is neither Y nor N", wine),
      Refused("a size beyond 16 bits", {Set("Entry4", "SizeHorizontal", "70000")}, kConvert,
              ":56: [Entry4] SizeHorizontal: 70000 is out of range (-32768 to 65535)", wine),
      Stored("positions and sizes at their limits",
             {Set("Entry4", "PositionHorizontal", "-32768"),
              Set("Entry4", "PositionVertical", "$FFFF"), Set("Entry4", "SizeHorizontal", "-10"),
              Set("Entry4", "SizeVertical", "65535")},
             {{4, 272, Le32(32768) + Le32(65535) + Le32(65526) + Le32(65535)}}),
      Refused("a marker without [Defaults]", {Set("Entry4", "SizeHorizontal", "Default")}, kMissing,
              ":56: [Entry4] SizeHorizontal: Default needs DefaultSizeHorizontal in [Defaults], "
              "which is missing",
              wine),
      Stored("the one default that a marker uses",
             {Set("Entry4", "SizeHorizontal", "default"),
              Append("[Defaults]\r\nDefaultSizeHorizontal=1280\r\n")},
             {{4, 280, Le32(1280)}}),
      Refused("a default that does not fit, unused",
              {Append("[Defaults]\r\nDefaultSizeVertical=70000\r\n")}, kConvert,
              ":129: [Defaults] DefaultSizeVertical: 70000 is out of range (-32768 to 65535)"),
      Stored("a name in UTF-8 without a byte-order mark",
             {Set("Entry3", "WindowName", "Caf\xC3\xA9 Men\xC3\xBC")},
             {{3, 0, "Caf\xE9 Men\xFC" + std::string(129 - 9, '\0')}}, {}, wine),
      Stored("sections beyond the count",
             {Append("[Entry12]\r\nWindowName=New\r\n[Entry012]\r\n[entry13]\r\n[ENTRY12]\r\n"
                     "[Entry11x]\r\n")},
             {}, {"Entry12", "entry13"}, wine),
      Refused("no exchange file", {Whole("root:x:0:0:root:/root:/bin/sh\n")}, kMissing,
              ": [Header] is missing: this is no exchange file", wine),
  };
  return rows;
}
