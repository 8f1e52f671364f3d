// Binds start-up to the real scanner and conversion.
#include "conversion/conversion_run.h"
#include "schema/access_scanner.h"
#include "schema/engine.h"
#include "schema/schema_document.h"
#include "shell/startup.h"

namespace ferrolyte {

ConversionServices DefaultServices() {
  ConversionServices services;
  services.check_dependencies = [](StatusOutput& status) { CheckDependencies(status); };
  services.scan = [](const SourceFields& source, const std::string& schema_folder,
                     StatusOutput& status) {
    auto document = ScanAccessDatabase(source.file, source.password, source.user,
                                       source.system_database, status, schema_folder);
    return SchemaXmlText(*document);
  };
  services.convert = [](const DictionaryPtr& settings, std::string& run_report,
                        const std::string& schema_xml, StatusOutput& status) {
    return MoveData2MySql(settings, run_report, schema_xml, status);
  };
  return services;
}

int RunProgram(const std::vector<std::string>& args, WindowHooks* window) {
  return RunProgram(args, window, DefaultServices());
}

}  // namespace ferrolyte
