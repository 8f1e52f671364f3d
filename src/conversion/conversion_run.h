// One conversion: from the settings and the schema description to a PostgreSQL server or a
// SQL dump file.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "conversion/run_outcome.h"
#include "conversion/run_settings.h"
#include "platform/ado.h"
#include "platform/pg_connection.h"
#include "schema/schema_model.h"
#include "support/run_context.h"
#include "support/value.h"

namespace ferrolyte {

// Opens a connection from its connection string; raises the provider's error.
using ConnectionOpener = std::function<std::shared_ptr<Connection>(const std::string&)>;
// Opens the session that carries the rows of a direct run with COPY; raises libpq's error.
using RowSessionOpener = std::function<std::unique_ptr<PgConnection>(const PgParameters&)>;
// Builds the server's connection string for the parameters of a session.
using DestinationStringBuilder = std::function<std::string(const PgParameters&)>;

// Runs the conversion the settings (the outer dictionary holding kSettingsSection) describe,
// for the tables of the scanned schema, appending the run report, and returns what
// happened. Every selected table is checked in the source before anything at the destination
// is dropped or created. Failures before that (settings of the wrong kind, the source
// connection, ODBC driver detection) are raised. A direct run sends its statements through
// the ODBC connection and its rows with COPY through a libpq session of its own, both with
// the same parameters (DestinationParameters). It reads what the destination database holds
// before writing: each table it replaces is named in the report with the rows it held, or,
// with ctx.refuse_existing_tables, the run refuses (RunResult::kRefused) having written
// nothing; dropdatabase never drops the maintenance database, a template or the database the
// session is on. Reports to ctx.status; stops before the next row once ctx.cancel is set, and
// cancels what the server runs for it once ctx.end_now is.
RunOutcome ConvertDatabase(const DictionaryPtr& settings, std::string& run_report,
                           const SchemaModel& schema, const RunContext& ctx);
// The same, with connections opened through `open` instead of "ADODB.Connection"; the rows
// of a direct run then go through that connection as INSERTs.
RunOutcome ConvertDatabase(const DictionaryPtr& settings, std::string& run_report,
                           const SchemaModel& schema, const RunContext& ctx,
                           const ConnectionOpener& open);
// The same, with the server's connection string built by `destination_string` instead of the
// installed ODBC driver's name.
RunOutcome ConvertDatabase(const DictionaryPtr& settings, std::string& run_report,
                           const SchemaModel& schema, const RunContext& ctx,
                           const ConnectionOpener& open,
                           const DestinationStringBuilder& destination_string);

// The same, with the rows of a direct run sent with COPY through the session `open_rows`
// opens (none: as INSERTs through the connection).
RunOutcome ConvertDatabase(const DictionaryPtr& settings, std::string& run_report,
                           const SchemaModel& schema, const RunContext& ctx,
                           const ConnectionOpener& open,
                           const DestinationStringBuilder& destination_string,
                           const RowSessionOpener& open_rows);
// Opens the libpq session of a direct run's rows.
std::unique_ptr<PgConnection> OpenRowSession(const PgParameters& where);

// The connection string with the value of its Pwd= part (braces included) and whatever
// follows it hidden, for reports and logs.
std::string HidePassword(const std::string& connection_string);

}  // namespace ferrolyte
