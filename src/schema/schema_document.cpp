#include "schema/schema_document.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>

#include "support/errors.h"
#include "support/files.h"
#include "support/safe.h"
#include "support/text.h"

namespace ferrolyte {

pugi::xml_node AppendTextElement(pugi::xml_node parent, const char* name, const std::string& text) {
  pugi::xml_node node = parent.append_child(name);
  if (!text.empty()) node.text().set(text.c_str());
  return node;
}

pugi::xml_node AppendAttributesElement(pugi::xml_node parent, uint32_t word) {
  pugi::xml_node node =
      AppendTextElement(parent, "Attributes", std::to_string(static_cast<int32_t>(word)));
  for (int bit = 1; bit <= 32; ++bit)
    if (word & (uint32_t{1} << (bit - 1)))
      node.append_attribute(("Bit" + std::to_string(bit)).c_str()).set_value("1");
  return node;
}

std::string NormaliseBooleanDefault(const std::string& engine_text) {
  // "=True" and " Yes " are what Access holds when the user typed them so.
  std::string upper = AsciiUpper(Trim(engine_text));
  if (!upper.empty() && upper[0] == '=') upper = Trim(upper.substr(1));
  if (upper == "TRUE" || upper == "YES" || upper == "1" || upper == "-1") return "1";
  if (upper == "FALSE" || upper == "NO" || upper == "0") return "0";
  if (upper.empty()) return "";
  if (upper == "NULL") return "NULL";
  return SafeBool(Value(engine_text)) ? "1" : "0";
}

std::string SchemaXmlText(const pugi::xml_document& document) {
  std::ostringstream out;
  document.save(out, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
  return out.str();
}

std::string SchemaFilePath(const std::string& folder) {
  return StripTrailingSeparators(folder) + "/access.xml";
}

void SaveSchemaFile(const pugi::xml_document& document, const std::string& folder) {
  const std::string path = SchemaFilePath(folder);
  // Only this program writes into the folder, so the name can be freed and made anew.
  if (::unlink(path.c_str()) != 0 && errno != ENOENT)
    throw Error(errc::kFileAccess,
                "Path/File access error: " + path + " (" + std::strerror(errno) + ")");
  const std::string text = SchemaXmlText(document);
  CreatePrivateFile(path, std::vector<uint8_t>(text.begin(), text.end()));
}

}  // namespace ferrolyte
