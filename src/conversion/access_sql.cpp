#include "conversion/access_sql.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <unordered_set>

#include "conversion/literals.h"
#include "conversion/table_definition.h"
#include "support/oledate.h"
#include "support/text.h"
#include "support/value.h"

namespace ferrolyte {
namespace {

[[noreturn]] void Refuse(const std::string& why) {
  throw Untranslatable(why);
}

std::string Lower(const std::string& s) {
  return AsciiLower(s);
}

// ---- tokens ----

enum class Tok { kEnd, kNumber, kString, kDate, kWord, kBracket, kOp };

struct Token {
  Tok kind = Tok::kEnd;
  std::string text;
  size_t begin = 0, end = 0;  // in the source text
};

bool IsWordStart(unsigned char c) {
  return std::isalpha(c) || c == '_' || c >= 0x80;
}
bool IsWordChar(unsigned char c) {
  return std::isalnum(c) || c == '_' || c >= 0x80;
}

std::vector<Token> Tokenize(const std::string& s) {
  std::vector<Token> tokens;
  size_t i = 0;
  auto quoted = [&](char quote, Tok kind) {
    const size_t start = i++;
    std::string text;
    for (;;) {
      if (i >= s.size()) Refuse("a text or date in the expression is not closed: " + s);
      if (s[i] == quote) {
        if (kind == Tok::kString && i + 1 < s.size() && s[i + 1] == quote) {
          text += quote;
          i += 2;
          continue;
        }
        ++i;
        break;
      }
      text += s[i++];
    }
    tokens.push_back({kind, text, start, i});
  };
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      ++i;
    } else if (c == '[') {
      const size_t close = s.find(']', i + 1);
      if (close == std::string::npos) Refuse("a name in brackets is not closed: " + s);
      tokens.push_back({Tok::kBracket, s.substr(i + 1, close - i - 1), i, close + 1});
      i = close + 1;
    } else if (c == '"' || c == '\'') {
      quoted(static_cast<char>(c), Tok::kString);
    } else if (c == '#') {
      quoted('#', Tok::kDate);
    } else if (std::isdigit(c) || (c == '.' && i + 1 < s.size() && std::isdigit(s[i + 1]))) {
      const size_t start = i;
      while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
      if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
      }
      if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        size_t j = i + 1;
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
        if (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) {
          while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) ++j;
          i = j;
        }
      }
      tokens.push_back({Tok::kNumber, s.substr(start, i - start), start, i});
    } else if (c == '&' && i + 2 < s.size() && (s[i + 1] == 'H' || s[i + 1] == 'h') &&
               std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
      const size_t start = i;
      i += 2;
      unsigned long long v = 0;
      while (i < s.size() && std::isxdigit(static_cast<unsigned char>(s[i])))
        v = v * 16 +
            static_cast<unsigned long long>(std::stoi(std::string(1, s[i++]), nullptr, 16));
      tokens.push_back({Tok::kNumber, std::to_string(v), start, i});
    } else if (IsWordStart(c)) {
      const size_t start = i;
      while (i < s.size() && IsWordChar(static_cast<unsigned char>(s[i]))) ++i;
      if (i < s.size() && s[i] == '$') ++i;  // Left$, Format$ ...
      tokens.push_back({Tok::kWord, s.substr(start, i - start), start, i});
    } else {
      static const char* kTwo[] = {"<>", "<=", ">=", "=<", "=>"};
      std::string op(1, static_cast<char>(c));
      for (const char* two : kTwo)
        if (s.compare(i, 2, two) == 0) op = two;
      if (op == "=<") op = "<=";
      if (op == "=>") op = ">=";
      if (op.size() == 1 &&
          std::string("+-*/\\^&=<>(),.!;").find(static_cast<char>(c)) == std::string::npos)
        Refuse(std::string("the character '") + static_cast<char>(c) +
               "' has no meaning the translation knows: " + s);
      tokens.push_back({Tok::kOp, op, i, i + (s.compare(i, 2, op) == 0 ? op.size() : 1)});
      i = tokens.back().end;
    }
  }
  tokens.push_back({Tok::kEnd, "", s.size(), s.size()});
  return tokens;
}

bool IsWord(const Token& t, const char* word) {
  return t.kind == Tok::kWord && EqualsIgnoreCase(t.text, word);
}
bool IsOp(const Token& t, const char* op) {
  return t.kind == Tok::kOp && t.text == op;
}

// ---- expressions ----

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
      if (IsOp(Peek(1), "(")) {
        pos_ += 2;
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

NodePtr ParseExpression(const std::string& text, bool implicit = false) {
  return Parser(text, Tokenize(text), implicit).Whole();
}

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

// ---- translation ----

bool IsNumeric(SqlType t) {
  return t == SqlType::kInteger || t == SqlType::kDecimal || t == SqlType::kFloat;
}

struct R {
  std::string sql;
  SqlType type = SqlType::kUnknown;
  bool never_null = false;
  const Node* literal_text = nullptr;  // a text literal: its node
  std::string column = {};             // one column as it is: its destination name
};

// A FROM item as expressions see it.
struct ScopeItem {
  std::string key;       // lower-case alias, else name
  std::string sql_name;  // how columns are qualified; empty: not at all (CHECK)
  std::vector<RelationColumn> columns;
  bool used = false;
};

struct Scope {
  const Scope* outer = nullptr;
  std::vector<ScopeItem> items;
  // The select's own output aliases, which Access lets other expressions use.
  std::map<std::string, NodePtr> aliases;
  mutable std::set<std::string> expanding;
  const RelationColumn* implicit = nullptr;  // a field rule's field
  bool check = false;                        // a CHECK: no subqueries
};

std::string Quote(const std::string& name) {
  return QuoteIdentifier(name);
}

std::string IntervalOf(const std::string& code) {
  const std::string c = Lower(code);
  if (c == "yyyy") return "1 year";
  if (c == "q") return "3 months";
  if (c == "m") return "1 month";
  if (c == "y" || c == "d" || c == "w") return "1 day";
  if (c == "ww") return "7 days";
  if (c == "h") return "1 hour";
  if (c == "n") return "1 minute";
  if (c == "s") return "1 second";
  Refuse("the interval \"" + code + "\" is none Access knows");
}

// An Access date literal's text (between the #s) as a timestamp, or nothing.
std::optional<std::string> TimestampOf(const std::string& literal) {
  std::optional<std::string> iso = IsoFromDateLiteral("#" + literal + "#", false);
  if (!iso) return std::nullopt;
  return "TIMESTAMP '" + *iso + "'";
}

// A LIKE pattern of Access (* ? # [..]) as LIKE's (% _) when it needs nothing more, else as an
// anchored regular expression.
struct Pattern {
  bool regex = false;
  std::string text;
};

Pattern ConvertLikePattern(const std::string& p) {
  bool regex = false;
  for (size_t i = 0; i < p.size(); ++i) {
    if (p[i] == '#') regex = true;
    if (p[i] == '[') {
      const size_t close = p.find(']', i + 1);
      if (close == std::string::npos) Refuse("the Like pattern \"" + p + "\" has an open [");
      if (close - i - 1 != 1 || p[i + 1] == '!') regex = true;
      i = close;
    }
  }
  Pattern out{regex, regex ? "^" : ""};
  auto literal = [&](char c) {
    if (regex) {
      if (std::string("\\.^$|()[]{}*+?").find(c) != std::string::npos) out.text += '\\';
    } else if (c == '%' || c == '_' || c == '\\') {
      out.text += '\\';
    }
    out.text += c;
  };
  for (size_t i = 0; i < p.size(); ++i) {
    const char c = p[i];
    if (c == '*') {
      out.text += regex ? ".*" : "%";
    } else if (c == '?') {
      out.text += regex ? "." : "_";
    } else if (c == '#') {
      out.text += "[0-9]";
    } else if (c == '[') {
      const size_t close = p.find(']', i + 1);
      std::string inside = p.substr(i + 1, close - i - 1);
      i = close;
      if (inside.size() == 1) {
        literal(inside[0]);
        continue;
      }
      std::string cls = "[";
      size_t k = 0;
      if (!inside.empty() && inside[0] == '!') {
        cls += '^';
        k = 1;
      }
      for (; k < inside.size(); ++k) {
        const char ch = inside[k];
        if (ch == '\\' || ch == ']' || ch == '[' || ch == '^') cls += '\\';
        cls += ch;
      }
      out.text += cls + "]";
    } else {
      literal(c);
    }
  }
  if (regex) out.text += "$";
  return out;
}

// Aggregate functions and what PostgreSQL calls them.
const std::map<std::string, std::string> kAggregates = {{"sum", "SUM"},
                                                        {"avg", "AVG"},
                                                        {"count", "COUNT"},
                                                        {"min", "MIN"},
                                                        {"max", "MAX"},
                                                        {"stdev", "STDDEV_SAMP"},
                                                        {"stdevp", "STDDEV_POP"},
                                                        {"var", "VAR_SAMP"},
                                                        {"varp", "VAR_POP"},
                                                        {"first", ""},
                                                        {"last", ""}};

class Translator {
 public:
  explicit Translator(const RelationLookup& lookup, const NameRule& names = {})
      : lookup_(lookup), names_(names) {}

  TranslatedSelect Select(const SelectModel& s, const Scope* outer);
  R Expr(const Node& n, const Scope& scope);
  std::string Bool(const Node& n, const Scope& scope) { return AsBool(Expr(n, scope)); }

  static std::string AsBool(const R& r) {
    if (IsNumeric(r.type)) return "(" + r.sql + " <> 0)";
    return r.sql;
  }

 private:
  static std::string AsNumber(const R& r) {
    if (r.type == SqlType::kBoolean)
      return "(CASE WHEN " + r.sql + " THEN -1 WHEN NOT " + r.sql + " THEN 0 END)";
    if (r.type == SqlType::kText) return "CAST(" + r.sql + " AS DOUBLE PRECISION)";
    return r.sql;
  }
  static std::string AsText(const R& r) {
    if (r.type == SqlType::kText || r.type == SqlType::kNull) return r.sql;
    if (r.type == SqlType::kBoolean)
      return "(CASE WHEN " + r.sql + " THEN 'True' WHEN NOT " + r.sql + " THEN 'False' END)";
    return "CAST(" + r.sql + " AS TEXT)";
  }
  static std::string AsTimestamp(const R& r) {
    if (r.type == SqlType::kDate) return r.sql;
    if (r.literal_text)
      if (auto ts = TimestampOf(r.literal_text->text)) return *ts;
    return "CAST(" + r.sql + " AS TIMESTAMP)";
  }
  static std::string AsInteger(const R& r) {
    if (r.type == SqlType::kInteger) return r.sql;
    return "CAST(" + AsNumber(r) + " AS INTEGER)";
  }
  static SqlType NumericResult(SqlType a, SqlType b) {
    if (a == SqlType::kFloat || b == SqlType::kFloat) return SqlType::kFloat;
    if (a == SqlType::kDecimal || b == SqlType::kDecimal) return SqlType::kDecimal;
    if (a == SqlType::kInteger && b == SqlType::kInteger) return SqlType::kInteger;
    return IsNumeric(a) ? a : IsNumeric(b) ? b : SqlType::kUnknown;
  }

  // Two operands of a comparison brought to types PostgreSQL compares.
  void Align(R& a, R& b) {
    if (a.type == SqlType::kBoolean && IsNumeric(b.type)) a = {AsNumber(a), SqlType::kInteger};
    if (b.type == SqlType::kBoolean && IsNumeric(a.type)) b = {AsNumber(b), SqlType::kInteger};
    if (a.type == SqlType::kDate && b.literal_text) b = {AsTimestamp(b), SqlType::kDate};
    if (b.type == SqlType::kDate && a.literal_text) a = {AsTimestamp(a), SqlType::kDate};
  }

  R Name(const Node& n, const Scope& scope);
  R Column(const ScopeItem& item, const RelationColumn& column) const {
    return {(item.sql_name.empty() ? "" : item.sql_name + ".") + Quote(column.destination),
            column.type, false, nullptr, column.destination};
  }
  R Binary(const Node& n, const Scope& scope);
  R Concat(const Node& n, const Scope& scope);
  R Call(const Node& n, const Scope& scope);
  R Aggregate(const std::string& name, const Node& n, const Scope& scope);
  R Format(const std::vector<R>& args, const Node& n);
  R Like(const Node& n, const Scope& scope);
  std::string Subquery(const SelectModel& s, const Scope& scope, size_t* columns = nullptr,
                       SqlType* type = nullptr);

  // FROM: the scope items and the PostgreSQL text, conditions added once every item is known.
  void AddItems(const FromItem& item, Scope& scope);
  std::string FromText(const FromItem& item, const Scope& scope);

  const RelationLookup& lookup_;
  NameRule names_;                // how output columns are named
  std::deque<Relation> derived_;  // relations of subqueries in FROM
};

R Translator::Name(const Node& n, const Scope& scope) {
  const std::string first = Lower(n.parts[0]);
  if (first == "forms" || first == "form")
    Refuse("it refers to a form ([" + n.parts[0] + "]" +
           (n.parts.size() > 1 ? "![" + n.parts[1] + "]" : "") + "), which exists only in Access");
  if (first == "reports" || first == "report")
    Refuse("it refers to a report, which exists only in Access");
  if (first == "tempvars" || first == "screen")
    Refuse("it refers to [" + n.parts[0] + "], which exists only in a running Access");
  if (n.parts.size() > 2)
    Refuse("the name " + n.parts[0] + "." + n.parts[1] + "... has too many parts");
  if (n.parts.size() == 2) {
    const std::string key = Lower(n.parts[0]);
    for (const Scope* s = &scope; s; s = s->outer)
      for (const ScopeItem& item : s->items) {
        if (item.key != key) continue;
        for (const RelationColumn& c : item.columns)
          if (EqualsIgnoreCase(c.name, n.parts[1])) {
            const_cast<ScopeItem&>(item).used = true;
            return Column(item, c);
          }
        Refuse("'" + n.parts[0] + "' has no column '" + n.parts[1] + "'");
      }
    Refuse("it names '" + n.parts[0] + "." + n.parts[1] + "', but reads no table '" + n.parts[0] +
           "'");
  }
  const std::string& name = n.parts[0];
  for (const Scope* s = &scope; s; s = s->outer) {
    const ScopeItem* found = nullptr;
    const RelationColumn* column = nullptr;
    for (const ScopeItem& item : s->items)
      for (const RelationColumn& c : item.columns)
        if (EqualsIgnoreCase(c.name, name)) {
          if (found && found != &item)
            Refuse("the column name '" + name + "' is in more than one of its tables");
          found = &item;
          column = &c;
        }
    if (found) {
      const_cast<ScopeItem*>(found)->used = true;
      return Column(*found, *column);
    }
    auto alias = s->aliases.find(Lower(name));
    if (alias != s->aliases.end() && !s->expanding.count(alias->first)) {
      s->expanding.insert(alias->first);
      R r = Expr(*alias->second, *s);
      s->expanding.erase(alias->first);
      r.sql = "(" + r.sql + ")";
      return r;
    }
  }
  if (scope.check) Refuse("it names [" + name + "], which is no column of the table");
  Refuse("it asks for [" + name +
         "] when it runs: no table it reads has such a column (a parameter)");
}

R Translator::Expr(const Node& n, const Scope& scope) {
  switch (n.kind) {
    case Node::Kind::kNumber: {
      const bool integer = n.text.find_first_of(".eE") == std::string::npos && n.text.size() < 10;
      return {n.text[0] == '.' ? "0" + n.text : n.text,
              integer ? SqlType::kInteger : SqlType::kFloat, true};
    }
    case Node::Kind::kString:
      return {SqlString(Value(n.text)), SqlType::kText, true, &n};
    case Node::Kind::kDate: {
      auto ts = TimestampOf(n.text);
      if (!ts) Refuse("the date #" + n.text + "# is in a form the translation does not read");
      return {*ts, SqlType::kDate, true};
    }
    case Node::Kind::kBoolean:
      return {n.text == "true" ? "TRUE" : "FALSE", SqlType::kBoolean, true};
    case Node::Kind::kNull:
      return {"NULL", SqlType::kNull};
    case Node::Kind::kImplicit:
      if (!scope.implicit) Refuse("a comparison has no left side");
      return Column(scope.items.at(0), *scope.implicit);
    case Node::Kind::kName:
      return Name(n, scope);
    case Node::Kind::kStar:
      Refuse("* stands where one value belongs");
    case Node::Kind::kUnary: {
      R a = Expr(*n.args[0], scope);
      if (n.text == "-")
        return {"(-" + AsNumber(a) + ")", IsNumeric(a.type) ? a.type : SqlType::kInteger};
      if (IsNumeric(a.type)) return {"(~CAST(" + a.sql + " AS BIGINT))", SqlType::kInteger};
      return {"(NOT " + a.sql + ")", SqlType::kBoolean};
    }
    case Node::Kind::kBinary:
      return n.text == "&" ? Concat(n, scope) : Binary(n, scope);
    case Node::Kind::kCall:
      return Call(n, scope);
    case Node::Kind::kBetween: {
      R a = Expr(*n.args[0], scope), low = Expr(*n.args[1], scope), high = Expr(*n.args[2], scope);
      Align(a, low);
      Align(a, high);
      // Access takes the bounds in either order.
      return {"(" + a.sql + (n.negated ? " NOT" : "") + " BETWEEN SYMMETRIC " + low.sql + " AND " +
                  high.sql + ")",
              SqlType::kBoolean};
    }
    case Node::Kind::kIn: {
      R a = Expr(*n.args[0], scope);
      std::string list;
      if (n.select) {
        size_t columns = 0;
        list = Subquery(*n.select, scope, &columns);
        if (columns != 1) Refuse("In compares with a subquery of more than one column");
      } else {
        for (size_t i = 1; i < n.args.size(); ++i) {
          R item = Expr(*n.args[i], scope);
          Align(a, item);
          list += (i > 1 ? ", " : "") + item.sql;
        }
      }
      return {"(" + a.sql + (n.negated ? " NOT IN (" : " IN (") + list + "))", SqlType::kBoolean};
    }
    case Node::Kind::kLike:
      return Like(n, scope);
    case Node::Kind::kIsNull:
      return {"(" + Expr(*n.args[0], scope).sql + (n.negated ? " IS NOT NULL)" : " IS NULL)"),
              SqlType::kBoolean, true};
    case Node::Kind::kSubquery: {
      size_t columns = 0;
      SqlType type = SqlType::kUnknown;
      std::string sql = Subquery(*n.select, scope, &columns, &type);
      if (columns != 1) Refuse("a subquery that gives one value has more than one column");
      return {"(" + sql + ")", type};
    }
    case Node::Kind::kExists:
      return {"EXISTS (" + Subquery(*n.select, scope) + ")", SqlType::kBoolean, true};
  }
  Refuse("the expression holds something the translation does not know");
}

std::string Translator::Subquery(const SelectModel& s, const Scope& scope, size_t* columns,
                                 SqlType* type) {
  if (scope.check) Refuse("a validation rule holds a subquery, which a CHECK cannot");
  TranslatedSelect t = Select(s, &scope);
  if (columns) *columns = t.columns.size();
  if (type && !t.columns.empty()) *type = t.columns[0].type;
  return t.sql;
}

R Translator::Binary(const Node& n, const Scope& scope) {
  R a = Expr(*n.args[0], scope);
  R b = Expr(*n.args[1], scope);
  const std::string& op = n.text;
  if (op == "=" || op == "<>" || op == "<" || op == ">" || op == "<=" || op == ">=") {
    Align(a, b);
    return {"(" + a.sql + " " + op + " " + b.sql + ")", SqlType::kBoolean};
  }
  if (op == "and" || op == "or" || op == "xor" || op == "eqv" || op == "imp") {
    if (IsNumeric(a.type) && IsNumeric(b.type)) {
      // On numbers Access works bit by bit.
      const std::string x = "CAST(" + a.sql + " AS BIGINT)", y = "CAST(" + b.sql + " AS BIGINT)";
      if (op == "and") return {"(" + x + " & " + y + ")", SqlType::kInteger};
      if (op == "or") return {"(" + x + " | " + y + ")", SqlType::kInteger};
      if (op == "xor") return {"(" + x + " # " + y + ")", SqlType::kInteger};
      if (op == "eqv") return {"(~(" + x + " # " + y + "))", SqlType::kInteger};
      return {"((~" + x + ") | " + y + ")", SqlType::kInteger};
    }
    const std::string x = AsBool(a), y = AsBool(b);
    if (op == "and") return {"(" + x + " AND " + y + ")", SqlType::kBoolean};
    if (op == "or") return {"(" + x + " OR " + y + ")", SqlType::kBoolean};
    if (op == "xor") return {"(" + x + " <> " + y + ")", SqlType::kBoolean};
    if (op == "eqv") return {"(" + x + " = " + y + ")", SqlType::kBoolean};
    return {"(NOT " + x + " OR " + y + ")", SqlType::kBoolean};
  }
  if (op == "+" && a.type == SqlType::kText &&
      (b.type == SqlType::kText || b.type == SqlType::kNull || b.type == SqlType::kUnknown))
    return {"(" + a.sql + " || " + b.sql + ")", SqlType::kText};
  if (op == "+" && b.type == SqlType::kText &&
      (a.type == SqlType::kNull || a.type == SqlType::kUnknown))
    return {"(" + a.sql + " || " + b.sql + ")", SqlType::kText};
  if ((op == "+" || op == "-") && a.type == SqlType::kDate && b.type != SqlType::kDate)
    return {"(" + a.sql + " " + op + " " + AsNumber(b) + " * INTERVAL '1 day')", SqlType::kDate};
  if (op == "+" && b.type == SqlType::kDate)
    return {"(" + b.sql + " + " + AsNumber(a) + " * INTERVAL '1 day')", SqlType::kDate};
  if (op == "-" && a.type == SqlType::kDate && b.type == SqlType::kDate)
    return {
        "(CAST(EXTRACT(EPOCH FROM (" + a.sql + " - " + b.sql + ")) AS DOUBLE PRECISION) / 86400)",
        SqlType::kFloat};
  const std::string x = AsNumber(a), y = AsNumber(b);
  const SqlType result = NumericResult(a.type == SqlType::kBoolean ? SqlType::kInteger : a.type,
                                       b.type == SqlType::kBoolean ? SqlType::kInteger : b.type);
  if (op == "+" || op == "-" || op == "*")
    return {"(" + x + " " + op + " " + y + ")",
            result == SqlType::kUnknown ? SqlType::kFloat : result};
  if (op == "/") {
    // Access divides exactly, also two integers; by zero it has no value to give.
    const bool decimal = result == SqlType::kDecimal;
    return {"(CAST(" + x + (decimal ? " AS NUMERIC)" : " AS DOUBLE PRECISION)") + " / NULLIF(" + y +
                ", 0))",
            decimal ? SqlType::kDecimal : SqlType::kFloat};
  }
  if (op == "\\")
    return {"(CAST(" + x + " AS BIGINT) / NULLIF(CAST(" + y + " AS BIGINT), 0))",
            SqlType::kInteger};
  if (op == "mod")
    return {"MOD(CAST(" + x + " AS BIGINT), NULLIF(CAST(" + y + " AS BIGINT), 0))",
            SqlType::kInteger};
  if (op == "^") return {"POWER(CAST(" + x + " AS DOUBLE PRECISION), " + y + ")", SqlType::kFloat};
  Refuse("the operator " + op + " is none the translation knows");
}

// Access's & takes Null as empty text, and gives Null only when every part is Null.
R Translator::Concat(const Node& n, const Scope& scope) {
  std::vector<const Node*> parts;
  std::vector<const Node*> pending = {&n};
  while (!pending.empty()) {
    const Node* p = pending.back();
    pending.pop_back();
    if (p->kind == Node::Kind::kBinary && p->text == "&") {
      pending.push_back(p->args[1].get());
      pending.push_back(p->args[0].get());
    } else {
      parts.push_back(p);
    }
  }
  std::string list;
  bool never_null = false;
  for (const Node* p : parts) {
    R r = Expr(*p, scope);
    never_null = never_null || r.never_null;
    list += (list.empty() ? "" : ", ") + AsText(r);
  }
  if (never_null) return {"CONCAT(" + list + ")", SqlType::kText, true};
  return {"(CASE WHEN NUM_NONNULLS(" + list + ") = 0 THEN NULL ELSE CONCAT(" + list + ") END)",
          SqlType::kText};
}

R Translator::Like(const Node& n, const Scope& scope) {
  R a = Expr(*n.args[0], scope);
  const std::string subject = AsText(a);
  const Node& pattern = *n.args[1];
  if (pattern.kind == Node::Kind::kString) {
    // Access compares text without regard to letter case.
    Pattern p = ConvertLikePattern(pattern.text);
    if (p.regex)
      return {"(" + subject + (n.negated ? " !~* " : " ~* ") + SqlString(Value(p.text)) + ")",
              SqlType::kBoolean};
    return {
        "(" + subject + (n.negated ? " NOT ILIKE " : " ILIKE ") + SqlString(Value(p.text)) + ")",
        SqlType::kBoolean};
  }
  R p = Expr(pattern, scope);
  return {"(" + subject + (n.negated ? " NOT ILIKE " : " ILIKE ") + "REPLACE(REPLACE(" + AsText(p) +
              ", '*', '%'), '?', '_'))",
          SqlType::kBoolean};
}

R Translator::Aggregate(const std::string& name, const Node& n, const Scope& scope) {
  if (n.args.size() != 1) Refuse(name + " takes one argument");
  if (n.args[0]->kind == Node::Kind::kStar) {
    if (name != "count") Refuse(name + "(*) has no meaning");
    return {"COUNT(*)", SqlType::kInteger, true};
  }
  R a = Expr(*n.args[0], scope);
  if (name == "count") return {"COUNT(" + a.sql + ")", SqlType::kInteger, true};
  if (name == "first") return {"(ARRAY_AGG(" + a.sql + "))[1]", a.type};
  if (name == "last") return {"(ARRAY_AGG(" + a.sql + "))[COUNT(*)]", a.type};
  const std::string fn = kAggregates.at(name);
  if (name == "min" || name == "max") return {fn + "(" + a.sql + ")", a.type};
  const std::string value = AsNumber(a);
  if (name == "sum")
    return {fn + "(" + value + ")", a.type == SqlType::kFloat     ? SqlType::kFloat
                                    : a.type == SqlType::kDecimal ? SqlType::kDecimal
                                                                  : SqlType::kDecimal};
  return {fn + "(" + value + ")", SqlType::kFloat};
}

// Format's date patterns in to_char's words; what it does not know makes the format
// untranslatable rather than wrong.
std::optional<std::string> DatePattern(const std::string& pattern) {
  static const std::map<std::string, std::string> kNamed = {
      {"general date", "FMMM/FMDD/YYYY FMHH12:MI:SS AM"},
      {"long date", "FMDay, FMMonth FMDD, YYYY"},
      {"medium date", "DD-Mon-YY"},
      {"short date", "FMMM/FMDD/YYYY"},
      {"long time", "FMHH12:MI:SS AM"},
      {"medium time", "FMHH12:MI AM"},
      {"short time", "HH24:MI"}};
  if (auto named = kNamed.find(Lower(pattern)); named != kNamed.end()) return named->second;
  struct Word {
    const char* access;
    const char* pg;
  };
  static const Word kWords[] = {
      {"yyyy", "YYYY"}, {"yy", "YY"},      {"mmmm", "FMMonth"}, {"mmm", "Mon"}, {"mm", "MM"},
      {"m", "FMMM"},    {"dddd", "FMDay"}, {"ddd", "Dy"},       {"dd", "DD"},   {"d", "FMDD"},
      {"hh", "HH24"},   {"h", "FMHH24"},   {"nn", "MI"},        {"n", "FMMI"},  {"ss", "SS"},
      {"s", "FMSS"},    {"q", "Q"}};
  std::string out;
  bool any = false, after_hour = false, twelve = false;
  std::string lower = Lower(pattern);
  for (size_t i = 0; i < pattern.size();) {
    if (lower.compare(i, 5, "am/pm") == 0) {
      out += "AM";
      twelve = true;
      i += 5;
      continue;
    }
    bool matched = false;
    for (const Word& w : kWords) {
      const size_t len = std::strlen(w.access);
      if (lower.compare(i, len, w.access) != 0) continue;
      std::string pg = w.pg;
      // m after an hour means minutes, as in "hh:mm".
      if ((lower.compare(i, 2, "mm") == 0 || (len == 1 && lower[i] == 'm')) && after_hour)
        pg = len == 1 ? "FMMI" : "MI";
      after_hour = lower[i] == 'h';
      out += pg;
      i += len;
      any = matched = true;
      break;
    }
    if (matched) continue;
    const char c = pattern[i];
    if (c == '"') {
      const size_t close = pattern.find('"', i + 1);
      if (close == std::string::npos) return std::nullopt;
      out += "\"" + pattern.substr(i + 1, close - i - 1) + "\"";
      i = close + 1;
    } else if (c == '\\' && i + 1 < pattern.size()) {
      out += "\"" + pattern.substr(i + 1, 1) + "\"";
      i += 2;
    } else if (std::string("/-:., ").find(c) != std::string::npos) {
      out += c;
      ++i;
    } else {
      return std::nullopt;
    }
  }
  if (!any) return std::nullopt;
  if (twelve) out = ReplaceAll(out, "HH24", "HH12");
  return out;
}

std::optional<std::string> NumberPattern(const std::string& pattern) {
  const std::string p = Lower(pattern);
  if (p == "fixed") return "FM999999999999990.00";
  if (p == "standard") return "FM999,999,999,999,990.00";
  if (p == "general number") return std::nullopt;
  const size_t dot = pattern.find('.');
  const std::string whole = pattern.substr(0, dot);
  const std::string decimals = dot == std::string::npos ? "" : pattern.substr(dot + 1);
  if (whole.empty() || whole.find_first_not_of("0#,") != std::string::npos ||
      decimals.find_first_not_of("0#") != std::string::npos)
    return std::nullopt;
  const bool grouped = whole.find(',') != std::string::npos;
  const size_t zeros = std::count(whole.begin(), whole.end(), '0');
  std::string digits(std::max<size_t>(15, zeros), '9');
  for (size_t i = 0; i < zeros; ++i) digits[digits.size() - 1 - i] = '0';
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (grouped && i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  if (!decimals.empty()) {
    out += '.';
    for (char c : decimals) out += c == '0' ? '0' : '9';
  }
  return "FM" + out;
}

R Translator::Format(const std::vector<R>& args, const Node& n) {
  if (args.size() == 1) return {AsText(args[0]), SqlType::kText};
  if (n.args[1]->kind != Node::Kind::kString)
    Refuse("Format has a pattern that is no text literal");
  const std::string pattern = n.args[1]->text;
  const R& value = args[0];
  if (Lower(pattern) == "percent")
    return {"(TO_CHAR(" + AsNumber(value) + " * 100, 'FM999999999999990.00') || '%')",
            SqlType::kText};
  const bool prefer_number = IsNumeric(value.type);
  std::optional<std::string> number = NumberPattern(pattern);
  std::optional<std::string> date = DatePattern(pattern);
  if (number && (prefer_number || !date))
    return {"TO_CHAR(" + AsNumber(value) + ", " + SqlString(Value(*number)) + ")", SqlType::kText};
  if (date)
    return {"TO_CHAR(" + AsTimestamp(value) + ", " + SqlString(Value(*date)) + ")", SqlType::kText};
  Refuse("Format with the pattern \"" + pattern + "\" has no equivalent in PostgreSQL");
}

R Translator::Call(const Node& n, const Scope& scope) {
  const std::string& f = n.text;
  if (kAggregates.count(f)) return Aggregate(f, n, scope);
  std::vector<R> a;
  for (const NodePtr& arg : n.args) {
    if (arg->kind == Node::Kind::kStar) Refuse(f + "(*) has no meaning");
    a.push_back(Expr(*arg, scope));
  }
  auto arity = [&](size_t low, size_t high) {
    if (a.size() < low || a.size() > high)
      Refuse("the function " + f + " is given " + std::to_string(a.size()) + " arguments");
  };
  auto interval_code = [&]() {
    if (n.args[0]->kind != Node::Kind::kString) Refuse(f + " has an interval that is no text");
    return Lower(n.args[0]->text);
  };
  // Text functions.
  if (f == "left" || f == "right") {
    arity(2, 2);
    return {(f == "left" ? "LEFT(" : "RIGHT(") + AsText(a[0]) + ", " + AsInteger(a[1]) + ")",
            SqlType::kText};
  }
  if (f == "mid") {
    arity(2, 3);
    return {"SUBSTR(" + AsText(a[0]) + ", " + AsInteger(a[1]) +
                (a.size() == 3 ? ", " + AsInteger(a[2]) : "") + ")",
            SqlType::kText};
  }
  if (f == "len") {
    arity(1, 1);
    return {"LENGTH(" + AsText(a[0]) + ")", SqlType::kInteger};
  }
  if (f == "trim" || f == "ltrim" || f == "rtrim") {
    arity(1, 1);
    return {(f == "trim"    ? "BTRIM("
             : f == "ltrim" ? "LTRIM("
                            : "RTRIM(") +
                AsText(a[0]) + ")",
            SqlType::kText};
  }
  if (f == "ucase" || f == "lcase") {
    arity(1, 1);
    return {(f == "ucase" ? "UPPER(" : "LOWER(") + AsText(a[0]) + ")", SqlType::kText};
  }
  if (f == "instr") {
    arity(2, 4);
    const bool has_start = a.size() >= 3;
    const R& s1 = has_start ? a[1] : a[0];
    const R& s2 = has_start ? a[2] : a[1];
    // A compare argument of 0 compares binary; otherwise Access ignores letter case.
    const bool binary =
        a.size() == 4 && n.args[3]->kind == Node::Kind::kNumber && n.args[3]->text == "0";
    auto fold = [&](const std::string& s) { return binary ? s : "LOWER(" + s + ")"; };
    if (!has_start)
      return {"STRPOS(" + fold(AsText(s1)) + ", " + fold(AsText(s2)) + ")", SqlType::kInteger};
    const std::string start = AsInteger(a[0]);
    const std::string found = "STRPOS(" + fold("SUBSTR(" + AsText(s1) + ", " + start + ")") + ", " +
                              fold(AsText(s2)) + ")";
    return {"(CASE WHEN " + found + " > 0 THEN " + found + " + " + start + " - 1 ELSE " + found +
                " END)",
            SqlType::kInteger};
  }
  if (f == "replace") {
    arity(3, 3);
    if (n.args[1]->kind == Node::Kind::kString && n.args[2]->kind == Node::Kind::kString) {
      std::string find;
      for (char c : n.args[1]->text) {
        if (std::string("\\.^$|()[]{}*+?").find(c) != std::string::npos) find += '\\';
        find += c;
      }
      return {"REGEXP_REPLACE(" + AsText(a[0]) + ", " + SqlString(Value(find)) + ", " +
                  SqlString(Value(ReplaceAll(n.args[2]->text, "\\", "\\\\"))) + ", 'gi')",
              SqlType::kText};
    }
    return {"REPLACE(" + AsText(a[0]) + ", " + AsText(a[1]) + ", " + AsText(a[2]) + ")",
            SqlType::kText};
  }
  if (f == "space") {
    arity(1, 1);
    return {"REPEAT(' ', " + AsInteger(a[0]) + ")", SqlType::kText};
  }
  if (f == "string") {
    arity(2, 2);
    const std::string c =
        IsNumeric(a[1].type) ? "CHR(" + AsInteger(a[1]) + ")" : "LEFT(" + AsText(a[1]) + ", 1)";
    return {"REPEAT(" + c + ", " + AsInteger(a[0]) + ")", SqlType::kText};
  }
  if (f == "strreverse") {
    arity(1, 1);
    return {"REVERSE(" + AsText(a[0]) + ")", SqlType::kText};
  }
  if (f == "chr" || f == "chrw") {
    arity(1, 1);
    return {"CHR(" + AsInteger(a[0]) + ")", SqlType::kText};
  }
  if (f == "asc" || f == "ascw") {
    arity(1, 1);
    return {"ASCII(" + AsText(a[0]) + ")", SqlType::kInteger};
  }
  if (f == "strcomp") {
    arity(2, 3);
    const std::string x = "LOWER(" + AsText(a[0]) + ")", y = "LOWER(" + AsText(a[1]) + ")";
    return {"(CASE WHEN " + x + " < " + y + " THEN -1 WHEN " + x + " > " + y + " THEN 1 WHEN " + x +
                " = " + y + " THEN 0 END)",
            SqlType::kInteger};
  }
  if (f == "format") {
    arity(1, 2);
    return Format(a, n);
  }
  // Null and choices.
  if (f == "nz") {
    arity(1, 2);
    R fallback;
    if (a.size() == 2) {
      fallback = a[1];
    } else if (IsNumeric(a[0].type) || a[0].type == SqlType::kBoolean) {
      fallback = {a[0].type == SqlType::kBoolean ? "FALSE" : "0", a[0].type};
    } else if (a[0].type == SqlType::kText) {
      fallback = {"''", SqlType::kText};
    } else {
      Refuse("Nz without its second argument has no value of the right type here");
    }
    R value = a[0];
    if (fallback.type == SqlType::kText && value.type != SqlType::kText)
      value = {AsText(value), SqlType::kText};
    if (value.type == SqlType::kText && fallback.type != SqlType::kText &&
        fallback.type != SqlType::kNull)
      fallback = {AsText(fallback), SqlType::kText};
    Align(value, fallback);
    return {"COALESCE(" + value.sql + ", " + fallback.sql + ")",
            value.type == SqlType::kNull ? fallback.type : value.type, fallback.never_null};
  }
  if (f == "iif" || f == "switch") {
    if (f == "iif") arity(3, 3);
    if (f == "switch" && (a.size() < 2 || a.size() % 2))
      Refuse("Switch needs pairs of condition and value");
    std::vector<R> values;
    for (size_t i = 1; i < a.size(); i += 2) values.push_back(a[i]);
    if (f == "iif") values.push_back(a[2]);
    SqlType type = SqlType::kNull;
    bool text = false, number = false;
    for (const R& v : values) {
      if (v.type == SqlType::kNull) continue;
      text = text || v.type == SqlType::kText;
      number = number || IsNumeric(v.type);
      type = type == SqlType::kNull ? v.type : type == v.type ? type : SqlType::kUnknown;
    }
    auto value = [&](const R& v) {
      if (text && v.type != SqlType::kText) return AsText(v);
      if (number && v.type == SqlType::kBoolean) return AsNumber(v);
      return v.sql;
    };
    if (text)
      type = SqlType::kText;
    else if (number && type == SqlType::kUnknown)
      type = SqlType::kFloat;
    std::string sql = "(CASE";
    if (f == "iif") {
      sql += " WHEN " + AsBool(a[0]) + " THEN " + value(a[1]) + " ELSE " + value(a[2]);
    } else {
      for (size_t i = 0; i < a.size(); i += 2)
        sql += " WHEN " + AsBool(a[i]) + " THEN " + value(a[i + 1]);
    }
    return {sql + " END)", type};
  }
  if (f == "choose") {
    if (a.size() < 2) Refuse("Choose needs an index and a value");
    std::string sql = "(CASE " + AsInteger(a[0]);
    for (size_t i = 1; i < a.size(); ++i) sql += " WHEN " + std::to_string(i) + " THEN " + a[i].sql;
    return {sql + " END)", a[1].type};
  }
  if (f == "isnull") {
    arity(1, 1);
    return {"(" + a[0].sql + " IS NULL)", SqlType::kBoolean, true};
  }
  if (f == "isnumeric") {
    arity(1, 1);
    return {"COALESCE(" + AsText(a[0]) +
                " ~ '^\\s*[-+]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([eE][-+]?[0-9]+)?\\s*$', FALSE)",
            SqlType::kBoolean, true};
  }
  if (f == "val") {
    arity(1, 1);
    return {"COALESCE(CAST(SUBSTRING(" + AsText(a[0]) +
                " FROM '^\\s*[-+]?[0-9]*\\.?[0-9]+(?:[eE][-+]?[0-9]+)?') AS DOUBLE PRECISION), 0)",
            SqlType::kFloat};
  }
  // Numbers.
  static const std::map<std::string, std::pair<const char*, SqlType>> kMath = {
      {"abs", {"ABS", SqlType::kUnknown}},  {"sgn", {"SIGN", SqlType::kInteger}},
      {"sqr", {"SQRT", SqlType::kFloat}},   {"exp", {"EXP", SqlType::kFloat}},
      {"log", {"LN", SqlType::kFloat}},     {"sin", {"SIN", SqlType::kFloat}},
      {"cos", {"COS", SqlType::kFloat}},    {"tan", {"TAN", SqlType::kFloat}},
      {"atn", {"ATAN", SqlType::kFloat}},   {"int", {"FLOOR", SqlType::kUnknown}},
      {"fix", {"TRUNC", SqlType::kUnknown}}};
  if (auto m = kMath.find(f); m != kMath.end()) {
    arity(1, 1);
    SqlType type = m->second.second == SqlType::kUnknown ? a[0].type : m->second.second;
    if (f == "sgn") return {"CAST(SIGN(" + AsNumber(a[0]) + ") AS INTEGER)", type};
    return {std::string(m->second.first) + "(" + AsNumber(a[0]) + ")", type};
  }
  if (f == "round") {
    arity(1, 2);
    // Access rounds a half to the even neighbour.
    const std::string places = a.size() == 2 ? AsInteger(a[1]) : "0";
    const std::string scale = "POWER(10::NUMERIC, " + places + ")";
    const std::string v = "(CAST(" + AsNumber(a[0]) + " AS NUMERIC) * " + scale + ")";
    const std::string rounded = "(CASE WHEN ABS(" + v + " - TRUNC(" + v +
                                ")) = 0.5 THEN 2 * ROUND(" + v + " / 2) ELSE ROUND(" + v + ") END)";
    if (a.size() == 1) return {rounded, SqlType::kDecimal};
    return {"ROUND(" + rounded + " / " + scale + ", " + places + ")", SqlType::kDecimal};
  }
  // Conversions; integer ones round a half to even as Access does, through a double.
  static const std::map<std::string, std::pair<const char*, SqlType>> kIntegers = {
      {"cint", {"SMALLINT", SqlType::kInteger}},
      {"clng", {"INTEGER", SqlType::kInteger}},
      {"cbyte", {"SMALLINT", SqlType::kInteger}}};
  if (auto c = kIntegers.find(f); c != kIntegers.end()) {
    arity(1, 1);
    return {"CAST(CAST(" + AsNumber(a[0]) + " AS DOUBLE PRECISION) AS " + c->second.first + ")",
            SqlType::kInteger};
  }
  if (f == "cdbl" || f == "csng") {
    arity(1, 1);
    return {"CAST(" + AsNumber(a[0]) + (f == "cdbl" ? " AS DOUBLE PRECISION)" : " AS REAL)"),
            SqlType::kFloat};
  }
  if (f == "ccur" || f == "cdec") {
    arity(1, 1);
    return {"CAST(" + AsNumber(a[0]) + (f == "ccur" ? " AS NUMERIC(19,4))" : " AS NUMERIC)"),
            SqlType::kDecimal};
  }
  if (f == "cstr") {
    arity(1, 1);
    return {AsText(a[0]), SqlType::kText};
  }
  if (f == "cdate" || f == "cvdate") {
    arity(1, 1);
    return {AsTimestamp(a[0]), SqlType::kDate};
  }
  if (f == "cbool") {
    arity(1, 1);
    if (a[0].type == SqlType::kBoolean) return a[0];
    return {"(" + AsNumber(a[0]) + " <> 0)", SqlType::kBoolean};
  }
  if (f == "cvar") {
    arity(1, 1);
    return a[0];
  }
  // Dates.
  static const std::map<std::string, const char*> kParts = {
      {"year", "YEAR"}, {"month", "MONTH"},   {"day", "DAY"},
      {"hour", "HOUR"}, {"minute", "MINUTE"}, {"second", "SECOND"}};
  if (auto p = kParts.find(f); p != kParts.end()) {
    arity(1, 1);
    return {"CAST(FLOOR(EXTRACT(" + std::string(p->second) + " FROM " + AsTimestamp(a[0]) +
                ")) AS INTEGER)",
            SqlType::kInteger};
  }
  if (f == "weekday") {
    arity(1, 2);
    const std::string dow = "CAST(EXTRACT(DOW FROM " + AsTimestamp(a[0]) + ") AS INTEGER)";
    if (a.size() == 1) return {"(" + dow + " + 1)", SqlType::kInteger};
    return {"(MOD(" + dow + " - (" + AsInteger(a[1]) + " - 1) + 7, 7) + 1)", SqlType::kInteger};
  }
  if (f == "date") {
    arity(0, 0);
    return {"CAST(CURRENT_DATE AS TIMESTAMP)", SqlType::kDate, true};
  }
  if (f == "now") {
    arity(0, 0);
    return {"LOCALTIMESTAMP(0)", SqlType::kDate, true};
  }
  if (f == "time") {
    arity(0, 0);
    return {"(TIMESTAMP '1899-12-30 00:00:00' + CAST(LOCALTIME(0) AS INTERVAL))", SqlType::kDate,
            true};
  }
  if (f == "dateserial") {
    arity(3, 3);
    // Access carries months and days over: DateSerial(2020, 13, 1) is 2021-01-01.
    return {"(CAST(MAKE_DATE(" + AsInteger(a[0]) + ", 1, 1) AS TIMESTAMP) + (" + AsInteger(a[1]) +
                " - 1) * INTERVAL '1 month' + (" + AsInteger(a[2]) + " - 1) * INTERVAL '1 day')",
            SqlType::kDate};
  }
  if (f == "timeserial") {
    arity(3, 3);
    return {"(TIMESTAMP '1899-12-30 00:00:00' + " + AsInteger(a[0]) + " * INTERVAL '1 hour' + " +
                AsInteger(a[1]) + " * INTERVAL '1 minute' + " + AsInteger(a[2]) +
                " * INTERVAL '1 second')",
            SqlType::kDate};
  }
  if (f == "datevalue") {
    arity(1, 1);
    return {"DATE_TRUNC('day', " + AsTimestamp(a[0]) + ")", SqlType::kDate};
  }
  if (f == "dateadd") {
    arity(3, 3);
    return {"(" + AsTimestamp(a[2]) + " + " + AsNumber(a[1]) + " * INTERVAL '" +
                IntervalOf(interval_code()) + "')",
            SqlType::kDate};
  }
  if (f == "datediff") {
    arity(3, 4);
    const std::string code = interval_code();
    const std::string d1 = AsTimestamp(a[1]), d2 = AsTimestamp(a[2]);
    auto part = [](const char* p, const std::string& d) {
      return "EXTRACT(" + std::string(p) + " FROM " + d + ")";
    };
    auto days = [&](const std::string& d) { return "CAST(" + d + " AS DATE)"; };
    std::string sql;
    if (code == "yyyy") {
      sql = part("YEAR", d2) + " - " + part("YEAR", d1);
    } else if (code == "q") {
      sql = "(" + part("YEAR", d2) + " - " + part("YEAR", d1) + ") * 4 + " + part("QUARTER", d2) +
            " - " + part("QUARTER", d1);
    } else if (code == "m") {
      sql = "(" + part("YEAR", d2) + " - " + part("YEAR", d1) + ") * 12 + " + part("MONTH", d2) +
            " - " + part("MONTH", d1);
    } else if (code == "d" || code == "y") {
      sql = days(d2) + " - " + days(d1);
    } else if (code == "w") {
      sql = "(" + days(d2) + " - " + days(d1) + ") / 7";
    } else if (code == "ww") {
      // Sundays passed: each day moved back to the Sunday before it.
      sql = "((" + days(d2) + " - CAST(" + part("DOW", d2) + " AS INTEGER)) - (" + days(d1) +
            " - CAST(" + part("DOW", d1) + " AS INTEGER))) / 7";
    } else if (code == "h" || code == "n" || code == "s") {
      const char* unit = code == "h" ? "hour" : code == "n" ? "minute" : "second";
      const char* seconds = code == "h" ? "3600" : code == "n" ? "60" : "1";
      sql = "(EXTRACT(EPOCH FROM DATE_TRUNC('" + std::string(unit) + "', " + d2 +
            ")) - EXTRACT(EPOCH FROM DATE_TRUNC('" + unit + "', " + d1 + "))) / " + seconds;
      return {"CAST(" + sql + " AS BIGINT)", SqlType::kInteger};
    } else {
      IntervalOf(code);
    }
    return {"CAST(" + sql + " AS INTEGER)", SqlType::kInteger};
  }
  if (f == "datepart") {
    arity(2, 4);
    const std::string code = interval_code();
    const std::string d = AsTimestamp(a[1]);
    static const std::map<std::string, const char*> kDateParts = {
        {"yyyy", "YEAR"}, {"q", "QUARTER"}, {"m", "MONTH"},  {"y", "DOY"},
        {"d", "DAY"},     {"h", "HOUR"},    {"n", "MINUTE"}, {"s", "SECOND"}};
    if (auto p = kDateParts.find(code); p != kDateParts.end())
      return {"CAST(FLOOR(EXTRACT(" + std::string(p->second) + " FROM " + d + ")) AS INTEGER)",
              SqlType::kInteger};
    if (code == "w")
      return {"(CAST(EXTRACT(DOW FROM " + d + ") AS INTEGER) + 1)", SqlType::kInteger};
    if (code == "ww")
      // The week holding January 1 is week 1; weeks begin on Sunday.
      return {"((CAST(EXTRACT(DOY FROM " + d +
                  ") AS INTEGER) + CAST(EXTRACT(DOW FROM DATE_TRUNC('year', " + d +
                  ")) AS INTEGER) - 1) / 7 + 1)",
              SqlType::kInteger};
    IntervalOf(code);
  }
  if (f == "monthname") {
    arity(1, 2);
    const bool short_name =
        a.size() == 2 && n.args[1]->kind == Node::Kind::kBoolean && n.args[1]->text == "true";
    return {"TO_CHAR(MAKE_DATE(2000, " + AsInteger(a[0]) + ", 1), '" +
                (short_name ? "Mon" : "FMMonth") + "')",
            SqlType::kText};
  }
  if (f == "weekdayname") {
    arity(1, 2);
    const bool short_name =
        a.size() == 2 && n.args[1]->kind == Node::Kind::kBoolean && n.args[1]->text == "true";
    // 2000-01-02 was a Sunday, weekday 1.
    return {"TO_CHAR(DATE '2000-01-01' + " + AsInteger(a[0]) + ", '" +
                (short_name ? "Dy" : "FMDay") + "')",
            SqlType::kText};
  }
  if (f.size() > 1 && f[0] == 'd' &&
      (f == "dlookup" || f == "dsum" || f == "dcount" || f == "davg" || f == "dmin" ||
       f == "dmax" || f == "dfirst" || f == "dlast"))
    Refuse("the domain function " + n.parts[0] +
           " reads tables by a text Access evaluates when it runs");
  Refuse("the function " + n.parts[0] + " has no equivalent in PostgreSQL");
}

void Translator::AddItems(const FromItem& item, Scope& scope) {
  switch (item.kind) {
    case FromItem::Kind::kJoin:
      AddItems(*item.left, scope);
      AddItems(*item.right, scope);
      return;
    case FromItem::Kind::kTable: {
      const Relation* relation = lookup_(item.name);
      if (!relation) Refuse("it reads '" + item.name + "', which is not converted");
      const std::string key = Lower(item.alias.empty() ? item.name : item.alias);
      for (const ScopeItem& other : scope.items)
        if (other.key == key) Refuse("two of its tables are both called '" + key + "'");
      scope.items.push_back(
          {key, Quote(item.alias.empty() ? relation->destination : ShortenedName(item.alias)),
           relation->columns});
      return;
    }
    case FromItem::Kind::kSubquery: {
      if (item.alias.empty()) Refuse("a subquery in FROM has no name");
      TranslatedSelect t = Select(ParseAccessSelect(item.sql), scope.outer);
      scope.items.push_back({Lower(item.alias), Quote(ShortenedName(item.alias)), t.columns});
      derived_.push_back({item.alias, t.sql, t.columns});
      return;
    }
  }
}

std::string Translator::FromText(const FromItem& item, const Scope& scope) {
  switch (item.kind) {
    case FromItem::Kind::kTable: {
      const Relation* relation = lookup_(item.name);
      std::string text = Quote(relation->destination);
      if (!item.alias.empty()) text += " AS " + Quote(ShortenedName(item.alias));
      return text;
    }
    case FromItem::Kind::kSubquery:
      for (const Relation& d : derived_)
        if (EqualsIgnoreCase(d.name, item.alias))
          return "(" + d.destination + ") AS " + Quote(ShortenedName(item.alias));
      Refuse("a subquery in FROM is lost");
    case FromItem::Kind::kJoin: {
      auto side = [&](const FromItem& f) {
        return f.kind == FromItem::Kind::kJoin ? "(" + FromText(f, scope) + ")"
                                               : FromText(f, scope);
      };
      const char* join = item.join == JoinKind::kLeft    ? " LEFT JOIN "
                         : item.join == JoinKind::kRight ? " RIGHT JOIN "
                                                         : " INNER JOIN ";
      if (item.on.empty()) Refuse("a join has no condition");
      return side(*item.left) + join + side(*item.right) + " ON " +
             Bool(*ParseExpression(item.on), scope);
    }
  }
  return "";
}

// What Access calls an output column that has no alias: a column's name, SumOfX for an
// aggregate of a column, else Expr1000, Expr1001 ...
std::string DefaultName(const Node& n, int& unnamed) {
  if (n.kind == Node::Kind::kName) return n.parts.back();
  if (n.kind == Node::Kind::kCall && kAggregates.count(n.text) && n.args.size() == 1 &&
      n.args[0]->kind == Node::Kind::kName) {
    std::string fn = n.text;
    fn[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(fn[0])));
    if (fn == "Stdev") fn = "StDev";
    if (fn == "Stdevp") fn = "StDevP";
    if (fn == "Varp") fn = "VarP";
    return fn + "Of" + n.args[0]->parts.back();
  }
  return "Expr" + std::to_string(1000 + unnamed++);
}

TranslatedSelect Translator::Select(const SelectModel& s, const Scope* outer) {
  Scope scope;
  scope.outer = outer;
  scope.check = outer && outer->check;
  for (const FromItem& item : s.from) AddItems(item, scope);
  for (const OutputColumn& c : s.columns)
    if (!c.alias.empty()) scope.aliases[Lower(c.alias)] = ParseExpression(c.expression);

  struct Output {
    std::string name;       // Access name
    std::string qualified;  // "T.name" for clashes of expanded columns
    R value;
    bool plain = false;  // a column by its own name: named as its table names it
  };
  std::vector<Output> outputs;
  auto expand = [&](const ScopeItem& item) {
    const_cast<ScopeItem&>(item).used = true;
    for (const RelationColumn& c : item.columns)
      outputs.push_back({c.name, item.key + "." + c.name, Column(item, c), true});
  };
  if (s.all_columns)
    for (const ScopeItem& item : scope.items) expand(item);
  int unnamed = 0;
  for (const OutputColumn& c : s.columns) {
    NodePtr node = ParseExpression(c.expression);
    if (node->kind == Node::Kind::kStar) {
      if (node->parts.empty()) {
        for (const ScopeItem& item : scope.items) expand(item);
        continue;
      }
      bool found = false;
      for (const ScopeItem& item : scope.items)
        if (item.key == Lower(node->parts[0])) {
          expand(item);
          found = true;
        }
      if (!found)
        Refuse("it names '" + node->parts[0] + ".*', but reads no table '" + node->parts[0] + "'");
      continue;
    }
    std::string name = c.alias.empty() ? DefaultName(*node, unnamed) : c.alias;
    std::string lower = Lower(name);
    if (!c.alias.empty()) scope.expanding.insert(lower);  // an alias never names itself
    R value = Expr(*node, scope);
    scope.expanding.erase(lower);
    outputs.push_back({name, name, value, c.alias.empty() && node->kind == Node::Kind::kName});
  }
  if (outputs.empty()) Refuse("it has no output columns");
  if (s.distinct_row && scope.items.size() > 1)
    for (const ScopeItem& item : scope.items)
      if (!item.used)
        Refuse(
            "DISTINCTROW over a join leaves out rows by tables it shows nothing of, which "
            "PostgreSQL has no form for");

  // Names Access would show twice get their table's name; the destination's must be unique.
  std::map<std::string, int> seen;
  for (const Output& o : outputs) ++seen[Lower(o.name)];
  TranslatedSelect result;
  std::unordered_set<std::string> taken;
  std::vector<std::string> parts;
  for (const Output& o : outputs) {
    std::string name = seen[Lower(o.name)] > 1 ? o.qualified : o.name;
    // Folded, a column keeps the name its table gave it, which may be numbered.
    const bool as_table = names_ && o.plain && !o.value.column.empty() && seen[Lower(o.name)] == 1;
    const std::string spelt = as_table ? o.value.column : names_ ? names_(name) : name;
    std::string destination = ShortenedName(spelt);
    for (int n = 2; taken.count(Lower(destination)); ++n)
      destination = ShortenedName(spelt + "_" + std::to_string(n));
    taken.insert(Lower(destination));
    result.columns.push_back({name, destination, o.value.type});
    parts.push_back(o.value.sql + " AS " + Quote(destination));
  }

  std::string list;
  for (const std::string& p : parts) list += (list.empty() ? "" : ", ") + p;
  std::string body;
  if (!s.from.empty()) {
    std::string from;
    for (const FromItem& item : s.from) from += (from.empty() ? "" : ", ") + FromText(item, scope);
    body += " FROM " + from;
  }
  if (!s.where.empty()) body += " WHERE " + Bool(*ParseExpression(s.where), scope);
  for (size_t i = 0; i < s.group_by.size(); ++i)
    body += (i ? ", " : " GROUP BY ") + Expr(*ParseExpression(s.group_by[i]), scope).sql;
  if (!s.having.empty()) body += " HAVING " + Bool(*ParseExpression(s.having), scope);
  std::vector<std::string> order;
  for (const OrderTerm& o : s.order_by)
    order.push_back(Expr(*ParseExpression(o.expression), scope).sql +
                    (o.descending ? " DESC" : ""));
  auto order_text = [](const std::vector<std::string>& terms) {
    std::string text;
    for (size_t i = 0; i < terms.size(); ++i) text += (i ? ", " : " ORDER BY ") + terms[i];
    return text;
  };
  const std::string head = std::string("SELECT ") + (s.distinct ? "DISTINCT " : "");
  if (!s.top.empty() && s.top.find_first_not_of("0123456789") != std::string::npos)
    Refuse("TOP " + s.top + " is no whole number");
  if (s.top_percent) {
    // Access keeps the first n percent of the rows, ties with the last one included.
    std::string inner = head + list;
    std::string window;
    for (size_t i = 0; i < s.order_by.size(); ++i) {
      const std::string column = "ferrolyte_order_" + std::to_string(i + 1);
      inner += ", " + Expr(*ParseExpression(s.order_by[i].expression), scope).sql + " AS " + column;
      window += (i ? ", " : "") + column + (s.order_by[i].descending ? " DESC" : "");
    }
    inner += body;
    std::string columns;
    for (const RelationColumn& c : result.columns)
      columns += (columns.empty() ? "" : ", ") + Quote(c.destination);
    const std::string rank =
        window.empty() ? "ROW_NUMBER() OVER ()" : "RANK() OVER (ORDER BY " + window + ")";
    result.sql =
        "SELECT " + columns + " FROM (SELECT ferrolyte_rows.*, " + rank +
        " AS ferrolyte_rank, COUNT(*) OVER () AS ferrolyte_count FROM (" + inner +
        ") AS ferrolyte_rows) AS ferrolyte_top WHERE ferrolyte_rank <= CEIL(ferrolyte_count * " +
        s.top + " / 100.0)" + (window.empty() ? "" : " ORDER BY " + window);
    return result;
  }
  result.sql = head + list + body + order_text(order);
  if (!s.top.empty())
    result.sql += " FETCH FIRST " + s.top + (order.empty() ? " ROWS ONLY" : " ROWS WITH TIES");
  return result;
}

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

SqlType SqlTypeOfAccessType(int type) {
  switch (type) {
    case 1:
      return SqlType::kBoolean;
    case 2:
    case 3:
    case 4:
    case 16:
      return SqlType::kInteger;
    case 5:
    case 20:
      return SqlType::kDecimal;
    case 6:
    case 7:
    case 19:
    case 21:
      return SqlType::kFloat;
    case 8:
    case 22:
    case 23:
      return SqlType::kDate;
    default:
      return SqlType::kText;
  }
}

SelectModel ParseAccessSelect(const std::string& sql) {
  return StatementParser(sql).Parse();
}

std::vector<std::string> RelationsOf(const SelectModel& select) {
  std::vector<std::string> out;
  CollectSelectRelations(select, out);
  return out;
}

TranslatedSelect TranslateSelect(const SelectModel& select, const RelationLookup& lookup,
                                 const NameRule& names) {
  return Translator(lookup, names).Select(select, nullptr);
}

TranslatedSelect TranslateUnion(const std::vector<std::string>& parts, bool all,
                                const RelationLookup& lookup, const NameRule& names) {
  if (parts.size() < 2) Refuse("a union has fewer than two parts");
  std::vector<SelectModel> models;
  for (const std::string& p : parts) models.push_back(ParseAccessSelect(p));
  // The last part's ORDER BY orders the whole union, by the first part's column names.
  std::vector<OrderTerm> order = models.back().order_by;
  models.back().order_by.clear();
  TranslatedSelect result;
  std::string sql;
  for (size_t i = 0; i < models.size(); ++i) {
    TranslatedSelect t = TranslateSelect(models[i], lookup, names);
    if (i == 0) {
      result.columns = t.columns;
    } else if (t.columns.size() != result.columns.size()) {
      Refuse("the parts of the union have different numbers of columns");
    }
    sql += (i ? (all ? " UNION ALL " : " UNION ") : "") + ("(" + t.sql + ")");
  }
  for (size_t i = 0; i < order.size(); ++i) {
    NodePtr term = ParseExpression(order[i].expression);
    std::string column;
    if (term->kind == Node::Kind::kNumber) {
      const size_t position = static_cast<size_t>(std::stoul(term->text));
      if (position < 1 || position > result.columns.size()) Refuse("ORDER BY names no column");
      column = result.columns[position - 1].destination;
    } else if (term->kind == Node::Kind::kName) {
      for (const RelationColumn& c : result.columns)
        if (EqualsIgnoreCase(c.name, term->parts.back())) column = c.destination;
    }
    if (column.empty())
      Refuse("the ORDER BY of the union (" + order[i].expression + ") names no column of it");
    sql += (i ? ", " : " ORDER BY ") + Quote(column) + (order[i].descending ? " DESC" : "");
  }
  result.sql = sql;
  return result;
}

std::string TranslateRule(const std::string& rule, const Relation& table,
                          const RelationColumn* field) {
  Scope scope;
  scope.check = true;
  scope.items.push_back({"", "", table.columns});
  scope.items[0].key = Lower(table.name);
  scope.implicit = field;
  RelationLookup none = [](const std::string&) -> const Relation* { return nullptr; };
  Translator translator(none);
  NodePtr node = ParseExpression(rule, field != nullptr);
  return translator.Bool(*node, scope);
}

}  // namespace ferrolyte
