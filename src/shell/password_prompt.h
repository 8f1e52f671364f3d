// Source database passwords for the command line: from a file or typed at a terminal, never
// as an argument (other users see arguments in the process list).
#pragma once

#include <optional>
#include <string>

namespace ferrolyte {

// True when standard input is a terminal, so that a password can be asked for.
bool CanPromptForPassword();

// Writes the prompt to standard error and reads one line from standard input with echo off.
// The terminal gets its settings back on every way out, a signal included (the signal then
// ends the program as it would have). Nothing at end of input.
std::optional<std::string> PromptPassword(const std::string& prompt);

// The password in the file: its first line without the line end, spaces kept. Raises
// std::invalid_argument naming the file when it cannot be read.
std::string ReadPasswordFile(const std::string& path);

// True for the engine's and the provider's "Not a valid password." refusal.
bool IsPasswordRefusal(int32_t error_number);

}  // namespace ferrolyte
