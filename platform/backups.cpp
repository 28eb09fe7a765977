#include "platform/backups.h"

#include <algorithm>

#include "base/Errors.h"

namespace {

constexpr std::string_view kCopyStart = "Targets-";
constexpr std::string_view kCopyEnd = ".DAT";
constexpr std::size_t kStampSize = 15;  // YYYYMMDD-HHMMSS

// A copy's place in the order: the time of its name, then its number in that second (1 for the
// first, which has none).
struct Copy {
  std::string name;
  std::string stamp;
  long number = 1;
};

bool AllDigits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A name of the form Targets-YYYYMMDD-HHMMSS.DAT or Targets-YYYYMMDD-HHMMSS-<n>.DAT, n from 2
// without leading zeros; false for any other name, which is never a copy.
bool ParseCopyName(const std::string& name, Copy* copy) {
  const std::string_view whole(name);
  if (whole.size() < kCopyStart.size() + kStampSize + kCopyEnd.size() ||
      whole.substr(0, kCopyStart.size()) != kCopyStart ||
      whole.substr(whole.size() - kCopyEnd.size()) != kCopyEnd) {
    return false;
  }
  const std::string_view middle =
      whole.substr(kCopyStart.size(), whole.size() - kCopyStart.size() - kCopyEnd.size());
  const std::string_view stamp = middle.substr(0, kStampSize);
  if (!AllDigits(stamp.substr(0, 8)) || stamp[8] != '-' || !AllDigits(stamp.substr(9))) {
    return false;
  }
  long number = 1;
  if (const std::string_view suffix = middle.substr(kStampSize); !suffix.empty()) {
    const std::string_view digits = suffix.substr(1);
    if (suffix[0] != '-' || !AllDigits(digits) || digits.size() > 9 || digits[0] == '0') {
      return false;
    }
    number = 0;
    for (char digit : digits) number = number * 10 + (digit - '0');
    if (number < 2) return false;
  }
  *copy = Copy{name, std::string(stamp), number};
  return true;
}

// The copies among `names`, the newest first.
std::vector<Copy> CopiesAmong(const std::vector<std::string>& names) {
  std::vector<Copy> copies;
  Copy copy;
  for (const std::string& name : names) {
    if (ParseCopyName(name, &copy)) copies.push_back(copy);
  }
  std::sort(copies.begin(), copies.end(), [](const Copy& a, const Copy& b) {
    return a.stamp != b.stamp ? a.stamp > b.stamp : a.number > b.number;
  });
  return copies;
}

// The name of a new copy made at `stamp`: after every copy of that second there is.
std::string NewCopyName(const std::vector<Copy>& copies, const std::string& stamp) {
  long last = 0;
  for (const Copy& copy : copies) {
    if (copy.stamp == stamp) last = std::max(last, copy.number);
  }
  const std::string number = last == 0 ? "" : "-" + std::to_string(last + 1);
  return std::string(kCopyStart) + stamp + number + std::string(kCopyEnd);
}

// Another run may take the name between the look and the write: the next name is tried then.
constexpr int kNameAttempts = 10;

int AddCopy(BackupFiles& files, const std::string& stamp, std::string_view bytes,
            std::string* name) {
  int code = kFileChanged;
  for (int attempt = 0; attempt < kNameAttempts && code == kFileChanged; ++attempt) {
    *name = NewCopyName(CopiesAmong(files.List()), stamp);
    code = files.WriteNew(*name, bytes);
  }
  return code;
}

}  // namespace

int KeepCopy(BackupFiles& files, const std::string& stamp, std::string_view bytes) {
  int first_error = 0;
  for (int place = 0; place < files.Places(); ++place) {
    int code = files.OpenFolder(place);
    std::string added;
    if (code == 0) code = AddCopy(files, stamp, bytes, &added);
    if (code == 0) {
      // The copy just made stays, even when a clock set back names it older than the others.
      std::vector<Copy> copies = CopiesAmong(files.List());
      copies.erase(std::remove_if(copies.begin(), copies.end(),
                                  [&added](const Copy& copy) { return copy.name == added; }),
                   copies.end());
      for (std::size_t i = kCopiesKept - 1; i < copies.size(); ++i) files.Remove(copies[i].name);
      return 0;
    }
    if (first_error == 0) first_error = code;
  }
  return first_error;
}

void KeepCopyOfDataFile(std::string_view bytes) {
  const int code = KeepCopy(*UsersBackupFiles(), LocalTimeStamp(), bytes);
  if (code != 0) RaiseInOutError(code == kFileChanged ? kAccessDenied : code);
}
