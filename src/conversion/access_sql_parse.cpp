#include "conversion/access_sql_parse.h"

#include <set>

#include "conversion/access_sql.h"
#include "conversion/access_sql_tokens.h"
#include "support/text.h"

namespace ferrolyte::access_sql {
namespace {

NodePtr Make(Node n) {
  return std::make_shared<const Node>(std::move(n));
}

const std::set<std::string> kReserved = {
    "and",      "or",          "not", "xor",     "eqv",   "imp",   "mod",   "like",
    "in",       "between",     "is",  "as",      "from",  "where", "group", "having",
    "order",    "by",          "on",  "join",    "inner", "outer", "union", "select",
    "distinct", "distinctrow", "top", "percent", "asc",   "desc",  "into"};

// A position in a token list with the steps both parsers take.
class TokenCursor {
 protected:
  TokenCursor(const std::string& text, std::vector<Token> tokens)
      : text_(text), tokens_(std::move(tokens)) {}
  const Token& Peek(size_t ahead = 0) const {
    return tokens_[std::min(pos_ + ahead, tokens_.size() - 1)];
  }
  const Token& Next() { return tokens_[std::min(pos_++, tokens_.size() - 1)]; }
  bool TakeWord(const char* w) {
    if (!IsWord(Peek(), w)) return false;
    ++pos_;
    return true;
  }
  bool TakeOp(const char* op) {
    if (!IsOp(Peek(), op)) return false;
    ++pos_;
    return true;
  }

  // The text of a SELECT in brackets whose "(" was just read; moves past its ")".
  std::string BracketedText() {
    const size_t start = Peek().begin;
    int depth = 1;
    while (Peek().kind != Tok::kEnd) {
      if (IsOp(Peek(), "(")) ++depth;
      if (IsOp(Peek(), ")") && --depth == 0) break;
      ++pos_;
    }
    if (depth != 0) Refuse("a subquery is not closed: " + text_);
    const std::string text = text_.substr(start, Peek().begin - start);
    ++pos_;
    return text;
  }

  const std::string& text_;
  std::vector<Token> tokens_;
  size_t pos_ = 0;
};

class Parser : public TokenCursor {
 public:
  Parser(const std::string& source, std::vector<Token> tokens, bool implicit)
      : TokenCursor(source, std::move(tokens)), source_(source), implicit_(implicit) {}

  // The whole text as one expression.
  NodePtr Whole() {
    NodePtr e = Expression();
    if (Peek().kind != Tok::kEnd) Refuse("the expression does not end where expected: " + source_);
    return e;
  }
  NodePtr Expression() { return Imp(); }

 private:
  void ExpectOp(const char* op) {
    if (!TakeOp(op)) Refuse(std::string("'") + op + "' is missing in: " + source_);
  }

  static NodePtr Binary(const std::string& op, NodePtr a, NodePtr b) {
    Node n{Node::Kind::kBinary, op};
    n.args = {std::move(a), std::move(b)};
    return Make(std::move(n));
  }

  // Binary operators by precedence, loosest first: the logical ones above Not, the others
  // between the comparisons and the unary minus. All bind to the left.
  static constexpr const char* kLogical[][1] = {{"imp"}, {"eqv"}, {"xor"}, {"or"}, {"and"}};
  static constexpr const char* kArithmetic[][2] = {
      {"&", nullptr}, {"+", "-"}, {"mod", nullptr}, {"\\", nullptr}, {"*", "/"}};

  // The operator of the level at the current token, moved past; nullptr when there is none.
  template <size_t N>
  const char* TakeOperator(const char* const (&ops)[N]) {
    for (const char* op : ops) {
      if (!op) continue;
      const bool word = std::isalpha(static_cast<unsigned char>(op[0]));
      if (word ? IsWord(Peek(), op) : IsOp(Peek(), op)) {
        ++pos_;
        return op;
      }
    }
    return nullptr;
  }

  // One level of a table of binary operators: its operands are the next level's, the last
  // level's are what `below` parses.
  template <size_t L, size_t N>
  NodePtr Levels(const char* const (&table)[L][N], size_t level, NodePtr (Parser::*below)()) {
    if (level == L) return (this->*below)();
    NodePtr left = Levels(table, level + 1, below);
    while (const char* op = TakeOperator(table[level]))
      left = Binary(op, left, Levels(table, level + 1, below));
    return left;
  }
  NodePtr Logical() { return Levels(kLogical, 0, &Parser::Not); }
  NodePtr Imp() { return Logical(); }

  NodePtr Not() {
    if (TakeWord("not")) {
      Node n{Node::Kind::kUnary, "not"};
      n.args = {Not()};
      return Make(std::move(n));
    }
    return Comparison();
  }

  bool AtComparisonOperator() const {
    const Token& t = Peek();
    if (t.kind == Tok::kOp)
      return t.text == "=" || t.text == "<>" || t.text == "<" || t.text == ">" || t.text == "<=" ||
             t.text == ">=";
    return IsWord(t, "like") || IsWord(t, "between") || IsWord(t, "in") || IsWord(t, "is") ||
           (IsWord(t, "not") &&
            (IsWord(Peek(1), "like") || IsWord(Peek(1), "between") || IsWord(Peek(1), "in")));
  }

  NodePtr Comparison() {
    // A field's validation rule leaves out the field: ">0", "Between 1 And 9", "Is Null".
    NodePtr left =
        implicit_ && AtComparisonOperator() ? Make(Node(Node::Kind::kImplicit)) : Concat();
    for (;;) {
      const Token& t = Peek();
      if (t.kind == Tok::kOp && (t.text == "=" || t.text == "<>" || t.text == "<" ||
                                 t.text == ">" || t.text == "<=" || t.text == ">=")) {
        const std::string op = Next().text;
        left = Binary(op, left, Concat());
        continue;
      }
      bool negated = false;
      if (IsWord(t, "not") &&
          (IsWord(Peek(1), "like") || IsWord(Peek(1), "between") || IsWord(Peek(1), "in"))) {
        ++pos_;
        negated = true;
      }
      if (TakeWord("like")) {
        Node n{Node::Kind::kLike};
        n.negated = negated;
        n.args = {left, Concat()};
        left = Make(std::move(n));
      } else if (TakeWord("between")) {
        Node n{Node::Kind::kBetween};
        n.negated = negated;
        NodePtr low = Concat();
        if (!TakeWord("and")) Refuse("Between has no And: " + source_);
        n.args = {left, low, Concat()};
        left = Make(std::move(n));
      } else if (TakeWord("in")) {
        Node n{Node::Kind::kIn};
        n.negated = negated;
        ExpectOp("(");
        n.args = {left};
        if (IsWord(Peek(), "select")) {
          n.select = std::make_shared<SelectModel>(ParseAccessSelect(BracketedText()));
        } else {
          do n.args.push_back(Expression());
          while (TakeOp(","));
          ExpectOp(")");
        }
        left = Make(std::move(n));
      } else if (TakeWord("is")) {
        Node n{Node::Kind::kIsNull};
        n.negated = TakeWord("not");
        if (!TakeWord("null")) Refuse("Is is not followed by Null: " + source_);
        n.args = {left};
        left = Make(std::move(n));
      } else {
        return left;
      }
    }
  }
  NodePtr Concat() { return Levels(kArithmetic, 0, &Parser::Unary); }
  NodePtr Unary() {
    if (TakeOp("-")) {
      Node n{Node::Kind::kUnary, "-"};
      n.args = {Unary()};
      return Make(std::move(n));
    }
    if (TakeOp("+")) return Unary();
    return Power();
  }
  NodePtr Power() {
    NodePtr left = Primary();
    while (TakeOp("^")) {
      NodePtr right = IsOp(Peek(), "-") ? Unary() : Primary();
      left = Binary("^", left, right);
    }
    return left;
  }

  NodePtr Primary() {
    const Token& t = Peek();
    switch (t.kind) {
      case Tok::kNumber:
        ++pos_;
        return Make(Node(Node::Kind::kNumber, t.text));
      case Tok::kString:
        ++pos_;
        return Make(Node(Node::Kind::kString, t.text));
      case Tok::kDate:
        ++pos_;
        return Make(Node(Node::Kind::kDate, t.text));
      case Tok::kEnd:
        Refuse("the expression ends too early: " + source_);
      default:
        break;
    }
    if (TakeOp("(")) {
      if (IsWord(Peek(), "select")) {
        Node n{Node::Kind::kSubquery};
        n.select = std::make_shared<SelectModel>(ParseAccessSelect(BracketedText()));
        return Make(std::move(n));
      }
      NodePtr inner = Expression();
      ExpectOp(")");
      return inner;
    }
    if (t.kind == Tok::kOp && t.text == "*") {
      ++pos_;
      return Make(Node(Node::Kind::kStar));
    }
    if (t.kind == Tok::kWord) {
      const std::string word = Lower(t.text);
      if (word == "exists" && IsOp(Peek(1), "(")) {
        pos_ += 2;
        if (!IsWord(Peek(), "select")) Refuse("Exists needs a subquery: " + source_);
        Node n{Node::Kind::kExists};
        n.select = std::make_shared<SelectModel>(ParseAccessSelect(BracketedText()));
        return Make(std::move(n));
      }
      if (IsOp(Peek(1), "(")) return Call();
      if (word == "true" || word == "yes" || word == "on") {
        ++pos_;
        return Make(Node(Node::Kind::kBoolean, "true"));
      }
      if (word == "false" || word == "no" || word == "off") {
        ++pos_;
        return Make(Node(Node::Kind::kBoolean, "false"));
      }
      if (word == "null") {
        ++pos_;
        return Make(Node(Node::Kind::kNull));
      }
      if (kReserved.count(word))
        Refuse("'" + t.text + "' stands where a value belongs: " + source_);
    }
    if (t.kind != Tok::kWord && t.kind != Tok::kBracket)
      Refuse("'" + t.text + "' stands where a value belongs: " + source_);
    return Name();
  }

  // A call at the function's name: "Left$" calls left, and a lone * is an argument (Count(*)).
  NodePtr Call() {
    const Token& t = Next();
    ++pos_;  // the "("
    const std::string word = Lower(t.text);
    Node n{Node::Kind::kCall, word.back() == '$' ? word.substr(0, word.size() - 1) : word};
    n.parts.push_back(t.text);  // as written, for messages
    if (!TakeOp(")")) {
      do {
        if (IsOp(Peek(), "*") && (IsOp(Peek(1), ")"))) {
          ++pos_;
          n.args.push_back(Make(Node(Node::Kind::kStar)));
        } else {
          n.args.push_back(Expression());
        }
      } while (TakeOp(","));
      ExpectOp(")");
    }
    return Make(std::move(n));
  }

  // A name of parts joined by "." or "!"; ending in ".*" it is the star of a table.
  NodePtr Name() {
    Node n{Node::Kind::kName};
    n.parts.push_back(Next().text);
    while ((IsOp(Peek(), ".") || IsOp(Peek(), "!"))) {
      const Token& after = Peek(1);
      if (IsOp(after, "*")) {
        pos_ += 2;
        n.kind = Node::Kind::kStar;
        return Make(std::move(n));
      }
      if (after.kind != Tok::kWord && after.kind != Tok::kBracket) break;
      pos_ += 2;
      n.parts.push_back(after.text);
    }
    return Make(std::move(n));
  }

  const std::string& source_;
  bool implicit_;
};

}  // namespace

NodePtr ParseExpression(const std::string& text, bool implicit) {
  return Parser(text, Tokenize(text), implicit).Whole();
}

namespace {

// ---- statements ----

class StatementParser : public TokenCursor {
 public:
  explicit StatementParser(const std::string& sql) : TokenCursor(sql, Tokenize(sql)), sql_(sql) {}

  SelectModel Parse() {
    SelectModel s;
    if (IsWord(Peek(), "parameters")) Refuse("it declares parameters, which Access asks for");
    if (IsWord(Peek(), "transform")) Refuse("it is a crosstab query");
    if (!TakeWord("select")) Refuse("it is no SELECT statement: " + sql_);
    for (;;) {
      if (TakeWord("distinct")) {
        s.distinct = true;
      } else if (TakeWord("distinctrow")) {
        s.distinct_row = true;
      } else if (TakeWord("all")) {
      } else if (TakeWord("top")) {
        if (Peek().kind != Tok::kNumber) Refuse("TOP is not followed by a number: " + sql_);
        s.top = Next().text;
        s.top_percent = TakeWord("percent");
      } else {
        break;
      }
    }
    static const char* kAfterList[] = {"from", "into", "where", "group", "having", "order"};
    for (const auto& item : Split(Until(kAfterList), ",")) s.columns.push_back(OutputOf(item));
    if (IsWord(Peek(), "into")) Refuse("it makes a table (SELECT ... INTO)");
    if (TakeWord("from")) {
      do s.from.push_back(FromPart());
      while (TakeOp(","));
      if (IsWord(Peek(), "in")) Refuse("it reads tables of another database (IN)");
    }
    if (TakeWord("where")) s.where = Text(Until({"group", "having", "order"}));
    if (IsWord(Peek(), "group")) {
      ++pos_;
      if (!TakeWord("by")) Refuse("GROUP is not followed by BY: " + sql_);
      for (const auto& g : Split(Until({"having", "order"}), ",")) s.group_by.push_back(Text(g));
    }
    if (TakeWord("having")) s.having = Text(Until({"order"}));
    if (IsWord(Peek(), "order")) {
      ++pos_;
      if (!TakeWord("by")) Refuse("ORDER is not followed by BY: " + sql_);
      for (auto term : Split(Until({}), ",")) {
        OrderTerm o;
        if (term.second > term.first &&
            (IsWord(tokens_[term.second - 1], "desc") || IsWord(tokens_[term.second - 1], "asc"))) {
          o.descending = IsWord(tokens_[term.second - 1], "desc");
          --term.second;
        }
        o.expression = Text(term);
        s.order_by.push_back(o);
      }
    }
    if (IsWord(Peek(), "with")) {
      // WITH OWNERACCESS OPTION concerns Access's own permissions alone.
      while (Peek().kind != Tok::kEnd && !IsOp(Peek(), ";")) ++pos_;
    }
    TakeOp(";");
    if (Peek().kind != Tok::kEnd) {
      if (IsWord(Peek(), "union")) Refuse("it holds a UNION inside a part of a union");
      Refuse("the statement does not end where expected: " + sql_);
    }
    if (s.columns.size() == 1 && s.columns[0].expression == "*") {
      s.columns.clear();
      s.all_columns = true;
    }
    return s;
  }

 private:
  using Range = std::pair<size_t, size_t>;  // token positions [first, second)

  // Tokens up to one of the words (outside brackets), the end or ";".
  Range Until(std::initializer_list<const char*> words) {
    return UntilAny(words.begin(), words.end());
  }
  template <size_t N>
  Range Until(const char* (&words)[N]) {
    return UntilAny(words, words + N);
  }
  Range UntilAny(const char* const* first, const char* const* last) {
    const size_t start = pos_;
    int depth = 0;
    while (Peek().kind != Tok::kEnd) {
      const Token& t = Peek();
      if (IsOp(t, "(")) ++depth;
      if (IsOp(t, ")")) --depth;
      if (depth == 0) {
        if (IsOp(t, ";")) break;
        if (IsWord(t, "union") || IsWord(t, "with")) break;
        bool stop = false;
        for (auto w = first; w != last; ++w) stop = stop || IsWord(t, *w);
        if (stop) break;
      }
      ++pos_;
    }
    return {start, pos_};
  }

  std::vector<Range> Split(Range r, const char* op) const {
    std::vector<Range> parts;
    int depth = 0;
    size_t start = r.first;
    for (size_t i = r.first; i < r.second; ++i) {
      if (IsOp(tokens_[i], "(")) ++depth;
      if (IsOp(tokens_[i], ")")) --depth;
      if (depth == 0 && IsOp(tokens_[i], op)) {
        parts.push_back({start, i});
        start = i + 1;
      }
    }
    if (r.second > r.first) parts.push_back({start, r.second});
    return parts;
  }

  std::string Text(Range r) const {
    if (r.second <= r.first) return "";
    return sql_.substr(tokens_[r.first].begin, tokens_[r.second - 1].end - tokens_[r.first].begin);
  }

  OutputColumn OutputOf(Range r) const {
    OutputColumn c;
    if (r.second >= r.first + 3 && IsWord(tokens_[r.second - 2], "as") &&
        (tokens_[r.second - 1].kind == Tok::kWord || tokens_[r.second - 1].kind == Tok::kBracket)) {
      c.alias = tokens_[r.second - 1].text;
      r.second -= 2;
    }
    c.expression = Text(r);
    if (c.expression.empty()) Refuse("an output column is empty: " + sql_);
    return c;
  }

  std::string AliasAfterItem() {
    if (TakeWord("as")) {
      if (Peek().kind != Tok::kWord && Peek().kind != Tok::kBracket)
        Refuse("AS is not followed by a name: " + sql_);
      return Next().text;
    }
    const Token& t = Peek();
    if ((t.kind == Tok::kWord && !kReserved.count(Lower(t.text)) && !IsWord(t, "left") &&
         !IsWord(t, "right")) ||
        t.kind == Tok::kBracket)
      return Next().text;
    return "";
  }

  FromItem FromPrimary() {
    if (TakeOp("(")) {
      if (IsWord(Peek(), "select")) {
        FromItem item;
        item.kind = FromItem::Kind::kSubquery;
        item.sql = BracketedText();
        item.alias = AliasAfterItem();
        return item;
      }
      FromItem inner = FromPart();
      if (!TakeOp(")")) Refuse("a bracket in FROM is not closed: " + sql_);
      return inner;
    }
    if (Peek().kind != Tok::kWord && Peek().kind != Tok::kBracket)
      Refuse("FROM names no table: " + sql_);
    FromItem item;
    item.name = Next().text;
    if (IsOp(Peek(), ".")) Refuse("it names a table of another database: " + sql_);
    if (IsWord(Peek(), "in")) Refuse("it reads tables of another database (IN)");
    item.alias = AliasAfterItem();
    return item;
  }

  FromItem FromPart() {
    FromItem left = FromPrimary();
    for (;;) {
      JoinKind kind;
      if (TakeWord("inner")) {
        kind = JoinKind::kInner;
      } else if (TakeWord("left")) {
        kind = JoinKind::kLeft;
      } else if (TakeWord("right")) {
        kind = JoinKind::kRight;
      } else if (IsWord(Peek(), "join")) {
        kind = JoinKind::kInner;
      } else {
        return left;
      }
      TakeWord("outer");
      if (!TakeWord("join")) Refuse("a join has no JOIN: " + sql_);
      FromItem right = FromPrimary();
      if (!TakeWord("on")) Refuse("a join has no ON: " + sql_);
      const size_t start = pos_;
      int depth = 0;
      while (Peek().kind != Tok::kEnd) {
        const Token& t = Peek();
        if (IsOp(t, "(")) ++depth;
        if (IsOp(t, ")") && --depth < 0) break;
        if (depth == 0 &&
            (IsOp(t, ",") || IsOp(t, ";") || IsWord(t, "inner") || IsWord(t, "left") ||
             IsWord(t, "right") || IsWord(t, "join") || IsWord(t, "where") || IsWord(t, "group") ||
             IsWord(t, "having") || IsWord(t, "order") || IsWord(t, "union")))
          break;
        ++pos_;
      }
      FromItem joined;
      joined.kind = FromItem::Kind::kJoin;
      joined.join = kind;
      joined.on = Text({start, pos_});
      joined.left = std::make_shared<const FromItem>(std::move(left));
      joined.right = std::make_shared<const FromItem>(std::move(right));
      left = std::move(joined);
    }
  }

  const std::string& sql_;
};

void CollectRelations(const FromItem& item, std::vector<std::string>& out);

void CollectExpressionRelations(const std::string& text, std::vector<std::string>& out);

void CollectSelectRelations(const SelectModel& s, std::vector<std::string>& out) {
  for (const FromItem& item : s.from) CollectRelations(item, out);
  std::vector<std::string> texts = {s.where, s.having};
  for (const OutputColumn& c : s.columns) texts.push_back(c.expression);
  for (const std::string& t : texts)
    if (!t.empty()) CollectExpressionRelations(t, out);
}

void CollectRelations(const FromItem& item, std::vector<std::string>& out) {
  switch (item.kind) {
    case FromItem::Kind::kTable:
      out.push_back(item.name);
      return;
    case FromItem::Kind::kJoin:
      CollectRelations(*item.left, out);
      CollectRelations(*item.right, out);
      return;
    case FromItem::Kind::kSubquery:
      try {
        CollectSelectRelations(ParseAccessSelect(item.sql), out);
      } catch (const Untranslatable&) {
        // The translation reports it.
      }
      return;
  }
}

// Subqueries in expressions read relations too: found by their SELECT's text.
void CollectExpressionRelations(const std::string& text, std::vector<std::string>& out) {
  std::vector<Token> tokens;
  try {
    tokens = Tokenize(text);
  } catch (const Untranslatable&) {
    return;
  }
  for (size_t i = 0; i + 1 < tokens.size(); ++i) {
    if (!IsOp(tokens[i], "(") || !IsWord(tokens[i + 1], "select")) continue;
    int depth = 1;
    size_t j = i + 1;
    for (; j < tokens.size() && tokens[j].kind != Tok::kEnd; ++j) {
      if (IsOp(tokens[j], "(")) ++depth;
      if (IsOp(tokens[j], ")") && --depth == 0) break;
    }
    try {
      CollectSelectRelations(ParseAccessSelect(text.substr(tokens[i + 1].begin,
                                                           tokens[j].begin - tokens[i + 1].begin)),
                             out);
    } catch (const Untranslatable&) {
    }
    i = j;
  }
}

}  // namespace
}  // namespace ferrolyte::access_sql

namespace ferrolyte {

using access_sql::CollectSelectRelations;
using access_sql::StatementParser;

SelectModel ParseAccessSelect(const std::string& sql) {
  return StatementParser(sql).Parse();
}

std::vector<std::string> RelationsOf(const SelectModel& select) {
  std::vector<std::string> out;
  CollectSelectRelations(select, out);
  return out;
}

}  // namespace ferrolyte
