#include "shell/messages.h"

#include <cstdio>

#include "shell/program_flags.h"
#include "support/text.h"

namespace ferrolyte {
namespace {

// The window's presenter; it lives as long as the window does.
MessagePresenter*& Presenter() {
  static MessagePresenter* presenter = nullptr;
  return presenter;
}

}  // namespace

void SetMessagePresenter(MessagePresenter* presenter) {
  Presenter() = presenter;
}

int ShowMessage(const std::string& text, int style, const std::string& title, int default_answer) {
  if (Flags().hide) return default_answer;
  if (MessagePresenter* p = Presenter()) return p->Show(text, style, title);
  std::fprintf(stderr, "%s: %s\n", title.c_str(), ReplaceAll(text, "\r\n", "\n").c_str());
  std::fflush(stderr);
  return default_answer;
}

void CopyToClipboard(const std::string& text) {
  if (MessagePresenter* p = Presenter()) p->CopyToClipboard(text);
}

}  // namespace ferrolyte
