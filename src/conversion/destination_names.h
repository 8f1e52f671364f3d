// How destination names are spelt (identifiercase) and how the names of one scope are kept
// apart once folded: tables of the schema, columns of a table, foreign keys.
#pragma once

#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

namespace ferrolyte {

// KEEP: as Access spells them; LOWER: lower case; SNAKE: lower case, and every run of
// characters other than letters, digits and "_" becomes one "_".
enum class IdentifierCase { kKeep, kLower, kSnake };

// The rule of an identifiercase value (any letter case; empty: KEEP); nothing for another.
std::optional<IdentifierCase> IdentifierCaseOf(const std::string& value);
// "KEEP", "LOWER" or "SNAKE".
const char* IdentifierCaseText(IdentifierCase rule);

// The name under the rule. Letters are those of Unicode in any script, lower-cased by
// Unicode's simple mapping whatever the locale; combining marks stay with their letter.
// SNAKE drops the runs at either end, so that " Total (€) " gives "total"; a name of such
// characters alone gives "_". Bytes that are not UTF-8 are neither letters nor digits.
std::string FoldIdentifier(const std::string& name, IdentifierCase rule);

// One scope's names made distinct. Each name is folded and cut to 63 bytes (ShortenedName);
// a name the rule leaves as it is and that fits is given first, so that no folded name can
// take it; a folded name that is taken gets "_1", "_2" ... within 63 bytes, as index names
// do. Returns the destination name of each, in order; all are added to `taken`.
std::vector<std::string> DistinctNames(const std::vector<std::string>& names, IdentifierCase rule,
                                       std::unordered_set<std::string>& taken);

// `wanted`, or when it is taken `wanted` cut to leave room for "_N" with the first N free;
// the name given is added to `taken`.
std::string NumberedName(const std::string& wanted, std::unordered_set<std::string>& taken);

}  // namespace ferrolyte
