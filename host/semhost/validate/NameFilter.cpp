// GCC 12 with optimisation and sanitizers reports "may be used uninitialized"
// inside <regex>'s own use of std::function, a false report; it is silenced
// for this file only, which holds nothing but the filter.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include "NameFilter.h"

#include <regex>

namespace semhost {

struct NameFilter::Expressions {
  bool has_only = false;
  bool has_skip = false;
  std::regex only;
  std::regex skip;
};

NameFilter::NameFilter(const std::string& only, const std::string& skip) : m_expressions(new Expressions) {
  try {
    m_expressions->has_only = !only.empty();
    m_expressions->has_skip = !skip.empty();
    if (!only.empty()) m_expressions->only = std::regex(only);
    if (!skip.empty()) m_expressions->skip = std::regex(skip);
  } catch (const std::regex_error& e) {
    m_error = std::string("bad regular expression in --only or --skip: ") + e.what();
  }
}

NameFilter::~NameFilter() = default;

bool NameFilter::Selects(const std::string& name) const {
  if (!ok()) return false;
  if (m_expressions->has_only && !std::regex_search(name, m_expressions->only)) return false;
  return !(m_expressions->has_skip && std::regex_search(name, m_expressions->skip));
}

}  // namespace semhost
