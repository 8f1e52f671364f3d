#include "conversion/dump_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <stdexcept>

#include "conversion/run_outcome.h"
#include "platform/ado.h"
#include "platform/pg_parameters.h"
#include "platform/registry.h"
#include "support/connection_string.h"
#include "support/env.h"
#include "support/errors.h"
#include "support/files.h"
#include "support/product.h"
#include "support/safe.h"
#include "support/text.h"

namespace ferrolyte {
namespace {

constexpr size_t kDumpBufferSize = 1 << 16;

[[noreturn]] void RaiseDumpError(const std::string& path, int err) {
  throw ErrorFromErrno(err, path, FileUse::kCreate, true);
}

// psqlODBC takes the server, port, database and user name as they stand (braces and spaces
// included) and ends them at ";". One it cannot take that way goes to libpq in pqopt.
bool DriverTakesLiterally(const std::string& value) {
  return value.find(';') == std::string::npos && (value.empty() || value.front() != '{');
}

// One libpq connection parameter, its value quoted so that libpq reads any text back.
std::string LibpqParameter(const char* keyword, const std::string& value) {
  return std::string(keyword) + "='" + ReplaceAll(ReplaceAll(value, "\\", "\\\\"), "'", "\\'") +
         "'";
}

// psqlODBC reads "+" and "%" in an unbraced password as URL encoding ("a+b" would arrive as
// "a b"); in braces it takes the password as it is.
std::string PasswordValue(const std::string& password) {
  return password.find_first_of("+%") == std::string::npos ? ConnectionValue(password)
                                                           : BracedConnectionValue(password);
}

}  // namespace

PgParameters DestinationParameters(const Dictionary& section, const std::string& database,
                                   int connect_seconds) {
  auto text = [&](const char* key) { return SafeStr(section.Item(key)); };
  PgParameters where{text("destinationserver"),   text("destinationport"),     database,
                     text("destinationusername"), text("destinationpassword"), {}};
  // libpq knows the modes in lower case only.
  if (const std::string mode = AsciiLower(text("destinationsslmode")); !mode.empty())
    where.options.push_back({"sslmode", mode});
  if (const std::string root = text("destinationsslrootcert"); !root.empty())
    where.options.push_back({"sslrootcert", root});
  for (const PgParameter& p : ParsePgParameters(text("destinationparameters")))
    SetPgParameter(where.options, p.keyword, p.value);
  if (!FindPgParameter(where.options, "fallback_application_name"))
    where.options.push_back({"fallback_application_name", kApplicationName});
  if (!FindPgParameter(where.options, "connect_timeout") && !PgDefault("connect_timeout"))
    where.options.push_back({"connect_timeout", std::to_string(connect_seconds)});
  return where;
}

std::string DriverSslMode(const PgParameters& where, const PgConnection* settled) {
  std::string mode = settled ? settled->Parameter("sslmode") : "";
  if (mode.empty())
    mode =
        FindPgParameter(where.options, "sslmode").value_or(PgDefault("sslmode").value_or("prefer"));
  return mode;
}

std::string BuildDestinationConnectionString(const std::string& server, const std::string& database,
                                             const std::string& port, const std::string& user_name,
                                             const std::string& password) {
  return BuildDestinationConnectionString(
      PgParameters{server, port, database, user_name, password, {}});
}

std::string BuildDestinationConnectionString(const PgParameters& where) {
  const std::string key = "HKEY_LOCAL_MACHINE\\SOFTWARE\\ODBC\\ODBCINST.INI\\ODBC Drivers\\";
  std::string driver;
  if (SafeStr(RegRead(key + "PostgreSQL UNICODE", false)) == "Installed")
    driver = "PostgreSQL UNICODE";
  else if (SafeStr(RegRead(key + "PostgreSQL ODBC Driver(UNICODE)", false)) == "Installed")
    driver = "PostgreSQL ODBC Driver(UNICODE)";
  else
    throw Error(errc::kNoOdbcDriver,
                "No 32 bit PostgreSQL Unicode ODBC driver was found on your computer.");
  std::string pqopt;
  auto part = [&pqopt](const char* key, const char* libpq_keyword, const std::string& value) {
    if (DriverTakesLiterally(value)) return std::string(key) + "=" + value + ";";
    pqopt += (pqopt.empty() ? "" : " ") + LibpqParameter(libpq_keyword, value);
    return std::string(key) + "=;";
  };
  std::string s = "Driver={" + driver + "};";
  s += part("Server", "host", where.server);
  s += part("Port", "port", where.port);
  s += part("Database", "dbname", where.database);
  s += part("Uid", "user", where.user);
  // The driver passes its own SSL mode (its default: disable) and refuses a second one in
  // pqopt.
  if (auto mode = FindPgParameter(where.options, "sslmode")) s += "SSLmode=" + *mode + ";";
  for (const PgParameter& p : where.options)
    if (p.keyword != "sslmode")
      pqopt += (pqopt.empty() ? "" : " ") + LibpqParameter(p.keyword.c_str(), p.value);
  if (!pqopt.empty()) s += "pqopt=" + BracedConnectionValue(pqopt) + ";";
  // The password comes last, where HidePassword hides everything from it on.
  return s + "Pwd=" + PasswordValue(where.password) + ";";
}

std::string TryServerConnection(const DictionaryPtr& section, const ComponentRegistry& components,
                                int timeout_seconds) {
  if (!section) return "";
  try {
    PgParameters where =
        DestinationParameters(*section, SafeStr(section->Item("maintenancedb")), timeout_seconds);
    {
      PgConnection session(where);
      SetPgParameter(where.options, "sslmode", DriverSslMode(where, &session));
    }
    auto connection = CreateObjectAs<Connection>(components, "ADODB.Connection");
    connection->Open(BuildDestinationConnectionString(where));
    connection->Close();
  } catch (const Error& e) {
    return e.description();
  } catch (const std::invalid_argument& e) {
    return e.what();
  }
  return "";
}

bool IsSameFile(const std::string& a, const std::string& b) {
  if (a.empty() || b.empty()) return false;
  struct stat sa {
  }, sb{};
  const bool a_exists = ::stat(a.c_str(), &sa) == 0, b_exists = ::stat(b.c_str(), &sb) == 0;
  if (a_exists && b_exists) return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  if (a_exists || b_exists) return false;
  // Neither is there yet: whoever writes second replaces what the first wrote.
  auto place = [](const std::string& path) {
    std::error_code ec;
    std::filesystem::path full = std::filesystem::absolute(path, ec);
    if (!ec) full = std::filesystem::weakly_canonical(full, ec);
    return ec ? std::filesystem::path() : full;
  };
  const std::filesystem::path place_a = place(a);
  return !place_a.empty() && place_a == place(b);
}

DumpFile::DumpFile(Env& env, const std::string& path) : env_(env), path_(path), target_(path) {
  if (path == kDumpToStandardOutput) {
    fd_ = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
    if (fd_ < 0) RaiseDumpError("standard output", errno);
    buffer_.reserve(kDumpBufferSize * 2);
    return;
  }
  std::error_code ec;
  // A link is followed, as opening it would: the file it points at is the one replaced.
  if (std::filesystem::is_symlink(path, ec)) {
    std::filesystem::path resolved = std::filesystem::canonical(path, ec);
    if (!ec) target_ = resolved.string();
  }
  struct stat st {};
  const bool exists = env_.Stat(target_, st) == 0;
  if (exists && !S_ISREG(st.st_mode)) {
    // A device or a pipe has no folder to stage in, and a rename would replace the node.
    if (int err = env_.Open(target_, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644, fd_))
      RaiseDumpError(path, err);
  } else {
    // A file this user may not replace stays refused, as truncating it would be.
    if (exists && ::access(target_.c_str(), W_OK) != 0) RaiseDumpError(path, errno);
    std::random_device random;
    for (int attempt = 0; fd_ < 0; ++attempt) {
      char suffix[16];
      std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned>(random()));
      temp_ = target_ + ".incomplete." + suffix;
      const int err =
          env_.Open(temp_, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644, fd_);
      if (err != 0 && (err != EEXIST || attempt >= 100)) {
        temp_.clear();
        RaiseDumpError(path, err);
      }
    }
    if (exists) ::fchmod(fd_, st.st_mode & 07777);
  }
  buffer_.reserve(kDumpBufferSize * 2);
}

DumpFile::~DumpFile() {
  Abandon("the run ended before the dump was finished");
}

void DumpFile::WriteDumpLine(const std::string& text) {
  if (fd_ < 0) throw Error(errc::kBadFileNumber, "Bad file name or number");
  if (failed_)
    throw Error(errc::kDeviceIo, "Device I/O error: an earlier write to the dump file failed");
  buffer_.append(text);
  buffer_.append("\r\n");
  if (buffer_.size() >= kDumpBufferSize) Flush();
}

void DumpFile::Fail(int err) {
  failed_ = true;
  if (err == ENOSPC) throw Error(errc::kDiskFull, "Disk full");
  throw Error(errc::kDeviceIo, std::string("Device I/O error: ") + std::strerror(err));
}

void DumpFile::Flush() {
  size_t done = 0;
  while (done < buffer_.size()) {
    size_t n = 0;
    if (int err = env_.Write(fd_, buffer_.data() + done, buffer_.size() - done, n)) {
      buffer_.clear();
      Fail(err);
    }
    done += n;
  }
  buffer_.clear();
}

void DumpFile::Close() {
  if (fd_ < 0 || done_) return;
  Flush();
  // What the rename then names must be on the disk, not only in the cache.
  if (!temp_.empty())
    if (int err = env_.Sync(fd_)) Fail(err);
  int fd = fd_;
  fd_ = -1;
  // Some file systems report a lost write only here.
  if (int err = env_.Close(fd)) Fail(err);
  if (!temp_.empty())
    if (int err = env_.Rename(temp_, target_)) {
      failed_ = true;
      RaiseDumpError(path_, err);
    }
  temp_.clear();
  done_ = true;
}

std::string DumpFile::Abandon(const std::string& reason) {
  if (done_) return "";
  done_ = true;
  if (fd_ >= 0) {
    try {
      // After a failed write the file may end inside a line.
      if (failed_) buffer_ = "\r\n";
      buffer_ += "-- " + OneLine(reason) + "\r\n";
      Flush();
    } catch (const Error&) {
      // The reason cannot be written; the name still says what the file is.
    }
    env_.Close(fd_);
    fd_ = -1;
  }
  if (temp_.empty()) return "";
  std::string incomplete = target_ + ".incomplete";
  if (env_.Rename(temp_, incomplete) != 0) {
    env_.Remove(temp_);
    incomplete.clear();
  }
  temp_.clear();
  return incomplete;
}

}  // namespace ferrolyte
