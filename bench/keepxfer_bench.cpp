// Keepxfer's benchmark. For each entry count it times, in one run:
//   - the floor: one fopen("ab") / fputs of one line / fclose per INI item;
//   - the INI items alone, replaying the item sequence of an export and of an import;
//   - the real keepxfer program exporting and importing real files in a throw-away
//     Wine-style prefix, with the peak resident memory of the child (wait4);
//   - for the first count, Keepxfer.exe under Wine when both it and the Wine loader are there.
// Every measurement runs in a child process of its own; it prints one Markdown table with the
// targets checked.
//
//   keepxfer_bench [--program=PATH] [--exe=PATH] [--wine=PATH] [entries...]
//   (default: the built keepxfer, build/windows/Keepxfer.exe, the loader cmake/wine-probe.sh
//   named for it; 255 2550 25500)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "exchange/FramekeepU.h"
#include "platform/profile.h"
#include "tests/TargetsBuilder.h"
#include "tests/TestFiles.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Sample {
  double seconds = 0;
  long peak_kib = 0;  // 0: not measured
};

std::string g_root;  // the run's temporary directory

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "keepxfer_bench: %s\n", what.c_str());
  std::exit(1);
}

// Runs a program with its output in files of the temporary directory; `env` adds NAME=VALUE
// pairs. False when it does not exit with 0.
bool Run(const std::vector<std::string>& argv, const std::vector<std::string>& env,
         Sample* sample = nullptr) {
  Clock::time_point start = Clock::now();
  pid_t pid = fork();
  if (pid < 0) Fail("fork");
  if (pid == 0) {
    int in = open("/dev/null", O_RDONLY);
    int out = open((g_root + "/stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open((g_root + "/stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
    std::vector<char*> raw;
    for (const std::string& a : argv) raw.push_back(const_cast<char*>(a.c_str()));
    raw.push_back(nullptr);
    execv(raw[0], raw.data());
    _exit(127);
  }
  int status = 0;
  struct rusage usage;
  if (wait4(pid, &status, 0, &usage) != pid) Fail("wait4");
  if (sample) *sample = Sample{SecondsSince(start), usage.ru_maxrss};
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void MustRun(const std::vector<std::string>& argv, const std::vector<std::string>& env,
             Sample* sample = nullptr) {
  if (!Run(argv, env, sample)) {
    Fail(argv[0] + " " + argv[1] + " failed:\n" + ReadFileBytes(g_root + "/stdout") +
         ReadFileBytes(g_root + "/stderr"));
  }
}

// Runs `work` in a forked child after `prepare`; the time is work's alone.
Sample InChild(const std::function<void()>& prepare, const std::function<void()>& work) {
  int fds[2];
  if (pipe(fds) != 0) Fail("pipe");
  pid_t pid = fork();
  if (pid < 0) Fail("fork");
  if (pid == 0) {
    close(fds[0]);
    prepare();
    Clock::time_point start = Clock::now();
    work();
    double seconds = SecondsSince(start);
    _exit(write(fds[1], &seconds, sizeof seconds) == sizeof seconds ? 0 : 1);
  }
  close(fds[1]);
  Sample sample;
  bool got = read(fds[0], &sample.seconds, sizeof sample.seconds) == sizeof sample.seconds;
  close(fds[0]);
  int status = 0;
  struct rusage usage;
  if (wait4(pid, &status, 0, &usage) != pid || !got || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    Fail("a measurement failed");
  }
  sample.peak_kib = usage.ru_maxrss;
  return sample;
}

// The median time and the highest peak of `runs` runs; `before` runs untimed ahead of each.
Sample Median(int runs, const std::function<void()>& before, const std::function<Sample()>& run) {
  std::vector<double> times;
  long peak = 0;
  for (int i = 0; i < runs; ++i) {
    before();
    Sample s = run();
    times.push_back(s.seconds);
    peak = std::max(peak, s.peak_kib);
  }
  std::sort(times.begin(), times.end());
  return Sample{times[times.size() / 2], peak};
}

// ---- The item sequences, as the program's export and import produce them ----

// One engine per measured child process, as in the program.
IniItems& Engine() {
  static IniItems engine;
  return engine;
}

void Put(const std::string& file, const std::string& section, const char* key,
         const std::string& value) {
  if (!Engine().Write(file, section, key, value)) Fail("cannot write " + file);
}

template <std::size_t N>
std::string Text(const std::array<char, N>& field) {
  return std::string(field.data(), strnlen(field.data(), N));
}

const char* const kSizeKeys[] = {"PositionHorizontal", "PositionVertical", "SizeHorizontal",
                                 "SizeVertical"};

// 5 writes, then per entry 5 writes and 4 (read, write) pairs.
void EngineExport(const std::string& file, const std::vector<typEntry>& entries) {
  Put(file, "Documentation", "Actions", ActionNameList());
  Put(file, "Documentation", "SearchMethods", SearchMethodNameList());
  Put(file, "Header", "Word1", "1");
  Put(file, "Header", "Word3", "3");
  Put(file, "Header", "NumEntries", std::to_string(entries.size()));
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const typEntry& e = entries[i];
    std::string section = "Entry" + std::to_string(i);
    Put(file, section, "WindowName", Text(e.WindowName));
    Put(file, section, "ClassName", Text(e.ClassName));
    Put(file, section, "Action", ActionName(e.Action));
    Put(file, section, "SearchMethod", SearchMethodName(e.SearchMethod));
    Put(file, section, "SetPosition", e.SetPosition ? "Y" : "N");
    const std::uint32_t sizes[] = {e.PositionHorizontal, e.PositionVertical, e.SizeHorizontal,
                                   e.SizeVertical};
    for (int k = 0; k < 4; ++k) {
      std::string old;
      Engine().Read(file, section, kSizeKeys[k], &old);
      if (!IsDefaultMarker(old)) {
        Put(file, section, kSizeKeys[k], std::to_string(static_cast<std::uint16_t>(sizes[k])));
      }
    }
  }
}

// 3 header reads, 4 default reads, then 9 reads per entry.
void EngineImport(const std::string& file, std::size_t entries) {
  std::string value;
  for (const char* key : {"Word1", "Word3", "NumEntries"}) {
    Engine().Read(file, "Header", key, &value);
  }
  for (const char* key : {"DefaultPositionHorizontal", "DefaultPositionVertical",
                          "DefaultSizeHorizontal", "DefaultSizeVertical"}) {
    Engine().Read(file, "Defaults", key, &value);
  }
  for (std::size_t i = 0; i < entries; ++i) {
    std::string section = "Entry" + std::to_string(i);
    for (const char* key : {"WindowName", "ClassName", "Action", "SearchMethod", "SetPosition"}) {
      Engine().Read(file, section, key, &value);
    }
    for (const char* key : kSizeKeys) Engine().Read(file, section, key, &value);
  }
}

// The floor: per item, fopen("ab"), fputs of one line, fclose.
void AppendLines(const std::string& file, long lines) {
  for (long i = 0; i < lines; ++i) {
    std::FILE* f = std::fopen(file.c_str(), "ab");
    if (f == nullptr || std::fputs("SizeVertical=123\r\n", f) < 0 || std::fclose(f) != 0) {
      Fail("cannot append to " + file);
    }
  }
}

// ---- The table ----

std::string Grouped(long n) {
  std::string digits = std::to_string(n), out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

std::string Format(const char* format, double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

std::string Duration(double seconds) {
  if (seconds >= 1) return Format("%.2f s", seconds);
  if (seconds >= 1e-3) return Format("%.2f ms", seconds * 1e3);
  return Format("%.1f µs", seconds * 1e6);
}

int g_checks = 0, g_failed = 0;

std::string Check(bool pass, const std::string& text) {
  ++g_checks;
  if (!pass) ++g_failed;
  return text + (pass ? " **PASS**" : " **FAIL**");
}

void PrintRow(long entries, const std::string& what, long items, const Sample& s,
              const std::string& check) {
  std::printf("| %s | %s | %s | %s | %s | %s | %s |\n", entries ? Grouped(entries).c_str() : "-",
              what.c_str(), items ? Grouped(items).c_str() : "-", Duration(s.seconds).c_str(),
              items ? Format("%.2f µs", 1e6 * s.seconds / items).c_str() : "-",
              s.peak_kib ? Format("%.1f MiB", s.peak_kib / 1024.0).c_str() : "-", check.c_str());
  std::fflush(stdout);
}

bool Executable(const std::string& path) { return access(path.c_str(), X_OK) == 0; }

}  // namespace

int main(int argc, char** argv) {
  std::string program = KEEPXFER_BINARY, exe = KEEPXFER_WIN_EXE, wine = KEEPXFER_WINE_LOADER;
  std::vector<long> sizes;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a.rfind("--program=", 0) == 0) {
      program = a.substr(10);
    } else if (a.rfind("--exe=", 0) == 0) {
      exe = a.substr(6);
    } else if (a.rfind("--wine=", 0) == 0) {
      wine = a.substr(7);
    } else if (std::atol(a.c_str()) > 0) {
      sizes.push_back(std::atol(a.c_str()));
    } else {
      Fail("usage: keepxfer_bench [--program=PATH] [--exe=PATH] [--wine=PATH] [entries...]");
    }
  }
  if (sizes.empty()) sizes = {255, 2550, 25500};

  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/kxbench-XXXXXX";
  if (!mkdtemp(&pattern[0])) Fail("mkdtemp");
  g_root = pattern;

  // The Wine-style prefix the native program reads.
  const std::string prefix = g_root + "/prefix";
  const std::string product = prefix + "/drive_c/Program Files/Framekeep";
  const std::string data = product + "/Targets.DAT";
  const std::string ini = g_root + "/bench.ini";
  const std::string floor_file = g_root + "/floor.ini";
  if (std::system(("mkdir -p '" + product + "' '" + prefix + "/dosdevices' '" + g_root + "/home'")
                      .c_str()) != 0 ||
      symlink("../drive_c", (prefix + "/dosdevices/c:").c_str()) != 0) {
    Fail("cannot make the prefix in " + g_root);
  }
  WriteFileBytes(prefix + "/user.reg",
                 "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000"
                 "\n\n#arch=win64\n\n[Software\\\\Framekeep\\\\Install] 1700000000\n"
                 "\"InstallDir\"=\"C:\\\\Program Files\\\\Framekeep\"\n");
  // The copies that imports keep go to the throw-away home too.
  const std::vector<std::string> env = {"WINEPREFIX=" + prefix, "HOME=" + g_root + "/home",
                                        "XDG_STATE_HOME="};
  auto nothing = [] {};
  auto remove_ini = [&] { std::remove(ini.c_str()); };
  auto remove_floor = [&] { std::remove(floor_file.c_str()); };

  std::printf("| Entries | What | Items | Time/run | Time/item | Peak RSS | Target |\n");
  std::printf("|---:|---|---:|---:|---:|---:|---|\n");

  Sample startup;  // of the program alone, taken beside the first count's runs

  // Per kind (engine export, engine import, keepxfer -Exp, keepxfer -Imp): the previous
  // count's time, for the growth checks.
  std::vector<double> previous(4, 0);
  for (std::size_t n = 0; n < sizes.size(); ++n) {
    const long entries = sizes[n];
    const long export_items = 5 + 13 * entries, import_items = 7 + 9 * entries;
    const int runs = entries <= 255 ? 11 : entries <= 2550 ? 7 : 3;
    WriteFileBytes(data, BuildTargets(SampleEntries(static_cast<int>(entries))));

    Sample floor_export = Median(runs, remove_floor, [&] {
      return InChild(nothing, [&] { AppendLines(floor_file, export_items); });
    });
    Sample floor_import = Median(runs, remove_floor, [&] {
      return InChild(nothing, [&] { AppendLines(floor_file, import_items); });
    });
    PrintRow(entries, "floor, export's item count", export_items, floor_export, "");
    PrintRow(entries, "floor, import's item count", import_items, floor_import, "");

    // The checks of a row: against the floor at the first count, growth from the previous one.
    auto checks = [&](int kind, double seconds, const Sample& floor, double startup_s) {
      std::string text;
      if (n == 0) {
        double ratio = seconds / floor.seconds;
        text = Check(ratio <= 2, Format("%.2f× floor ≤ 2×", ratio));
        if (startup_s > 0) {
          text += Format(" (without start-up: %.2f×)", (seconds - startup_s) / floor.seconds);
        }
      } else {
        double limit = 1.2 * entries / sizes[n - 1];
        text = Check(seconds / previous[kind] <= limit, Format("%.2f×", seconds / previous[kind]) +
                                                            " of " + Grouped(sizes[n - 1]) +
                                                            Format(" ≤ %.0f×", limit));
      }
      previous[kind] = seconds;
      return text;
    };
    auto memory = [&](const Sample& s) {
      if (n + 1 != sizes.size()) return std::string();
      return "; " + Check(s.peak_kib < 64 * 1024, "peak < 64 MiB");
    };

    // The engine alone: the entries come from the data file, as in the program, untimed.
    auto load = [&] { LoadTargets(data); };
    Sample engine_export = Median(runs, remove_ini, [&] {
      return InChild(load, [&] { EngineExport(ini, Targets.Entries); });
    });
    PrintRow(entries, "INI items, export sequence", export_items, engine_export,
             checks(0, engine_export.seconds, floor_export, 0));
    Sample engine_import = Median(runs, nothing, [&] {
      return InChild(nothing, [&] { EngineImport(ini, static_cast<std::size_t>(entries)); });
    });
    PrintRow(entries, "INI items, import sequence", import_items, engine_import,
             checks(1, engine_import.seconds, floor_import, 0));

    if (n == 0) {
      startup = Median(runs, nothing, [&] {
        Sample s;
        MustRun({program, "-Hlp"}, env, &s);
        return s;
      });
      PrintRow(0, "keepxfer -Hlp (start-up alone)", 0, startup, "");
    }
    Sample exported = Median(runs, remove_ini, [&] {
      Sample s;
      MustRun({program, "-Exp", "-Fil=" + ini}, env, &s);
      return s;
    });
    PrintRow(entries, "keepxfer -Exp", export_items, exported,
             checks(2, exported.seconds, floor_export, startup.seconds) + memory(exported));
    Sample imported = Median(runs, nothing, [&] {
      Sample s;
      MustRun({program, "-Imp", "-Fil=" + ini}, env, &s);
      return s;
    });
    PrintRow(entries, "keepxfer -Imp", import_items, imported,
             checks(3, imported.seconds, floor_import, startup.seconds) + memory(imported));

    if (n != 0) continue;
    // The Windows build under Wine, for the first count only.
    if (!Executable(exe) || !Executable(wine)) {
      std::printf("| %s | Keepxfer.exe under Wine: skipped, %s missing | | | | | |\n",
                  Grouped(entries).c_str(), Executable(exe) ? wine.c_str() : exe.c_str());
      continue;
    }
    const std::string wine_prefix = g_root + "/wine";
    const std::string wineserver = wine.substr(0, wine.rfind('/') + 1) + "wineserver";
    const std::string wine_product = wine_prefix + "/drive_c/Program Files/Framekeep";
    const std::vector<std::string> wine_env = {"WINEPREFIX=" + wine_prefix, "WINEDEBUG=-all",
                                               "WINEDLLOVERRIDES=mscoree,mshtml="};
    bool ready =
        Run({wine, "reg", "add", "HKCU\\Software\\Framekeep\\Install", "/v", "InstallDir", "/d",
             "C:\\Program Files\\Framekeep", "/f"},
            wine_env) &&
        Run({wineserver, "-w"}, wine_env) &&
        std::system(("mkdir -p '" + wine_product + "' && cp '" + data + "' '" + wine_product +
                     "/' && cp '" + exe + "' '" + wine_prefix + "/drive_c/Keepxfer.exe'")
                        .c_str()) == 0 &&
        Run({wineserver, "-p"}, wine_env);  // one server for all runs, as on a desktop
    if (!ready) {
      std::printf("| %s | Keepxfer.exe under Wine: skipped, the Wine prefix failed | | | | | |\n",
                  Grouped(entries).c_str());
      continue;
    }
    const std::string win_program = wine_prefix + "/drive_c/Keepxfer.exe";
    const std::string win_ini = wine_prefix + "/drive_c/bench.ini";
    bool ok = true;
    auto wine_run = [&](const std::vector<std::string>& args) {
      Sample s;
      std::vector<std::string> argv = {wine, win_program};
      argv.insert(argv.end(), args.begin(), args.end());
      ok = ok && Run(argv, wine_env, &s);
      return s;
    };
    Sample wine_startup = Median(11, nothing, [&] { return wine_run({"-Hlp"}); });
    Sample wine_export = Median(
        11, [&] { std::remove(win_ini.c_str()); },
        [&] {
          return wine_run({"-Exp", "-Fil=C:\\bench.ini"});
        });
    if (ok) {
      PrintRow(entries, "Keepxfer.exe -Hlp under Wine (start-up alone)", 0, wine_startup, "");
      // Its own start-up under Wine is a floor no program can go below: the export may cost at
      // most 0.3 s more.
      const double beyond = wine_export.seconds - wine_startup.seconds;
      PrintRow(entries, "Keepxfer.exe -Exp under Wine", export_items, wine_export,
               Check(beyond <= 0.3, Format("%.0f ms beyond -Hlp ≤ 300 ms", 1e3 * beyond)) +
                   Format("; %.1f× keepxfer -Exp", wine_export.seconds / exported.seconds));
    } else {
      std::string why = ReadFileBytes(g_root + "/stderr");
      std::replace_if(
          why.begin(), why.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
      std::printf("| %s | Keepxfer.exe under Wine: skipped, it failed: %s | | | | | |\n",
                  Grouped(entries).c_str(), why.c_str());
    }
    Run({wineserver, "-k"}, wine_env);
  }
  std::printf("\n%d targets checked, %d failed.\n", g_checks, g_failed);
  if (std::system(("rm -rf '" + g_root + "'").c_str()) != 0) Fail("cannot remove " + g_root);
  return 0;
}
