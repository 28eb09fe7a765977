// The data file (Targets.DAT): loading any bytes, saving, and loading again.
//
// What the loaded table must be follows from the bytes alone: the header's three fields, and
// as many entries as the header counts, each the 288 bytes at its place with whatever the file
// lacks taken as zero. So the saved file must be exactly those bytes, cut or padded with zeros
// to the counted size, and loading the saved file must give the same table.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "base/Errors.h"
#include "exchange/FramekeepU.h"
#include "fuzz/FuzzSupport.h"

namespace {

// Counts up to this many are loaded: enough for several of the loader's 256-entry chunks and a
// part of one. A larger table only adds entries of zero bytes behind the input's, at
// milliseconds per run, which would slow the fuzzer for nothing.
constexpr std::int64_t kMaxLoadedEntries = 1000;

std::uint32_t U32At(const std::string& bytes, std::size_t pos) {
  auto byte = [&](std::size_t i) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[pos + i]));
  };
  return byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24;
}

std::uint16_t U16At(const std::string& bytes, std::size_t pos) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[pos]) |
                                    static_cast<unsigned char>(bytes[pos + 1]) << 8);
}

std::string Encoded(const typEntry& entry) {
  std::string bytes(kEntrySize, '\0');
  EncodeEntry(entry, reinterpret_cast<unsigned char*>(&bytes[0]));
  return bytes;
}

bool SameEntry(const typEntry& a, const typEntry& b) {
  return a.WindowName == b.WindowName && a.ClassName == b.ClassName && a.Action == b.Action &&
         a.SearchMethod == b.SearchMethod && a.SetPosition == b.SetPosition &&
         a.PositionHorizontal == b.PositionHorizontal && a.PositionVertical == b.PositionVertical &&
         a.SizeHorizontal == b.SizeHorizontal && a.SizeVertical == b.SizeVertical;
}

bool SameTable(const typFile& a, const typFile& b) {
  if (a.Word1 != b.Word1 || a.Word3 != b.Word3 || a.NumEntries != b.NumEntries ||
      a.DefaultPositionHorizontal != b.DefaultPositionHorizontal ||
      a.DefaultPositionVertical != b.DefaultPositionVertical ||
      a.DefaultSizeHorizontal != b.DefaultSizeHorizontal ||
      a.DefaultSizeVertical != b.DefaultSizeVertical || a.Entries.size() != b.Entries.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.Entries.size(); ++i) {
    if (!SameEntry(a.Entries[i], b.Entries[i])) return false;
  }
  return true;
}

// Each record decodes into an entry that encodes back into the same bytes, and that entry
// survives another encoding and decoding unchanged.
void CheckCodec(const std::string& record, std::size_t index) {
  typEntry entry;
  DecodeEntry(reinterpret_cast<const unsigned char*>(record.data()), &entry);
  const std::string again = Encoded(entry);
  FUZZ_CHECK(again == record, "entry " + std::to_string(index) + " encodes as " +
                                  fuzz::Show(again) + ", decoded from " + fuzz::Show(record));
  typEntry copy;
  DecodeEntry(reinterpret_cast<const unsigned char*>(again.data()), &copy);
  FUZZ_CHECK(SameEntry(copy, entry), "entry " + std::to_string(index) + " changed on a round trip");
}

void Load(const std::string& path) {
  try {
    LoadTargets(path);
  } catch (const ToolError& e) {
    fuzz::Fail("LoadTargets", std::string(e.Kind()) + ": " + e.Message());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::string in_path = std::string(fuzz::ScratchDir()) + "/Targets.DAT";
  const std::string out_path = std::string(fuzz::ScratchDir()) + "/Saved.DAT";
  fuzz::WriteBytes(in_path, input);

  std::string header = input.substr(0, kHeaderSize);
  header.resize(kHeaderSize, '\0');
  const std::int32_t count = static_cast<std::int32_t>(U32At(header, 4));

  if (count < 0 || count >= kTooManyEntries) {
    try {
      LoadTargets(in_path);
    } catch (const ToolError& e) {
      FUZZ_CHECK(
          std::string(e.Kind()) == kRangeError && e.Message() == "Range check error",
          "a count of " + std::to_string(count) + " raised " + e.Kind() + ": " + e.Message());
      return 0;
    }
    fuzz::Fail("LoadTargets", "a count of " + std::to_string(count) + " loaded");
  }
  if (count > kMaxLoadedEntries) return 0;

  Load(in_path);
  std::string image = input.substr(0, kHeaderSize + count * kEntrySize);
  image.resize(kHeaderSize + count * kEntrySize, '\0');
  FUZZ_CHECK(Targets.Word1 == U16At(image, 0) && Targets.Word3 == U16At(image, 2) &&
                 Targets.NumEntries == count,
             "header read as " + std::to_string(Targets.Word1) + " " +
                 std::to_string(Targets.Word3) + " " + std::to_string(Targets.NumEntries));
  FUZZ_CHECK(
      Targets.Entries.size() == static_cast<std::size_t>(count),
      std::to_string(Targets.Entries.size()) + " entries for a count of " + std::to_string(count));
  FUZZ_CHECK(Targets.DefaultPositionHorizontal == 0 && Targets.DefaultPositionVertical == 0 &&
                 Targets.DefaultSizeHorizontal == 0 && Targets.DefaultSizeVertical == 0,
             "loading set the table's defaults, which the file does not hold");
  for (std::size_t i = 0; i < Targets.Entries.size(); ++i) {
    const std::string record = image.substr(kHeaderSize + i * kEntrySize, kEntrySize);
    FUZZ_CHECK(Encoded(Targets.Entries[i]) == record, "entry " + std::to_string(i) + " loaded as " +
                                                          fuzz::Show(Encoded(Targets.Entries[i])) +
                                                          " from " + fuzz::Show(record));
    if (i < 8) CheckCodec(record, i);
  }

  const typFile loaded = Targets;
  try {
    SaveTargets(out_path);
  } catch (const ToolError& e) {
    fuzz::Fail("SaveTargets", std::string(e.Kind()) + ": " + e.Message());
  }
  std::string saved;
  FUZZ_CHECK(fuzz::ReadBytes(out_path, &saved), "SaveTargets left no file");
  FUZZ_CHECK(saved == image, "saved " + std::to_string(saved.size()) + " bytes " +
                                 fuzz::Show(saved.substr(0, 64)) + "..., expected " +
                                 std::to_string(image.size()) + " bytes " +
                                 fuzz::Show(image.substr(0, 64)) + "...");
  Targets = typFile();
  Load(out_path);
  FUZZ_CHECK(SameTable(Targets, loaded), "the saved file loads as another table");
  FinalFramekeepU();
  return 0;
}
