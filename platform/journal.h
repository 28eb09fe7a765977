// The journal that makes an in-place rewrite of a file (the data file, the exchange file)
// recoverable, the way databases make
// an in-place write safe: before the file is touched, its old bytes and the new ones go into a
// journal in a folder of the user's, flushed to disk; the file is rewritten; the journal goes. A
// run that finds a journal for its data file (a rewrite that was stopped) puts the old bytes back
// first.
//
// This is the journal's policy and format, written once for every platform. It runs over a few
// primitives of each platform's file layer (JournalFiles): read the data file whole, overwrite it,
// and read, write and remove a journal, so that its rules are tested without a file system.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The data file as a journal names it: its full name as the platform sees it, and its identity.
struct JournaledFile {
  std::string path;
  std::string leaf;          // its name in its folder
  std::uint64_t volume = 0;  // device, or volume serial number
  std::uint64_t file = 0;    // inode, or file index
};

// What the policy needs of a platform's file layer, for one pinned data file. Codes are the
// InOutCode values of base/Errors.h (0 for success).
class JournalFiles {
 public:
  virtual ~JournalFiles() = default;

  // The whole data file into *bytes; 0, or the code.
  virtual int ReadData(std::string* bytes) = 0;
  // Puts `bytes` in place of the data file's contents and flushes them to disk; where it can,
  // space is reserved first, so that a full disk fails before the old contents are touched.
  virtual int OverwriteData(const std::string& bytes) = 0;

  // The folders a journal may be in, in the order they are tried: 0 .. JournalPlaces() - 1.
  virtual int JournalPlaces() const = 0;
  // The journal `name` in folder `place`; false when there is none or it cannot be read.
  virtual bool ReadJournal(int place, const std::string& name, std::string* text) = 0;
  // Writes the journal whole and flushed before it gets its name, making its folder if needed.
  virtual int WriteJournal(int place, const std::string& name, const std::string& text) = 0;
  virtual void RemoveJournal(int place, const std::string& name) = 0;
};

// Finishes what a stopped in-place rewrite of `file` left: a torn file gets its old bytes back; a
// journal of a rewrite that finished, or never started, just goes. A journal that is damaged, of
// another file, or that the file does not match (it changed since) is left alone. 0, or the code
// of the failure to read or restore the file.
int RecoverFromJournal(JournalFiles& files, const JournaledFile& file);

// Rewrites `file` in place with `bytes` under a journal. When the rewrite fails, what could be
// written goes back and the journal goes; should that fail too, the journal stays for the next
// run. 0, or the code of the failure.
int RewriteUnderJournal(JournalFiles& files, const JournaledFile& file, const std::string& bytes);

// ---- The journal's format and judgement, used by the policy above ----

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
