// Helpers shared by the window tests and the screenshot tool.
#pragma once

#include <string>

class QString;
class QWidget;

namespace ferrolyte {

class MainForm;

// Runs the window's part of start-up in the program's order and ends on the welcome page.
void StartWindow(MainForm& form);

// Points the user folders (configuration, runtime, APPDATA) at fresh folders under the
// system temp folder, so that nothing is written to the real home. Call before the
// application object exists.
void UseScratchUserFolders();

// Picks the file in an open or save dialog as a user does: folder, typed name, button.
// Does nothing when modal is no file dialog.
void ChooseFile(QWidget* modal, const QString& path);

}  // namespace ferrolyte
