#include "runtime/files/view_expression.h"

#include <algorithm>
#include <cctype>

#include "runtime/core/error_state.h"
#include "runtime/core/text.h"
#include "runtime/files/file_declaration.h"

namespace rt {
namespace {

// A filter holds at most this many operators (comparisons, AND, OR, NOT,
// UPPER), and groups, NOT and UPPER nest at most this deep. The parser, the
// drivers' translations and the tree's destruction walk the tree recursively
// (a deep enough tree overflows the stack), and SQLite refuses an expression
// past 1000 levels or nested past what its parser's stack holds (some 90
// parentheses, fewer with operators between them).
constexpr int kMaxOperators = 500;
constexpr int kMaxNesting = 20;

bool IsLabelStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool IsLabelChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == ':';
}

// A recursive-descent parser over one text. Errors stop at the first fault.
class Parser {
 public:
  Parser(std::string_view text, const FileDeclaration& decl) : text_(text), decl_(decl) {}

  bool Failed() const { return !error_.empty(); }
  const std::string& Error() const { return error_; }

  void SkipBlanks() {
    while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
  }
  bool AtEnd() {
    SkipBlanks();
    return pos_ >= text_.size();
  }
  bool Accept(char c) {
    SkipBlanks();
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  // The next word (a label or keyword) without consuming it.
  std::string_view PeekWord() {
    SkipBlanks();
    std::size_t end = pos_;
    if (end < text_.size() && IsLabelStart(text_[end]))
      while (end < text_.size() && IsLabelChar(text_[end])) ++end;
    return text_.substr(pos_, end - pos_);
  }
  bool AcceptKeyword(std::string_view keyword) {
    auto word = PeekWord();
    if (!SameIgnoringCase(word, keyword)) return false;
    pos_ += word.size();
    return true;
  }
  void Fail(std::string what) {
    if (Failed()) return;
    error_ = what + " at position " + std::to_string(pos_ + 1);
  }
  // Counts one more operator; false (and the error) past the limit.
  bool Spend() {
    if (++operators_ <= kMaxOperators) return true;
    Fail("more than " + std::to_string(kMaxOperators) + " operators");
    return false;
  }
  // One more level of nesting (a group, NOT or UPPER) for its lifetime; past
  // the limit the parse fails.
  class Level {
   public:
    explicit Level(Parser& parser) : parser_(parser) {
      if (++parser_.depth_ > kMaxNesting)
        parser_.Fail("nested more than " + std::to_string(kMaxNesting) + " deep");
    }
    ~Level() { --parser_.depth_; }
    Level(const Level&) = delete;
    Level& operator=(const Level&) = delete;

   private:
    Parser& parser_;
  };

  // A field label of the primary file; 0 (and an error) when unknown.
  int Label() {
    auto word = PeekWord();
    if (word.empty()) {
      Fail("field label expected");
      return 0;
    }
    int field = decl_.FieldNumber(word);
    if (field == 0) {
      Fail("unknown field '" + std::string(word) + "'");
      return 0;
    }
    pos_ += word.size();
    return field;
  }

  // --- order
  void Order(std::vector<OrderTerm>& order) {
    if (AtEnd()) return;
    do {
      OrderTerm term;
      if (Accept('-'))
        term.Descending = true;
      else
        Accept('+');
      if (AcceptKeyword("UPPER")) {
        if (!Accept('(')) return Fail("'(' expected");
        term.Upper = true;
        term.Field = Label();
        if (Failed()) return;
        if (!Accept(')')) return Fail("')' expected");
      } else {
        term.Field = Label();
        if (Failed()) return;
      }
      order.push_back(term);
    } while (Accept(','));
    if (!AtEnd()) Fail("',' expected");
  }

  // --- filter
  std::unique_ptr<FilterNode> Expression() {
    auto left = AndTerm();
    while (!Failed() && AcceptKeyword("OR") && Spend())
      left = Join(FilterKind::Or, std::move(left), AndTerm());
    return left;
  }
  std::unique_ptr<FilterNode> AndTerm() {
    auto left = NotTerm();
    while (!Failed() && AcceptKeyword("AND") && Spend())
      left = Join(FilterKind::And, std::move(left), NotTerm());
    return left;
  }
  std::unique_ptr<FilterNode> NotTerm() {
    if (Failed()) return nullptr;
    if (AcceptKeyword("NOT")) {
      Level level(*this);
      if (Failed() || !Spend()) return nullptr;
      auto node = std::make_unique<FilterNode>();
      node->Kind = FilterKind::Not;
      node->Children.push_back(NotTerm());
      return node;
    }
    if (Accept('(')) {
      Level level(*this);
      if (Failed()) return nullptr;
      auto inner = Expression();
      if (!Failed() && !Accept(')')) Fail("')' expected");
      return inner;
    }
    auto left = Operand();
    if (Failed()) return nullptr;
    auto node = std::make_unique<FilterNode>();
    node->Kind = FilterKind::Compare;
    if (!ComparisonOperator(node->Op)) {
      Fail("comparison operator expected");
      return nullptr;
    }
    if (!Spend()) return nullptr;
    node->Children.push_back(std::move(left));
    node->Children.push_back(Operand());
    return node;
  }
  bool ComparisonOperator(CompareOp& op) {
    SkipBlanks();
    auto rest = text_.substr(pos_);
    struct {
      std::string_view text;
      CompareOp op;
    } const table[] = {{"<>", CompareOp::NotEqual},     {"<=", CompareOp::LessEqual},
                       {">=", CompareOp::GreaterEqual}, {"=", CompareOp::Equal},
                       {"<", CompareOp::Less},          {">", CompareOp::Greater}};
    for (const auto& entry : table)
      if (rest.substr(0, entry.text.size()) == entry.text) {
        op = entry.op;
        pos_ += entry.text.size();
        return true;
      }
    return false;
  }
  std::unique_ptr<FilterNode> Operand() {
    if (Failed()) return nullptr;
    SkipBlanks();
    auto node = std::make_unique<FilterNode>();
    if (pos_ >= text_.size()) {
      Fail("operand expected");
      return nullptr;
    }
    char c = text_[pos_];
    if (c == '\'' || c == '"') {
      node->Kind = FilterKind::String;
      if (!QuotedString(node->Text)) return nullptr;
      return node;
    }
    if (std::isdigit(static_cast<unsigned char>(c)) || c == '-' || c == '+' || c == '.') {
      node->Kind = FilterKind::Number;
      std::size_t end = pos_ + 1;
      while (end < text_.size() &&
             (std::isdigit(static_cast<unsigned char>(text_[end])) || text_[end] == '.'))
        ++end;
      auto parsed = Decimal::Parse(text_.substr(pos_, end - pos_));
      if (!parsed) {
        Fail("number expected");
        return nullptr;
      }
      node->Number = *parsed;
      pos_ = end;
      return node;
    }
    if (AcceptKeyword("UPPER")) {
      if (!Accept('(')) {
        Fail("'(' expected");
        return nullptr;
      }
      Level level(*this);
      if (Failed() || !Spend()) return nullptr;
      node->Kind = FilterKind::Upper;
      node->Children.push_back(Operand());
      if (!Failed() && !Accept(')')) Fail("')' expected");
      return node;
    }
    if (!IsLabelStart(c)) {
      Fail("operand expected");
      return nullptr;
    }
    node->Kind = FilterKind::Field;
    node->Field = Label();
    return node;
  }
  bool QuotedString(std::string& out) {
    char quote = text_[pos_++];
    while (pos_ < text_.size()) {
      char c = text_[pos_++];
      if (c != quote) {
        out += c;
        continue;
      }
      if (pos_ < text_.size() && text_[pos_] == quote) {
        out += quote;
        ++pos_;
        continue;
      }
      return true;
    }
    Fail("unterminated string");
    return false;
  }

 private:
  static std::unique_ptr<FilterNode> Join(FilterKind kind, std::unique_ptr<FilterNode> left,
                                          std::unique_ptr<FilterNode> right) {
    auto node = std::make_unique<FilterNode>();
    node->Kind = kind;
    node->Children.push_back(std::move(left));
    node->Children.push_back(std::move(right));
    return node;
  }

  std::string_view text_;
  const FileDeclaration& decl_;
  std::size_t pos_ = 0;
  int operators_ = 0;  // in the whole text so far
  int depth_ = 0;      // groups, NOTs and UPPERs open at pos_
  std::string error_;
};

}  // namespace

int ParseOrder(std::string_view text, const FileDeclaration& decl, std::vector<OrderTerm>& order,
               std::string& error) {
  Parser parser(text, decl);
  std::vector<OrderTerm> terms;
  parser.Order(terms);
  if (parser.Failed()) {
    error = "order: " + parser.Error();
    return kFilterSyntax;
  }
  order = std::move(terms);
  error.clear();
  return kNoError;
}

int ParseFilter(std::string_view text, const FileDeclaration& decl,
                std::unique_ptr<FilterNode>& filter, std::string& error) {
  Parser parser(text, decl);
  if (parser.AtEnd()) {
    filter.reset();
    error.clear();
    return kNoError;
  }
  auto root = parser.Expression();
  if (!parser.Failed() && !parser.AtEnd()) parser.Fail("unexpected text");
  if (parser.Failed()) {
    error = "filter: " + parser.Error();
    return kFilterSyntax;
  }
  filter = std::move(root);
  error.clear();
  return kNoError;
}

std::string FlatRun(const FilterNode& join, std::string_view op,
                    const std::function<std::string(const FilterNode&)>& operand) {
  std::vector<const FilterNode*> terms;
  const FilterNode* left = &join;
  for (; left->Kind == join.Kind; left = left->Children.at(0).get())
    terms.push_back(left->Children.at(1).get());
  terms.push_back(left);
  std::string sql = "(";
  for (auto term = terms.rbegin(); term != terms.rend(); ++term) {
    if (term != terms.rbegin()) sql += op;
    sql += operand(**term);
  }
  return sql + ")";
}

std::unique_ptr<FilterNode> CopyFilter(const FilterNode* node) {
  if (!node) return nullptr;
  auto copy = std::make_unique<FilterNode>();
  copy->Kind = node->Kind;
  copy->Op = node->Op;
  copy->Field = node->Field;
  copy->Number = node->Number;
  copy->Text = node->Text;
  for (const auto& child : node->Children) copy->Children.push_back(CopyFilter(child.get()));
  return copy;
}

}  // namespace rt
