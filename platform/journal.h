// The journal that makes an in-place rewrite of the data file recoverable, the way databases
// make an in-place write safe: before the file is touched, its old bytes and the new ones go
// into a journal in a folder of the user's, flushed to disk; the file is rewritten; the journal
// goes. A run that finds a journal for its data file (a rewrite that was stopped) puts the old
// bytes back first. This part is the journal's format and the judgement of what a data file
// found beside a journal holds; the platform layers do the file work.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct JournalRecord {
  std::string path;          // the data file's full name, as the platform sees it
  std::uint64_t volume = 0;  // the data file's identity: device, or volume serial number
  std::uint64_t file = 0;    // and inode, or file index
  std::string old_bytes;     // the data file before the rewrite
  std::string new_bytes;     // what the rewrite writes
};

// The journal's file name for a data file: its own name and its identity, so that a journal
// is found from the file it belongs to.
std::string JournalName(const std::string& leaf, std::uint64_t volume, std::uint64_t file);

std::string EncodeJournal(const JournalRecord& record);

// False when the text is not a complete journal (a journal is written whole before it gets
// its name, so that means damage, or a file that is no journal).
bool DecodeJournal(std::string_view text, JournalRecord* record);

enum class JournalVerdict {
  kOld,      // the data file holds the old bytes: the rewrite never started
  kNew,      // it holds the new bytes: the rewrite finished
  kTorn,     // each byte is old, new, or the zeros of reserved space: a stopped rewrite
  kForeign,  // anything else: the file changed since, and the journal must be left alone
};

JournalVerdict JudgeDataFile(std::string_view current, const JournalRecord& record);
