// Connection strings of the Access source and the PostgreSQL destination, and the dump file
// writer.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace ferrolyte {

// True when the file name ends with ".accdb" or ".accde" in any letter case.
bool IsAccdbFile(const std::string& file_name);

// The provider string that opens the Access file: ACE for .accdb/.accde, Jet otherwise;
// a system database selects the workgroup form, else a password the database-password form.
// Values are quoted as ConnectionValue does, so any path or password reads back whole.
std::string BuildSourceConnectionString(const std::string& file_name,
                                        const std::string& system_database,
                                        const std::string& user_name, const std::string& password);

// The ODBC string for the PostgreSQL Unicode driver: "Driver={...};Server=;Port=;Database=;
// Uid=;Pwd=;" with plain values as they are. A password that holds ";", braces, edge spaces,
// "+" or "%" goes in braces; a server, port, database or user name that holds ";" or begins
// with "{" is left empty there and given in "pqopt={host='...' ...}" before Pwd. Detects the
// driver anew each call; raises 1004 when neither driver name is installed.
std::string BuildDestinationConnectionString(const std::string& server, const std::string& database,
                                             const std::string& port, const std::string& user_name,
                                             const std::string& password);

// The UTF-8 bytes of the text, without a byte-order mark (texts are UTF-8 already).
std::vector<uint8_t> EncodeUtf8(const std::string& text);

// The dump file: created or emptied on open, written through a buffer, CR LF line ends.
class DumpFile {
 public:
  // Opens the file for output; raises 75/76 with the platform's text when it cannot.
  explicit DumpFile(const std::string& path);
  ~DumpFile();
  DumpFile(const DumpFile&) = delete;
  DumpFile& operator=(const DumpFile&) = delete;

  // Appends the text (may hold CR LF) and CR LF. Raises when the write fails.
  void WriteDumpLine(const std::string& text);
  // Flushes and closes; raises when the last write fails. Closing twice does nothing.
  void Close();

 private:
  void Flush();
  std::string path_;
  int fd_ = -1;
  std::string buffer_;
};

}  // namespace ferrolyte
