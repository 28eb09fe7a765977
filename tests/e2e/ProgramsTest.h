#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/e2e/Sandbox.h"

// A test run once against each program: a sandbox of the program that the parameter names, or a
// skip that says why that program cannot run on this machine. A fixture that sets up more calls
// this SetUp first and returns when IsSkipped().
class ProgramsTest : public ::testing::TestWithParam<Flavour> {
 protected:
  void SetUp() override {
    const std::string why = Sandbox::Unavailable(GetParam());
    if (!why.empty()) GTEST_SKIP() << why;
    sb_ = std::make_unique<Sandbox>(GetParam());
  }
  bool Native() const { return GetParam() == Flavour::kNative; }
  std::string Report(const RunResult& r) const { return ReportOf(r.err, sb_->ModuleName()); }

  std::unique_ptr<Sandbox> sb_;
};
