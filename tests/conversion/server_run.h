// Whole conversions of scanned Access files into the throw-away PostgreSQL server, directly
// or through a dump that psql loads.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "conversion/conversion_fixtures.h"
#include "conversion/conversion_run.h"
#include "platform/odbc_test_server.h"
#include "support/files.h"
#include "support/status.h"
#include "testing/run_context.h"
#include "testing/temp_dir.h"

namespace ferrolyte::testing {

// A scanned source: the file with what its scan gave.
struct Source : ScannedSource {
  std::string path;
};

inline Source Scan(const std::string& path) {
  return {ScanEverything(path), path};
}

// Settings of a direct run into `database` on the test server, all tables selected.
inline DictionaryPtr DirectSettings(const Source& source, const std::string& database) {
  DictionaryPtr settings = RunSettings("", source.selection);
  DictionaryPtr s = Section(settings);
  s->Set("sourcefilename", source.path);
  s->Set("destinationmethod", "DIRECT");
  s->Set("destinationserver", ServerHost());
  s->Set("destinationport", ServerPort());
  s->Set("destinationusername", ServerUser());
  s->Set("destinationpassword", ServerPassword());
  s->Set("maintenancedb", MaintenanceDb());
  s->Set("destinationdatabase", database);
  s->Set("autocommit", 0);  // the run then sends its own COMMIT after every table
  return settings;
}

struct RunRecord {
  int32_t code = -1;  // the run's exit status
  RunOutcome outcome;
  std::string report;
  RecordingStatus status;
};

// Runs the conversion; `adjust` changes the run's context first (its rules, its hooks).
inline std::unique_ptr<RunRecord> RunConversion(
    const DictionaryPtr& settings, const Source& source,
    const std::function<void(RunContext&)>& adjust = nullptr) {
  auto r = std::make_unique<RunRecord>();
  RunContext ctx = ContextFor(r->status);
  if (adjust) adjust(ctx);
  r->outcome = ConvertDatabase(settings, r->report, source.schema, ctx);
  r->code = r->outcome.ExitStatus();
  return r;
}

inline bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Writes the dump of the run the settings describe (in the INSERT or COPY form) and loads it
// with psql into `database`, as its NOTICE line says: the part before it on the maintenance
// database, the rest on the new one.
inline void LoadDumpInto(const Source& source, const DictionaryPtr& settings,
                         const std::string& database, const char* format) {
  TempDir dir;
  DictionaryPtr dump_settings = DirectSettings(source, database);
  for (const std::string& key : Section(settings)->Keys())
    Section(dump_settings)->Set(key, Section(settings)->Item(key));
  Section(dump_settings)->Set("destinationmethod", "DUMP");
  Section(dump_settings)->Set("destinationdatabase", database);
  Section(dump_settings)->Set("destinationdumpfilename", dir.File("dump.sql"));
  Section(dump_settings)->Set("dumpformat", format);
  auto run = RunConversion(dump_settings, source);
  ASSERT_EQ(run->code, 0) << run->report;
  const std::string dump = dir.File("dump.sql"), out = dir.File("psql.out");
  const auto bytes = ReadFile(dump);
  const std::string text(bytes.begin(), bytes.end());
  const bool copy = std::string(format) == "COPY";
  EXPECT_EQ(Contains(text, "\r\nCOPY "), copy);
  EXPECT_EQ(Contains(text, "\r\nINSERT INTO "), !copy);
  const std::string psql = "psql -X -q -v ON_ERROR_STOP=1 -d ";
  std::string command = "sed '/^-- NOTICE:/q' " + dump + " | " + psql + MaintenanceDb() + " > " +
                        out + " 2>&1 && sed -n '/^-- NOTICE:/,$p' " + dump + " | " + psql +
                        database + " >> " + out + " 2>&1";
  int rc = std::system(command.c_str());
  auto said = ReadFile(out);
  ASSERT_EQ(rc, 0) << std::string(said.begin(), said.end());
}

}  // namespace ferrolyte::testing

// What the tests of whole runs into the server call by their plain names.
namespace ferrolyte::server_tests {
using testing::ConnectTo;
using testing::Contains;
using testing::DirectSettings;
using testing::LoadDumpInto;
using testing::MaintenanceDb;
using testing::QueryValue;
using testing::RunConversion;
using testing::Scan;
using testing::ScratchDatabase;
using testing::SessionsOn;
using testing::Source;
using testing::TempDir;
}  // namespace ferrolyte::server_tests
