// The error an action raises, for tests that check its number and text.
#pragma once

#include <gtest/gtest.h>

#include <functional>

#include "support/errors.h"

namespace ferrolyte::testing {

// Runs the action and returns the error it raised; fails the test when it raised none.
inline Error ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Error& e) {
    return e;
  }
  ADD_FAILURE() << "no error raised";
  return Error(0, "");
}

}  // namespace ferrolyte::testing
