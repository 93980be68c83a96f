#include "runtime/postgres/filter_sql.h"

#include "runtime/text/latin1.h"

namespace rt::postgres {
namespace {

class Translator {
 public:
  Translator(const std::vector<std::string>& columns, Params& params)
      : columns_(columns), params_(params) {}

  std::string Sql(const FilterNode& node) {
    auto child = [&](std::size_t i) { return Sql(*node.Children.at(i)); };
    auto operand = [this](const FilterNode& term) { return Sql(term); };
    switch (node.Kind) {
      case FilterKind::Or: return FlatRun(node, " OR ", operand);
      case FilterKind::And: return FlatRun(node, " AND ", operand);
      case FilterKind::Not: return "(NOT " + child(0) + ")";
      case FilterKind::Compare: {
        static const char* const kOps[] = {"=", "<>", "<", "<=", ">", ">="};
        std::string left = child(0);
        return "(" + left + " " + kOps[static_cast<int>(node.Op)] + " " + child(1) + ")";
      }
      case FilterKind::Field: return Quote(columns_.at(node.Field - 1));
      case FilterKind::Upper: return "upper((" + child(0) + ")::text COLLATE \"C\")";
      case FilterKind::Number:
        params_.push_back(node.Number.ToString());
        return "?::numeric";
      case FilterKind::String:
        params_.push_back(Latin1ToUtf8(node.Text));
        return "?::text";
    }
    return "false";
  }

 private:
  const std::vector<std::string>& columns_;
  Params& params_;
};

}  // namespace

std::string FilterSql(const FilterNode& node, const FileDeclaration&,
                      const std::vector<std::string>& columns, Params& params) {
  return Translator(columns, params).Sql(node);
}

}  // namespace rt::postgres
