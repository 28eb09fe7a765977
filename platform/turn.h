// Turns of the tool's runs at one file, the data file and the exchange file alike. A run takes its
// turn on the file that the name leads to: it opens it, waits for its lock (shared for a run that
// only reads, exclusive for one that writes), and then checks that the name still leads to the
// file it locked. Another run may have replaced the file while this one waited; then the file
// that the name leads to now is opened and waited for instead. Each such round follows another
// run's finished replacement, so a run waits its turn behind the runs before it.
//
// The lock is one mechanism per platform: flock on POSIX, and on Windows a lock of one byte far
// beyond the file's end (win32/turn.h), which Windows keeps nobody from reading or writing data
// over. The policy is written once here, over the primitives of each file layer.
#pragma once

class TurnFiles {
 public:
  virtual ~TurnFiles() = default;

  // Opens the file that the name leads to now. 0, or the code.
  virtual int Open() = 0;
  // Waits for this run's turn on the open file. 0, or the code.
  virtual int Lock(bool exclusive) = 0;
  // Whether the name still leads to the open file.
  virtual bool NameLeadsToOpen() = 0;
  // Lets go of the open file, and of its lock.
  virtual void Close() = 0;
};

// Takes this run's turn; the open file then holds it. 0, or the code of the open or the lock
// that failed; kAccessDenied for a file that is replaced again and again without end.
int TakeTurn(TurnFiles& files, bool exclusive);
