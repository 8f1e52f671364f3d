#include "support/errors.h"

#include <gtest/gtest.h>

#include <set>

namespace ferrolyte {
namespace {

// Each named code is found by its number as itself: a code left out of the look-up table, or
// two codes sharing a number, fails here.
TEST(ErrorCatalogueTest, EveryCodeIsFoundByItsNumberAsItself) {
  const ErrorCode* codes[] = {
      &errc::kInvalidCall,
      &errc::kOverflow,
      &errc::kTypeMismatch,
      &errc::kInternal,
      &errc::kBadFileNumber,
      &errc::kFileNotFound,
      &errc::kDeviceIo,
      &errc::kDiskFull,
      &errc::kTooManyFiles,
      &errc::kFileAccess,
      &errc::kPathNotFound,
      &errc::kObjectNotSet,
      &errc::kInvalidNull,
      &errc::kAttachment,
      &errc::kCannotCreateObject,
      &errc::kMissingDependency,
      &errc::kBinaryTooLarge,
      &errc::kNoOdbcDriver,
      &errc::kObjectNotFound,
      &errc::kNoCurrentRecord,
      &errc::kCouldNotFindFile,
      &errc::kWorkgroupMissing,
      &errc::kDaoInvalidPassword,
      &errc::kDiskOrNetwork,
      &errc::kDamagedDatabase,
      &errc::kFeatureNotAvailable,
      &errc::kItemNotFound,
      &errc::kUnrecognizedFormat,
      &errc::kObjectInvalid,
      &errc::kObjectClosed,
      &errc::kProviderNotFound,
      &errc::kInvalidConnection,
      &errc::kNotImplemented,
      &errc::kUnspecified,
      &errc::kInvalidClassString,
      &errc::kParameterMissing,
      &errc::kErrorsInCommand,
      &errc::kErrorsOccurred,
      &errc::kNoTable,
      &errc::kAuthFailed,
      &errc::kOutOfMemory,
      &errc::kInvalidArgument,
  };
  std::set<int32_t> numbers;
  for (const ErrorCode* code : codes) {
    SCOPED_TRACE(code->number);
    EXPECT_TRUE(numbers.insert(code->number).second);
    EXPECT_EQ(FindErrorCode(code->number), code);
    EXPECT_EQ(
        NamedError(code->number),
        (*code->name ? std::string(code->name) : std::to_string(code->number)) + ": " + code->text);
  }
}

TEST(ErrorCatalogueTest, KindsDecideWhatCallersTestFor) {
  struct Case {
    int32_t number;
    ErrorKind kind;
  };
  const Case cases[] = {
      {3031, ErrorKind::kPassword},
      {-2147217843, ErrorKind::kPassword},
      {3049, ErrorKind::kDamage},
      {3343, ErrorKind::kDamage},
      {3043, ErrorKind::kIo},
      {53, ErrorKind::kIo},
      {61, ErrorKind::kIo},
      {3706, ErrorKind::kMissingComponent},
      {1004, ErrorKind::kMissingComponent},
      {-2147217900, ErrorKind::kServer},
      {12345, ErrorKind::kOther},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.number);
    EXPECT_EQ(KindOfError(c.number), c.kind);
    EXPECT_EQ(Error(c.number, "x").kind(), c.kind);
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
