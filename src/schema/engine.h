// Finding the newest Access database engine, and the start-up check of the components the
// wizard cannot run without.
#pragma once

#include <memory>

#include "platform/dao.h"
#include "support/components.h"
#include "support/messages.h"
#include "support/status.h"

namespace ferrolyte {

// The engine of the newest class name, "DAO.DBEngine.120" down to "DAO.DBEngine.35", whose
// default workspace opens. Raises the last failure's number with "Unable to create
// DAO.Engine. ..." when none does.
std::shared_ptr<DaoEngine> CreateDaoEngine(const ComponentRegistry& components);

// Creates "MSXML2.DOMDocument" and "Scripting.Filesystemobject"; for each that fails, puts an
// explanation on the clipboard, in the log and in a message box. Raises 1000 after any failure.
void CheckDependencies(StatusOutput& status, const Messages& messages,
                       const ComponentRegistry& components);

}  // namespace ferrolyte
