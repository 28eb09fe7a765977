// The data file's open, read and replacement on POSIX systems, with faults placed at exact
// calls through the file layer's seam.
#include <gtest/gtest.h>

#include "tests/FaultyIo.h"

namespace {}  // namespace
