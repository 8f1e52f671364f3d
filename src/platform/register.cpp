#include "platform/register.h"

#include "platform/ado.h"
#include "platform/dao.h"
#include "platform/xml_document.h"

namespace ferrolyte {

ComponentRegistry PlatformComponents() {
  ComponentRegistry registry;
  registry.Register("ADODB.Connection", [] { return std::make_shared<Connection>(); });
  registry.Register("ADODB.RecordSet", [] { return std::make_shared<Recordset>(); });
  for (const char* engine :
       {"DAO.DBEngine.120", "DAO.DBEngine.41", "DAO.DBEngine.40", "DAO.DBEngine.39",
        "DAO.DBEngine.38", "DAO.DBEngine.37", "DAO.DBEngine.36", "DAO.DBEngine.35"})
    registry.Register(engine, [] { return CreateLibmdbEngine(); });
  registry.Register("MSXML2.DOMDocument", [] { return std::make_shared<XmlDocument>(); });
  registry.Register("Scripting.Filesystemobject",
                    [] { return std::make_shared<FileSystemObject>(); });
  return registry;
}

}  // namespace ferrolyte
