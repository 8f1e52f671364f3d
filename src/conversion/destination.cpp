#include "conversion/destination.h"

namespace ferrolyte {

void Destination::Write(const std::string& statement, bool blank_line_after) {
  current_statement_ = statement;
  if (is_direct()) {
    connection_->Execute(statement);
    current_statement_.clear();
    return;
  }
  dump_->WriteDumpLine(statement + ";");
  if (blank_line_after) dump_->WriteDumpLine("");
}

void Destination::WriteRow(std::string& statement) {
  if (is_direct()) {
    connection_->Execute(statement);
    return;
  }
  statement += ';';
  dump_->WriteDumpLine(statement);
}

void Destination::WriteDumpText(const std::string& line) {
  if (!is_direct()) dump_->WriteDumpLine(line);
}

}  // namespace ferrolyte
