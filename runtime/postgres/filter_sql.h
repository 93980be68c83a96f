// A parsed view filter as a condition for the server. Every literal becomes
// a `?` placeholder whose text is appended to `params` (numbers as exact
// numeric text, strings as UTF-8); field labels become quoted column names;
// UPPER folds as the keys do (ASCII letters only, COLLATE "C"). Nothing from
// the filter text is pasted into SQL.
#pragma once

#include <string>
#include <vector>

#include "runtime/files/view_expression.h"
#include "runtime/postgres/server_connection.h"

namespace rt::postgres {

// `columns` are the table's column names in field order of `decl`.
std::string FilterSql(const FilterNode& node, const FileDeclaration& decl,
                      const std::vector<std::string>& columns, Params& params);

}  // namespace rt::postgres
