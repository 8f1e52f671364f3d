// The log file: one per program start, in the settings folder, one time-stamped entry per
// call, lines ending in CR LF, continuation lines aligned under the first.
#pragma once

#include <ctime>
#include <functional>
#include <string>

namespace ferrolyte {

// The settings folder + "/" + the executable's file name + ".log".
std::string LogFileName();

// Creates the settings folder and deletes the previous log file.
void InitLog();

// Appends one entry (or, with the clear-log and first-write flags, starts the file with it).
// Raises the file error when the log cannot be written.
void WriteLog(const std::string& message);

// "yyyy-mm-dd hh:mm:ss" of the broken-down local time.
std::string FormatTimeStamp(const std::tm& time);

// The entry as written: time stamp, tab, message; each line break inside the message
// (CR LF or a lone LF) followed by 19 spaces and a tab; a final CR LF.
std::string FormatLogEntry(const std::tm& time, const std::string& message);

// Replaces the clock that stamps entries (null restores local time). For tests.
void SetLogClock(std::function<std::tm()> clock);

}  // namespace ferrolyte
