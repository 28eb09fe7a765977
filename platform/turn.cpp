#include "platform/turn.h"

#include "base/Errors.h"

namespace {

// Far more rounds than runs at one file: only a program that replaces the file without end
// exhausts them.
constexpr int kRounds = 1000;

}  // namespace

int TakeTurn(TurnFiles& files, bool exclusive) {
  for (int round = 0; round < kRounds; ++round) {
    if (int code = files.Open()) return code;
    if (int code = files.Lock(exclusive)) {
      files.Close();
      return code;
    }
    if (files.NameLeadsToOpen()) return 0;
    files.Close();
  }
  return kAccessDenied;
}
