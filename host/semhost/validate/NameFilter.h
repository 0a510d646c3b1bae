#pragma once
// Selects checks by name: --only and --skip regular expressions (ECMAScript
// syntax, matched anywhere in the name).

#include <memory>
#include <string>

namespace semhost {

class NameFilter {
 public:
  // An empty expression selects everything (`only`) or nothing (`skip`). On a
  // bad expression ok() is false and error() says why.
  NameFilter(const std::string& only, const std::string& skip);
  ~NameFilter();
  NameFilter(const NameFilter&) = delete;
  NameFilter& operator=(const NameFilter&) = delete;

  bool ok() const { return m_error.empty(); }
  const std::string& error() const { return m_error; }
  bool Selects(const std::string& name) const;

 private:
  struct Expressions;
  std::unique_ptr<Expressions> m_expressions;
  std::string m_error;
};

}  // namespace semhost
