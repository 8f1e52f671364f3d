// The interactive program: the wizard window over the common start-up.
#pragma once

namespace ferrolyte {

// Creates the application and the main form, runs start-up with the window's hooks and
// returns when the window is closed. argv[1..] are the words of the command line.
int RunWizardWindow(int argc, char** argv);

}  // namespace ferrolyte
