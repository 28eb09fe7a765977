// Times the INI engine on the item sequence of an export and of an import, against a floor
// loop that opens the file, appends one line and closes it, once per item written.
//
//   ini_engine_bench [directory] [entries...]     (default: the current directory; 255 2550)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "lib/IniEngine.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Counts {
  long writes = 0;
  long reads = 0;
};

void Write(const std::string& file, const std::string& section, const std::string& key,
           const std::string& value, Counts* counts) {
  if (!ini_engine::WriteValue(file, section, key, value)) {
    std::fprintf(stderr, "write failed: %s\n", file.c_str());
    std::exit(1);
  }
  ++counts->writes;
}

// What an export does: every item written by itself, each position and size key read first.
Counts Export(const std::string& file, int entries) {
  Counts counts;
  Write(file, "Documentation", "Actions", "Maximize, Minimize, Restore, Center, Resize", &counts);
  Write(file, "Documentation", "SearchMethods",
        "ClassName, WindowTitleExact, "
        "WindowTitleContaining",
        &counts);
  Write(file, "Header", "Word1", "1", &counts);
  Write(file, "Header", "Word3", "3", &counts);
  Write(file, "Header", "NumEntries", std::to_string(entries), &counts);
  const char* const kSizeKeys[] = {"PositionHorizontal", "PositionVertical", "SizeHorizontal",
                                   "SizeVertical"};
  for (int i = 0; i < entries; ++i) {
    std::string section = "Entry" + std::to_string(i);
    Write(file, section, "WindowName", "Untitled - Notepad " + std::to_string(i), &counts);
    Write(file, section, "ClassName", "Notepad", &counts);
    Write(file, section, "Action", "Resize", &counts);
    Write(file, section, "SearchMethod", "WindowTitleContaining", &counts);
    Write(file, section, "SetPosition", "Y", &counts);
    for (const char* key : kSizeKeys) {
      std::string value = "Y";
      ini_engine::ReadValue(file, section, key, &value);
      ++counts.reads;
      Write(file, section, key, std::to_string(100 + i % 900), &counts);
    }
  }
  return counts;
}

// What an import does: every item read by itself.
long Import(const std::string& file, int entries) {
  long reads = 0;
  std::string value;
  for (const char* key : {"Word1", "Word3", "NumEntries"}) {
    ini_engine::ReadValue(file, "Header", key, &value);
    ++reads;
  }
  for (const char* key : {"DefaultPositionHorizontal", "DefaultPositionVertical",
                          "DefaultSizeHorizontal", "DefaultSizeVertical"}) {
    ini_engine::ReadValue(file, "Defaults", key, &value);
    ++reads;
  }
  for (int i = 0; i < entries; ++i) {
    std::string section = "Entry" + std::to_string(i);
    for (const char* key :
         {"WindowName", "ClassName", "Action", "SearchMethod", "SetPosition", "PositionHorizontal",
          "PositionVertical", "SizeHorizontal", "SizeVertical"}) {
      ini_engine::ReadValue(file, section, key, &value);
      ++reads;
    }
  }
  return reads;
}

// The floor: per item, open the file, append one line, close it.
void AppendLines(const std::string& file, long lines) {
  for (long i = 0; i < lines; ++i) {
    std::FILE* f = std::fopen(file.c_str(), "ab");
    if (f == nullptr || std::fputs("SizeVertical=123\r\n", f) < 0 || std::fclose(f) != 0) {
      std::fprintf(stderr, "append failed: %s\n", file.c_str());
      std::exit(1);
    }
  }
}

// Peak resident memory in KiB where the system tells it, else 0.
long PeakKib() {
  std::ifstream status("/proc/self/status");
  std::string word;
  while (status >> word) {
    if (word == "VmHWM:") {
      long kib = 0;
      status >> kib;
      return kib;
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir = argc > 1 ? argv[1] : ".";
  std::vector<int> sizes;
  for (int i = 2; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
  if (sizes.empty()) sizes = {255, 2550};

  std::printf("%8s %8s %9s %9s %9s %6s %9s %9s %10s\n", "entries", "writes", "export_s", "us/write",
              "floor_us", "ratio", "import_s", "us/read", "peak_KiB");
  for (int entries : sizes) {
    std::string file = dir + "/bench_" + std::to_string(entries) + ".ini";
    std::string floor_file = dir + "/bench_floor.ini";
    std::remove(file.c_str());
    std::remove(floor_file.c_str());
    ini_engine::ForgetCache();

    Clock::time_point start = Clock::now();
    Counts counts = Export(file, entries);
    double export_s = SecondsSince(start);

    start = Clock::now();
    AppendLines(floor_file, counts.writes);
    double floor_s = SecondsSince(start);

    ini_engine::ForgetCache();
    start = Clock::now();
    long reads = Import(file, entries);
    double import_s = SecondsSince(start);

    std::printf("%8d %8ld %9.3f %9.2f %9.2f %6.2f %9.3f %9.2f %10ld\n", entries, counts.writes,
                export_s, 1e6 * export_s / counts.writes, 1e6 * floor_s / counts.writes,
                export_s / floor_s, import_s, 1e6 * import_s / reads, PeakKib());
    std::remove(floor_file.c_str());
  }
  return 0;
}
