// The wizard's pages and the navigation between them. The window shows the pages; which
// page comes next, what it shows and what is checked on the way lives here.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "support/components.h"
#include "support/messages.h"
#include "support/value.h"

namespace ferrolyte {

// The navigation buttons, in the order in which a page change resets them.
enum class NavButton { kBack, kCancel, kExit, kFinish, kNext };
inline constexpr NavButton kNavButtons[] = {NavButton::kBack, NavButton::kCancel, NavButton::kExit,
                                            NavButton::kFinish, NavButton::kNext};
// The button's control name ("cmdBack" ...).
const char* NavButtonName(NavButton button);

// One page: its frame, header texts, the buttons it shows, where the focus goes and the
// button Enter presses. A page with fields puts the focus on its first field; the focus
// buttons are for a page without any.
struct WizardPage {
  std::string name;
  std::string frame;
  std::string title;
  std::string note;
  std::vector<NavButton> buttons;
  bool back_disabled = false;
  std::optional<NavButton> focus_forward;
  std::optional<NavButton> focus_backward;
  std::optional<NavButton> default_button;
  bool has_fields = false;
};

// The page frames, in the order in which a page change walks them.
const std::vector<std::string>& PageFrames();
// The page of that name, or null ("INIT" and unknown names have none).
const WizardPage* FindWizardPage(const std::string& name);

// The source fields as the source page holds them.
struct SourceEntry {
  std::string file, password, user, system_database;
};

// The tables of the tree: how many there are and how many are ticked.
struct TableCount {
  int selected = 0;
  int total = 0;
};

// What navigation needs from the window.
class WizardView {
 public:
  virtual ~WizardView() = default;
  // Shows exactly the frame of that name, then enables and hides every navigation button.
  virtual void ShowFrame(const std::string& frame) = 0;
  virtual void ShowButton(NavButton button) = 0;
  virtual void DisableButton(NavButton button) = 0;
  virtual void FocusButton(NavButton button) = 0;
  // Focuses the first field of the frame in tab order; false when it has none.
  virtual bool FocusFirstField(const std::string& frame) = 0;
  // Focuses the control of that name.
  virtual void FocusControl(const std::string& name) = 0;
  // The button Enter presses from now on; none: Enter presses nothing.
  virtual void SetDefaultButton(std::optional<NavButton> button) = 0;
  virtual void SetHeader(const std::string& title, const std::string& note) = 0;
  virtual SourceEntry Source() = 0;
  // The settings dictionary of the controls, passwords included.
  virtual DictionaryPtr BuildSettings() = 0;
  // Tries the direct transfer's server connection of the settings; returns the driver's
  // message when it fails, empty when it opened.
  virtual std::string TryDestination(const DictionaryPtr& settings) = 0;
  virtual TableCount SelectedTables() = 0;
  // Asks the desktop to open the address; where nothing can, shows it.
  virtual void OpenDocument(const std::string& address) = 0;
  // The table page has been shown; forward entry scans the source when it changed.
  virtual void SelectTablesShown(bool forward) = 0;
  // Run Now on the options page: runs the conversion and sets the page it ends on.
  virtual void NavigateRun(std::string& page) = 0;
  // How messages are shown, and the classes the source check creates.
  virtual const Messages& messages() const = 0;
  virtual const ComponentRegistry& components() const = 0;
};

// The page routine: frame, buttons, focus, page name, header texts, in that order.
void ShowWizardPage(WizardView& view, std::string& page, const std::string& name, bool forward);

// Moves from the page with the command ("NEXT", "BACK", "FINISH"). Pairs without a
// transition change nothing. An error on the way is raised again with its number, the
// source "Velkan.modWizard.WizardNavigate" and the step number in its description.
void WizardNavigate(WizardView& view, std::string& page, const std::string& command);

}  // namespace ferrolyte
