// Helpers shared by the window tests and the screenshot tool.
#pragma once

#include <string>

#include "shell/program.h"

class QString;
class QWidget;

namespace ferrolyte {

class MainForm;

// What a window test's program end throws instead of exiting.
struct ProgramEnded {
  int status;
};

// A program for a window test: every component, its log where LogFileName(SystemEnv()) points when
// it is made, an end that throws ProgramEnded. StartWindow shows its messages in the form.
struct WindowProgram : Program {
  WindowProgram();
};

// Attaches the form to the program, runs the window's part of start-up in the program's
// order and ends on the welcome page.
void StartWindow(MainForm& form, Program& program);

// Points the user folders (configuration, runtime, APPDATA) at fresh folders under the
// system temp folder, so that nothing is written to the real home. Call before the
// application object exists.
void UseScratchUserFolders();

// Picks the file in an open or save dialog as a user does: folder, typed name, button.
// Does nothing when modal is no file dialog.
void ChooseFile(QWidget* modal, const QString& path);

}  // namespace ferrolyte
