#include "platform/pg_parameters.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "support/files.h"
#include "testing/temp_dir.h"

namespace ferrolyte {
namespace {

using testing::ScopedEnv;
using testing::TempDir;

std::string Refusal(const std::string& text) {
  try {
    ParsePgParameters(text);
  } catch (const std::invalid_argument& e) {
    return e.what();
  }
  return "";
}

// The spellings a hand-written reader missed: a percent-encoded key, a second value.
TEST(PgParametersTest, EverySpellingOfAKeyIsTheKey) {
  struct Case {
    std::string text;
    PgParameterList parameters;
  } cases[] = {
      {"postgres://u:a@h/db?pass%77ord=b",
       {{"user", "u"}, {"password", "b"}, {"dbname", "db"}, {"host", "h"}}},
      {"password=a password='b c'", {{"password", "b c"}}},
      {"", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ParsePgParameters(c.text), c.parameters);
  }
}

// libpq's reason names an unknown keyword; what it quotes of a value never shows.
TEST(PgParametersTest, RefusalsNameTheKeywordButNoPartOfAValue) {
  struct Case {
    std::string text, named, hidden;
  } cases[] = {
      {"host=h bogus=1", "invalid connection option \"bogus\"", ""},
      {"postgresql://h/d?sslmod=require", "invalid URI query parameter: \"sslmod\"", ""},
      {"postgresql://u:s3cr%zz@h/d", "invalid percent-encoded token", "s3cr"},
      {"postgresql://h/d?password=s3cr%zz", "invalid percent-encoded token", "s3cr"},
      {"host=h password=s3cr et", "missing \"=\"", "et"},
      {"mysql://u:s3cret@h/d", "missing \"=\"", "s3cret"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const std::string why = Refusal(c.text);
    EXPECT_NE(why.find(c.named), std::string::npos) << why;
    if (!c.hidden.empty()) {
      EXPECT_EQ(why.find(c.hidden), std::string::npos) << why;
    }
  }
}

TEST(PgParametersTest, TextReadsBackAsItWas) {
  const PgParameterList parameters = {{"host", "h"},
                                      {"password", "it's a \\ 'quoted' secret"},
                                      {"options", "-c search_path=a,b"},
                                      {"application_name", ""}};
  EXPECT_EQ(ParsePgParameters(PgParametersText(parameters)),
            (PgParameterList{{"password", "it's a \\ 'quoted' secret"},
                             {"host", "h"},
                             {"options", "-c search_path=a,b"},
                             {"application_name", ""}}));
}

TEST(PgParametersTest, ServiceDatabaseIsTheServicesOwnOrNone) {
  TempDir dir;
  WriteTextFile(dir.File("pg_service.conf"),
                "[named]\nhost=db.invalid\nport=6000\ndbname=shop\n"
                "[unnamed]\nhost=db.invalid\nuser=someone\n");
  ScopedEnv file("PGSERVICEFILE", dir.File("pg_service.conf").c_str());
  ScopedEnv service("PGSERVICE", nullptr);
  ScopedEnv database("PGDATABASE", nullptr);
  EXPECT_EQ(ServiceDatabase({{"service", "named"}}), "shop");
  EXPECT_EQ(ServiceDatabase({{"service", "named"}, {"dbname", "other"}}), "other");
  // libpq would take the user name; that is no database the service names.
  EXPECT_EQ(ServiceDatabase({{"service", "unnamed"}}), std::nullopt);
  EXPECT_EQ(ServiceDatabase({{"host", "h"}}), std::nullopt);
  try {
    ServiceDatabase({{"service", "absent"}});
    ADD_FAILURE() << "an unknown service was accepted";
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find("\"absent\""), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace ferrolyte
