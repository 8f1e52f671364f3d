// The texts and small rules of the main form that need no window: caption, welcome text,
// web addresses, authentication names, the storage-engine rule and the file filters.
#pragma once

#include <string>
#include <vector>

namespace ferrolyte {

// "Ferrolyte (major.minor.0.revision)", or the bare title in screenshot mode.
std::string WindowCaption(bool screenshot_mode);

// The welcome page's text: greeting, topics list, CR LF line ends, none at the end.
std::string WelcomeText();

// Scheme and host of an address ("https://host/path" gives "https://host").
std::string SiteRoot(const std::string& address);
// The maker's help page for this product and its PostgreSQL variant.
std::string HelpPageAddress();
// The maker's donation page for this product.
std::string DonationPageAddress();

// 0 "Windows Authentication", 1 "SQL Server Authentication", else empty.
std::string AuthenticationName(int index);
// 0 "Windows", 1 "SQL", else empty.
std::string AuthenticationCode(int index);

// The storage engines offered for a MySQL destination, in list order.
const std::vector<std::string>& StorageEngines();
// True when the engine (any letter case) cannot take auto numbers and indexes.
bool EngineBlocksKeys(const std::string& engine);

// The text without one pair of enclosing double quotes; a text of one character, or one
// that does not both begin and end with a quote, comes back unchanged.
std::string StripEnclosingQuotes(const std::string& text);

// The filters of the three browse dialogs, in the forms' "description|patterns" form.
std::string SourceDatabaseFilter();
std::string SystemDatabaseFilter();
std::string DumpFileFilter();

}  // namespace ferrolyte
