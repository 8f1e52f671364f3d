#include "shell/startup.h"

#include <cstdio>

#include "shell/command_line.h"
#include "shell/error_report.h"
#include "shell/log.h"
#include "shell/log_status.h"
#include "shell/messages.h"
#include "shell/program_flags.h"
#include "support/errors.h"
#include "support/files.h"
#include "support/safe.h"
#include "wizard/ini_file.h"
#include "wizard/settings.h"
#include "wizard/settings_store.h"
#include "wizard/table_selection.h"

namespace ferrolyte {
namespace {

const char kAutorunNeedsSettings[] =
    "When you set the \"autorun\" parameter you must also specify a value for the "
    "\"settings\" prarameter.";

const char kNoWindow[] =
    "Ferrolyte cannot show its window here (no display, or a build without the window).\n"
    "Start an unattended conversion with:\n"
    "  ferrolyte settings=FILE.ini autorun\n"
    "  ferrolyte convert SOURCE --dump FILE   (ferrolyte --help shows every form)";

void CountRun(const std::string& raw_command_line) {
  int64_t count =
      int64_t{SafeLng(Value(GetSetting(kSettingsAppName, "Usage", "RunCount", "0")))} + 1;
  SaveSetting(kSettingsAppName, "Usage", "RunCount", std::to_string(count));
  WriteLog("Run count is " + std::to_string(count));
  WriteLog("Commandline: " + raw_command_line);
}

// Reads and normalises the file; on failure tells why (the caller decides whether to say so).
DictionaryPtr LoadSettingsFile(const std::string& file, std::string& failure) {
  DictionaryPtr settings;
  try {
    settings = ReadIniFile(file);
    NormalizeSettings(settings);
  } catch (const Error& e) {
    failure = e.description();
  } catch (const std::exception& e) {
    failure = e.what();
  }
  return settings;
}

}  // namespace

int RunUnattended(const DictionaryPtr& settings, const ConversionServices& services,
                  StatusOutput& status) {
  DictionaryPtr section = SettingsSection(settings);
  if (const std::string problem = SettingsProblem(section); !problem.empty())
    HaltError(problem, kExitSettings);
  SourceFields source{
      SafeStr(section->Item("sourcefilename")), SafeStr(section->Item("sourcepassword")),
      SafeStr(section->Item("sourceusername")), SafeStr(section->Item("sourcesystemdatabase"))};
  // The run's own folder for the schema's file copy, gone when the run ends.
  const PrivateFolder run_folder(SpecialFolder(SpecialFolderId::kTemp).value_or("/tmp"));
  const std::string schema_xml = services.scan(source, run_folder.path(), status);
  ExpandAllTables(settings, schema_xml);
  std::string run_report;
  RunOutcome outcome;
  try {
    outcome = services.convert(settings, run_report, schema_xml, status);
  } catch (...) {
    // What the run reported before it failed still belongs in the log.
    if (!run_report.empty()) WriteLog(run_report);
    throw;
  }
  WriteLog(run_report);
  if (TerminationRequested()) return kExitTerminated;
  return outcome.ExitStatus();
}

bool WantsAutorun(const std::vector<std::string>& args) {
  return HasOption(ParseCommandLine(JoinCommandLine(args), false), "autorun");
}

int RunProgram(const std::vector<std::string>& args, WindowHooks* window,
               const ConversionServices& services) {
  const std::string procedure = "Form_Load";
  std::string step = "Initializing";
  LogStatus log_status;
  try {
    ProgramFlags& flags = Flags();
    flags.autorun = flags.hide = flags.clear_log = false;

    step = "Parse command line";
    const std::string raw_command_line = JoinCommandLine(args);
    DictionaryPtr options = ParseCommandLine(raw_command_line, false);
    flags.autorun = HasOption(options, "autorun");
    flags.hide = HasOption(options, "hide");
    flags.clear_log = HasOption(options, "clearlog");
    flags.unit_test = HasOption(options, "unittest");
    flags.success_command = SafeStr(options->Item("successcmd"));
    flags.error_command = SafeStr(options->Item("errorcmd"));
    flags.first_write = true;

    step = "Init Log";
    InitLog();

    step = "Begin";
    WriteLog("Begin");

    step = "Increase usage counter";
    CountRun(raw_command_line);

    step = "Check dependencies";
    StatusOutput& status = window ? window->Status() : log_status;
    services.check_dependencies(status);
    if (window) window->PrepareControls();

    step = "Init program";
    flags.abort_requested = false;

    if (window) {
      step = "Init form";
      window->InitForm();
      step = "Remove tabstop from controls of type PictureBox";
      window->RemovePictureTabStops();
      step = "Move the frames into position";
      window->LayoutPageFrames();
      step = "Set tab order";
      window->SetTabOrder();
    }

    step = "Get settings file name";
    DictionaryPtr settings;
    const std::string settings_option = SafeStr(options->Item("settings"));
    std::string settings_file = settings_option;
    if (settings_file.empty() && flags.autorun) {
      WriteLog(kAutorunNeedsSettings);
      ShowMessage(kAutorunNeedsSettings, kMsgExclamation, kSettingsAppName, kAnswerOk);
      EndProgram(kExitSettings);
    }
    if (settings_file.empty()) settings_file = DefaultSettingsFile();

    step = "Load settings from " + settings_file;
    std::string failure;
    settings = LoadSettingsFile(settings_file, failure);
    // An unattended run must not go on with settings nobody chose: a file without the
    // settings section would otherwise convert the defaults.
    if (failure.empty() && flags.autorun && !SettingsSection(settings))
      failure = std::string("The file has no [") + kSettingsSection + "] section.";
    if (!failure.empty() && (settings_file != DefaultSettingsFile() || flags.autorun)) {
      const std::string message =
          "Unable to load ini file: " + settings_option + "\r\nDefault settings applied.";
      WriteLog("Reason: " + failure);
      if (flags.autorun && !flags.hide)
        std::fprintf(stderr, "%s: %s\n", kSettingsAppName, failure.c_str());
      if (flags.autorun) HaltError(message, kExitSettings);
      ShowMessage(message, kMsgExclamation, kSettingsAppName, kAnswerOk);
    }

    step = "Read password option from registry";
    flags.save_passwords = GetSetting(kSettingsAppName, "Settings", "SavePasswords", "0") == "1";
    SaveSetting(kSettingsAppName, "Settings", "SavePasswords", flags.save_passwords ? "1" : "0");

    step = "Initialize the ini";
    if (!SettingsSection(settings)) settings = DefaultSettings();
    DictionaryPtr section = SettingsSection(settings);
    if (SafeStr(section->Item("maintenancedb")).empty()) section->Set("maintenancedb", "postgres");

    if (window) {
      step = "Set gui values";
      window->ApplySettings(settings);
    }

    step = "Check autorun";
    if (flags.autorun) {
      InstallInterruptHandler();
      EndProgram(RunUnattended(settings, services, status));
    }

    if (!window) {
      WriteLog(kNoWindow);
      std::fprintf(stderr, "%s\n", kNoWindow);
      EndProgram(kExitSettings);
    }

    step = "Scale dialog";
    window->ScaleDialog();
    step = "UpdateSecurityFields";
    window->UpdateSecurityFields();
    flags.current_page = "INIT";
    step = "Wizard NEXT";
    window->Navigate("NEXT");
  } catch (const Error& e) {
    ErrorHandler(procedure, e.number(), e.description(), step);
  } catch (const std::exception& e) {
    ErrorHandler(procedure, 51, e.what(), step);
  }
  return window->Run();
}

}  // namespace ferrolyte
