// The turn's policy over a file layer held in memory: a run that waited while another replaced
// the file takes its turn on the file that the name leads to now.
#include "platform/turn.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/Errors.h"

namespace {

class MemoryTurns : public TurnFiles {
 public:
  int Open() override {
    log.push_back("open");
    open_file = named_file;
    return open_error;
  }
  int Lock(bool exclusive) override {
    log.push_back(exclusive ? "lock" : "lock shared");
    // Another run replaces the file while this one waits, `replaced_while_waiting` times.
    if (replaced_while_waiting > 0) {
      --replaced_while_waiting;
      ++named_file;
    }
    return lock_error;
  }
  bool NameLeadsToOpen() override { return open_file == named_file; }
  void Close() override { log.push_back("close"); }

  int named_file = 1;
  int open_file = 0;
  int replaced_while_waiting = 0;
  int open_error = 0;
  int lock_error = 0;
  std::vector<std::string> log;
};

TEST(TurnPolicy, ARunTakesItsTurnOnTheFileTheNameLeadsToNow) {
  MemoryTurns turns;
  turns.replaced_while_waiting = 2;
  EXPECT_EQ(TakeTurn(turns, true), 0);
  EXPECT_EQ(turns.open_file, 3);
  EXPECT_EQ(turns.log, (std::vector<std::string>{"open", "lock", "close", "open", "lock", "close",
                                                 "open", "lock"}));

  // An open or a lock that fails ends the wait with its error; a file replaced without end, too.
  MemoryTurns refused;
  refused.lock_error = kAccessDenied;
  EXPECT_EQ(TakeTurn(refused, false), kAccessDenied);
  EXPECT_EQ(refused.log, (std::vector<std::string>{"open", "lock shared", "close"}));
  MemoryTurns endless;
  endless.replaced_while_waiting = 1 << 30;
  EXPECT_EQ(TakeTurn(endless, true), kAccessDenied);
}

}  // namespace
