#include "wizard/run_page.h"

#include "support/errors.h"
#include "support/files.h"
#include "wizard/form_settings.h"
#include "wizard/ini_file.h"
#include "wizard/settings.h"

namespace ferrolyte {
namespace {

constexpr int32_t kMissingDriver = 1004;
constexpr int32_t kGenericError = -2147467259;

}  // namespace

RunOutcome WizardNavigateRun(RunPageView& view, std::string& page, std::string& run_report,
                             const RunConversion& convert, const RunPageOptions& options) {
  int step = 0;
  RunOutcome outcome;
  auto finish = [&] {
    step = 310;
    view.SetTransferRunning(false);
    step = 320;
    view.Status().WriteLog(run_report);
    step = 330;
    view.SetBusyPointer(false);
    step = 340;
    ShowResultPage(view, page, run_report);
  };
  try {
    step = 100;
    if (!options.autorun) {
      step = 110;
      DictionaryPtr kept = view.BuildSettings();
      step = 130;
      if (!options.save_passwords) BlankPasswords(kept);
      step = 160;
      MkDirRecurse(SettingsFolder());
      step = 170;
      WriteIniFile(kept, DefaultSettingsFile());
    }
    step = 190;
    view.ShowFrame("frameProgress");
    step = 200;
    view.ShowButton(NavButton::kCancel);
    step = 210;
    view.FocusButton(NavButton::kCancel);
    step = 220;
    page = "PROGRESS";
    step = 230;
    view.SetHeader("Conversion In Progress",
                   "The conversion is now running. This might take a while.");
    step = 250;
    view.ClearStatusList();
    step = 260;
    run_report.clear();
    step = 270;
    const DictionaryPtr settings = view.BuildSettings();
    step = 280;
    view.SetBusyPointer(true);
    step = 290;
    view.CancelRequest().store(false);
    step = 300;
    view.SetTransferRunning(true);
    outcome = convert(settings, run_report, view.Status());
    finish();
  } catch (const Error& e) {
    view.SetTransferRunning(false);
    if (e.number() != kMissingDriver) {
      throw Error(e.number(), "Velkan.modWizard.WizardNavigateRun",
                  "Error in modWizard.WizardNavigateRun line " + std::to_string(step) + ". " +
                      std::to_string(e.number()) + ": " + e.description());
    }
    run_report += "\r\nERROR\r\n------------\r\n" + e.description() + "\r\n";
    view.messages().Show(e.description(), kMsgExclamation, "Missing ODBC Driver", kAnswerOk);
    outcome = RunOutcome{};
    outcome.result = RunResult::kFailed;
    outcome.reason = e.description();
    finish();
  } catch (const std::exception& e) {
    view.SetTransferRunning(false);
    throw Error(kGenericError, "Velkan.modWizard.WizardNavigateRun",
                "Error in modWizard.WizardNavigateRun line " + std::to_string(step) + ". " +
                    std::to_string(kGenericError) + ": " + e.what());
  }
  return outcome;
}

void ShowResultPage(RunPageView& view, std::string& page, const std::string& run_report) {
  view.ShowFrame("frameSaveSettings");
  view.ShowButton(NavButton::kBack);
  view.SetHeader("Conversion Result", "This page displays a summary of the conversion.");
  view.ShowButton(NavButton::kExit);
  view.FocusButton(NavButton::kExit);
  page = "SAVESETTINGS";
  view.ShowReport(run_report);
}

}  // namespace ferrolyte
