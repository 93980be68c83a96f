// The order and filter texts of a view, parsed into a form a driver can
// translate (the KEYED driver turns them into SQL with bound parameters; no
// text from here is ever pasted into a statement).
//
// Order: field labels separated by commas; "-" before a label sorts it
// descending, "+" (or nothing) ascending; UPPER(label) sorts by the upper-case
// text.            CODE,-TIM:DUTYDATE,UPPER(TIM:ORIGIN)
// Filter:          expr    := and {OR and}
//                  and     := not {AND not}
//                  not     := NOT not | '(' expr ')' | operand op operand
//                  operand := label | number | string | UPPER '(' operand ')'
//                  op      := = | <> | < | <= | > | >=
// Keywords ignore case. Strings are in single or double quotes; a quote is
// doubled inside ('it''s'). Numbers are decimal with an optional sign and
// places. Labels name fields of the primary file, with or without its prefix.
// A filter holds at most 500 operators (comparisons, AND, OR, NOT, UPPER), and
// groups, NOT and UPPER nest at most 20 deep; more is refused like any other
// syntax error.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/core/decimal.h"

namespace rt {

class FileDeclaration;

struct OrderTerm {
  int Field = 0;  // 1-based field of the primary file
  bool Descending = false;
  bool Upper = false;
  bool operator==(const OrderTerm&) const = default;
};

enum class FilterKind { Or, And, Not, Compare, Field, Number, String, Upper };
enum class CompareOp { Equal, NotEqual, Less, LessEqual, Greater, GreaterEqual };

struct FilterNode {
  FilterKind Kind = FilterKind::Number;
  CompareOp Op = CompareOp::Equal;                    // Compare
  int Field = 0;                                      // Field: 1-based field of the primary file
  Decimal Number;                                     // Number
  std::string Text;                                   // String: the characters, quotes removed
  std::vector<std::unique_ptr<FilterNode>> Children;  // operands in order
};

// Both return 0, or kFilterSyntax with `error` saying what is wrong and where
// (1-based character position). A blank text gives an empty order / no filter.
int ParseOrder(std::string_view text, const FileDeclaration& decl, std::vector<OrderTerm>& order,
               std::string& error);
int ParseFilter(std::string_view text, const FileDeclaration& decl,
                std::unique_ptr<FilterNode>& filter, std::string& error);

// A run of ORs (or of ANDs) starting at `join` as SQL written flat,
// "(a OR b OR c)" with `op` " OR " or " AND ", each operand as `operand`
// writes it, left to right. The parser joins a run left to right
// ((a OR b) OR c); a parenthesis per join would stop SQLite's parser after
// some 90 terms, and the run is walked with a loop rather than recursion.
std::string FlatRun(const FilterNode& join, std::string_view op,
                    const std::function<std::string(const FilterNode&)>& operand);

// A deep copy (a view keeps its parsed filter and gives the driver a copy).
std::unique_ptr<FilterNode> CopyFilter(const FilterNode* node);

}  // namespace rt
