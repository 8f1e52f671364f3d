#include "shell/main_form_rules.h"

#include "support/product.h"
#include "support/text.h"
#include "support/version.h"

namespace ferrolyte {
namespace {

// The product's identifier on the maker's site.
constexpr char kSiteProductId[] = "ferrolyte";

}  // namespace

std::string WindowCaption(bool screenshot_mode) {
  std::string caption = kProductTitle;
  if (!screenshot_mode) {
    caption += " (" + ProgramVersion() + ")";
  }
  return caption;
}

std::string WelcomeText() {
  return std::string("Welcome to the ") + kProductTitle + " conversion wizard. " +
         "This wizard will collect information about the following topics:\r\n"
         "\r\n"
         "1. The source database\r\n"
         "2. The destination database\r\n"
         "3. The set of tables to be transfered\r\n"
         "4. A set of transfer options";
}

std::string SiteRoot(const std::string& address) {
  const size_t scheme = address.find("://");
  const size_t host = scheme == std::string::npos ? 0 : scheme + 3;
  const size_t path = address.find('/', host);
  return path == std::string::npos ? address : address.substr(0, path);
}

std::string HelpPageAddress() {
  return SiteRoot(kMakerWebAddress) + "/dispatch/?action=Doc&productid=" + kSiteProductId +
         "&variant=PostgreSQL";
}

std::string DonationPageAddress() {
  return SiteRoot(kMakerWebAddress) + "/dispatch/?action=Donate&ref=" + kSiteProductId;
}

std::string AuthenticationName(int index) {
  switch (index) {
    case 0:
      return "Windows Authentication";
    case 1:
      return "SQL Server Authentication";
    default:
      return "";
  }
}

std::string AuthenticationCode(int index) {
  switch (index) {
    case 0:
      return "Windows";
    case 1:
      return "SQL";
    default:
      return "";
  }
}

const std::vector<std::string>& StorageEngines() {
  static const std::vector<std::string> engines = {"ARCHIVE", "BDB",    "Brighthouse", "CSV",
                                                   "Falcon",  "InnoDB", "Maria",       "MyISAM"};
  return engines;
}

bool EngineBlocksKeys(const std::string& engine) {
  return AsciiLower(engine) == "brighthouse";
}

std::string StripEnclosingQuotes(const std::string& text) {
  if (text.size() > 1 && text.front() == '"' && text.back() == '"') {
    return text.substr(1, text.size() - 2);
  }
  return text;
}

std::string SourceDatabaseFilter() {
  return "(*.mdb, *.mde, *.accdb, *.accde) MS Access|*.mdb;*.mde;*.accdb;*.accde|"
         "(*.*) All Files|*.*";
}

// Workgroup files end in .mdw; the description names the pattern it selects.
std::string SystemDatabaseFilter() {
  return "(*.mdw) MS Access|*.mdw|(*.*) All Files|*.*";
}

std::string DumpFileFilter() {
  return std::string("(*.sql) ") + "PostgreSQL" + " Dump File|*.sql|(*.*) All Files|*.*";
}

}  // namespace ferrolyte
