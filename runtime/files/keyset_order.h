// The SQL condition that continues a keyset walk past a place, shared by the
// KEYED drivers (SQLite and PostgreSQL), so that both read the same records
// in the same order after the same place.
#pragma once

#include <string>
#include <vector>

namespace rt {

// `count` terms compared with `?` placeholders in lexicographic order:
// strictly beyond them, or (inclusive) at or beyond them. `up[i]` tells
// whether term i grows in the reading direction. Terms that all run one way
// make one row-value comparison "(a,b) > (?,?)"; mixed directions spell the
// comparison out term by term. Appends the placeholders' value indexes (into
// `terms`) to `params` in the order they appear.
std::string KeysetBeyond(const std::vector<std::string>& terms, const std::vector<bool>& up,
                         int count, bool inclusive, std::vector<int>& params);

}  // namespace rt
