#include "support/errors.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>
#include <vector>

#include "support/files.h"

namespace ferrolyte {
namespace {

// The numbers of the errc constants as the header declares them, in its order.
std::vector<int32_t> DeclaredNumbers() {
  const std::string header =
      ReadTextFile(std::string(FERROLYTE_SOURCE_DIR) + "/src/support/errors.h", "");
  const std::regex declaration(R"(inline\s+constexpr\s+ErrorCode\s+k\w+\s*\{\s*(-?\d+)\s*,)");
  std::vector<int32_t> numbers;
  for (auto it = std::sregex_iterator(header.begin(), header.end(), declaration);
       it != std::sregex_iterator(); ++it)
    numbers.push_back(static_cast<int32_t>(std::stoll((*it)[1].str())));
  return numbers;
}

// A constant declared but left out of the catalogue would be thrown with a number that names
// nothing: no kind, no text in the report.
TEST(ErrorCatalogueTest, HoldsEveryDeclaredCodeOnce) {
  const std::vector<int32_t> declared = DeclaredNumbers();
  ASSERT_FALSE(declared.empty()) << "no errc constant found in the header";
  std::vector<int32_t> catalogued;
  for (const ErrorCode& code : AllErrorCodes()) catalogued.push_back(code.number);
  EXPECT_EQ(catalogued, declared);
  EXPECT_EQ(std::set<int32_t>(catalogued.begin(), catalogued.end()).size(), catalogued.size())
      << "two codes share a number";
}

TEST(ErrorCatalogueTest, EveryCodeIsFoundByItsNumberAndReadsAsASentence) {
  for (const ErrorCode& code : AllErrorCodes()) {
    SCOPED_TRACE(code.number);
    EXPECT_EQ(FindErrorCode(code.number), &code);
    EXPECT_EQ(Error(code, "x").kind(), code.kind);
    const std::string text = code.text;
    ASSERT_FALSE(text.empty());
    EXPECT_TRUE(text.ends_with(".")) << text;
    EXPECT_EQ(NamedError(code.number),
              (*code.name ? std::string(code.name) : std::to_string(code.number)) + ": " + text);
  }
  EXPECT_EQ(FindErrorCode(12345), nullptr);
  EXPECT_EQ(KindOfError(12345), ErrorKind::kOther);
  EXPECT_EQ(NamedError(12345), "12345 (0x3039)");
}

// The command line asks for the source password again on a password kind alone: any other
// code of that kind would prompt for a password when the file is damaged or missing.
TEST(ErrorCatalogueTest, OnlyThePasswordRefusalsAreOfThePasswordKind) {
  std::set<int32_t> password;
  for (const ErrorCode& code : AllErrorCodes())
    if (code.kind == ErrorKind::kPassword) password.insert(code.number);
  EXPECT_EQ(password,
            (std::set<int32_t>{errc::kDaoInvalidPassword.number, errc::kAuthFailed.number}));
}

TEST(ErrorCatalogueTest, KindsDecideWhatCallersTestFor) {
  struct Case {
    ErrorCode code;
    ErrorKind kind;
  };
  const Case cases[] = {
      {errc::kDamagedDatabase, ErrorKind::kDamage},
      {errc::kUnrecognizedFormat, ErrorKind::kDamage},
      {errc::kDiskOrNetwork, ErrorKind::kIo},
      {errc::kFileNotFound, ErrorKind::kIo},
      {errc::kPathNotFound, ErrorKind::kIo},
      {errc::kFileAccess, ErrorKind::kIo},
      {errc::kDiskFull, ErrorKind::kIo},
      {errc::kProviderNotFound, ErrorKind::kMissingComponent},
      {errc::kNoOdbcDriver, ErrorKind::kMissingComponent},
      {errc::kErrorsInCommand, ErrorKind::kServer},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code.number);
    EXPECT_EQ(KindOfError(c.code.number), c.kind);
  }
}

TEST(ErrorCatalogueTest, AnErrorMadeFromACodeCarriesItsNumber) {
  const Error e(errc::kDiskOrNetwork, "DAO.Database", "Disk or network error.");
  EXPECT_EQ(e.number(), 3043);
  EXPECT_EQ(e.source(), "DAO.Database");
  EXPECT_TRUE(e.Is(errc::kDiskOrNetwork));
  EXPECT_FALSE(e.Is(errc::kDamagedDatabase));
}

}  // namespace
}  // namespace ferrolyte
