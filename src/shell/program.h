// What the program as a whole holds for one start: the options of its command line, its log,
// how it shows messages, the classes it creates and how it ends. RunProgram and the convert
// form make one and hand it to the window and the error report; tests make their own.
#pragma once

#include <functional>

#include "shell/log.h"
#include "support/components.h"
#include "support/env.h"
#include "support/messages.h"

namespace ferrolyte {

struct ProgramOptions {
  bool autorun = false;
  bool hide = false;
  bool clear_log = false;
  bool unit_test = false;       // dumps name "UNITTEST" as their version
  bool save_passwords = false;  // the per-user value SavePasswords is "1"
  // The convert and tables forms: a failure is one line on standard error and errors are
  // named, not numbered.
  bool command_line_form = false;
};

// Ends the process once "End" is in the log; it must not return. Null: std::exit. Tests
// pass one that throws.
using ProgramEnd = std::function<void(int exit_status)>;

struct Program {
  // The system's env unless a test gives its own.
  Program(const ComponentRegistry& components, ProgramEnd end = nullptr, Env& env = SystemEnv())
      : log(LogFileName(env)), components(components), env(env), end(std::move(end)) {}

  ProgramOptions options;
  LogFile log;
  Messages messages;
  const ComponentRegistry& components;
  Env& env;
  ProgramEnd end;
  // What HaltError or ErrorHandler ended the program with; empty otherwise.
  std::string end_reason;

  // The version text the program's runs write into dumps.
  std::string VersionText() const;
};

}  // namespace ferrolyte
