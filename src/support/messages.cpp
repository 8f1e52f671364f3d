#include "support/messages.h"

#include <cstdio>

#include "support/text.h"

namespace ferrolyte {

int Messages::Show(const std::string& text, int style, const std::string& title,
                   int default_answer) const {
  if (hidden_) return default_answer;
  if (presenter_) return presenter_->Show(text, style, title);
  std::fprintf(stderr, "%s: %s\n", title.c_str(), ReplaceAll(text, "\r\n", "\n").c_str());
  std::fflush(stderr);
  return default_answer;
}

void Messages::CopyToClipboard(const std::string& text) const {
  if (presenter_) presenter_->CopyToClipboard(text);
}

}  // namespace ferrolyte
