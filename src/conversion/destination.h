// Where the statements of a run go: executed one by one on the server, or written into the
// dump file. The run and the record transfer differ between the two only through this.
#pragma once

#include <string>

#include "conversion/connections.h"
#include "platform/ado.h"

namespace ferrolyte {

class Destination {
 public:
  // Statements go to the server through the connection (which must outlive this).
  explicit Destination(Connection* connection) : connection_(connection) {}
  // Statements go into the dump file (which must outlive this).
  explicit Destination(DumpFile* dump) : dump_(dump) {}

  bool is_direct() const { return dump_ == nullptr; }
  // Switches the server connection (the run reconnects to the new database).
  void set_connection(Connection* connection) { connection_ = connection; }
  Connection* connection() const { return connection_; }

  // Executes the statement, or writes it with ";" and, when asked, an empty line after it.
  // While it runs it is the current statement; on the server that clears once it succeeded.
  void Write(const std::string& statement, bool blank_line_after);
  // Like Write without the empty line; for the dump appends ";" to the caller's buffer, so
  // that a row's INSERT is never copied.
  void WriteRow(std::string& statement);
  // A dump line as it stands (comments, empty lines); nothing for the server.
  void WriteDumpText(const std::string& line);

  // The statement being built, executed or last written; quoted in error reports.
  const std::string& current_statement() const { return current_statement_; }
  void set_current_statement(std::string statement) { current_statement_ = std::move(statement); }

 private:
  Connection* connection_ = nullptr;
  DumpFile* dump_ = nullptr;
  std::string current_statement_;
};

}  // namespace ferrolyte
