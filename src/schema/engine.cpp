#include "schema/engine.h"

#include "support/components.h"
#include "support/errors.h"
#include "support/text.h"

namespace ferrolyte {
namespace {

const char* const kEngineClasses[] = {"DAO.DBEngine.120", "DAO.DBEngine.41", "DAO.DBEngine.40",
                                      "DAO.DBEngine.39",  "DAO.DBEngine.38", "DAO.DBEngine.37",
                                      "DAO.DBEngine.36",  "DAO.DBEngine.35"};

std::shared_ptr<DaoEngine> CreateEngine(const ComponentRegistry& components,
                                        const std::string& class_name) {
  auto engine = std::dynamic_pointer_cast<DaoEngine>(components.Create(class_name));
  if (!engine) throw Error(errc::kTypeMismatch, "Type mismatch");
  return engine;
}

struct Dependency {
  const char* class_name;
  const char* message;
};

const Dependency kDependencies[] = {
    {"MSXML2.DOMDocument",
     "The program requires that the MSXML2.DOMDocument is available on your computer. You can "
     "download the xml components from "
     "https://www.microsoft.com/en-us/download/details.aspx?id=3988"
     " or install Internet Explorer 6 (or later) to get these components."},
    {"Scripting.Filesystemobject",
     "The program requires that the Scripting.Filesystemobject is available on your computer. "
     "This component can be downloaded from https://www.microsoft.com/en-us/download as part of "
     "the Windows Scripting Host."},
};

}  // namespace

std::shared_ptr<DaoEngine> CreateDaoEngine(const ComponentRegistry& components) {
  int32_t number = 0;
  std::string description;
  for (const char* class_name : kEngineClasses) {
    number = 0;
    std::shared_ptr<DaoEngine> engine;
    try {
      engine = CreateEngine(components, class_name);
    } catch (const Error& e) {
      number = e.number();
      description = e.description();
      continue;
    }
    try {
      engine->Workspaces(0);
    } catch (const Error& e) {
      number = e.number();
      description = e.description();
      continue;
    }
    engine->Close();
    engine.reset();
    return CreateEngine(components, class_name);
  }
  throw Error(number,
              "Unable to create DAO.Engine. Please install Microsoft Access on this computer. "
              "Error: " +
                  std::to_string(number) + ". " + description);
}

void CheckDependencies(StatusOutput& status, const Messages& messages,
                       const ComponentRegistry& components) {
  bool failed = false;
  for (const Dependency& dependency : kDependencies) {
    std::string message;
    try {
      components.Create(dependency.class_name);
    } catch (const Error& e) {
      if (e.Is(errc::kCannotCreateObject))
        message = dependency.message;
      else
        message = std::string("An error occured while trying to create an object of type '") +
                  dependency.class_name + "'.\r\nError: " + std::to_string(e.number()) + " (0x" +
                  HexNumber(e.number()) + ")\r\nReason: " + e.description();
    }
    if (message.empty()) continue;
    message += "\r\n\r\nThis message has been placed on the clipboard.";
    messages.CopyToClipboard(message);
    status.WriteLog(ReplaceAll(message, "\r\n", " "));
    messages.Show(message, kMsgInformation, "Ferrolyte", kAnswerOk);
    failed = true;
  }
  if (failed)
    throw Error(errc::kMissingDependency,
                "Dependency check failed.\r\n\r\nThe program will now exit.");
}

}  // namespace ferrolyte
