#include "platform/replace.h"

#include <string>

namespace {

// The watch of the old file after the rename, in pauses of about 50 µs: until nobody has it open,
// or, while some program has (another run of the tool that has not looked again yet, an editor
// that keeps it open) or nobody can tell, until it stayed as it is for a few pauses, or many once
// it was seen growing.
constexpr int kQuietPauses = 4;
constexpr int kQuietPausesAfterGrowth = 100;

// What another program appended to the old file since it was read, from *carried on, in pieces
// that end at a line end unless `all`: a write that is still going on can be seen in part, and is
// left for its rest. *carried moves over what was taken.
bool TakeAppended(ReplaceFiles& files, std::uint64_t* carried, bool all, std::string* appended) {
  if (!files.ReadOldFrom(*carried, appended)) return false;
  if (!all) {
    const std::size_t end = appended->find_last_of("\r\n");
    appended->resize(end == std::string::npos ? 0 : end + 1);
  }
  *carried += appended->size();
  return true;
}

// A program that opened the old file before the rename may still write to it: what it writes goes
// on at the new file's end, whole writes at a time (its next open finds the new file), until
// nobody has the old file open any more.
void CarryLateAppends(ReplaceFiles& files, std::uint64_t carried, bool seen_growing) {
  int quiet = seen_growing ? kQuietPausesAfterGrowth : kQuietPauses;
  int still = 0;
  for (;;) {
    // Asked before the look: once nobody has it open, what is there is all there will be.
    const bool last = files.OldFileHolders() == Holders::kNone || still + 1 >= quiet;
    std::string late;
    if (!TakeAppended(files, &carried, last, &late)) return;
    if (!late.empty()) {
      files.AppendToNew(late);
      still = 0;
      quiet = kQuietPausesAfterGrowth;
    } else {
      ++still;
    }
    if (last) return;
    files.Pause();
  }
}

// The file rewritten in place, under a journal, with what was appended to it meanwhile: where the
// folder refuses a new file, or refuses the rename of one.
int RewriteInPlace(ReplaceFiles& files, std::string_view bytes) {
  const FileNow now = files.Compare();
  if (now == FileNow::kOther) return kFileChanged;
  std::uint64_t carried = files.SizeRead();
  std::string appended;
  if (now == FileNow::kAppended && !TakeAppended(files, &carried, true, &appended)) {
    return kFileChanged;
  }
  return RewriteUnderJournal(files.InPlace(), files.Journaled(), std::string(bytes) + appended);
}

}  // namespace

int ReplaceWhole(ReplaceFiles& files, std::string_view bytes) {
  FileNow now = files.Compare();
  if (now == FileNow::kOther) return kFileChanged;
  std::uint64_t carried = files.SizeRead();
  int code = files.MakeTemporary();
  if (code == kFolderRefuses) return RewriteInPlace(files, bytes);
  if (code == 0) code = files.WriteTemporary(bytes);
  if (code == 0) code = files.GiveAttributes();
  if (code == 0) code = files.FlushTemporary();
  if (code != 0) return code;
  // Right before the rename: the name must still lead to the file that was read, and what was
  // appended to it goes on.
  now = files.Compare();
  if (now == FileNow::kOther) return kFileChanged;
  const bool appended_to = now == FileNow::kAppended;
  if (appended_to) {
    std::string appended;
    if (!TakeAppended(files, &carried, false, &appended)) return kFileChanged;
    code = files.WriteTemporary(appended);
    if (code != 0) return code;
  }
  code = files.RenameOver();
  if (code == kFolderRefuses) return RewriteInPlace(files, bytes);
  if (code != 0) return code;
  files.FlushFolder();
  if (files.KeepsAppends()) CarryLateAppends(files, carried, appended_to);
  return 0;
}
