// The log file: in the settings folder, kept across program starts (the reason of a failed
// run must still be there after the next one), one time-stamped entry per call, lines ending
// in CR LF, continuation lines aligned under the first.
#pragma once

#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>

#include "support/app_paths.h"
#include "support/clock.h"

namespace ferrolyte {

class LogFile {
 public:
  // Entries go to `path`, stamped with the clock's local time (which must outlive this).
  explicit LogFile(std::string path, const Clock& clock = SystemClock())
      : path_(std::move(path)), clock_(clock) {}

  // With it on, the first entry empties the file instead of appending (the clearlog option).
  void set_clear_first(bool on) { clear_first_ = on; }
  // A log grown past this is moved to "<log>.1" when the next program start begins.
  static constexpr uintmax_t kRotateBytes = 10 * 1024 * 1024;

  // Creates the log's folder; a log past kRotateBytes replaces "<log>.1".
  void Init();
  // Appends one entry, or starts the file with it (see set_clear_first). Raises the file
  // error when the log cannot be written. Entries from several threads do not interleave.
  void Write(const std::string& message);
  const std::string& path() const { return path_; }

 private:
  const std::string path_;
  const Clock& clock_;
  std::mutex mutex_;
  bool clear_first_ = false;
  bool first_write_ = true;
};

// "yyyy-mm-dd hh:mm:ss" of the broken-down local time.
std::string FormatTimeStamp(const std::tm& time);

// The entry as written: time stamp, tab, message; each line break inside the message
// (CR LF or a lone LF) followed by 19 spaces and a tab; a final CR LF.
std::string FormatLogEntry(const std::tm& time, const std::string& message);

}  // namespace ferrolyte
