#include "shell/startup.h"

#include <cstdio>

#include "platform/register.h"
#include "shell/command_line.h"
#include "shell/error_report.h"
#include "shell/log_status.h"
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

const char kSelectATable[] = "Select at least one table";

// The source has tables but the selection names none of them (empty entries select nothing):
// a run would move nothing while the person expects tables.
bool SelectsNoTable(const DictionaryPtr& settings, const SchemaModel& schema) {
  if (TablesOfSchema(schema).empty()) return false;
  const Value& entries = SettingsSection(settings)->Item("sourcetables");
  if (entries.IsText()) return entries.Text().empty();
  if (!entries.IsList()) return false;
  for (const Value& entry : entries.List())
    if (!SafeStr(entry).empty()) return false;
  return true;
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

// One program start, as its steps; `step_` names the one under way for the error report.
class Startup {
 public:
  Startup(const std::vector<std::string>& args, WindowHooks* window, const StartupParts& parts)
      : args_(args),
        window_(window),
        parts_(parts),
        program_(components_, parts.end, parts.env),
        log_status_(program_.log, SignalStop()) {}

  int Run();

 private:
  void ParseCommandLine();
  void StartLog();
  void CountRun();
  void CheckDependencies();
  void PrepareWindow();
  std::string SettingsFileName();
  DictionaryPtr LoadSettings(const std::string& settings_file);
  void ReadPasswordOption();
  DictionaryPtr CompleteSettings(DictionaryPtr settings);
  [[noreturn]] void RunAutorun(const DictionaryPtr& settings);
  [[noreturn]] void EndWithoutWindow();
  void ShowWindow();
  StatusOutput& Status() { return window_ ? window_->Status() : log_status_; }

  const std::vector<std::string>& args_;
  WindowHooks* window_;
  const StartupParts& parts_;
  const ComponentRegistry components_ = PlatformComponents();
  Program program_;
  LogStatus log_status_;
  std::string step_ = "Initializing";
  std::string raw_command_line_;
  DictionaryPtr options_;
};

int Startup::Run() {
  if (window_) window_->Attach(program_);
  program_.messages = Messages(window_ ? &window_->Presenter() : parts_.presenter);
  try {
    ParseCommandLine();
    StartLog();
    CountRun();
    CheckDependencies();
    PrepareWindow();
    const std::string settings_file = SettingsFileName();
    DictionaryPtr settings = LoadSettings(settings_file);
    ReadPasswordOption();
    settings = CompleteSettings(std::move(settings));
    if (window_) {
      step_ = "Set gui values";
      window_->ApplySettings(settings);
    }
    step_ = "Check autorun";
    if (program_.options.autorun) RunAutorun(settings);
    if (!window_) EndWithoutWindow();
    ShowWindow();
  } catch (const Error& e) {
    ErrorHandler(program_, "Form_Load", e.number(), e.description(), step_);
  } catch (const std::exception& e) {
    ErrorHandler(program_, "Form_Load", 51, e.what(), step_);
  }
  return window_->Run();
}

void Startup::ParseCommandLine() {
  step_ = "Parse command line";
  raw_command_line_ = JoinCommandLine(args_);
  options_ = ::ferrolyte::ParseCommandLine(raw_command_line_, false);
  ProgramOptions& options = program_.options;
  options.autorun = HasOption(options_, "autorun");
  options.hide = HasOption(options_, "hide");
  options.clear_log = HasOption(options_, "clearlog");
  options.unit_test = HasOption(options_, "unittest");
  program_.messages = Messages(window_ ? &window_->Presenter() : parts_.presenter, options.hide);
  program_.log.set_clear_first(options.clear_log);
}

void Startup::StartLog() {
  step_ = "Init Log";
  program_.log.Init();
  step_ = "Begin";
  program_.log.Write("Begin");
}

void Startup::CountRun() {
  step_ = "Increase usage counter";
  const int64_t count =
      int64_t{
          SafeLng(Value(GetSetting(program_.env, kSettingsAppName, "Usage", "RunCount", "0")))} +
      1;
  SaveSetting(program_.env, kSettingsAppName, "Usage", "RunCount", std::to_string(count));
  program_.log.Write("Run count is " + std::to_string(count));
  program_.log.Write("Commandline: " + raw_command_line_);
}

void Startup::CheckDependencies() {
  step_ = "Check dependencies";
  parts_.services.check_dependencies(Status(), program_.messages, program_.components);
  if (window_) window_->PrepareControls();
}

void Startup::PrepareWindow() {
  step_ = "Init program";
  if (!window_) return;
  step_ = "Init form";
  window_->InitForm();
  step_ = "Remove tabstop from controls of type PictureBox";
  window_->RemovePictureTabStops();
  step_ = "Move the frames into position";
  window_->LayoutPageFrames();
  step_ = "Set tab order";
  window_->SetTabOrder();
}

// The settings option, or the per-user wizard.ini; autorun without the option ends here.
std::string Startup::SettingsFileName() {
  step_ = "Get settings file name";
  const std::string settings_option = SafeStr(options_->Item("settings"));
  if (settings_option.empty() && program_.options.autorun) {
    program_.log.Write(kAutorunNeedsSettings);
    program_.messages.Show(kAutorunNeedsSettings, kMsgExclamation, kSettingsAppName, kAnswerOk);
    EndProgram(program_, kExitSettings);
  }
  return settings_option.empty() ? DefaultSettingsFile(program_.env) : settings_option;
}

// A file that cannot be loaded ends an unattended run; the window warns and goes on with the
// defaults (silently for a missing wizard.ini).
DictionaryPtr Startup::LoadSettings(const std::string& settings_file) {
  step_ = "Load settings from " + settings_file;
  const bool autorun = program_.options.autorun;
  std::string failure;
  DictionaryPtr settings = LoadSettingsFile(settings_file, failure);
  // An unattended run must not go on with settings nobody chose: a file without the
  // settings section would otherwise convert the defaults.
  if (failure.empty() && autorun && !SettingsSection(settings))
    failure = std::string("The file has no [") + kSettingsSection + "] section.";
  if (!failure.empty() && (settings_file != DefaultSettingsFile(program_.env) || autorun)) {
    const std::string message = "Unable to load ini file: " + SafeStr(options_->Item("settings")) +
                                "\r\nDefault settings applied.";
    program_.log.Write("Reason: " + failure);
    if (autorun && !program_.options.hide)
      std::fprintf(stderr, "%s: %s\n", kSettingsAppName, failure.c_str());
    if (autorun) HaltError(program_, message, kExitSettings);
    program_.messages.Show(message, kMsgExclamation, kSettingsAppName, kAnswerOk);
  }
  return settings;
}

void Startup::ReadPasswordOption() {
  step_ = "Read password option from registry";
  const bool save =
      GetSetting(program_.env, kSettingsAppName, "Settings", "SavePasswords", "0") == "1";
  program_.options.save_passwords = save;
  SaveSetting(program_.env, kSettingsAppName, "Settings", "SavePasswords", save ? "1" : "0");
}

DictionaryPtr Startup::CompleteSettings(DictionaryPtr settings) {
  step_ = "Initialize the ini";
  if (!SettingsSection(settings)) settings = DefaultSettings(program_.env);
  DictionaryPtr section = SettingsSection(settings);
  if (SafeStr(section->Item("maintenancedb")).empty()) section->Set("maintenancedb", "postgres");
  return settings;
}

void Startup::RunAutorun(const DictionaryPtr& settings) {
  InstallInterruptHandler();
  RunContext ctx{Status(),     SignalStop(),           program_.components,
                 program_.env, program_.VersionText(), ""};
  ctx.end_now = &SignalEnd();
  EndProgram(program_, RunUnattended(program_, settings, parts_.services, ctx));
}

void Startup::EndWithoutWindow() {
  program_.log.Write(kNoWindow);
  std::fprintf(stderr, "%s\n", kNoWindow);
  EndProgram(program_, kExitSettings);
}

void Startup::ShowWindow() {
  step_ = "Scale dialog";
  window_->ScaleDialog();
  step_ = "UpdateSecurityFields";
  window_->UpdateSecurityFields();
  step_ = "Wizard NEXT";
  window_->Navigate("NEXT");
}

}  // namespace

int RunUnattended(Program& program, const DictionaryPtr& settings,
                  const ConversionServices& services, const RunContext& ctx) {
  DictionaryPtr section = SettingsSection(settings);
  if (const std::string problem = SettingsProblem(section); !problem.empty())
    HaltError(program, problem, kExitSettings);
  SourceFields source{
      SafeStr(section->Item("sourcefilename")), SafeStr(section->Item("sourcepassword")),
      SafeStr(section->Item("sourceusername")), SafeStr(section->Item("sourcesystemdatabase"))};
  // The run's own folder for the schema's file copy, gone when the run ends.
  const PrivateFolder run_folder(TempFolder(ctx.env));
  RunContext scan_ctx = ctx;
  scan_ctx.temp_folder = run_folder.path();
  const SchemaModel schema = services.scan(source, scan_ctx);
  ExpandAllTables(settings, schema);
  if (SelectsNoTable(settings, schema)) HaltError(program, kSelectATable, kExitSettings);
  std::string run_report;
  RunOutcome outcome;
  try {
    outcome = services.convert(settings, run_report, schema, ctx);
  } catch (...) {
    // What the run reported before it failed still belongs in the log.
    if (!run_report.empty()) program.log.Write(run_report);
    throw;
  }
  program.log.Write(run_report);
  if (TerminationRequested()) return TerminationExitStatus();
  return outcome.ExitStatus();
}

bool WantsAutorun(const std::vector<std::string>& args) {
  return HasOption(ParseCommandLine(JoinCommandLine(args), false), "autorun");
}

int RunProgram(const std::vector<std::string>& args, WindowHooks* window,
               const StartupParts& parts) {
  return Startup(args, window, parts).Run();
}

int RunProgram(const std::vector<std::string>& args, WindowHooks* window) {
  return RunProgram(args, window, StartupParts{});
}

}  // namespace ferrolyte
