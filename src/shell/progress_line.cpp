#include "shell/progress_line.h"

namespace ferrolyte {
namespace {

bool Continuation(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Characters on the screen, counting a UTF-8 sequence as one.
size_t Columns(const std::string& text) {
  size_t n = 0;
  for (char c : text) n += !Continuation(c);
  return n;
}

// The first `columns` characters, never cutting a UTF-8 sequence.
std::string Head(const std::string& text, size_t columns) {
  size_t at = 0;
  for (size_t seen = 0; at < text.size(); ++at) {
    if (!Continuation(text[at]) && seen++ == columns) break;
  }
  return text.substr(0, at);
}

}  // namespace

std::string ProgressLine(const std::string& text, int percent, const ProgressFigures& figures,
                         size_t width) {
  std::string tail = "  " + std::to_string(percent) + "%";
  const std::string numbers = ProgressFiguresText(figures);
  if (!numbers.empty()) tail += "  " + numbers;
  const std::string line = "  " + text + tail;
  // The last column stays free: a character there moves some terminals to the next line.
  if (width == 0 || Columns(line) < width) return line;
  const size_t room = width - 1;
  const size_t tail_columns = Columns(tail);
  if (tail_columns + 2 + 3 >= room) return Head(line, room);
  return "  " + Head(text, room - tail_columns - 2 - 3) + "..." + tail;
}

}  // namespace ferrolyte
