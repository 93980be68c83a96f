// Parsing of view order and filter texts: what is accepted, how it is read,
// and what is refused with a position.
#include "runtime/files/view_expression.h"

#include <gtest/gtest.h>

#include "runtime/core/error_state.h"
#include "runtime/files/file_declaration.h"

namespace {

const rt::FileDeclaration& Decl() {
  auto field = [](rt::FieldType type, const char* name, int size = 0) {
    rt::FieldDeclaration f;
    f.Type = type;
    f.Size = static_cast<std::uint16_t>(size);
    f.Name = name;
    return f;
  };
  static const rt::FileDeclaration decl(
      "KEYED", "T", "T", "t.DAT",
      {field(rt::FieldType::Long, "T:A"), field(rt::FieldType::Text, "T:NAME", 10),
       field(rt::FieldType::Date, "T:WHEN")},
      {}, 0);
  return decl;
}

// The filter tree written back in prefix form, to compare whole parses.
std::string Show(const rt::FilterNode* n) {
  if (!n) return "-";
  static const char* const kOps[] = {"=", "<>", "<", "<=", ">", ">="};
  switch (n->Kind) {
    case rt::FilterKind::Or:
      return "(or " + Show(n->Children[0].get()) + " " + Show(n->Children[1].get()) + ")";
    case rt::FilterKind::And:
      return "(and " + Show(n->Children[0].get()) + " " + Show(n->Children[1].get()) + ")";
    case rt::FilterKind::Not: return "(not " + Show(n->Children[0].get()) + ")";
    case rt::FilterKind::Compare:
      return std::string("(") + kOps[static_cast<int>(n->Op)] + " " + Show(n->Children[0].get()) +
             " " + Show(n->Children[1].get()) + ")";
    case rt::FilterKind::Field: return "f" + std::to_string(n->Field);
    case rt::FilterKind::Number: return n->Number.ToString();
    case rt::FilterKind::String: return "'" + n->Text + "'";
    case rt::FilterKind::Upper: return "(upper " + Show(n->Children[0].get()) + ")";
  }
  return "?";
}

TEST(FilterParse, ReadsPrecedenceAndLiterals) {
  struct Case {
    const char* text;
    const char* tree;
  } cases[] = {
      {"A = 1", "(= f1 1)"},
      {"a=1 or name='x' and not when>=2", "(or (= f1 1) (and (= f2 'x') (not (>= f3 2))))"},
      {"(A = 1 OR A = 2) AND T:NAME <> \"it\"\"s\"",
       "(and (or (= f1 1) (= f1 2)) (<> f2 'it\"s'))"},
      {"UPPER(NAME) = 'AB''C'", "(= (upper f2) 'AB'C')"},
      {"A < -2.50", "(< f1 -2.50)"},
      {"NOT NOT A <= 0", "(not (not (<= f1 0)))"},
      {"   ", "-"},
  };
  for (const auto& c : cases) {
    std::unique_ptr<rt::FilterNode> filter;
    std::string error;
    EXPECT_EQ(rt::ParseFilter(c.text, Decl(), filter, error), 0) << c.text << ": " << error;
    EXPECT_EQ(Show(filter.get()), c.tree) << c.text;
    EXPECT_EQ(Show(rt::CopyFilter(filter.get()).get()), c.tree);
  }
}

TEST(FilterParse, RefusesWithThePosition) {
  struct Case {
    const char* text;
    const char* error;
  } cases[] = {
      {"A =", "filter: operand expected at position 4"},
      {"A == 1", "filter: operand expected at position 4"},
      {"B = 1", "filter: unknown field 'B' at position 1"},
      {"A = 1 AND (NAME = 'x'", "filter: ')' expected at position 22"},
      {"NAME = 'x", "filter: unterminated string at position 10"},
      {"A = 1 B", "filter: unexpected text at position 7"},
      {"A", "filter: comparison operator expected at position 2"},
  };
  for (const auto& c : cases) {
    std::unique_ptr<rt::FilterNode> filter;
    std::string error;
    EXPECT_EQ(rt::ParseFilter(c.text, Decl(), filter, error), rt::kFilterSyntax) << c.text;
    EXPECT_EQ(error, c.error);
  }
}

std::string Repeated(const std::string& text, int times, const std::string& between = "") {
  std::string out;
  for (int i = 0; i < times; ++i) out += (i ? between : "") + text;
  return out;
}

TEST(FilterParse, RefusesFiltersTooLongOrTooDeepToTranslateOrFree) {
  // Each of these overflowed the stack (parsing, translating or freeing the
  // tree) or went past what SQLite parses.
  struct Case {
    std::string text;
    const char* error;
  } cases[] = {
      {Repeated("(", 100000) + "A = 1" + Repeated(")", 100000),
       "filter: nested more than 20 deep at position 22"},
      {Repeated("A = 1", 3000, " AND "), "filter: more than 500 operators at position 2504"},
      {Repeated("NOT ", 1500) + "A = 1", "filter: nested more than 20 deep at position 84"},
      {Repeated("UPPER(", 2000) + "NAME" + Repeated(")", 2000) + " = 'X'",
       "filter: nested more than 20 deep at position 127"},
  };
  for (const auto& c : cases) {
    std::unique_ptr<rt::FilterNode> filter;
    std::string error;
    EXPECT_EQ(rt::ParseFilter(c.text, Decl(), filter, error), rt::kFilterSyntax);
    EXPECT_EQ(error, c.error);
  }
  // The most a filter may hold: 250 comparisons joined by 249 ORs; groups 20
  // deep.
  std::unique_ptr<rt::FilterNode> filter;
  std::string error;
  EXPECT_EQ(rt::ParseFilter(Repeated("A = 1", 250, " OR "), Decl(), filter, error), 0) << error;
  EXPECT_EQ(rt::ParseFilter(Repeated("(", 20) + "A = 1" + Repeated(")", 20), Decl(), filter, error),
            0) << error;
}

TEST(OrderParse, ReadsDirectionsAndUpper) {
  std::vector<rt::OrderTerm> order;
  std::string error;
  ASSERT_EQ(rt::ParseOrder(" A , -T:WHEN,+UPPER(NAME), -upper(name)", Decl(), order, error), 0)
      << error;
  EXPECT_EQ(order, (std::vector<rt::OrderTerm>{
                       {1, false, false}, {3, true, false}, {2, false, true}, {2, true, true}}));
  for (const char* bad : {"A,", "A B", "UPPER(A", "-", "NOPE"})
    EXPECT_EQ(rt::ParseOrder(bad, Decl(), order, error), rt::kFilterSyntax) << bad;
}

}  // namespace
