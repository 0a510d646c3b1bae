#include "OutputRedirect.h"

namespace semhost {

namespace {

std::vector<std::pair<std::string, std::string>>& Redirects() {
  static std::vector<std::pair<std::string, std::string>> redirects;
  return redirects;
}

}  // namespace

void SetOutputRedirects(std::vector<std::pair<std::string, std::string>> redirects) {
  Redirects() = std::move(redirects);
}

const std::string& OutputPath(const std::string& given) {
  for (const auto& redirect : Redirects()) {
    if (redirect.first == given) return redirect.second;
  }
  return given;
}

bool OutputIsRedirected(const std::string& given) { return &OutputPath(given) != &given; }

}  // namespace semhost
