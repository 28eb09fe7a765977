#include "platform/replace.h"

#include <string>

namespace {

// The watch of the old file after the rename: pauses (of about 50 µs each) without growth that
// end it; more once it was seen growing.
constexpr int kQuietPauses = 4;
constexpr int kQuietPausesAfterGrowth = 100;

// What another program appended to the old file since it was read (on top of `bytes`), in pieces
// that end at a line end: a write that is still going on can be seen in part, and is left for its
// rest. *carried moves over what was taken.
bool TakeAppended(ReplaceFiles& files, std::uint64_t* carried, bool whole_only,
                  std::string* appended) {
  if (!files.ReadOldFrom(*carried, appended)) return false;
  if (whole_only) {
    const std::size_t end = appended->find_last_of("\r\n");
    appended->resize(end == std::string::npos ? 0 : end + 1);
  }
  *carried += appended->size();
  return true;
}

// A program that opened the old file before the rename may still write to it right after: the old
// file is watched until it has stayed as it is for a moment, a longer one once it was seen
// growing, and what it gets goes on at the new file's end, whole writes at a time (its next write
// goes to the new file).
void CarryLateAppends(ReplaceFiles& files, std::uint64_t carried, bool seen_growing) {
  int quiet = seen_growing ? kQuietPausesAfterGrowth : kQuietPauses;
  for (int still = 0; still < quiet; ++still) {
    std::string late;
    const std::uint64_t before = carried;
    if (!TakeAppended(files, &carried, still + 1 < quiet, &late)) return;
    if (!late.empty()) files.AppendToNew(late);
    if (carried != before) {
      still = -1;
      quiet = kQuietPausesAfterGrowth;
    }
    files.Pause();
  }
}

}  // namespace

int ReplaceWhole(ReplaceFiles& files, std::string_view bytes) {
  FileNow now = files.Compare();
  if (now == FileNow::kOther) return kFileChanged;
  std::uint64_t carried = files.SizeRead();
  int code = files.MakeTemporary();
  if (code == kFolderRefuses) {
    // The folder refuses new files: the file is rewritten in place, under a journal, with what
    // was appended to it meanwhile.
    std::string whole(bytes);
    std::string appended;
    if (now == FileNow::kAppended && !TakeAppended(files, &carried, false, &appended)) {
      return kFileChanged;
    }
    return RewriteUnderJournal(files.InPlace(), files.Journaled(), whole + appended);
  }
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
    if (!TakeAppended(files, &carried, true, &appended)) return kFileChanged;
    code = files.WriteTemporary(appended);
    if (code == 0) code = files.FlushTemporary();
    if (code != 0) return code;
  }
  code = files.RenameOver();
  if (code != 0) return code;
  files.FlushFolder();
  if (files.KeepsAppends()) CarryLateAppends(files, carried, appended_to);
  return 0;
}
