#include "shell/cli.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>

#include "conversion/dump_file.h"
#include "conversion/run_settings.h"
#include "platform/register.h"
#include "shell/command_line.h"
#include "shell/error_report.h"
#include "shell/log.h"
#include "shell/log_status.h"
#include "shell/password_prompt.h"
#include "shell/pg_target.h"
#include "shell/program.h"
#include "shell/run_summary.h"
#include "shell/startup.h"
#include "shell/table_listing.h"
#include "support/errors.h"
#include "support/files.h"
#include "support/product.h"
#include "support/safe.h"
#include "support/text.h"
#include "support/version.h"
#include "wizard/form_settings.h"
#include "wizard/ini_file.h"
#include "wizard/settings.h"
#include "wizard/settings_store.h"
#include "wizard/table_selection.h"

namespace ferrolyte {
namespace {

constexpr int kPasswordAttempts = 3;

const std::vector<OptionSpec> kTablesOptions = {
    {"help"}, {"columns"}, {"json"}, {"all"}, {"password-file", true}};

const std::vector<OptionSpec> kConvertOptions = {
    {"help"},
    {"dump", true},
    {"to", true},
    {"tables", true, true},
    {"exclude", true, true},
    {"set", true, true},
    {"settings", true},
    {"save-settings", true},
    {"password-file", true},
    {"replace-tables"},
    {"jobs", true},
    {"report-json", true},
    {"quiet"},
};

std::string VersionText() {
  return std::string(kProductTitle) + " " + ProgramVersion();
}

void Warn(const std::string& text) {
  std::fprintf(stderr, "%s: %s\n", kApplicationName, text.c_str());
}

std::string Absolute(const std::string& path) {
  return std::filesystem::absolute(path).lexically_normal().string();
}

// Comma lists, double quotes around a name that holds a comma; repeated options add up.
std::vector<std::string> NameList(const ParsedOptions& options, const std::string& option) {
  std::vector<std::string> names;
  auto given = options.values.find(option);
  if (given == options.values.end()) return names;
  for (const std::string& value : given->second)
    for (const std::string& name : SplitQuoted(value, ',', '"'))
      if (!name.empty()) names.push_back(name);
  return names;
}

// The key order of the wizard's own settings files, from the wizard's builder.
DictionaryPtr WizardKeys() {
  return SettingsSection(BuildSettingsFrom(FormSettings{}));
}

// Asks for the source password on the terminal when `open` refuses it and asking is allowed;
// a refusal that cannot be answered is raised as it came.
void OpenWithPassword(const std::string& file, std::string& password, bool may_ask,
                      const std::function<void(const std::string&)>& open) {
  for (int attempt = 1;; ++attempt) {
    try {
      open(password);
      return;
    } catch (const Error& e) {
      if (!IsPasswordRefusal(e.number()) || !may_ask || !CanPromptForPassword() ||
          attempt > kPasswordAttempts)
        throw;
      if (attempt > 1) Warn(e.description());
      std::optional<std::string> typed =
          PromptPassword("Password for " + FileNamePart(file) + ": ");
      if (!typed) throw;
      password = *typed;
    }
  }
}

// ---- tables ----

// The failure of a listing goes into the log like a run's, so that its report is there too.
int TablesFailed(const std::vector<std::string>& args, const std::string& file, int32_t number,
                 const std::string& description, bool password_hint) {
  LogFile log(LogFileName(SystemEnv()));
  try {
    log.Init();
    log.Write("Begin");
    log.Write("Commandline: " + JoinCommandLine(HideCommandLinePasswords(args)));
    log.Write(ErrorReportText("tables", number, description, "Read the tables",
                              {.named_error = true, .on_clipboard = false}));
    log.Write("End");
  } catch (const Error& e) {
    Warn("cannot write the log: " + e.description());
  }
  TellFailure("cannot read '" + file + "'", description);
  if (password_hint)
    Warn("give the password with --password-file F, or start on a terminal to be asked");
  Warn("the run's report is in " + log.path());
  return kExitFatal;
}

int RunTables(const ParsedOptions& options, const std::vector<std::string>& args) {
  const ComponentRegistry components = PlatformComponents();
  if (options.operands.empty()) throw UsageError("tables: no source database given");
  if (options.operands.size() > 1)
    throw UsageError("tables: unexpected argument '" + options.operands[1] + "'");
  const std::string file = options.operands[0];
  if (!PathIsFile(file)) throw UsageError("the source database '" + file + "' does not exist");
  std::string password;
  if (auto password_file = options.Get("password-file"))
    password = ReadPasswordFile(*password_file);

  std::vector<TableListing> tables;
  try {
    OpenWithPassword(file, password, !options.Has("password-file"), [&](const std::string& pw) {
      tables = ReadTableListing(file, pw, options.Has("all"), components);
    });
  } catch (const Error& e) {
    return TablesFailed(args, file, e.number(), e.description(),
                        IsPasswordRefusal(e.number()) && !options.Has("password-file"));
  } catch (const std::exception& e) {
    return TablesFailed(args, file, errc::kInternal.number, e.what(), false);
  }
  const std::string out =
      options.Has("json") ? TableListingJson(Absolute(file), tables, options.Has("columns"))
                          : FormatTableListing(tables, options.Has("columns"), options.Has("all"));
  std::fputs(out.c_str(), stdout);
  return kExitOk;
}

// ---- convert ----

struct ConvertRequest {
  DictionaryPtr settings;
  std::vector<std::string> tables, exclude;
  bool selection_given = false;  // sourcetables from the settings file or --set
  bool ask_password = true;
  std::optional<std::string> save_settings;
  bool replace_tables = false;
  std::optional<std::string> report_json;
  bool quiet = false;                 // only failures on standard error
  std::optional<RunOutcome> outcome;  // once the run has one
  bool report_written = false;        // the --report-json file
};

// What the run writes must be neither what it reads nor the same file twice: writing one
// would destroy the other before anything could be reported. Devices and pipes take any
// number of writers.
void CheckFilesWritten(const ParsedOptions& options, const Dictionary& section) {
  struct File {
    std::string what, path;
  };
  std::vector<File> written,
      read = {
          {"the source database", SafeStr(section.Item("sourcefilename"))},
          {"the workgroup file", SafeStr(section.Item("sourcesystemdatabase"))},
      };
  // Also a dump that a settings file names.
  const std::string dump = SafeStr(section.Item("destinationdumpfilename"));
  if (EqualsIgnoreCase(SafeStr(section.Item("destinationmethod")), "DUMP") && !dump.empty() &&
      dump != kDumpToStandardOutput)
    written.push_back({options.Has("dump") ? "--dump" : "the dump file", dump});
  if (auto save = options.Get("save-settings")) written.push_back({"--save-settings", *save});
  if (auto json = options.Get("report-json")) written.push_back({"--report-json", *json});
  written.push_back({"the log", LogFileName(SystemEnv())});
  if (auto password = options.Get("password-file")) read.push_back({"--password-file", *password});
  auto plain = [](const std::string& path) {
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    return !std::filesystem::exists(status) || std::filesystem::is_regular_file(status);
  };
  for (size_t i = 0; i < written.size(); ++i) {
    if (!plain(written[i].path)) continue;
    for (const File& input : read)
      if (IsSameFile(written[i].path, input.path))
        throw UsageError(written[i].what + " names " + input.what + " (" + input.path +
                         "); writing it would destroy it");
    for (size_t j = i + 1; j < written.size(); ++j)
      if (IsSameFile(written[i].path, written[j].path))
        throw UsageError(written[i].what + " and " + written[j].what + " name the same file (" +
                         written[j].path + ")");
  }
}

// The settings in the wizard's key order, every key present, so the file reads as the
// wizard's own.
DictionaryPtr WizardOrdered(const DictionaryPtr& settings) {
  const DictionaryPtr from = SettingsSection(settings);
  DictionaryPtr section = Dictionary::Create();
  for (const std::string& key : WizardKeys()->Keys())
    section->Set(key, from->Exists(key) ? from->Item(key) : Value(""));
  for (const std::string& key : from->Keys())
    if (!section->Exists(key)) section->Set(key, from->Item(key));
  DictionaryPtr ordered = Dictionary::Create();
  ordered->Set(kSettingsSection, Value(section));
  return ordered;
}

DictionaryPtr LoadSettings(const std::string& path) {
  DictionaryPtr settings;
  try {
    settings = ReadIniFile(path);
    NormalizeSettings(settings);
  } catch (const Error& e) {
    throw UsageError("cannot load the settings file '" + path + "': " + e.description());
  }
  if (!SettingsSection(settings))
    throw UsageError("the settings file '" + path + "' has no [" + kSettingsSection + "] section");
  return settings;
}

void ApplySet(const Dictionary& known, const std::string& assignment, Dictionary& section) {
  const size_t eq = assignment.find('=');
  if (eq == std::string::npos || eq == 0)
    throw UsageError("--set takes key=value, not '" + assignment + "'");
  const std::string key = AsciiLower(assignment.substr(0, eq));
  const std::string value = assignment.substr(eq + 1);
  if (key == "sourcepassword" || key == "destinationpassword")
    throw UsageError("--set " + key +
                     ": passwords are never command-line values (other users see those); use "
                     "--password-file, PGPASSWORD or ~/.pgpass");
  if (const SettingRow* row = FindSetting(key); !row || !row->settable)
    throw UsageError("--set: unknown settings key '" + key + "'");
  if (key == "sourcetables") {
    section.Set(key, Value::TextList(SplitQuoted(value, ',', '"')));
  } else if (known.Item(key).IsNumeric()) {
    if (value != "0" && value != "1") throw UsageError("--set " + key + " takes 0 or 1");
    section.Set(key, value);
  } else {
    section.Set(key, value);
  }
}

// Points the run at the dump file or the server of --dump / --to.
void SetDestination(const std::optional<std::string>& dump, const std::optional<std::string>& to,
                    const std::string& database, Dictionary& section) {
  if (dump) {
    section.Set("destinationmethod", "DUMP");
    section.Set("destinationdumpfilename",
                *dump == kDumpToStandardOutput ? *dump : Absolute(*dump));
    section.Set("destinationdatabase", database);
  }
  if (to) {
    PgTarget target;
    try {
      target = ParsePgTarget(*to, database);
    } catch (const std::invalid_argument& e) {
      std::string why = std::string("--to: ") + e.what();
      if (to->find("://") != std::string::npos)
        why += " (a URL begins with postgresql:// or postgres://)";
      throw UsageError(why);
    }
    if (!target.password.empty())
      Warn(
          "the password in --to is visible to other users in the process list; PGPASSWORD "
          "or ~/.pgpass keep it private");
    section.Set("destinationmethod", "DIRECT");
    section.Set("destinationserver", target.host);
    section.Set("destinationport", target.port);
    section.Set("destinationusername", target.user);
    section.Set("destinationpassword", target.password);
    section.Set("destinationdatabase", target.dbname);
    section.Set("destinationsslmode", target.sslmode);
    section.Set("destinationsslrootcert", target.sslrootcert);
    section.Set("destinationparameters", target.parameters);
  }
}

// Applies every --set; true when one of them sets the table selection.
bool ApplySets(const ParsedOptions& options, Dictionary& section) {
  const DictionaryPtr known = WizardKeys();
  bool set_selection = false;
  auto sets = options.values.find("set");
  if (sets != options.values.end())
    for (const std::string& assignment : sets->second) {
      ApplySet(*known, assignment, section);
      set_selection = set_selection || AsciiLower(assignment).starts_with("sourcetables=");
    }
  return set_selection;
}

ConvertRequest PrepareConversion(const ParsedOptions& options) {
  ConvertRequest request;
  const std::optional<std::string> settings_file = options.Get("settings");
  // In the wizard's key order from the start, so that a run repeated from the saved settings
  // writes the same dump.
  const DictionaryPtr loaded =
      settings_file ? LoadSettings(*settings_file) : DefaultSettings(SystemEnv());
  request.selection_given = SettingsSection(loaded)->Exists("sourcetables");
  request.settings = WizardOrdered(loaded);
  const DictionaryPtr section = SettingsSection(request.settings);

  if (options.operands.size() > 1)
    throw UsageError("convert: unexpected argument '" + options.operands[1] + "'");
  if (!options.operands.empty())
    section->Set("sourcefilename", Absolute(options.operands[0]));
  else if (!settings_file)
    throw UsageError("convert: no source database given");
  const std::string source = SafeStr(section->Item("sourcefilename"));

  const std::optional<std::string> dump = options.Get("dump"), to = options.Get("to");
  if (dump && to) throw UsageError("--dump and --to cannot be given together");
  if (!dump && !to && !settings_file) throw UsageError("convert: give --dump FILE or --to URL");
  const std::string file_database =
      settings_file ? SafeStr(section->Item("destinationdatabase")) : "";
  SetDestination(dump, to, file_database.empty() ? DatabaseNameOf(source) : file_database,
                 *section);

  const bool set_selection = ApplySets(options, *section);
  if (auto jobs = options.Get("jobs")) {
    if (!JobsOf(*jobs))
      throw UsageError("--jobs takes a whole number from 1 to " + std::to_string(kJobsAtMost) +
                       ", not '" + *jobs + "'");
    section->Set("jobs", *jobs);
  }
  NormalizeSettings(request.settings);

  request.tables = NameList(options, "tables");
  request.exclude = NameList(options, "exclude");
  if (!request.tables.empty() && set_selection)
    throw UsageError("--tables and --set sourcetables cannot be given together");
  request.selection_given = request.selection_given || set_selection;

  const std::string final_source = SafeStr(section->Item("sourcefilename"));
  if (final_source.empty()) throw UsageError("convert: no source database given");
  if (!PathIsFile(final_source))
    throw UsageError("the source database '" + final_source + "' does not exist");

  if (auto password_file = options.Get("password-file")) {
    section->Set("sourcepassword", ReadPasswordFile(*password_file));
    request.ask_password = false;
  }
  request.save_settings = options.Get("save-settings");
  request.replace_tables = options.Has("replace-tables");
  request.report_json = options.Get("report-json");
  request.quiet = options.Has("quiet");
  CheckFilesWritten(options, *section);
  return request;
}

const TableNodes* FindTable(const std::vector<TableNodes>& tables, const std::string& name,
                            const char* option) {
  for (const TableNodes& table : tables)
    if (table.name == name) return &table;
  // Access itself does not tell names apart by letter case.
  for (const TableNodes& table : tables)
    if (EqualsIgnoreCase(table.name, name)) return &table;
  throw UsageError(std::string(option) + ": the source has no table '" + name +
                   "' (ferrolyte tables SOURCE lists them)");
}

// The paths to convert, as the wizard's tree would hold them after the user's choice.
void ResolveSelection(const ConvertRequest& request, const std::vector<TableNodes>& tables,
                      Dictionary& section) {
  std::vector<std::string> paths;
  if (!request.tables.empty()) {
    std::vector<TableNodes> chosen;
    for (const TableNodes& table : tables)
      for (const std::string& name : request.tables)
        if (FindTable(tables, name, "--tables") == &table) {
          chosen.push_back(table);
          break;
        }
    for (const std::string& name : request.tables) FindTable(tables, name, "--tables");
    paths = AllPaths(chosen);
  } else if (request.selection_given) {
    const Value expanded = ExpandAllTables(section.Item("sourcetables"), tables);
    if (expanded.IsList())
      for (const Value& item : expanded.List()) paths.push_back(SafeStr(item));
    else
      paths.push_back(SafeStr(expanded));
  } else {
    paths = AllPaths(tables);
  }
  for (const std::string& name : request.exclude) {
    const TableNodes* table = FindTable(tables, name, "--exclude");
    std::erase_if(paths, [&](const std::string& path) {
      if (path == NodePathOf(*table)) return true;
      for (const std::string& field : table->fields)
        if (path == FieldNodePath(table->name, field)) return true;
      return false;
    });
  }
  section.Set("sourcetables", Value::TextList(paths));
}

// Passwords go in only under the rule the wizard keeps wizard.ini by: SavePasswords = 1.
void SaveRunSettings(const DictionaryPtr& settings, const std::string& path, bool with_passwords,
                     StatusOutput& status) {
  const DictionaryPtr copy = WizardOrdered(settings);
  if (!with_passwords) BlankPasswords(copy);
  WriteIniFile(copy, path);
  const DictionaryPtr section = SettingsSection(settings);
  const bool has_passwords = !SafeStr(section->Item("sourcepassword")).empty() ||
                             !SafeStr(section->Item("destinationpassword")).empty();
  std::string note = "Settings saved to " + path;
  if (has_passwords)
    note += with_passwords ? " with the passwords (SavePasswords is 1); only you may read it"
                           : " without the passwords (SavePasswords is not 1): give them again "
                             "when you repeat the run";
  status.WriteLog(note);
  Warn(note);
}

// The scan, then the selection the options ask for and the settings file to save.
ConversionServices ConvertServices(ConvertRequest& request, const Program& program) {
  ConversionServices services = DefaultServices();
  services.scan = [&request, &program, real = services.scan](const SourceFields& fields,
                                                             const RunContext& ctx) {
    const DictionaryPtr section = SettingsSection(request.settings);
    SourceFields source = fields;
    SchemaModel schema;
    OpenWithPassword(source.file, source.password, request.ask_password,
                     [&](const std::string& password) {
                       source.password = password;
                       schema = real(source, ctx);
                     });
    // The run opens the source again with the password that worked.
    section->Set("sourcepassword", source.password);
    ResolveSelection(request, TablesOfSchema(schema), *section);
    if (request.save_settings)
      SaveRunSettings(request.settings, *request.save_settings, program.options.save_passwords,
                      ctx.status);
    return schema;
  };
  services.convert = [&request, real = services.convert](
                         const DictionaryPtr& settings, std::string& report,
                         const SchemaModel& schema, const RunContext& ctx) {
    RunOutcome outcome = real(settings, report, schema, ctx);
    request.outcome = outcome;
    return outcome;
  };
  return services;
}

RunTarget TargetOf(const Dictionary& section) {
  RunTarget target;
  target.direct = EqualsIgnoreCase(SafeStr(section.Item("destinationmethod")), "DIRECT");
  target.dump_file = SafeStr(section.Item("destinationdumpfilename"));
  const std::string host = SafeStr(section.Item("destinationserver")),
                    port = SafeStr(section.Item("destinationport"));
  target.server = host.empty() ? "" : host + (port.empty() ? "" : ":" + port);
  target.database = SafeStr(section.Item("destinationdatabase"));
  return target;
}

// The end of a convert run that got as far as an exit status: the summary, a line for each
// failure, the JSON report.
int TellOutcome(ConvertRequest& request, int exit_status, const RunTimes& times,
                double run_seconds) {
  const DictionaryPtr section = SettingsSection(request.settings);
  const RunTarget target = TargetOf(*section);
  const RunOutcome* outcome = request.outcome ? &*request.outcome : nullptr;
  // A run that ended before its first table has nothing to sum up.
  const bool started = outcome && std::any_of(outcome->tables.begin(), outcome->tables.end(),
                                              [](const TableOutcome& t) {
                                                return t.result != TableResult::kNotStarted;
                                              });
  if (started && !request.quiet) std::fputs(SummaryTable(*outcome, run_seconds).c_str(), stderr);
  if (exit_status != kExitOk) {
    if (TerminationRequested())
      TellFailure("the conversion was ended",
                  "by a signal (exit status " + std::to_string(exit_status) + ")");
    if (outcome)
      for (const std::string& line : FailureLines(*outcome, target)) Warn(line);
  }
  if (request.report_json) {
    request.report_written = true;
    try {
      WriteTextFile(*request.report_json, RunReportJson(SafeStr(section->Item("sourcefilename")),
                                                        target, outcome, exit_status, "", times));
    } catch (const Error& e) {
      TellFailure("cannot write the report '" + *request.report_json + "'", e.description());
      if (exit_status == kExitOk) exit_status = kExitConversion;
    }
  }
  return exit_status;
}

[[noreturn]] void RunConversion(ConvertRequest& request, const std::vector<std::string>& args) {
  const ComponentRegistry components = PlatformComponents();
  Program program(components);
  program.options.autorun = true;
  program.options.command_line_form = true;
  LogStatus status(program.log, SignalStop(), stderr, !request.quiet && ::isatty(STDERR_FILENO));
  const ConversionServices services = ConvertServices(request, program);
  RunTimes times{std::chrono::system_clock::now(), {}};
  const auto started = std::chrono::steady_clock::now();
  const auto write_failure_json = [&](int exit_status, const std::string& reason) {
    if (!request.report_json || request.report_written) return;
    request.report_written = true;
    times.ended = std::chrono::system_clock::now();
    const DictionaryPtr section = SettingsSection(request.settings);
    try {
      WriteTextFile(*request.report_json,
                    RunReportJson(SafeStr(section->Item("sourcefilename")), TargetOf(*section),
                                  nullptr, exit_status, reason, times));
    } catch (const Error& e) {
      TellFailure("cannot write the report '" + *request.report_json + "'", e.description());
    }
  };
  // A run that halts before it has an outcome (nothing selected, settings that cannot be
  // used) still leaves its report.
  program.end = [&](int exit_status) {
    if (exit_status != kExitOk) write_failure_json(exit_status, program.end_reason);
  };

  std::string step = "Init Log";
  try {
    program.log.Init();
    program.log.Write("Begin");
    step = "Increase usage counter";
    const int64_t count =
        int64_t{
            SafeLng(Value(GetSetting(program.env, kSettingsAppName, "Usage", "RunCount", "0")))} +
        1;
    SaveSetting(program.env, kSettingsAppName, "Usage", "RunCount", std::to_string(count));
    program.log.Write("Run count is " + std::to_string(count));
    program.log.Write("Commandline: " + JoinCommandLine(HideCommandLinePasswords(args)));
    step = "Check dependencies";
    services.check_dependencies(status, program.messages, program.components);
    step = "Read password option from registry";
    program.options.save_passwords =
        GetSetting(program.env, kSettingsAppName, "Settings", "SavePasswords", "0") == "1";
    step = "Convert";
    InstallInterruptHandler();
    RunContext ctx{status,      SignalStop(),          program.components,
                   program.env, program.VersionText(), ""};
    ctx.refuse_existing_tables = !request.replace_tables;
    ctx.end_now = &SignalEnd();
    ctx.named_errors = true;
    const int exit_status = RunUnattended(program, request.settings, services, ctx);
    times.ended = std::chrono::system_clock::now();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EndProgram(program, TellOutcome(request, exit_status, times, seconds));
  } catch (const UsageError& e) {
    program.log.Write(e.what());
    Warn(e.what());
    write_failure_json(kExitSettings, e.what());
    EndProgram(program, kExitSettings);
  } catch (const Error& e) {
    write_failure_json(kExitFatal, e.description());
    const std::string source = SafeStr(SettingsSection(request.settings)->Item("sourcefilename"));
    ErrorHandler(program, "convert", e.number(), e.description(), step,
                 step == "Convert" ? "cannot read the source database '" + source + "'" : "");
  } catch (const std::exception& e) {
    write_failure_json(kExitFatal, e.what());
    ErrorHandler(program, "convert", errc::kInternal.number, e.what(), step);
  }
}

}  // namespace

std::optional<std::string> UnknownStartWord(const std::vector<std::string>& args) {
  static const char* const kKnown[] = {"settings", "autorun",    "hide",    "clearlog",
                                       "unittest", "successcmd", "errorcmd"};
  for (const std::string& word : args) {
    // Each word alone, so that the word is named as it was typed.
    const DictionaryPtr parsed = ParseCommandLine(JoinCommandLine({word}), false);
    for (const std::string& name : parsed->Keys()) {
      if (std::find(std::begin(kKnown), std::end(kKnown), name) != std::end(kKnown) ||
          name.find("screenshotmode") != std::string::npos)
        continue;
      return (word.starts_with("-") ? "unknown option '" : "unknown word '") + word + "'";
    }
  }
  return std::nullopt;
}

std::optional<std::string> ParsedOptions::Get(const std::string& name) const {
  auto found = values.find(name);
  if (found == values.end() || found->second.empty()) return std::nullopt;
  return found->second.back();
}

ParsedOptions ParseOptions(const std::vector<std::string>& words,
                           const std::vector<OptionSpec>& specs) {
  ParsedOptions parsed;
  bool options_end = false;
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (options_end || word == "-" || !word.starts_with("-")) {
      parsed.operands.push_back(word);
      continue;
    }
    if (word == "--") {
      options_end = true;
      continue;
    }
    const bool long_form = word.starts_with("--");
    const std::string body = word.substr(long_form ? 2 : 1);
    const size_t eq = body.find('=');
    const std::string name = body.substr(0, eq);
    const OptionSpec* spec = nullptr;
    for (const OptionSpec& s : specs)
      if (s.name == (long_form ? name : word == "-h" ? "help" : "")) spec = &s;
    if (!spec) throw UsageError("unknown option '" + (long_form ? "--" + name : word) + "'");
    const std::string shown = "--" + spec->name;
    std::string value;
    if (spec->takes_value) {
      if (eq != std::string::npos) {
        value = body.substr(eq + 1);
      } else if (i + 1 < words.size()) {
        value = words[++i];
      } else {
        throw UsageError("option '" + shown + "' needs a value");
      }
    } else if (eq != std::string::npos) {
      throw UsageError("option '" + shown + "' takes no value");
    }
    if (parsed.Has(spec->name) && !spec->repeatable)
      throw UsageError("option '" + shown + "' is given twice");
    parsed.values[spec->name].push_back(value);
  }
  return parsed;
}

std::string UsageText() {
  return "Usage:\n"
         "  ferrolyte\n"
         "      Open the wizard window (needs a display and a build with the window).\n"
         "  ferrolyte settings=FILE autorun [hide] [clearlog] [unittest]\n"
         "      Convert unattended as the settings file says (the wizard's \"Save Settings\"\n"
         "      format, section [Velkan Ferrolyte]).\n"
         "  ferrolyte tables SOURCE [--columns] [--json] [--all] [--password-file F]\n"
         "      List the tables of an Access file with their row and column counts.\n"
         "  ferrolyte convert SOURCE (--dump FILE | --to URL) [options]\n"
         "      Convert an Access file without writing a settings file.\n"
         "  ferrolyte --help | --version | -V\n"
         "\n"
         "tables:\n"
         "  --columns             also each column, its Access type and the PostgreSQL type it\n"
         "                        gets\n"
         "  --json                JSON for scripts\n"
         "  --all                 also linked and system tables (never converted)\n"
         "  --password-file F     the database password is the first line of F\n"
         "\n"
         "convert:\n"
         "  --dump FILE           write a SQL dump file; \"-\" writes it to standard output\n"
         "                        (messages then go to standard error only). Load it with\n"
         "                        psql -v ON_ERROR_STOP=1 -d postgres -f FILE\n"
         "  --to URL              straight into a server, as psql connects: a URL\n"
         "                        postgresql://user@host:port/dbname?sslmode=verify-full&...\n"
         "                        or key=value parameters (\"host=h dbname=d sslmode=require\");\n"
         "                        every libpq parameter is passed on. What it leaves out comes\n"
         "                        from the service file, PGHOST, PGPORT, PGUSER, PGSSLMODE, ...\n"
         "                        (the database defaults to the source's name), the password\n"
         "                        from PGPASSWORD or the password file, as libpq finds them\n"
         "  --tables A,B          only these tables (default: every table with all its columns)\n"
         "  --exclude T           leave these tables out (a comma list; may be repeated)\n"
         "  --set KEY=VALUE       any settings key, e.g. --set dropdatabase=1 (may be repeated;\n"
         "                        applied after the options above)\n"
         "  --settings FILE       start from a settings file; the options override it\n"
         "  --save-settings FILE  write the settings of the run, so that\n"
         "                        \"ferrolyte settings=FILE autorun\" repeats it; passwords go in\n"
         "                        only when the per-user value SavePasswords is 1\n"
         "  --password-file F     the source database password is the first line of F; without\n"
         "                        it a password is asked for when the file needs one and\n"
         "                        standard input is a terminal\n"
         "  --replace-tables      with --to: drop and create again the destination tables that\n"
         "                        exist already (without it the run refuses them, writing\n"
         "                        nothing); the report names each with the rows it held\n"
         "  --jobs N              with --to: move the rows of N tables at once, each on\n"
         "                        sessions of its own (default: the cores, at most 4; 1 moves\n"
         "                        them one after another); a dump has one writer\n"
         "  --report-json FILE    write the run's outcome as JSON: each table with its rows,\n"
         "                        result and reason, the exit status and the times\n"
         "  --quiet               print only failures (no status lines, no summary)\n"
         "At the end a summary goes to standard error: per table the rows read and written,\n"
         "errors and seconds, and a total with the rate. Every failure is one line\n"
         "\"ferrolyte: <what failed>: <reason>\", then where the run's report is.\n"
         "Options are written \"--name value\" or \"--name=value\". Passwords are never\n"
         "command-line values: other users see those in the process list.\n"
         "\n"
         "Exit status:\n"
         "  0    the conversion completed: every selected table is complete (tables: the list\n"
         "       was written)\n"
         "  1    a fatal error report was written to the log: start-up failed, a required\n"
         "       component is missing, or the source database could not be opened; or the\n"
         "       first connection to the server failed (TLS, a certificate, the password),\n"
         "       so nothing there was changed\n"
         "  2    the command line cannot be used (an unknown option or word, no or a missing\n"
         "       source, --dump with --to, an output file that is an input or another output),\n"
         "       autorun without settings, a settings file that cannot be loaded, a setting\n"
         "       that cannot mean what it says, or a destination the run refused before\n"
         "       writing anything (tables that exist, a database that is not to be dropped)\n"
         "  3    a selected table was not fully moved, or a statement failed; the run report\n"
         "       in the log says which\n"
         "  130  stopped on request (Ctrl+C), with no table failed before\n"
         "  143  ended by SIGTERM (129 SIGHUP, 141 SIGPIPE), with its report in the log\n"
         "\n"
         "Log: " +
         LogFileName(SystemEnv()) +
         "\n"
         "  Each start adds to it (clearlog empties it first); past 10 MB it moves to\n"
         "  " +
         FileNamePart(LogFileName(SystemEnv())) +
         ".1 at the next start. tables writes to it only when it fails.\n";
}

std::optional<int> RunCommandLineForm(const std::vector<std::string>& args) {
  if (args.empty()) return std::nullopt;
  const std::string& form = args[0];
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  try {
    if (form == "--help" || form == "-h") {
      std::fputs(UsageText().c_str(), stdout);
      return kExitOk;
    }
    if (form == "--version" || form == "-V") {
      std::printf("%s\n", VersionText().c_str());
      return kExitOk;
    }
    if (form != "tables" && form != "convert") {
      if (const std::optional<std::string> unknown = UnknownStartWord(args)) {
        Warn(*unknown + "; try 'ferrolyte --help'");
        return kExitSettings;
      }
      return std::nullopt;
    }
    const ParsedOptions options =
        ParseOptions(rest, form == "tables" ? kTablesOptions : kConvertOptions);
    if (options.Has("help")) {
      std::fputs(UsageText().c_str(), stdout);
      return kExitOk;
    }
    if (form == "tables") return RunTables(options, args);
    ConvertRequest request = PrepareConversion(options);
    RunConversion(request, args);
  } catch (const UsageError& e) {
    Warn(e.what());
    std::fprintf(stderr, "Try 'ferrolyte --help' for more information.\n");
    return kExitSettings;
  } catch (const std::invalid_argument& e) {
    Warn(e.what());
    return kExitSettings;
  }
}

}  // namespace ferrolyte
