// Binds start-up to the real scanner and conversion.
#include "conversion/conversion_run.h"
#include "schema/access_scanner.h"
#include "schema/engine.h"
#include "shell/startup.h"

namespace ferrolyte {

ConversionServices DefaultServices() {
  ConversionServices services;
  services.check_dependencies = [](StatusOutput& status, const Messages& messages,
                                   const ComponentRegistry& components) {
    CheckDependencies(status, messages, components);
  };
  services.scan = [](const SourceFields& source, const RunContext& ctx) {
    return ScanAccessDatabase(source.file, source.password, source.user, source.system_database,
                              ctx);
  };
  services.convert = [](const DictionaryPtr& settings, std::string& run_report,
                        const SchemaModel& schema, const RunContext& ctx) {
    return ConvertDatabase(settings, run_report, schema, ctx);
  };
  return services;
}

}  // namespace ferrolyte
