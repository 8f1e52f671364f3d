#include "support/value.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "support/errors.h"
#include "support/safe.h"

namespace ferrolyte {
namespace {

TEST(DictionaryTest, MissingKeyReadsEmptyAndIsNotAdded) {
  auto d = Dictionary::Create();
  const Value& v = d->Item("nope");
  EXPECT_TRUE(v.IsEmpty());
  EXPECT_FALSE(v.IsText());  // distinct from the empty text
  EXPECT_EQ(SafeStr(v), "");
  EXPECT_EQ(SafeLng(v), 0);
  EXPECT_FALSE(SafeBool(v));
  EXPECT_EQ(d->Count(), 0);
  EXPECT_FALSE(d->Exists("nope"));
}

TEST(DictionaryTest, KeepsInsertionOrderAcrossReplaceAndRemove) {
  auto d = Dictionary::Create();
  d->Set("b", "1");
  d->Set("a", "2");
  d->Set("c", "3");
  d->Set("b", "replaced");  // stays in place
  d->Remove("a");
  d->Set("a", "again");  // re-added at the end
  d->Remove("missing");
  EXPECT_EQ(d->Keys(), (std::vector<std::string>{"b", "c", "a"}));
  std::vector<Value> items = d->Items();
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].Text(), "replaced");
  EXPECT_EQ(items[2].Text(), "again");
  EXPECT_EQ(d->Count(), 3);
}

TEST(DictionaryTest, SortingByRemoveAndReAddRewritesTheOrder) {
  auto d = Dictionary::Create();
  d->Set("0", "00000300,00000010");
  d->Set("1", "00000100,00000050");
  d->Set("2", "00000100,00000020");
  std::vector<std::pair<std::string, std::string>> pairs;
  for (const auto& k : d->Keys()) pairs.emplace_back(d->Item(k).Text(), k);
  std::sort(pairs.begin(), pairs.end());
  for (const auto& [item, key] : pairs) {
    d->Remove(key);
    d->Set(key, item);
  }
  EXPECT_EQ(d->Keys(), (std::vector<std::string>{"2", "1", "0"}));
}

TEST(DictionaryTest, NestedSetStoresIntoTheInnerDictionary) {
  auto outer = Dictionary::Create();
  outer->Set("Velkan Ferrolyte", Dictionary::Create());
  outer->Section("Velkan Ferrolyte")->Set("tableprefix", "x_");
  Value copy = outer->Item("Velkan Ferrolyte");
  copy.Dict()->Set("unicode", "1");
  auto inner = outer->Section("Velkan Ferrolyte");
  ASSERT_TRUE(inner);
  EXPECT_EQ(inner->Item("tableprefix").Text(), "x_");
  EXPECT_EQ(inner->Item("unicode").Text(), "1");
  EXPECT_EQ(outer->Section("tableprefix"), nullptr);
  EXPECT_TRUE(outer->Item("Velkan Ferrolyte").IsDictionary());
}

TEST(ValueTest, TypedAccessOfAnotherKindIsATypeMismatch) {
  Value text("abc");
  try {
    text.AsInteger();
    ADD_FAILURE() << "expected error 13";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 13);
  }
  EXPECT_THROW(Value().List(), Error);
  EXPECT_THROW(Value::Null().Text(), Error);
  EXPECT_DOUBLE_EQ(Value::Decimal("-12.25").AsDouble(), -12.25);
  EXPECT_DOUBLE_EQ(Value(true).AsDouble(), -1.0);
}

}  // namespace
}  // namespace ferrolyte
