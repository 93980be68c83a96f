// A parsed view filter as an SQL condition. Every literal becomes a `?`
// placeholder whose value is appended to `params`; field labels become
// quoted column names (a decimal counted in units compares in units). Nothing
// from the filter text is pasted into SQL.
#pragma once

#include <string>
#include <vector>

#include "runtime/files/view_expression.h"
#include "runtime/sqlite/record_codec.h"

namespace rt::sqlite {

// `columns` are the table's column names in field order of `decl`.
std::string FilterSql(const FilterNode& node, const FileDeclaration& decl,
                      const std::vector<std::string>& columns, std::vector<ColumnValue>& params);

}  // namespace rt::sqlite
