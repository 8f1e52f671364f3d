#include "shell/error_report.h"

#include <gtest/gtest.h>

#include "shell/shell_testing.h"
#include "support/errors.h"
#include "support/messages.h"
#include "testing/temp_dir.h"
#include "wizard/settings.h"

namespace ferrolyte {
namespace {

using testing::LogEntries;
using testing::ProgramEnded;
using testing::RecordingPresenter;
using testing::ScopedEnv;
using testing::TempDir;
using testing::TestProgram;

std::string Report(const std::string& procedure, const std::string& error_line,
                   const std::string& reason, const std::string& step) {
  return "Error in function '" + procedure + "'\r\n" + error_line + "\r\nReason: " + reason +
         "\r\nDebug information: " + step + "\r\n\r\nVersion: 1.0.1\r\n\r\n" +
         "This error message is on the clipboard.\r\n" +
         "The program will now terminate. Have a nice day :)";
}

TEST(ErrorReportTextTest, ShowsTheNumberInDecimalAndHex) {
  EXPECT_EQ(
      ErrorReportText("Form_Load", 1000, "Dependency check failed.", "Check dependencies"),
      Report("Form_Load", "Error: 1000 (0x3E8)", "Dependency check failed.", "Check dependencies"));
  EXPECT_EQ(ErrorReportText("cmdNext_Click", -2147467259, "Unspecified error", "Initializing"),
            Report("cmdNext_Click", "Error: -2147467259 (0x80004005)", "Unspecified error",
                   "Initializing"));
}

TEST(ErrorReportTextTest, CommandLineFormsNameTheErrorAndSayNothingOfAClipboard) {
  const std::string report = ErrorReportText("convert", -2147217843, "x", "Convert",
                                             {.named_error = true, .on_clipboard = false});
  EXPECT_NE(report.find("\r\nError: DB_SEC_E_AUTH_FAILED: Authentication failed.\r\n"),
            std::string::npos)
      << report;
  EXPECT_EQ(report.find("clipboard"), std::string::npos);
  EXPECT_TRUE(report.ends_with("\r\n\r\nThe program will now terminate. Have a nice day :)"));
}

TEST(NamedErrorTest, NamesKnownNumbersAndShowsOthersInDecimalAndHex) {
  EXPECT_EQ(NamedError(3043), "3043: Disk or network error.");
  EXPECT_EQ(NamedError(-2147467259), "E_FAIL: Unspecified error.");
  EXPECT_EQ(NamedError(-2147217900),
            "DB_E_ERRORSINCOMMAND: The command contained one or more errors.");
  EXPECT_EQ(NamedError(3706), "adErrProviderNotFound: The provider cannot be found.");
  EXPECT_EQ(NamedError(12345), "12345 (0x3039)");
  EXPECT_EQ(NamedError(-2147000000), "-2147000000 (0x80076140)");
  EXPECT_FALSE(MeaningOfError(0));
}

class ProgramEndTest : public ::testing::Test {
 protected:
  void SetUp() override { program_.log.Init(); }
  // Runs the call and returns the exit status it ended the program with.
  template <class F>
  int EndStatus(F call) {
    try {
      call();
    } catch (const ProgramEnded& e) {
      return e.status;
    }
    ADD_FAILURE() << "the program did not end";
    return -1;
  }

  TempDir dir_;
  ScopedEnv appdata_{"APPDATA", dir_.path().c_str()};
  RecordingPresenter presenter_;
  TestProgram program_{&presenter_};
};

TEST_F(ProgramEndTest, ErrorHandlerReportsEverywhereAndEndsFatally) {
  int status = EndStatus(
      [&] { ErrorHandler(program_, "Form_Load", 3024, "Could not find file", "Check autorun"); });
  const std::string report =
      ErrorReportText("Form_Load", 3024, "Could not find file", "Check autorun");
  EXPECT_EQ(status, kExitFatal);
  EXPECT_EQ(LogEntries(), (std::vector<std::string>{report, "End"}));
  EXPECT_EQ(presenter_.clipboard, std::vector<std::string>{report});
  ASSERT_EQ(presenter_.shown.size(), 1u);
  EXPECT_EQ(presenter_.shown[0].text, report);
  EXPECT_EQ(presenter_.shown[0].style, kMsgCritical);
  EXPECT_EQ(presenter_.shown[0].title, "Ferrolyte");
}

TEST_F(ProgramEndTest, HideKeepsTheReportInTheLogOnly) {
  program_.Hide();
  int status =
      EndStatus([&] { ErrorHandler(program_, "cmdNext_Click", 1000, "x", "Initializing"); });
  EXPECT_EQ(status, kExitFatal);
  std::vector<std::string> log = LogEntries();
  ASSERT_EQ(log.size(), 2u);
  // Hidden, it was not copied: the report does not say it was.
  EXPECT_EQ(log[0].find("clipboard"), std::string::npos) << log[0];
  EXPECT_EQ(log[1], "End");
  EXPECT_TRUE(presenter_.clipboard.empty());
  EXPECT_TRUE(presenter_.shown.empty());
}

TEST_F(ProgramEndTest, HaltErrorLogsWithoutAMessage) {
  int status = EndStatus(
      [&] { HaltError(program_, "Unable to load ini file: x\r\nDefault settings applied."); });
  EXPECT_EQ(status, kExitSettings);
  EXPECT_EQ(LogEntries(), (std::vector<std::string>{
                              "Unable to load ini file: x\r\nDefault settings applied.", "End"}));
  EXPECT_TRUE(presenter_.shown.empty());
}

TEST_F(ProgramEndTest, EndProgramLogsEndLastWithItsStatus) {
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(EndStatus([&] { EndProgram(program_); }), kExitOk);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(EndStatus([&] { EndProgram(program_, kExitConversion); }), kExitConversion);
  // A failed end says where its report is.
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "ferrolyte: the run's report is in " + program_.log.path() + "\n");
  EXPECT_EQ(LogEntries(), (std::vector<std::string>{"End", "End"}));
}

TEST_F(ProgramEndTest, CommandLineFormReportsToTheLogAndOneLineToStandardError) {
  program_.options.command_line_form = true;
  ::testing::internal::CaptureStderr();
  const int status = EndStatus([&] {
    ErrorHandler(program_, "convert", 3043, "Disk or network error.\r\nat page 7", "Convert",
                 "cannot read the source database 'a.mdb'");
  });
  EXPECT_EQ(status, kExitFatal);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "ferrolyte: cannot read the source database 'a.mdb': Disk or network error.  at page "
            "7\nferrolyte: the run's report is in " +
                program_.log.path() + "\n");
  EXPECT_TRUE(presenter_.shown.empty());
  EXPECT_TRUE(presenter_.clipboard.empty());
  ASSERT_EQ(LogEntries().size(), 2u);
  EXPECT_NE(LogEntries()[0].find("Error: 3043: Disk or network error."), std::string::npos);
}

TEST_F(ProgramEndTest, EndsEvenWhenTheLogCannotBeWritten) {
  ScopedEnv elsewhere("APPDATA", dir_.File("missing").c_str());
  TestProgram program(&presenter_);
  EXPECT_EQ(EndStatus([&] { ErrorHandler(program, "Form_Load", 1, "x", "y"); }), kExitFatal);
}

TEST_F(ProgramEndTest, MessagesAnswerByThemselvesWhenHiddenOrWithoutWindow) {
  presenter_.answer = kAnswerNo;
  EXPECT_EQ(Messages(&presenter_)
                .Show("Do you wish to cancel the transfer?", kMsgQuestion | kMsgYesNo, "Ferrolyte",
                      kAnswerYes),
            kAnswerNo);
  EXPECT_EQ(
      Messages(&presenter_, true).Show("q", kMsgQuestion | kMsgYesNo, "Ferrolyte", kAnswerYes),
      kAnswerYes);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(Messages().Show("line1\r\nline2", kMsgExclamation, "Ferrolyte", kAnswerOk), kAnswerOk);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Ferrolyte: line1\nline2\n");
  EXPECT_EQ(presenter_.shown.size(), 1u);
}

}  // namespace
}  // namespace ferrolyte
