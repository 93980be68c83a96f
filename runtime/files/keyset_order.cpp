#include "runtime/files/keyset_order.h"

namespace rt {

std::string KeysetBeyond(const std::vector<std::string>& terms, const std::vector<bool>& up,
                         int count, bool inclusive, std::vector<int>& params) {
  bool uniform = true;
  for (int i = 1; i < count; ++i) uniform = uniform && up[i] == up[0];
  if (uniform) {
    std::string op = up[0] ? (inclusive ? ">=" : ">") : (inclusive ? "<=" : "<");
    for (int i = 0; i < count; ++i) params.push_back(i);
    if (count == 1) return terms[0] + " " + op + " ?";
    std::string left, right;
    for (int i = 0; i < count; ++i) {
      left += (i ? "," : "") + terms[i];
      right += i ? ",?" : "?";
    }
    return "(" + left + ") " + op + " (" + right + ")";
  }
  std::string sql = "(";
  for (int i = 0; i < count; ++i) {
    sql += i ? " OR (" : "(";
    for (int j = 0; j < i; ++j) {
      sql += terms[j] + " = ? AND ";
      params.push_back(j);
    }
    sql += terms[i] + (up[i] ? " > ?" : " < ?") + ")";
    params.push_back(i);
  }
  if (inclusive) {
    sql += " OR (";
    for (int j = 0; j < count; ++j) {
      sql += (j ? " AND " : "") + terms[j] + " = ?";
      params.push_back(j);
    }
    sql += ")";
  }
  return sql + ")";
}


}  // namespace rt
