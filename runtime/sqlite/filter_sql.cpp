#include "runtime/sqlite/filter_sql.h"

#include <cmath>
#include <vector>

#include "runtime/sqlite/sqlite_connection.h"
#include "runtime/text/latin1.h"

namespace rt::sqlite {
namespace {

class Translator {
 public:
  Translator(const FileDeclaration& decl, const std::vector<std::string>& columns,
             std::vector<ColumnValue>& params)
      : decl_(decl), columns_(columns), params_(params) {}

  std::string Sql(const FilterNode& node) {
    auto child = [&](std::size_t i) { return Sql(*node.Children.at(i)); };
    auto operand = [this](const FilterNode& term) { return Sql(term); };
    switch (node.Kind) {
      case FilterKind::Or: return FlatRun(node, " OR ", operand);
      case FilterKind::And: return FlatRun(node, " AND ", operand);
      case FilterKind::Not: return "(NOT " + child(0) + ")";
      case FilterKind::Compare: {
        static const char* const kOps[] = {"=", "<>", "<", "<=", ">", ">="};
        const std::string op = kOps[static_cast<int>(node.Op)];
        const FilterNode& a = *node.Children.at(0);
        const FilterNode& b = *node.Children.at(1);
        // A decimal counted in units against a number: the number is scaled to
        // units instead of the column to a double, so the comparison is exact.
        if (int places = Units(a); places > 0 && b.Kind == FilterKind::Number) {
          std::string left = Column(a);
          return "(" + left + " " + op + " " + ScaledNumber(b.Number, places) + ")";
        }
        if (int places = Units(b); places > 0 && a.Kind == FilterKind::Number) {
          std::string left = ScaledNumber(a.Number, places);
          return "(" + left + " " + op + " " + Column(b) + ")";
        }
        std::string left = child(0);
        return "(" + left + " " + op + " " + child(1) + ")";
      }
      case FilterKind::Field: {
        int places = Units(node);
        if (places == 0) return Column(node);
        std::string sql = "(";
        sql += Column(node);
        sql += " / 1e";
        sql += std::to_string(places);
        return sql += ")";
      }
      case FilterKind::Upper: return "UPPER(" + child(0) + ")";
      case FilterKind::Number: {
        ColumnValue value;
        if (node.Number.Places == 0) {
          value.Kind = ColumnKind::Integer;
          value.Int = node.Number.Units;
        } else {
          value.Kind = ColumnKind::Real;
          value.Real = node.Number.ToDouble();
        }
        return Bind(std::move(value));
      }
      case FilterKind::String: {
        ColumnValue value;
        value.Kind = ColumnKind::Text;
        value.Bytes = Latin1ToUtf8(node.Text);
        return Bind(std::move(value));
      }
    }
    return "0";
  }

 private:

  // The places of a field node whose column counts units; 0 otherwise.
  int Units(const FilterNode& node) const {
    return node.Kind == FilterKind::Field ? UnitPlaces(decl_.Field(node.Field)) : 0;
  }
  std::string Column(const FilterNode& node) const { return Quote(columns_.at(node.Field - 1)); }
  std::string Bind(ColumnValue value) {
    params_.push_back(std::move(value));
    return "?";
  }
  // `number` in units of `places` places: exact when it has no more places,
  // otherwise a double between two units (it can equal none of them).
  std::string ScaledNumber(const Decimal& number, int places) {
    ColumnValue value;
    auto scaled = number.Rescaled(places);
    if (scaled && Compare(*scaled, number) == 0) {
      value.Kind = ColumnKind::Integer;
      value.Int = scaled->Units;
    } else {
      value.Kind = ColumnKind::Real;
      value.Real = number.ToDouble() * std::pow(10.0, places);
    }
    return Bind(std::move(value));
  }

  const FileDeclaration& decl_;
  const std::vector<std::string>& columns_;
  std::vector<ColumnValue>& params_;
};

}  // namespace

std::string FilterSql(const FilterNode& node, const FileDeclaration& decl,
                      const std::vector<std::string>& columns, std::vector<ColumnValue>& params) {
  return Translator(decl, columns, params).Sql(node);
}

}  // namespace rt::sqlite
