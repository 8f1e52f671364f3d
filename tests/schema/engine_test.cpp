#include "schema/engine.h"

#include <gtest/gtest.h>

#include "platform/register.h"
#include "support/components.h"
#include "support/errors.h"
#include "support/messages.h"

namespace ferrolyte {
namespace {

const char* const kEngines[] = {"DAO.DBEngine.120", "DAO.DBEngine.41", "DAO.DBEngine.40",
                                "DAO.DBEngine.39",  "DAO.DBEngine.38", "DAO.DBEngine.37",
                                "DAO.DBEngine.36",  "DAO.DBEngine.35"};

// Every component of the build, for a test to take some away.
class RegistryTest : public ::testing::Test {
 protected:
  ComponentRegistry& registry() { return registry_; }

 private:
  ComponentRegistry registry_ = PlatformComponents();
};

class BrokenWorkspaceEngine : public DaoEngine {
 public:
  std::shared_ptr<DaoWorkspace> Workspaces(int) override {
    throw Error(3028, "Cannot start your application. The workgroup information file is missing.");
  }
  std::shared_ptr<DaoWorkspace> CreateWorkspace(const std::string&, const std::string&,
                                                const std::string&) override {
    return nullptr;
  }
};

class FakeEngine : public BrokenWorkspaceEngine {
 public:
  explicit FakeEngine(std::string tag) : tag(std::move(tag)) {}
  std::shared_ptr<DaoWorkspace> Workspaces(int) override { return nullptr; }
  std::string tag;
};

using RegistryEngineTest = RegistryTest;

TEST_F(RegistryEngineTest, TakesTheNewestEngineWhoseWorkspaceOpens) {
  EXPECT_TRUE(std::dynamic_pointer_cast<DaoEngine>(CreateDaoEngine(registry())));

  for (const char* name : kEngines) registry().Unregister(name);
  registry().Register("DAO.DBEngine.36", [] { return std::make_shared<FakeEngine>("36"); });
  registry().Register("DAO.DBEngine.35", [] { return std::make_shared<FakeEngine>("35"); });
  auto engine = std::dynamic_pointer_cast<FakeEngine>(CreateDaoEngine(registry()));
  ASSERT_TRUE(engine);
  EXPECT_EQ(engine->tag, "36");

  registry().Register("DAO.DBEngine.120", [] { return std::make_shared<BrokenWorkspaceEngine>(); });
  engine = std::dynamic_pointer_cast<FakeEngine>(CreateDaoEngine(registry()));
  ASSERT_TRUE(engine);
  EXPECT_EQ(engine->tag, "36");
}

TEST_F(RegistryEngineTest, NoEngineReportsTheLastFailure) {
  for (const char* name : kEngines) registry().Unregister(name);
  registry().Register("DAO.DBEngine.120", [] { return std::make_shared<BrokenWorkspaceEngine>(); });
  try {
    CreateDaoEngine(registry());
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 429);
    EXPECT_EQ(e.description().rfind("Unable to create DAO.Engine. Please install Microsoft Access "
                                    "on this computer. Error: 429. ",
                                    0),
              0u)
        << e.description();
  }
}

class RecordingPresenter : public MessagePresenter {
 public:
  int Show(const std::string& text, int style, const std::string& title) override {
    shown.push_back(text);
    styles.push_back(style);
    titles.push_back(title);
    return kAnswerOk;
  }
  void CopyToClipboard(const std::string& text) override { clipboard = text; }
  std::vector<std::string> shown, titles;
  std::vector<int> styles;
  std::string clipboard;
};

using DependencyTest = RegistryTest;

TEST_F(DependencyTest, EachMissingComponentIsExplainedThenTheCheckFails) {
  RecordingPresenter presenter;
  const Messages messages(&presenter);
  RecordingStatus status;
  EXPECT_NO_THROW(CheckDependencies(status, messages, registry()));
  EXPECT_TRUE(presenter.shown.empty());

  registry().Unregister("MSXML2.DOMDocument");
  registry().Register("Scripting.Filesystemobject", []() -> std::shared_ptr<Component> {
    throw Error(-2147221005, "Invalid class string");
  });
  try {
    CheckDependencies(status, messages, registry());
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 1000);
    EXPECT_EQ(e.description(), "Dependency check failed.\r\n\r\nThe program will now exit.");
  }
  ASSERT_EQ(presenter.shown.size(), 2u);
  EXPECT_EQ(presenter.shown[0].rfind("The program requires that the MSXML2.DOMDocument is "
                                     "available on your computer.",
                                     0),
            0u);
  const std::string general =
      "An error occured while trying to create an object of type 'Scripting.Filesystemobject'."
      "\r\nError: -2147221005 (0x800401F3)\r\nReason: Invalid class string\r\n\r\nThis message "
      "has been placed on the clipboard.";
  EXPECT_EQ(presenter.shown[1], general);
  EXPECT_EQ(presenter.clipboard, general);
  EXPECT_EQ(presenter.titles[1], "Ferrolyte");
  EXPECT_EQ(presenter.styles[1], kMsgInformation);
  ASSERT_EQ(status.log.size(), 2u);
  EXPECT_EQ(status.log[1],
            "An error occured while trying to create an object of type "
            "'Scripting.Filesystemobject'. Error: -2147221005 (0x800401F3) Reason: Invalid class "
            "string  This message has been placed on the clipboard.");
}

}  // namespace
}  // namespace ferrolyte
