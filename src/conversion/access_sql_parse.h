// The syntax trees of Access expressions, which the translation walks.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "schema/query_model.h"

namespace ferrolyte::access_sql {

struct Node;
using NodePtr = std::shared_ptr<const Node>;

struct Node {
  enum class Kind {
    kNumber,
    kString,
    kDate,
    kBoolean,
    kNull,
    kName,
    kStar,
    kUnary,
    kBinary,
    kCall,
    kBetween,
    kIn,
    kLike,
    kIsNull,
    kSubquery,
    kExists,
    kImplicit,
  };
  explicit Node(Kind k = Kind::kNull, std::string t = "") : kind(k), text(std::move(t)) {}
  Kind kind;
  std::string text;                // literal, operator, function name
  std::vector<std::string> parts;  // kName, kStar: the name's parts
  std::vector<NodePtr> args;
  bool negated = false;
  std::shared_ptr<const SelectModel> select;  // kSubquery, kExists, kIn over a SELECT
};

// The tree of one expression; with `implicit`, a field's validation rule that may begin with
// an operator (">0"), its subject the field. Throws Untranslatable.
NodePtr ParseExpression(const std::string& text, bool implicit = false);

}  // namespace ferrolyte::access_sql
