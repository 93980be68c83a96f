#include "runtime/sqlite/filter_sql.h"

#include "runtime/sqlite/sqlite_connection.h"
#include "runtime/text/latin1.h"

namespace rt::sqlite {

std::string FilterSql(const FilterNode& node, const std::vector<std::string>& columns,
                      std::vector<ColumnValue>& params) {
  auto child = [&](std::size_t i) { return FilterSql(*node.Children.at(i), columns, params); };
  switch (node.Kind) {
    case FilterKind::Or: {
      std::string left = child(0);
      return "(" + left + " OR " + child(1) + ")";
    }
    case FilterKind::And: {
      std::string left = child(0);
      return "(" + left + " AND " + child(1) + ")";
    }
    case FilterKind::Not: return "(NOT " + child(0) + ")";
    case FilterKind::Compare: {
      static const char* const kOps[] = {"=", "<>", "<", "<=", ">", ">="};
      std::string left = child(0);
      return "(" + left + " " + kOps[static_cast<int>(node.Op)] + " " + child(1) + ")";
    }
    case FilterKind::Field: return Quote(columns.at(node.Field - 1));
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
      params.push_back(std::move(value));
      return "?";
    }
    case FilterKind::String: {
      ColumnValue value;
      value.Kind = ColumnKind::Text;
      value.Bytes = Latin1ToUtf8(node.Text);
      params.push_back(std::move(value));
      return "?";
    }
  }
  return "0";
}

}  // namespace rt::sqlite
