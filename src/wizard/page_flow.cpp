#include "wizard/page_flow.h"

#include "support/errors.h"
#include "support/product.h"
#include "support/safe.h"
#include "support/text.h"
#include "wizard/settings.h"
#include "wizard/source_check.h"

namespace ferrolyte {
namespace {

using B = NavButton;

const std::vector<WizardPage>& Pages() {
  static const std::vector<WizardPage> pages = {
      {"WELCOME",
       "frameLoadSettings",
       std::string(kProductTitle) + " Conversion",
       "This wizard will lead you through the conversion of a MS Access database to a "
       "PostgreSQL database or dump file.",
       {B::kBack, B::kNext, B::kCancel},
       true,
       std::nullopt,
       B::kNext,
       B::kNext,
       false},
      {"SOURCE",
       "frameSource",
       "Source Database",
       "Specify which MS Access database to use as data source for the transfer.",
       {B::kBack, B::kNext, B::kCancel},
       false,
       B::kNext,
       B::kBack,
       B::kNext,
       true},
      {"DESTINATION",
       "frameDestination",
       "Destination Database",
       std::string("Specify the ") + "PostgreSQL" +
           " destination database and connection information.",
       {B::kBack, B::kNext, B::kCancel},
       false,
       B::kNext,
       B::kBack,
       B::kNext,
       true},
      {"SELECT_TABLES",
       "frameSelectTables",
       "Select Tables",
       "Select the tables you want to transfer from the source database to the destination "
       "database.",
       {B::kBack, B::kNext, B::kCancel},
       false,
       B::kNext,
       B::kBack,
       B::kNext,
       true},
      {"TRANSFER_OPTIONS",
       "frameTransferOptions",
       "Transfer Options",
       "Use this page to set some options that will affect the database transfer.",
       {B::kBack, B::kCancel, B::kFinish},
       false,
       B::kFinish,
       B::kFinish,
       B::kFinish,
       true},
      {"PROGRESS",
       "frameProgress",
       "Conversion In Progress",
       "The conversion is now running. This might take a while.",
       {B::kCancel},
       false,
       B::kCancel,
       B::kCancel,
       std::nullopt,
       false},
      {"SAVESETTINGS",
       "frameSaveSettings",
       "Conversion Result",
       "This page displays a summary of the conversion.",
       {B::kBack, B::kExit},
       false,
       B::kExit,
       B::kExit,
       B::kExit,
       false},
  };
  return pages;
}

constexpr char kFailedConnect[] = "The program could not connect to the source database.";

// Leaving the source page forward: the guard and the check, with the step they are at.
void LeaveSourcePage(WizardView& view, std::string& page, int& step) {
  step = 170;
  const SourceEntry source = view.Source();
  if (source.file.empty()) {
    step = 240;
    view.messages().Show("You must select a source database.", kMsgInformation, kProductTitle,
                         kAnswerOk);
    return;
  }
  step = 180;
  std::string error_text, help_address;
  if (ValidateSource(source.file, source.system_database, source.user, source.password,
                     view.components(), error_text, help_address)) {
    step = 190;
    ShowWizardPage(view, page, "DESTINATION", true);
    return;
  }
  step = 200;
  if (!help_address.empty()) {
    step = 220;
    const int answer =
        view.messages().Show(std::string(kFailedConnect) + "\r\n\r\n" + error_text +
                                 "\r\n\r\nDo you want to open the URL in a browser?",
                             kMsgExclamation | kMsgYesNoCancel, kProductTitle, kAnswerOk);
    if (answer == kAnswerYes) {
      step = 230;
      view.OpenDocument(help_address);
    }
  } else {
    step = 210;
    view.messages().Show(std::string(kFailedConnect) + "\r\n\r\n" + error_text, kMsgExclamation,
                         kProductTitle, kAnswerOk);
  }
}

constexpr char kNoTables[] = "Select at least one table";

// A tree with tables of which none is ticked cannot run: it would move nothing and say
// "completed". A source without tables may.
bool RefuseEmptySelection(WizardView& view) {
  const TableCount count = view.SelectedTables();
  if (count.total == 0 || count.selected > 0) return false;
  view.messages().Show(kNoTables, kMsgInformation, kProductTitle, kAnswerOk);
  return true;
}

// Leaving the destination page forward: the entries a run needs, then, for a direct
// transfer, the server itself, so that a wrong login shows here and not after Run Now.
void LeaveDestinationPage(WizardView& view, std::string& page, int& step) {
  step = 280;
  const DictionaryPtr settings = view.BuildSettings();
  const DictionaryPtr section = SettingsSection(settings);
  const EntryProblem problem = DestinationProblem(section);
  if (!problem.text.empty()) {
    view.messages().Show(problem.text, kMsgExclamation, kProductTitle, kAnswerOk);
    if (!problem.control.empty()) view.FocusControl(problem.control);
    return;
  }
  if (section && EqualsIgnoreCase(SafeStr(section->Item("destinationmethod")), "DIRECT")) {
    const std::string error = view.TryDestination(settings);
    if (!error.empty()) {
      view.messages().Show(
          "The program could not connect to the PostgreSQL server.\r\n\r\n" + error,
          kMsgExclamation, kProductTitle, kAnswerOk);
      return;
    }
  }
  step = 290;
  ShowWizardPage(view, page, "SELECT_TABLES", true);
}

// What a command does on a page: show another page, leave the source or destination page
// through its check, or start the run. `step` is the line an error on the way is reported at.
enum class Move { kShow, kLeaveSource, kLeaveDestination, kRun };

struct Transition {
  const char* page;
  const char* command;  // nullptr: any command
  Move move;
  const char* target;
  bool forward;
  int step;
  bool needs_tables = false;  // refused while no table is ticked
};

constexpr Transition kTransitions[] = {
    {"INIT", nullptr, Move::kShow, "WELCOME", true, 110},
    {"WELCOME", "NEXT", Move::kShow, "SOURCE", true, 140},
    {"SOURCE", "NEXT", Move::kLeaveSource, "", true, 160},
    {"SOURCE", "BACK", Move::kShow, "WELCOME", false, 260},
    {"DESTINATION", "NEXT", Move::kLeaveDestination, "", true, 280},
    {"DESTINATION", "BACK", Move::kShow, "SOURCE", false, 310},
    {"SELECT_TABLES", "NEXT", Move::kShow, "TRANSFER_OPTIONS", true, 340, true},
    {"SELECT_TABLES", "BACK", Move::kShow, "DESTINATION", false, 360},
    {"TRANSFER_OPTIONS", "FINISH", Move::kRun, "", true, 390, true},
    {"TRANSFER_OPTIONS", "BACK", Move::kShow, "SELECT_TABLES", false, 410},
    {"SAVESETTINGS", "BACK", Move::kShow, "TRANSFER_OPTIONS", false, 440},
};

void Navigate(WizardView& view, std::string& page, const std::string& command, int& step) {
  step = 100;
  for (const Transition& t : kTransitions) {
    if (page != t.page || (t.command && command != t.command)) continue;
    step = t.step;
    if (t.needs_tables && RefuseEmptySelection(view)) return;
    switch (t.move) {
      case Move::kShow:
        ShowWizardPage(view, page, t.target, t.forward);
        break;
      case Move::kLeaveSource:
        LeaveSourcePage(view, page, step);
        break;
      case Move::kLeaveDestination:
        LeaveDestinationPage(view, page, step);
        break;
      case Move::kRun:
        view.NavigateRun(page);
        break;
    }
    return;
  }
}

Error NavigationError(int32_t number, const std::string& description, int step) {
  return Error(number, "Velkan.modWizard.WizardNavigate",
               "modWizard component failure. Velkan.modWizard.WizardNavigate line " +
                   std::to_string(step) + ". " + description);
}

}  // namespace

const char* NavButtonName(NavButton button) {
  switch (button) {
    case B::kBack:
      return "cmdBack";
    case B::kCancel:
      return "cmdCancel";
    case B::kExit:
      return "cmdExit";
    case B::kFinish:
      return "cmdFinish";
    case B::kNext:
      return "cmdNext";
  }
  return "";
}

const std::vector<std::string>& PageFrames() {
  static const std::vector<std::string> frames = {
      "frameDestination",  "frameLoadSettings",    "frameProgress",    "frameSource",
      "frameSelectTables", "frameTransferOptions", "frameSaveSettings"};
  return frames;
}

const WizardPage* FindWizardPage(const std::string& name) {
  for (const WizardPage& page : Pages()) {
    if (page.name == name) return &page;
  }
  return nullptr;
}

void ShowWizardPage(WizardView& view, std::string& page, const std::string& name, bool forward) {
  const WizardPage* target = FindWizardPage(name);
  if (!target) throw Error(errc::kInvalidCall, "Invalid procedure call or argument");
  view.ShowFrame(target->frame);
  for (NavButton button : target->buttons) view.ShowButton(button);
  if (target->back_disabled) view.DisableButton(NavButton::kBack);
  view.SetDefaultButton(target->default_button);
  const std::optional<NavButton> focus = forward ? target->focus_forward : target->focus_backward;
  if (!(target->has_fields && view.FocusFirstField(target->frame)) && focus)
    view.FocusButton(*focus);
  page = target->name;
  view.SetHeader(target->title, target->note);
  if (target->name == "SELECT_TABLES") view.SelectTablesShown(forward);
}

void WizardNavigate(WizardView& view, std::string& page, const std::string& command) {
  int step = 0;
  try {
    Navigate(view, page, command, step);
  } catch (const Error& e) {
    throw NavigationError(e.number(), e.description(), step);
  } catch (const std::exception& e) {
    throw NavigationError(errc::kUnspecified.number, e.what(), step);
  }
}

}  // namespace ferrolyte
