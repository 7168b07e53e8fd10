// Tests that need a tool or a build output may skip on a developer's
// machine, but never in CI.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace testci {

// CI=true: what is missing fails the test instead of skipping it.
inline bool InCi() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && std::string(ci) == "true";
}

}  // namespace testci

// Skips the test, naming what is missing, or fails it when CI=true;
// nothing when `missing` is empty.
#define SKIP_UNLESS_PRESENT(missing)                                 \
  do {                                                              \
    std::string missing_ = (missing);                               \
    if (!missing_.empty()) {                                        \
      if (::testci::InCi()) FAIL() << missing_ << " (CI=true)";    \
      GTEST_SKIP() << missing_;                                     \
    }                                                               \
  } while (false)
