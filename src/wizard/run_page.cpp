#include "wizard/run_page.h"

#include <cctype>
#include <string_view>

#include "support/errors.h"
#include "support/files.h"
#include "support/product.h"
#include "support/safe.h"
#include "support/text.h"
#include "wizard/form_settings.h"
#include "wizard/ini_file.h"
#include "wizard/settings.h"

namespace ferrolyte {
namespace {

constexpr int32_t kMissingDriver = errc::kNoOdbcDriver.number;
constexpr int32_t kGenericError = errc::kUnspecified.number;

// Characters a POSIX shell takes literally in a word.
bool ShellSafe(const std::string& text) {
  if (text.empty()) return false;
  for (unsigned char c : text) {
    if (!(std::isalnum(c) ||
          std::string_view("/._-+:@,=%").find(static_cast<char>(c)) != std::string_view::npos))
      return false;
  }
  return true;
}

std::string FirstError(const RunOutcome& outcome) {
  if (outcome.result == RunResult::kFailed)
    return outcome.reason.empty() ? "the run ended early" : outcome.reason;
  if (outcome.result != RunResult::kCompletedWithFailures) return "";
  for (const TableOutcome& table : outcome.tables) {
    if (table.result == TableResult::kFailed || table.result == TableResult::kPartial)
      return OneLine(table.source_name) + ": " + table.reason;
  }
  return outcome.rejected.empty() ? "" : outcome.rejected.front();
}

}  // namespace

std::string DumpLoadCommand(const std::string& dump_file) {
  const std::string file =
      ShellSafe(dump_file) ? dump_file : "'" + ReplaceAll(dump_file, "'", "'\\''") + "'";
  return "psql -v ON_ERROR_STOP=1 -d postgres -f " + file;
}

ResultLines ResultLinesOf(const RunOutcome& outcome, const DictionaryPtr& settings) {
  ResultLines lines;
  lines.first_error = FirstError(outcome);
  const DictionaryPtr section = SettingsSection(settings);
  // Only a complete dump has its name; the rest is left as ".incomplete".
  if (section && outcome.result == RunResult::kCompleted &&
      EqualsIgnoreCase(SafeStr(section->Item("destinationmethod")), "DUMP")) {
    lines.load_command = DumpLoadCommand(SafeStr(section->Item("destinationdumpfilename")));
  }
  return lines;
}

namespace {

// Keeps the page's settings as the default settings file, passwords blanked unless they are
// saved; an autorun keeps none. `step` says how far it got, for the error message.
void SaveRunSettings(RunPageView& view, const RunPageOptions& options, int& step) {
  step = 100;
  if (options.autorun) return;
  step = 110;
  DictionaryPtr kept = view.BuildSettings();
  step = 130;
  if (!options.save_passwords) BlankPasswords(kept);
  step = 160;
  MkDirRecurse(FolderPart(options.settings_file));
  step = 170;
  WriteIniFile(kept, options.settings_file);
}

// Shows the progress page, Cancel its only button, with an empty status list and report.
void ShowProgressPage(RunPageView& view, std::string& page, std::string& run_report, int& step) {
  step = 190;
  view.ShowFrame("frameProgress");
  step = 200;
  view.ShowButton(NavButton::kCancel);
  step = 210;
  view.FocusButton(NavButton::kCancel);
  view.SetDefaultButton(std::nullopt);
  step = 220;
  page = "PROGRESS";
  step = 230;
  view.SetHeader("Conversion In Progress",
                 "The conversion is now running. This might take a while.");
  step = 250;
  view.ClearStatusList();
  step = 260;
  run_report.clear();
}

// Ends the run on the page: the transfer stopped, the report in the log, the result page,
// and the first error in a message unless `told` has said why the run failed already.
void FinishRun(RunPageView& view, std::string& page, const std::string& run_report,
               const RunOutcome& outcome, const DictionaryPtr& settings, bool told, int& step) {
  step = 310;
  view.SetTransferRunning(false);
  step = 320;
  view.Status().WriteLog(run_report);
  step = 330;
  view.SetBusyPointer(false);
  step = 340;
  const ResultLines lines = ResultLinesOf(outcome, settings);
  ShowResultPage(view, page, run_report, lines);
  if (!lines.first_error.empty() && !told) {
    view.messages().Show(
        "The conversion did not complete. The first error:\r\n\r\n" + lines.first_error,
        kMsgExclamation, kProductTitle, kAnswerOk);
  }
}

}  // namespace

RunOutcome WizardNavigateRun(RunPageView& view, std::string& page, std::string& run_report,
                             const RunConversion& convert, const RunPageOptions& options) {
  int step = 0;
  RunOutcome outcome;
  DictionaryPtr settings;
  try {
    SaveRunSettings(view, options, step);
    ShowProgressPage(view, page, run_report, step);
    step = 270;
    settings = view.BuildSettings();
    step = 280;
    view.SetBusyPointer(true);
    step = 290;
    view.CancelRequest().store(false);
    step = 300;
    view.SetTransferRunning(true);
    outcome = convert(settings, run_report, view.Status());
    FinishRun(view, page, run_report, outcome, settings, false, step);
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
    // The message above has told why the run failed.
    FinishRun(view, page, run_report, outcome, settings, true, step);
  } catch (const std::exception& e) {
    view.SetTransferRunning(false);
    throw Error(kGenericError, "Velkan.modWizard.WizardNavigateRun",
                "Error in modWizard.WizardNavigateRun line " + std::to_string(step) + ". " +
                    std::to_string(kGenericError) + ": " + e.what());
  }
  return outcome;
}

void ShowResultPage(RunPageView& view, std::string& page, const std::string& run_report,
                    const ResultLines& lines) {
  view.ShowFrame("frameSaveSettings");
  view.ShowButton(NavButton::kBack);
  view.SetHeader("Conversion Result", "This page displays a summary of the conversion.");
  view.ShowButton(NavButton::kExit);
  view.FocusButton(NavButton::kExit);
  view.SetDefaultButton(NavButton::kExit);
  page = "SAVESETTINGS";
  view.ShowReport(run_report);
  view.ShowResultLines(lines);
}

}  // namespace ferrolyte
