#include "conversion/checks.h"

#include "conversion/literals.h"
#include "conversion/table_definition.h"
#include "conversion/views.h"
#include "support/value.h"

namespace ferrolyte {
namespace {

bool IsText(int32_t type) {
  return type == 10 || type == 12;
}

}  // namespace

std::vector<CheckConstraint> ChecksOf(const SchemaTable& table, const DefinedTable& defined) {
  const Relation relation = TableRelation(table, defined);
  const std::string& name = table.name.value();
  std::vector<CheckConstraint> checks;
  auto translate = [&](CheckConstraint& c, const RelationColumn* field) {
    try {
      c.expression = TranslateRule(c.rule, relation, field);
    } catch (const Untranslatable& e) {
      c.reason = e.what();
    }
  };
  for (const SchemaField& field : table.fields) {
    auto column = defined.columns.find(field.name.value());
    if (column == defined.columns.end()) continue;
    const RelationColumn* rc = nullptr;
    for (const RelationColumn& c : relation.columns)
      if (c.name == column->first) rc = &c;
    const std::string on = name + "\\" + column->first;
    if (!field.validation_rule.empty()) {
      CheckConstraint c{on,
                        field.validation_rule,
                        field.validation_text,
                        ShortenedName(defined.destination_name + "_" + column->second + "_check"),
                        "",
                        ""};
      translate(c, rc);
      checks.push_back(std::move(c));
    }
    if (!field.allow_zero_length && IsText(field.type.value())) {
      checks.push_back(
          {on, "Allow Zero Length = No", "",
           ShortenedName(defined.destination_name + "_" + column->second + "_not_empty"),
           "(" + QuoteIdentifier(column->second) + " <> '')", ""});
    }
  }
  if (!table.validation_rule.empty()) {
    CheckConstraint c{name,
                      table.validation_rule,
                      table.validation_text,
                      ShortenedName(defined.destination_name + "_check"),
                      "",
                      ""};
    translate(c, nullptr);
    checks.push_back(std::move(c));
  }
  return checks;
}

std::string AddCheckStatement(const std::string& table, const CheckConstraint& check) {
  return "ALTER TABLE " + QuoteIdentifier(table) + " ADD CONSTRAINT " +
         QuoteIdentifier(check.name) + " CHECK (" + check.expression + ") NOT VALID";
}

std::string BrokenRowsQuery(const std::string& table, const CheckConstraint& check) {
  return "SELECT count(*) FROM " + QuoteIdentifier(table) + " WHERE (" + check.expression +
         ") IS FALSE";
}

std::string ValidateStatement(const std::string& table, const CheckConstraint& check) {
  return "ALTER TABLE " + QuoteIdentifier(table) + " VALIDATE CONSTRAINT " +
         QuoteIdentifier(check.name);
}

std::string ValidateWhenSoundBlock(const std::string& table, const CheckConstraint& check) {
  std::string tag = "$ferrolyte$";
  while (check.expression.find(tag) != std::string::npos) tag.insert(tag.size() - 1, "_");
  return "DO " + tag + " BEGIN IF EXISTS (SELECT 1 FROM " + QuoteIdentifier(table) + " WHERE (" +
         check.expression + ") IS FALSE) THEN RAISE NOTICE " +
         SqlString(Value("rows of " + table + " break the rule " + check.name +
                         ", which stays NOT VALID")) +
         "; ELSE " + ValidateStatement(table, check) + "; END IF; END " + tag;
}

}  // namespace ferrolyte
