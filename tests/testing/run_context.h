// A run's context for tests: every component of the build, a status that records, a cancel
// flag the test sets, and "UNITTEST" as the version dumps name.
#pragma once

#include <string>

#include "platform/register.h"
#include "support/run_context.h"

namespace ferrolyte::testing {

inline const ComponentRegistry& TestComponents() {
  static const ComponentRegistry components = PlatformComponents();
  return components;
}

// For a run that nothing cancels; the system's env unless the test gives its own.
inline RunContext ContextFor(StatusOutput& status, const std::string& temp_folder = "",
                             Env& env = SystemEnv()) {
  static const CancelToken never{false};
  return {status, never, TestComponents(), env, "UNITTEST", temp_folder};
}

struct TestRun {
  RecordingStatus status;
  CancelToken cancel{false};
  std::string version_text = "UNITTEST";
  std::string temp_folder;
  const Clock* clock = &SystemClock();
  Env* env = &SystemEnv();

  RunContext Context() {
    return {status, cancel, TestComponents(), *env, version_text, temp_folder, *clock};
  }
};

}  // namespace ferrolyte::testing
